// The INI reader over arbitrary file contents. Input: section, byte 00, key, byte 00, then
// the file; without two bytes 00 the whole input is the file, read for the start-up's key.
#include "fuzz/comun.h"
#include "suite/componentes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
    const QByteArray entrada = BytesDe(datos, tamano);
    QString seccion = QStringLiteral("HOST|USER");
    QString clave = QStringLiteral("FlatToolbars");
    QByteArray contenido = entrada;
    const qsizetype a = entrada.indexOf('\0');
    const qsizetype b = a < 0 ? -1 : entrada.indexOf('\0', a + 1);
    if (b >= 0) {
        seccion = QString::fromUtf8(entrada.left(a));
        clave = QString::fromUtf8(entrada.mid(a + 1, b - a - 1));
        contenido = entrada.mid(b + 1);
    }

    const QString defecto = QChar(1) + QStringLiteral("defecto");
    const QString valor = ValorIni(contenido, seccion, clave, defecto);
    if (valor == defecto) return 0;
    const QString detalle = QStringLiteral("sección [%1] clave [%2] valor [%3]").arg(seccion, clave, valor);
    // One line's value, trimmed.
    EXIGIR(!valor.contains(QChar('\n')), detalle);
    EXIGIR(valor.isEmpty() || (!valor.front().isSpace() && !valor.back().isSpace()), detalle);
    // It comes from the file as one of its two readings.
    EXIGIR(valor.isEmpty() || QString::fromUtf8(contenido).contains(valor) ||
               QString::fromLatin1(contenido).contains(valor),
           detalle);
    // Reading the same text again gives the same value.
    EXIGIR(ValorIni(contenido, seccion, clave, defecto) == valor, detalle);
    return 0;
}
