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

namespace {
// The trimmed range of a cell, or false when its ends hold blanks outside ASCII.
bool recortar(const unsigned char* b, std::size_t n, std::size_t& ini, std::size_t& fin) {
    ini = 0;
    fin = n;
    while (ini < fin && esBlancoAscii(b[ini]))
        ++ini;
    while (fin > ini && esBlancoAscii(b[fin - 1]))
        --fin;
    if (ini < fin && b[ini] == 0xC2 && ini + 1 < fin && (b[ini + 1] == 0x85 || b[ini + 1] == 0xA0))
        return false;
    if (fin - ini >= 2 && b[fin - 2] == 0xC2 && (b[fin - 1] == 0x85 || b[fin - 1] == 0xA0)) return false;
    return true;
}

// The folded byte at i of a cell known to be on the fast path (lead bytes stay as they are).
inline unsigned char plegarByte(const unsigned char* b, std::size_t i, std::size_t ini) {
    const unsigned char c = b[i];
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
    if (i > ini && b[i - 1] == 0xC3 && c <= 0x9E && c != 0x97) return static_cast<unsigned char>(c + 0x20);
    return c;
}

// Whether every character of the range takes the fast path: ASCII, or two-byte sequences led
// by C2 (except the micro sign) or C3.
bool rapido(const unsigned char* b, std::size_t ini, std::size_t fin) {
    for (std::size_t i = ini; i < fin; ++i) {
        const unsigned char c = b[i];
        if (c < 0x80) continue;
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= fin) return false;
        const unsigned char d = b[i + 1];
        if (d < 0x80 || d > 0xBF || (c == 0xC2 && d == 0xB5)) return false;
        ++i;
    }
    return true;
}
} // namespace

bool EmpiezaConPlegado(const char* p, std::size_t n, const std::string& q, std::string& auxiliar) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    std::size_t ini = 0, fin = n;
    // Only the leading blanks matter: q is trimmed, so it never ends in a blank.
    while (ini < fin && esBlancoAscii(b[ini]))
        ++ini;
    if (ini < fin && b[ini] == 0xC2 && ini + 1 < fin && (b[ini + 1] == 0x85 || b[ini + 1] == 0xA0)) {
        PlegarUtf8(p, n, auxiliar);
        return EmpiezaCon(auxiliar, q);
    }
    const std::size_t m = q.size();
    const auto* r = reinterpret_cast<const unsigned char*>(q.data());
    std::size_t j = 0;
    for (std::size_t i = ini; j < m; ++i) {
        if (i >= fin) return false;
        const unsigned char c = b[i];
        if (c < 0x80) {
            if (((c >= 'A' && c <= 'Z') ? c + 32 : c) != r[j]) return false;
            ++j;
            continue;
        }
        if ((c == 0xC2 || c == 0xC3) && i + 1 < fin) {
            unsigned char d = b[i + 1];
            if (d >= 0x80 && d <= 0xBF && !(c == 0xC2 && d == 0xB5)) {
                if (c == 0xC3 && d <= 0x9E && d != 0x97) d = static_cast<unsigned char>(d + 0x20);
                if (c != r[j]) return false;
                if (j + 1 >= m) return true;
                if (d != r[j + 1]) return false;
                j += 2;
                ++i;
                continue;
            }
        }
        // Any other character: the whole cell through the general path.
        PlegarUtf8(p, n, auxiliar);
        return EmpiezaCon(auxiliar, q);
    }
    return true;
}

bool TrozoPlegadoRapido(const char* p, std::size_t n, std::size_t desde, std::uint64_t* trozos, int cuantos,
                        std::size_t& longitud) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    std::size_t ini = 0, fin = 0;
    if (!recortar(b, n, ini, fin) || !rapido(b, ini, fin)) return false;
    longitud = fin - ini;
    for (int t = 0; t < cuantos; ++t) {
        std::uint64_t k = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t j = ini + desde + 8 * std::size_t(t) + i;
            k = (k << 8) | (j < fin ? plegarByte(b, j, ini) : 0u);
        }
        trozos[t] = k;
    }
    return true;
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
