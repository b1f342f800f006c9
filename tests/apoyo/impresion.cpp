#include "apoyo/impresion.h"

namespace {
template <typename T> std::string nulo(const std::optional<T>& v) {
    if (!v) return "-";
    if constexpr (std::is_same_v<T, QString>)
        return v->toStdString();
    else
        return std::to_string(*v);
}
} // namespace

namespace demodb {

void PrintTo(const SaldoStock& s, std::ostream* os) {
    *os << s.idArticulo << " | " << s.idUnidad << " | " << nulo(s.idDeposito) << " | " << nulo(s.idPosicion)
        << " | " << nulo(s.nroSerie) << " | " << nulo(s.nroLote) << " | " << s.descripcion << ": "
        << QString::number(s.cantidad, 'g', 17) << " (UD " << QString::number(s.cantidadUD, 'g', 17)
        << ") en " << s.movimientos << " movimientos";
}

void PrintTo(const QList<SaldoStock>& saldos, std::ostream* os) {
    *os << saldos.size() << " saldos";
    for (const SaldoStock& s : saldos) {
        *os << "\n  ";
        PrintTo(s, os);
    }
}

} // namespace demodb
