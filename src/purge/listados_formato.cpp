#include "purge/listados_formato.h"

#include <algorithm>
#include <charconv>
#include <QDateTime>
#include <QRegularExpression>

namespace {

bool esDigito(char c) {
    return c >= '0' && c <= '9';
}
bool esBlanco(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void normalizar(NumeroDecimal& n) {
    const auto primera = n.enteros.find_first_not_of('0');
    n.enteros.erase(0, primera == std::string::npos ? n.enteros.size() : primera);
    if (n.enteros.empty()) n.enteros = "0";
    const auto ultima = n.fraccion.find_last_not_of('0');
    n.fraccion.resize(ultima == std::string::npos ? 0 : ultima + 1);
    if (n.enteros == "0" && n.fraccion.empty()) n.negativo = false;
}

// A decimal text, read exactly: blanks around it, a sign, digits with an optional "." and an
// optional exponent, which moves the point.
bool leerTexto(const char* p, qsizetype largo, NumeroDecimal& n) {
    qsizetype i = 0, f = largo;
    while (i < f && esBlanco(p[i]))
        ++i;
    while (f > i && esBlanco(p[f - 1]))
        --f;
    n.negativo = false;
    n.enteros.clear();
    n.fraccion.clear();
    if (i < f && (p[i] == '+' || p[i] == '-')) n.negativo = p[i++] == '-';
    while (i < f && esDigito(p[i]))
        n.enteros.push_back(p[i++]);
    if (i < f && p[i] == '.')
        for (++i; i < f && esDigito(p[i]); ++i)
            n.fraccion.push_back(p[i]);
    if (n.enteros.empty() && n.fraccion.empty()) return false;
    if (i < f && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        int exponente = 0;
        const char* desde = p + i + (i < f && p[i] == '+' ? 1 : 0);
        const auto r = std::from_chars(desde, p + f, exponente);
        // Beyond a few hundred digits a value is not an amount anyone keeps.
        if (r.ec != std::errc() || r.ptr != p + f || exponente > 400 || exponente < -400) return false;
        std::string cifras = n.enteros + n.fraccion;
        qsizetype punto = qsizetype(n.enteros.size()) + exponente;
        if (punto < 0) {
            cifras.insert(0, size_t(-punto), '0');
            punto = 0;
        }
        if (punto > qsizetype(cifras.size())) cifras.append(size_t(punto) - cifras.size(), '0');
        n.enteros = cifras.substr(0, size_t(punto));
        n.fraccion = cifras.substr(size_t(punto));
        i = f;
    }
    if (i != f) return false;
    normalizar(n);
    return true;
}

// Appends UTF-8 text on one line: control characters become blanks, invalid bytes the
// replacement character (the PDF's text must be valid UTF-8).
void anexarLinea(std::string& s, const char* p, qsizetype n) {
    const size_t inicio = s.size();
    qsizetype i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c < 0x80) {
            s.push_back(c < 0x20 || c == 0x7f ? ' ' : char(c));
            ++i;
            continue;
        }
        int largo = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        bool valido = largo > 0 && i + largo <= n;
        char32_t cp = largo == 2 ? c & 0x1f : largo == 3 ? c & 0x0f : c & 0x07;
        for (int k = 1; valido && k < largo; ++k) {
            const auto b = static_cast<unsigned char>(p[i + k]);
            valido = (b & 0xc0) == 0x80;
            cp = (cp << 6) | (b & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        valido = valido && !(largo == 3 && cp < 0x800) && !(largo == 4 && (cp < 0x10000 || cp > 0x10ffff)) &&
                 !(cp >= 0xd800 && cp <= 0xdfff);
        // C1 controls and the line and paragraph separators are line breaks of a kind.
        if (valido && (cp < 0xa0 || cp == 0x2028 || cp == 0x2029)) {
            s.push_back(' ');
        } else if (valido) {
            s.append(p + i, size_t(largo));
        } else {
            s.append("\xef\xbf\xbd");
            largo = 1;
        }
        i += largo;
    }
    while (s.size() > inicio && s.back() == ' ')
        s.pop_back();
}

void anexarHex(std::string& s, const char* p, qsizetype n) {
    static const char cifras[] = "0123456789ABCDEF";
    s.append("0x");
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        s.push_back(cifras[b >> 4]);
        s.push_back(cifras[b & 15]);
    }
}

// A canonical date "YYYY-MM-DD[ HH:MM:SS[.mmm]]" or time "HH:MM:SS[.mmm]" as it reads in Spain
// and Argentina.
void anexarFechaCanonica(std::string& s, std::string_view c) {
    std::string_view hora;
    if (c.size() >= 10 && c[4] == '-') {
        s.append(c.substr(8, 2)).push_back('/');
        s.append(c.substr(5, 2)).push_back('/');
        s.append(c.substr(0, 4));
        if (c.size() > 11) {
            s.push_back(' ');
            hora = c.substr(11);
        }
    } else {
        hora = c;
    }
    if (hora.size() < 8) {
        s.append(hora);
        return;
    }
    s.append(hora.substr(0, 5));
    const bool conMilesimas = hora.size() > 8;
    if (hora.substr(6, 2) != "00" || conMilesimas) s.append(hora.substr(5, 3));
    if (conMilesimas) s.append(",").append(hora.substr(9));
}

} // namespace

FormatoColumna FormatoDeTipo(const QString& tipoDeclarado) {
    FormatoColumna f;
    switch (ClaseDeTipo(tipoDeclarado)) {
    case ClaseCanonica::Otra:
        return f;
    case ClaseCanonica::Fecha:
        f.clase = FormatoColumna::Clase::Fecha;
        return f;
    case ClaseCanonica::Numero:
        break;
    }
    const QString t = tipoDeclarado.trimmed().toUpper();
    static const QRegularExpression kPrecision(QStringLiteral("\\(\\s*\\d+\\s*(?:,\\s*(\\d+)\\s*)?\\)"));
    const QRegularExpressionMatch m = kPrecision.match(t);
    const int escala = m.hasMatch() && m.hasCaptured(1) ? m.captured(1).toInt() : -1;
    auto tiene = [&](const char* x) { return t.contains(QLatin1String(x)); };
    if (tiene("MONEY")) {
        // SQL Server keeps four decimals and shows two.
        f = {FormatoColumna::Clase::Decimal, 2, true};
        f.escala = 4;
    } else if (tiene("NUM") || tiene("DEC")) {
        if (escala > 0) {
            f = {FormatoColumna::Clase::Decimal, escala, true};
            f.escala = escala;
        } else if (m.hasMatch()) {
            // numeric(10) and numeric(10,0) hold whole numbers: ids and codes, not amounts.
            f.clase = FormatoColumna::Clase::Entero;
        } else {
            f = {FormatoColumna::Clase::Decimal, 2, true};
        }
    } else if (tiene("REAL") || tiene("FLOA") || tiene("DOUB")) {
        f.clase = FormatoColumna::Clase::Decimal;
    } else {
        f.clase = FormatoColumna::Clase::Entero;
    }
    return f;
}

bool LeerNumero(const Dato& dato, NumeroDecimal& n) {
    switch (dato.tipo) {
    case Dato::Tipo::Entero: {
        n.negativo = dato.entero < 0;
        const auto magnitud = n.negativo ? 0 - static_cast<std::uint64_t>(dato.entero)
                                         : static_cast<std::uint64_t>(dato.entero);
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, magnitud);
        n.enteros.assign(buf, r.ptr);
        n.fraccion.clear();
        return true;
    }
    case Dato::Tipo::Real: {
        std::string s;
        AnexarCampoCanonico(s, ClaseCanonica::Numero, dato);
        return s.size() > 1 && s[0] == '#' && leerTexto(s.data() + 1, qsizetype(s.size()) - 1, n);
    }
    case Dato::Tipo::Texto:
        return leerTexto(dato.datos, dato.largo, n);
    default:
        return false;
    }
}

void Redondear(NumeroDecimal& n, int decimales) {
    if (decimales < 0 || int(n.fraccion.size()) <= decimales) return;
    const bool arriba = n.fraccion[size_t(decimales)] >= '5';
    n.fraccion.resize(size_t(decimales));
    if (arriba) {
        std::string cifras = n.enteros + n.fraccion;
        qsizetype i = qsizetype(cifras.size()) - 1;
        for (; i >= 0 && cifras[size_t(i)] == '9'; --i)
            cifras[size_t(i)] = '0';
        if (i >= 0)
            ++cifras[size_t(i)];
        else
            cifras.insert(cifras.begin(), '1');
        n.enteros = cifras.substr(0, cifras.size() - size_t(decimales));
        n.fraccion = cifras.substr(cifras.size() - size_t(decimales));
    }
    normalizar(n);
}

bool NumeroDeValor(const FormatoColumna& f, const Dato& dato, NumeroDecimal& n) {
    if (!LeerNumero(dato, n)) return false;
    if (dato.tipo == Dato::Tipo::Real && f.escala >= 0) Redondear(n, f.escala);
    return true;
}

void AnexarNumeroEspanol(std::string& s, const NumeroDecimal& n, int decimalesMinimos, bool miles) {
    if (n.negativo) s.push_back('-');
    const size_t largo = n.enteros.size();
    for (size_t i = 0; i < largo; ++i) {
        if (miles && i > 0 && (largo - i) % 3 == 0) s.push_back('.');
        s.push_back(n.enteros[i]);
    }
    const size_t decimales = std::max(n.fraccion.size(), size_t(std::max(0, decimalesMinimos)));
    if (decimales == 0) return;
    s.push_back(',');
    s.append(n.fraccion);
    s.append(decimales - n.fraccion.size(), '0');
}

void AnexarValor(std::string& s, const FormatoColumna& f, const Dato& dato) {
    switch (dato.tipo) {
    case Dato::Tipo::Nulo:
        return;
    case Dato::Tipo::Binario:
        anexarHex(s, dato.datos, dato.largo);
        return;
    default:
        break;
    }
    using Clase = FormatoColumna::Clase;
    if (f.clase == Clase::Entero || f.clase == Clase::Decimal) {
        NumeroDecimal n;
        if (NumeroDeValor(f, dato, n)) {
            AnexarNumeroEspanol(s, n, f.decimales, f.clase == Clase::Decimal);
            return;
        }
    } else if (f.clase == Clase::Fecha &&
               (dato.tipo == Dato::Tipo::Texto || dato.tipo == Dato::Tipo::Fecha)) {
        std::string c;
        AnexarCampoCanonico(c, ClaseCanonica::Fecha, dato);
        if (!c.empty() && c[0] == 'D') {
            anexarFechaCanonica(s, std::string_view(c).substr(1));
            return;
        }
    }
    if (dato.tipo == Dato::Tipo::Texto || dato.tipo == Dato::Tipo::Fecha) {
        anexarLinea(s, dato.datos, dato.largo);
        return;
    }
    // A number in a text or date column: its digits as stored.
    std::string c;
    AnexarCampoCanonico(c, ClaseCanonica::Numero, dato);
    s.append(c, 1);
}

QString FechaParaListado(const QString& texto) {
    const QString t = texto.trimmed();
    if (t.size() >= 10 && t[4] == u'-' && t[7] == u'-') {
        const QDate fecha = QDate::fromString(t.left(10), Qt::ISODate);
        if (!fecha.isValid()) return texto;
        if (t.size() == 10) return fecha.toString(QStringLiteral("dd/MM/yyyy"));
        QString iso = t;
        iso[10] = u'T';
        const QDateTime momento = QDateTime::fromString(iso, Qt::ISODate);
        // In the offset it was written with: the purge's own clock.
        if (momento.isValid()) return momento.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    }
    return texto;
}

// ---- Exact sums ----------------------------------------------------------------------------

namespace {
constexpr std::uint32_t kBase = 1000000000;

void sumarMagnitud(std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() < b.size()) a.resize(b.size(), 0);
    std::uint64_t acarreo = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t v = std::uint64_t(a[i]) + (i < b.size() ? b[i] : 0) + acarreo;
        a[i] = std::uint32_t(v % kBase);
        acarreo = v / kBase;
        if (!acarreo && i >= b.size()) break;
    }
    if (acarreo) a.push_back(std::uint32_t(acarreo));
}

void multiplicar(std::vector<std::uint32_t>& a, std::uint32_t factor) {
    std::uint64_t acarreo = 0;
    for (auto& limbo : a) {
        const std::uint64_t v = std::uint64_t(limbo) * factor + acarreo;
        limbo = std::uint32_t(v % kBase);
        acarreo = v / kBase;
    }
    if (acarreo) a.push_back(std::uint32_t(acarreo));
}

void recortar(std::vector<std::uint32_t>& a) {
    while (!a.empty() && a.back() == 0)
        a.pop_back();
}

int comparar(std::vector<std::uint32_t> a, std::vector<std::uint32_t> b) {
    recortar(a);
    recortar(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// a - b, with a >= b.
std::vector<std::uint32_t> restar(std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
    std::int64_t prestado = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        std::int64_t v = std::int64_t(a[i]) - (i < b.size() ? b[i] : 0) - prestado;
        prestado = v < 0;
        if (v < 0) v += kBase;
        a[i] = std::uint32_t(v);
    }
    return a;
}
} // namespace

void SumaExacta::Escalar(int escala) {
    for (int faltan = escala - escala_; faltan > 0;) {
        const int paso = std::min(faltan, 9);
        std::uint32_t factor = 1;
        for (int i = 0; i < paso; ++i)
            factor *= 10;
        multiplicar(positivos_, factor);
        multiplicar(negativos_, factor);
        faltan -= paso;
    }
    escala_ = std::max(escala_, escala);
}

void SumaExacta::Agregar(const NumeroDecimal& n) {
    ++sumandos_;
    Escalar(int(n.fraccion.size()));
    std::string cifras = n.enteros + n.fraccion;
    cifras.append(size_t(escala_) - n.fraccion.size(), '0');
    std::vector<std::uint32_t> limbos;
    for (size_t fin = cifras.size(); fin > 0;) {
        const size_t inicio = fin >= 9 ? fin - 9 : 0;
        std::uint32_t v = 0;
        std::from_chars(cifras.data() + inicio, cifras.data() + fin, v);
        limbos.push_back(v);
        fin = inicio;
    }
    sumarMagnitud(n.negativo ? negativos_ : positivos_, limbos);
}

NumeroDecimal SumaExacta::Total() const {
    const int cmp = comparar(positivos_, negativos_);
    std::vector<std::uint32_t> magnitud =
        cmp >= 0 ? restar(positivos_, negativos_) : restar(negativos_, positivos_);
    recortar(magnitud);
    std::string cifras;
    for (size_t i = magnitud.size(); i-- > 0;) {
        char buf[16];
        const auto r = std::to_chars(buf, buf + sizeof buf, magnitud[i]);
        const size_t largo = size_t(r.ptr - buf);
        if (i + 1 != magnitud.size()) cifras.append(9 - largo, '0');
        cifras.append(buf, largo);
    }
    if (cifras.size() <= size_t(escala_)) cifras.insert(0, size_t(escala_) + 1 - cifras.size(), '0');
    NumeroDecimal total;
    total.negativo = cmp < 0;
    total.enteros = cifras.substr(0, cifras.size() - size_t(escala_));
    total.fraccion = cifras.substr(cifras.size() - size_t(escala_));
    normalizar(total);
    return total;
}
