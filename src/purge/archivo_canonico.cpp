#include "purge/archivo_canonico.h"

#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <openssl/evp.h>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <thread>

namespace {

bool esBlancoAscii(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool esDigito(char c) {
    return c >= '0' && c <= '9';
}

void anexarEntero(std::string& s, qint64 v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr - buf);
}

constexpr double kDosA63 = 9223372036854775808.0;

void anexarReal(std::string& s, double v) {
    if (std::isnan(v)) {
        s.append("nan");
        return;
    }
    if (std::isinf(v)) {
        s.append(v < 0 ? "-inf" : "inf");
        return;
    }
    if (v == std::trunc(v) && std::fabs(v) < kDosA63) {
        anexarEntero(s, qint64(v)); // -0.0 gives 0
        return;
    }
    // The shortest digits that read back as the same double, then written without exponent.
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const char* p = buf;
    if (*p == '-') {
        s.push_back('-');
        ++p;
    }
    char cifras[24];
    int n = 0;
    const char* e = p;
    for (; e < r.ptr && *e != 'e'; ++e)
        if (*e != '.') cifras[n++] = *e;
    int exponente = 0;
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), r.ptr, exponente);
    // The value is c0.c1...c(n-1) times ten to the exponent.
    if (exponente >= n - 1) {
        s.append(cifras, size_t(n));
        s.append(size_t(exponente - n + 1), '0');
    } else if (exponente >= 0) {
        s.append(cifras, size_t(exponente + 1));
        s.push_back('.');
        s.append(cifras + exponente + 1, size_t(n - exponente - 1));
    } else {
        s.append("0.");
        s.append(size_t(-exponente - 1), '0');
        s.append(cifras, size_t(n));
    }
}

// A text that reads as a number: blanks around it, a sign, digits with an optional "." and an
// optional exponent. The integer ones that fit 64 bits stay exact.
bool anexarNumeroDeTexto(std::string& s, const char* p, qsizetype n) {
    qsizetype i = 0, f = n;
    while (i < f && esBlancoAscii(p[i]))
        ++i;
    while (f > i && esBlancoAscii(p[f - 1]))
        --f;
    qsizetype k = i;
    if (k < f && (p[k] == '+' || p[k] == '-')) ++k;
    qsizetype enteros = 0, decimales = 0;
    while (k < f && esDigito(p[k]))
        ++k, ++enteros;
    bool punto = false, exponente = false;
    if (k < f && p[k] == '.') {
        punto = true;
        ++k;
        while (k < f && esDigito(p[k]))
            ++k, ++decimales;
    }
    if (enteros + decimales == 0) return false;
    if (k < f && (p[k] == 'e' || p[k] == 'E')) {
        exponente = true;
        ++k;
        if (k < f && (p[k] == '+' || p[k] == '-')) ++k;
        qsizetype cifras = 0;
        while (k < f && esDigito(p[k]))
            ++k, ++cifras;
        if (cifras == 0) return false;
    }
    if (k != f) return false;
    const char* desde = p + i + (p[i] == '+' ? 1 : 0);
    if (!punto && !exponente) {
        qint64 v = 0;
        const auto r = std::from_chars(desde, p + f, v);
        if (r.ec == std::errc() && r.ptr == p + f) {
            anexarEntero(s, v);
            return true;
        }
    }
    double d = 0;
    const auto r = std::from_chars(desde, p + f, d);
    if (r.ec != std::errc() || r.ptr != p + f || !std::isfinite(d)) return false;
    anexarReal(s, d);
    return true;
}

void anexarDosCifras(std::string& s, int v) {
    s.push_back(char('0' + v / 10));
    s.push_back(char('0' + v % 10));
}

// Reads up to `maximo` digits (at least `minimo`) from p[i]; -1 when there are fewer.
int leerCifras(const char* p, qsizetype n, qsizetype& i, int minimo, int maximo) {
    int v = 0, k = 0;
    while (i < n && k < maximo && esDigito(p[i])) {
        v = v * 10 + (p[i] - '0');
        ++i;
        ++k;
    }
    return k >= minimo ? v : -1;
}

// HH:MM[:SS[.fff...]] from p[i] to the end; false when it is not a valid time of day.
bool leerHora(const char* p, qsizetype n, qsizetype i, QTime& hora) {
    const int h = leerCifras(p, n, i, 2, 2);
    if (h < 0 || i >= n || p[i] != ':') return false;
    ++i;
    const int m = leerCifras(p, n, i, 2, 2);
    if (m < 0) return false;
    int seg = 0, ms = 0;
    if (i < n && p[i] == ':') {
        ++i;
        seg = leerCifras(p, n, i, 2, 2);
        if (seg < 0) return false;
        if (i < n && p[i] == '.') {
            ++i;
            int cifras = 0;
            while (i < n && esDigito(p[i])) {
                if (cifras < 3) ms = ms * 10 + (p[i] - '0');
                ++cifras;
                ++i;
            }
            if (cifras == 0) return false;
            for (int c = cifras; c < 3; ++c)
                ms *= 10;
        }
    }
    if (i != n) return false;
    hora = QTime(h, m, seg, ms);
    return hora.isValid();
}

void anexarHora(std::string& s, const QTime& t) {
    anexarDosCifras(s, t.hour());
    s.push_back(':');
    anexarDosCifras(s, t.minute());
    s.push_back(':');
    anexarDosCifras(s, t.second());
    if (t.msec()) {
        s.push_back('.');
        s.push_back(char('0' + t.msec() / 100));
        anexarDosCifras(s, t.msec() % 100);
    }
}

// A text that reads as a date, a date and time, or a time of day.
bool anexarFechaDeTexto(std::string& s, const char* p, qsizetype n) {
    int a = -1, m = -1, d = -1;
    qsizetype i = 0;
    if (n >= 10 && p[4] == '-' && p[7] == '-') {
        a = leerCifras(p, 4, i, 4, 4);
        i = 5;
        m = leerCifras(p, 7, i, 2, 2);
        i = 8;
        d = leerCifras(p, 10, i, 2, 2);
        i = 10;
    } else if (n >= 8 && (p[1] == '/' || p[2] == '/')) {
        d = leerCifras(p, n, i, 1, 2);
        if (d < 0 || i >= n || p[i] != '/') return false;
        ++i;
        m = leerCifras(p, n, i, 1, 2);
        if (m < 0 || i >= n || p[i] != '/') return false;
        ++i;
        a = leerCifras(p, n, i, 4, 4);
    } else {
        QTime hora;
        if (!leerHora(p, n, 0, hora)) return false;
        anexarHora(s, hora);
        return true;
    }
    if (a < 0 || m < 0 || d < 0 || !QDate(a, m, d).isValid()) return false;
    QTime hora(0, 0);
    if (i != n) {
        if (p[i] != ' ' && p[i] != 'T') return false;
        if (!leerHora(p, n, i + 1, hora)) return false;
    }
    anexarDosCifras(s, a / 100);
    anexarDosCifras(s, a % 100);
    s.push_back('-');
    anexarDosCifras(s, m);
    s.push_back('-');
    anexarDosCifras(s, d);
    if (hora != QTime(0, 0)) {
        s.push_back(' ');
        anexarHora(s, hora);
    }
    return true;
}

void anexarTexto(std::string& s, const char* p, qsizetype n) {
    s.push_back('\'');
    qsizetype desde = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        const char* escape = c == '\\'   ? "\\\\"
                             : c == '\t' ? "\\t"
                             : c == '\n' ? "\\n"
                             : c == '\r' ? "\\r"
                                         : nullptr;
        if (!escape) continue;
        s.append(p + desde, i - desde);
        s.append(escape, 2);
        desde = i + 1;
    }
    s.append(p + desde, n - desde);
}

void anexarHex(std::string& s, const char* p, qsizetype n) {
    static const char cifras[] = "0123456789abcdef";
    s.push_back('x');
    const size_t inicio = s.size();
    s.resize(inicio + 2 * size_t(n));
    char* q = s.data() + inicio;
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        *q++ = cifras[b >> 4];
        *q++ = cifras[b & 15];
    }
}

} // namespace

ClaseCanonica ClaseDeTipo(const QString& tipoDeclarado) {
    const QString t = tipoDeclarado.trimmed().toUpper();
    auto tiene = [&](const char* x) { return t.contains(QLatin1String(x)); };
    if (t.isEmpty()) return ClaseCanonica::Otra;
    // Text and binary types first: "datetime" must not hide inside "nvarchar", nor "int" in "point".
    if (tiene("CHAR") || tiene("CLOB") || tiene("TEXT") || tiene("STRING") || tiene("BLOB") ||
        tiene("BINARY") || tiene("IMAGE") || tiene("XML") || tiene("UNIQUEIDENTIFIER"))
        return ClaseCanonica::Otra;
    if (tiene("DATE") || tiene("TIME")) return ClaseCanonica::Fecha;
    if (tiene("INT") || t == QLatin1String("BIT") || tiene("BOOL") || tiene("REAL") || tiene("FLOA") ||
        tiene("DOUB") || tiene("NUM") || tiene("DEC") || tiene("MONEY"))
        return ClaseCanonica::Numero;
    return ClaseCanonica::Otra;
}

void AnexarCampoCanonico(std::string& s, ClaseCanonica clase, const Dato& v) {
    switch (v.tipo) {
    case Dato::Tipo::Nulo:
        s.push_back('N');
        return;
    case Dato::Tipo::Entero:
        s.push_back('#');
        anexarEntero(s, v.entero);
        return;
    case Dato::Tipo::Real:
        s.push_back('#');
        anexarReal(s, v.real);
        return;
    case Dato::Tipo::Binario:
        anexarHex(s, v.datos, v.largo);
        return;
    case Dato::Tipo::Fecha: {
        s.push_back('D');
        const size_t antes = s.size();
        if (anexarFechaDeTexto(s, v.datos, v.largo)) return;
        s.resize(antes - 1);
        anexarTexto(s, v.datos, v.largo);
        return;
    }
    case Dato::Tipo::Texto:
        break;
    }
    const size_t antes = s.size();
    if (clase == ClaseCanonica::Numero) {
        s.push_back('#');
        if (anexarNumeroDeTexto(s, v.datos, v.largo)) return;
        s.resize(antes);
    } else if (clase == ClaseCanonica::Fecha) {
        s.push_back('D');
        if (anexarFechaDeTexto(s, v.datos, v.largo)) return;
        s.resize(antes);
    }
    anexarTexto(s, v.datos, v.largo);
}

QByteArray TextoCanonico(const std::vector<ClaseCanonica>& clases, const std::vector<Dato>& fila) {
    std::string s;
    for (size_t i = 0; i < fila.size(); ++i) {
        if (i) s.push_back('\t');
        AnexarCampoCanonico(s, i < clases.size() ? clases[i] : ClaseCanonica::Otra, fila[i]);
    }
    s.push_back('\n');
    return QByteArray::fromStdString(s);
}

const std::vector<Dato>& ConversorDatos::Convertir(const QVariant* valores, int n) {
    datos_.assign(size_t(n), Dato{});
    desde_.assign(size_t(n), -1);
    bytes_.clear();
    for (int i = 0; i < n; ++i) {
        const QVariant& v = valores[i];
        Dato& d = datos_[size_t(i)];
        if (!v.isValid() || v.isNull()) continue;
        const qsizetype inicio = bytes_.size();
        switch (v.typeId()) {
        case QMetaType::Bool:
            d = Dato::DeEntero(v.toBool() ? 1 : 0);
            continue;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            d = Dato::DeEntero(v.toLongLong());
            continue;
        case QMetaType::ULongLong:
        case QMetaType::ULong: {
            const qulonglong u = v.toULongLong();
            d = u <= qulonglong(std::numeric_limits<qint64>::max()) ? Dato::DeEntero(qint64(u))
                                                                    : Dato::DeReal(double(u));
            continue;
        }
        case QMetaType::Double:
        case QMetaType::Float:
            d = Dato::DeReal(v.toDouble());
            continue;
        case QMetaType::QByteArray:
            bytes_.append(v.toByteArray());
            d.tipo = Dato::Tipo::Binario;
            break;
        case QMetaType::QDate:
            bytes_.append(v.toDate().toString(Qt::ISODate).toLatin1());
            d.tipo = Dato::Tipo::Fecha;
            break;
        case QMetaType::QDateTime: {
            const QDateTime t = v.toDateTime();
            bytes_.append(t.toString(t.time().msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                                     : QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                              .toLatin1());
            d.tipo = Dato::Tipo::Fecha;
            break;
        }
        case QMetaType::QTime: {
            const QTime t = v.toTime();
            bytes_.append(t.toString(t.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"))
                              .toLatin1());
            d.tipo = Dato::Tipo::Fecha;
            break;
        }
        default:
            bytes_.append(v.toString().toUtf8());
            d.tipo = Dato::Tipo::Texto;
            break;
        }
        desde_[size_t(i)] = inicio;
        d.largo = bytes_.size() - inicio;
    }
    // The bytes are all in place now: point at them.
    for (int i = 0; i < n; ++i)
        if (desde_[size_t(i)] >= 0) datos_[size_t(i)].datos = bytes_.constData() + desde_[size_t(i)];
    return datos_;
}

// OpenSSL's SHA-256 (libcrypto): it uses the processor's SHA instructions where there are
// some, about eight times as fast as Qt's own on the machines measured.
struct HuellaTabla::Sha {
    struct Liberar {
        void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, Liberar> ctx{EVP_MD_CTX_new()};

    Sha() {
        if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    }
    void agregar(const std::string& bloque) { EVP_DigestUpdate(ctx.get(), bloque.data(), bloque.size()); }
    QByteArray resultado() const {
        // A copy is finished, so that more rows can follow.
        std::unique_ptr<EVP_MD_CTX, Liberar> copia{EVP_MD_CTX_new()};
        unsigned char sha[EVP_MAX_MD_SIZE];
        unsigned int largo = 0;
        if (!copia || EVP_MD_CTX_copy_ex(copia.get(), ctx.get()) != 1 ||
            EVP_DigestFinal_ex(copia.get(), sha, &largo) != 1)
            throw std::bad_alloc();
        return QByteArray(reinterpret_cast<const char*>(sha), int(largo));
    }
};

namespace {
constexpr size_t kBloque = 1 << 18;
}

HuellaTabla::HuellaTabla(std::vector<ClaseCanonica> clases)
    : clases_(std::move(clases)), sha_(std::make_unique<Sha>()) {
    pendiente_.reserve(kBloque + 4096);
}

HuellaTabla::~HuellaTabla() = default;

void HuellaTabla::Agregar(const Dato* fila) {
    for (size_t i = 0; i < clases_.size(); ++i) {
        if (i) pendiente_.push_back('\t');
        AnexarCampoCanonico(pendiente_, clases_[i], fila[i]);
    }
    pendiente_.push_back('\n');
    ++filas_;
    if (pendiente_.size() >= kBloque) Volcar();
}

void HuellaTabla::Volcar() {
    sha_->agregar(pendiente_);
    pendiente_.clear();
}

QString HuellaTabla::Sha256() {
    Volcar();
    return QString::fromLatin1(sha_->resultado().toHex());
}
