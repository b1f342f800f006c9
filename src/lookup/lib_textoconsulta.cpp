#include "lib_textoconsulta.h"

#include "utilidades.h"

#include <cmath>
#include <QLocale>

namespace {
bool esBlancoAscii(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void plegarLento(const char* p, std::size_t n, std::string& salida) {
    const QByteArray u = QString::fromUtf8(p, qsizetype(n)).trimmed().toCaseFolded().toUtf8();
    salida.assign(u.constData(), std::size_t(u.size()));
}
} // namespace

void PlegarUtf8(const char* p, std::size_t n, std::string& salida) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    std::size_t ini = 0, fin = n;
    while (ini < fin && esBlancoAscii(b[ini]))
        ++ini;
    while (fin > ini && esBlancoAscii(b[fin - 1]))
        --fin;
    // Unicode blanks (U+0085, U+00A0 and those above U+07FF) at either end, characters outside
    // Latin-1, and the micro sign (which folds to a Greek letter) take the slow path.
    if (ini < fin) {
        if (b[ini] == 0xC2 && ini + 1 < fin && (b[ini + 1] == 0x85 || b[ini + 1] == 0xA0))
            return plegarLento(p, n, salida);
        if (fin - ini >= 2 && b[fin - 2] == 0xC2 && (b[fin - 1] == 0x85 || b[fin - 1] == 0xA0))
            return plegarLento(p, n, salida);
    }
    salida.resize(fin - ini);
    char* o = salida.data();
    for (std::size_t i = ini; i < fin; ++i) {
        unsigned char c = b[i];
        if (c < 0x80) {
            *o++ = char((c >= 'A' && c <= 'Z') ? c + 32 : c);
        } else if (c == 0xC3 && i + 1 < fin) {
            unsigned char d = b[i + 1];
            if (d >= 0x80 && d <= 0x9E && d != 0x97) d = static_cast<unsigned char>(d + 0x20);
            *o++ = char(c);
            *o++ = char(d);
            ++i;
        } else if (c == 0xC2 && i + 1 < fin && b[i + 1] != 0xB5) {
            *o++ = char(c);
            *o++ = char(b[i + 1]);
            ++i;
        } else {
            return plegarLento(p, n, salida);
        }
    }
}

std::string Plegar(QStringView texto) {
    const QByteArray u = texto.toUtf8();
    std::string r;
    PlegarUtf8(u.constData(), std::size_t(u.size()), r);
    return r;
}

double ValorCantidad(const QString& texto) {
    const QString coma = QLocale().decimalPoint();
    if (coma == QLatin1String(".") || coma.isEmpty() || !texto.contains(coma)) return Val(texto);
    return Val(QString(texto).replace(coma, QLatin1String(".")));
}

QString FormatoCantidad(double valor, int decimales) {
    const double escala = std::pow(10.0, decimales);
    double redondeado = std::round(valor * escala) / escala;
    if (redondeado == 0.0) redondeado = 0.0; // no "-0.0"
    QString t = QString::number(redondeado, 'f', decimales);
    const QString coma = QLocale().decimalPoint();
    if (!coma.isEmpty() && coma != QLatin1String(".")) t.replace(QChar('.'), coma);
    return t;
}
