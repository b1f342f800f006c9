// The command-line cutting over arbitrary text: the keys of the start-up, and a key the
// input picks itself when it holds a byte 01 (key before it, line after it).
#include "fuzz/comun.h"
#include "startup/modglobal.h"

#include <array>

namespace {

const std::array<QString, 8> Claves{
    QStringLiteral("@ParametroAdicional"),
    QStringLiteral("@Menu"),
    QStringLiteral("@Server"),
    QStringLiteral("@DbName"),
    QStringLiteral("@Usuario"),
    QStringLiteral("@Password"),
    QStringLiteral("@UsuarioLogeado"),
    QStringLiteral("@Caja"),
};

bool Recortado(const QString& s) {
    return s.isEmpty() || (!s.front().isSpace() && !s.back().isSpace());
}

void Probar(const QString& linea, const QString& clave) {
    const QString previo = QStringLiteral("previo");
    QString valor = previo;
    const bool cortado = CortarValor(linea, clave, valor);
    const QString detalle = QStringLiteral("clave [%1] línea [%2] valor [%3]").arg(clave, linea, valor);
    if (cortado) {
        EXIGIR(!valor.contains(QChar(';')), detalle);
        EXIGIR(Recortado(valor), detalle);
        // A value comes out of the line; an absent key gives the empty text.
        EXIGIR(valor.isEmpty() || linea.contains(valor), detalle);
        if (!linea.contains(clave, Qt::CaseInsensitive)) EXIGIR(valor.isEmpty(), detalle);
    } else {
        // A key without its ";" keeps what the value held (trimmed), and was really there.
        EXIGIR(valor == previo, detalle);
        EXIGIR(linea.contains(clave, Qt::CaseInsensitive), detalle);
    }
    // The same call twice gives the same answer.
    QString otra = previo;
    EXIGIR(CortarValor(linea, clave, otra) == cortado && otra == valor, detalle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
    const QString texto = TextoDe(datos, tamano);
    const qsizetype separador = texto.indexOf(QChar(1));
    if (separador >= 0) {
        Probar(texto.mid(separador + 1), texto.left(separador));
        return 0;
    }
    for (const QString& clave : Claves)
        Probar(texto, clave);
    return 0;
}
