#include "suite/avance.h"

#include "suite/interfaz.h"

namespace {
class AvanceNulo : public AvanceVista {
public:
    void Iniciar(const QString&) override {}
    void Mostrar(const QString&, const QString&, const QString&) override {}
    void Cerrar() override {}
};

std::unique_ptr<AvanceVista> vistaPorDefecto() {
    if (const auto& porDefecto = InterfazActual().vistaAvance)
        if (auto vista = porDefecto()) return vista;
    return std::make_unique<AvanceNulo>();
}
} // namespace

Avance::Avance() = default;
Avance::~Avance() = default;

std::unique_ptr<AvanceVista> Avance::InstalarVista(std::unique_ptr<AvanceVista> vista) {
    auto anterior = std::move(vista_);
    vista_ = std::move(vista);
    return anterior;
}

void Avance::Iniciar(const QString& titulo) {
    if (!vista_) vista_ = vistaPorDefecto();
    linea1_.clear();
    linea2_.clear();
    valor_.clear();
    visible_ = true;
    vista_->Iniciar(titulo);
}

void Avance::Mostrar(const QVariant& l1, const QVariant& l2, const QVariant& v) {
    if (!vista_) vista_ = vistaPorDefecto();
    if (l1.isValid()) linea1_ = l1.toString();
    if (l2.isValid()) linea2_ = l2.toString();
    if (v.isValid()) valor_ = v.toString();
    vista_->Mostrar(linea1_, linea2_, valor_);
}

void Avance::Cerrar() {
    visible_ = false;
    if (vista_) vista_->Cerrar();
}

void Avance::Esperando(int segundos, int limite) {
    if (!vista_) vista_ = vistaPorDefecto();
    if (segundos < 0) {
        if (abiertoPorEspera_)
            vista_->Cerrar();
        else if (visible_)
            vista_->Mostrar(linea1_, linea2_, valor_);
        abiertoPorEspera_ = false;
        return;
    }
    if (!visible_ && !abiertoPorEspera_) {
        abiertoPorEspera_ = true;
        vista_->Iniciar(QStringLiteral("Base de datos ocupada"));
    }
    vista_->Mostrar(QStringLiteral("Esperando a otra estación…"),
                    QStringLiteral("La base de datos está ocupada (se espera hasta %1 s).").arg(limite),
                    QStringLiteral("%1 s").arg(segundos));
}
