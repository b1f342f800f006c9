#include "lookup/lib_textoconsulta.h"

#include "suite/utilidades.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <QLocale>

namespace {

// "ñ" takes the byte of "o", and the characters from "o" to 127 move up one.
constexpr unsigned char Ene = 'o';

constexpr std::array<unsigned char, 128> TablaAscii = [] {
    std::array<unsigned char, 128> t{};
    for (int c = 0; c < 128; ++c) {
        int l = (c >= 'A' && c <= 'Z') ? c + 32 : c;
        t[std::size_t(c)] = static_cast<unsigned char>(l <= 'n' ? l : l + 1);
    }
    return t;
}();

bool esBlancoAscii(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One character of UTF-8 (at least one byte available): its code point and length. A byte
// that starts no valid sequence reads as U+FFFD on its own.
std::size_t decodificar(const unsigned char* p, std::size_t n, char32_t& c) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    auto sigue = [&](std::size_t k) { return k < n && (p[k] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF && sigue(1)) {
        c = char32_t(b0 & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && sigue(1) && sigue(2)) {
        c = char32_t(b0 & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && sigue(1) && sigue(2) && sigue(3)) {
        c = char32_t(b0 & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 |
            (p[3] & 0x3F);
        if (c >= 0x10000 && c <= 0x10FFFF) return 4;
    }
    c = 0xFFFD;
    return 1;
}

// The key of one character worked out through Qt: case folded, decomposed, the marks (accents)
// left out.
void claveGeneral(char32_t c, std::string& s) {
    if (c == 0xF1 || c == 0xD1) {
        s += char(Ene);
        return;
    }
    if (c < 0x80) {
        s += char(TablaAscii[c]);
        return;
    }
    const QString f = QString::fromUcs4(&c, 1).toCaseFolded().normalized(QString::NormalizationForm_D);
    for (const char32_t d : QStringView(f).toUcs4()) {
        const QChar::Category k = QChar::category(d);
        if (k == QChar::Mark_NonSpacing || k == QChar::Mark_SpacingCombining || k == QChar::Mark_Enclosing)
            continue;
        if (d < 0x80)
            s += char(TablaAscii[d]);
        else
            s += QString::fromUcs4(&d, 1).toStdString();
    }
}

// Keys of the characters of the Basic Multilingual Plane, worked out a page of 256 at a time
// when first met.
struct ClaveCaracter {
    std::uint8_t n = 0; // Larga: longer than b, worked out each time
    char b[11] = {};
};
constexpr std::uint8_t Larga = 0xFF;
using Pagina = std::array<ClaveCaracter, 256>;

const Pagina& pagina(std::size_t k) {
    static std::array<std::once_flag, 256> hechas;
    static std::array<std::unique_ptr<Pagina>, 256> paginas;
    std::call_once(hechas[k], [k] {
        auto p = std::make_unique<Pagina>();
        std::string s;
        for (std::size_t i = 0; i < 256; ++i) {
            s.clear();
            claveGeneral(char32_t(k << 8 | i), s);
            ClaveCaracter& e = (*p)[i];
            if (s.size() > sizeof e.b) {
                e.n = Larga;
            } else {
                e.n = std::uint8_t(s.size());
                std::memcpy(e.b, s.data(), s.size());
            }
        }
        paginas[k] = std::move(p);
    });
    return *paginas[k];
}

const ClaveCaracter& claveTabla(char32_t c) {
    return pagina(c >> 8)[c & 0xFF];
}

// The next character of a cell from position i (i < fin) and its key, as bytes and length;
// `largo` gets the bytes the character took. "n" followed by a combining tilde is an "ñ".
// `auxiliar` holds the key of the rare character that has no place in the tables.
inline const char* claveSiguiente(const unsigned char* b, std::size_t i, std::size_t fin, std::size_t& largo,
                                  std::size_t& n, std::string& auxiliar) {
    static constexpr char ene = char(Ene);
    const unsigned char c0 = b[i];
    if (c0 < 0x80) {
        largo = 1;
        n = 1;
        if ((c0 == 'n' || c0 == 'N') && i + 2 < fin && b[i + 1] == 0xCC && b[i + 2] == 0x83) {
            largo = 3;
            return &ene;
        }
        return reinterpret_cast<const char*>(&TablaAscii[c0]);
    }
    char32_t c = 0;
    largo = decodificar(b + i, fin - i, c);
    if (c < 0x10000) {
        const ClaveCaracter& e = claveTabla(c);
        if (e.n != Larga) {
            n = e.n;
            return e.b;
        }
    }
    auxiliar.clear();
    claveGeneral(c, auxiliar);
    n = auxiliar.size();
    return auxiliar.data();
}

// The cell without the blanks at its ends (Unicode blanks included, as QString::trimmed).
void recortar(const unsigned char* b, std::size_t n, std::size_t& ini, std::size_t& fin) {
    ini = 0;
    fin = n;
    while (ini < fin) {
        if (esBlancoAscii(b[ini])) {
            ++ini;
            continue;
        }
        if (b[ini] < 0x80) break;
        char32_t c = 0;
        const std::size_t l = decodificar(b + ini, fin - ini, c);
        if (!QChar::isSpace(c)) break;
        ini += l;
    }
    while (fin > ini) {
        const std::size_t k = fin - 1;
        if (b[k] < 0x80) {
            if (!esBlancoAscii(b[k])) break;
            fin = k;
            continue;
        }
        std::size_t s = k;
        while (s > ini && (b[s] & 0xC0) == 0x80 && k - s < 3)
            --s;
        char32_t c = 0;
        if (decodificar(b + s, fin - s, c) != fin - s || !QChar::isSpace(c)) break;
        fin = s;
    }
}

} // namespace

void ClaveUtf8(const char* p, std::size_t n, std::string& salida) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    std::size_t ini = 0, fin = 0;
    recortar(b, n, ini, fin);
    salida.resize(fin - ini);
    std::size_t o = 0;
    std::size_t i = ini;
    // Plain ASCII first, in place; the rest character by character.
    for (; i < fin && b[i] < 0x80; ++i) {
        if ((b[i] == 'n' || b[i] == 'N') && i + 1 < fin && b[i + 1] == 0xCC) break;
        salida[o++] = char(TablaAscii[b[i]]);
    }
    if (i == fin) return;
    const Pagina& latin1 = pagina(0);
    std::string auxiliar;
    while (i < fin) {
        // Room for the longest key a table holds.
        if (salida.size() < o + sizeof(ClaveCaracter::b))
            salida.resize(2 * salida.size() + sizeof(ClaveCaracter::b));
        char* d = salida.data();
        const unsigned char c0 = b[i];
        if (c0 < 0x80 && c0 != 'n' && c0 != 'N') {
            d[o++] = char(TablaAscii[c0]);
            ++i;
            continue;
        }
        if ((c0 == 0xC2 || c0 == 0xC3) && i + 1 < fin && (b[i + 1] & 0xC0) == 0x80) {
            const ClaveCaracter& e = latin1[std::size_t(c0 & 0x1F) << 6 | (b[i + 1] & 0x3F)];
            if (e.n != Larga) {
                std::memcpy(d + o, e.b, e.n);
                o += e.n;
                i += 2;
                continue;
            }
        }
        std::size_t largo = 0, k = 0;
        const char* clave = claveSiguiente(b, i, fin, largo, k, auxiliar);
        if (salida.size() < o + k) salida.resize(o + k);
        std::memcpy(salida.data() + o, clave, k);
        o += k;
        i += largo;
    }
    salida.resize(o);
}

std::string Clave(QStringView texto) {
    const QByteArray u = texto.toUtf8();
    std::string r;
    ClaveUtf8(u.constData(), std::size_t(u.size()), r);
    return r;
}

bool EmpiezaConClave(const char* p, std::size_t n, const std::string& q, std::string& auxiliar) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    const auto* r = reinterpret_cast<const unsigned char*>(q.data());
    const std::size_t m = q.size();
    // A search key ends in a blank only when nothing after its last blank has a key of its own
    // (a lone combining mark). Then the cell's trailing blanks, which its key drops, decide:
    // the cell's whole key is compared.
    if (m > 0 && static_cast<unsigned char>(q[m - 1]) == TablaAscii[' ']) {
        ClaveUtf8(p, n, auxiliar);
        return EmpiezaCon(auxiliar, q);
    }
    std::size_t i = 0;
    // Otherwise only the leading blanks matter.
    while (i < n && esBlancoAscii(b[i]))
        ++i;
    if (i < n && b[i] >= 0x80) {
        std::size_t ini = 0, fin = 0;
        recortar(b, n, ini, fin);
        i = ini;
    }
    std::size_t j = 0;
    while (j < m) {
        if (i >= n) return false;
        const unsigned char c = b[i];
        if (c < 0x80 && c != 'n' && c != 'N') {
            if (TablaAscii[c] != r[j]) return false;
            ++i;
            ++j;
            continue;
        }
        std::size_t largo = 0, k = 0;
        const char* clave = claveSiguiente(b, i, n, largo, k, auxiliar);
        for (std::size_t t = 0; t < k && j < m; ++t, ++j)
            if (static_cast<unsigned char>(clave[t]) != r[j]) return false;
        i += largo;
    }
    return true;
}

bool TrozoClaveRapido(const char* p, std::size_t n, std::size_t desde, std::uint64_t* trozos, int cuantos,
                      std::size_t& longitud) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    std::size_t ini = 0, fin = n;
    while (ini < fin && esBlancoAscii(b[ini]))
        ++ini;
    while (fin > ini && esBlancoAscii(b[fin - 1]))
        --fin;
    std::size_t i = ini;
    for (; i + 8 <= fin; i += 8) {
        std::uint64_t ocho;
        std::memcpy(&ocho, b + i, 8);
        if (ocho & 0x8080808080808080ull) return false;
    }
    for (; i < fin; ++i)
        if (b[i] >= 0x80) return false;
    longitud = fin - ini;
    for (int t = 0; t < cuantos; ++t) {
        std::uint64_t k = 0;
        const std::size_t desdeTrozo = ini + desde + 8 * std::size_t(t);
        for (std::size_t x = 0; x < 8; ++x) {
            const std::size_t j = desdeTrozo + x;
            k = (k << 8) | (j < fin ? TablaAscii[b[j]] : 0u);
        }
        trozos[t] = k;
    }
    return true;
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
