#include "lookup/lib_modeloconsulta.h"

#include "lookup/lib_modeloconsulta_p.h"
#include "lookup/lib_textoconsulta.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QVariant>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

using interno::leerLargo;

// UTF-8 of a text written from `o` (room for three bytes a unit); returns where it ended.
// Lone surrogates become U+FFFD. Runs of ASCII go eight characters at a time: most cells
// are plain ASCII.
char* escribirUtf8(char* o, QStringView texto) {
    const char16_t* p = texto.utf16();
    const char16_t* fin = p + texto.size();
    while (p < fin) {
#ifdef __SSE2__
        if (fin - p >= 8) {
            const __m128i ocho = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(ocho, _mm_set1_epi16(-128)),
                                                  _mm_setzero_si128())) == 0xFFFF) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(ocho, ocho));
                o += 8;
                p += 8;
                continue;
            }
        }
#endif
        if (fin - p >= 4) {
            std::uint64_t cuatro;
            std::memcpy(&cuatro, p, 8);
            if ((cuatro & 0xFF80FF80FF80FF80ull) == 0) {
                o[0] = char(p[0]);
                o[1] = char(p[1]);
                o[2] = char(p[2]);
                o[3] = char(p[3]);
                o += 4;
                p += 4;
                continue;
            }
        }
        char32_t c = *p++;
        if (c < 0x80) {
            *o++ = char(c);
        } else if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3F));
        } else {
            if (c >= 0xD800 && c <= 0xDFFF) {
                if (c <= 0xDBFF && p < fin && *p >= 0xDC00 && *p <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
                    *o++ = char(0xF0 | (c >> 18));
                    *o++ = char(0x80 | ((c >> 12) & 0x3F));
                    *o++ = char(0x80 | ((c >> 6) & 0x3F));
                    *o++ = char(0x80 | (c & 0x3F));
                    continue;
                }
                c = 0xFFFD;
            }
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        }
    }
    return o;
}

// Bytes a cell's length takes before its bytes.
std::size_t bytesDeLargo(std::size_t n) {
    std::size_t k = 1;
    while (n >= 0x80)
        n >>= 7, ++k;
    return k;
}

// Eight bytes of a key from a position, big-endian, padded with zeros: comparing
// these as numbers compares the texts' bytes.
inline std::uint64_t trozoDe(const unsigned char* s, std::size_t n, std::size_t desde) {
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t j = desde + i;
        k = (k << 8) | (j < n ? s[j] : 0u);
    }
    return k;
}
inline std::uint64_t trozoDe(const std::string& s, std::size_t desde) {
    return trozoDe(reinterpret_cast<const unsigned char*>(s.data()), s.size(), desde);
}

// A length as stored before a cell's bytes; returns where it ended.
char* escribirLargo(char* o, std::size_t v) {
    while (v >= 0x80) {
        *o++ = char((v & 0x7F) | 0x80);
        v >>= 7;
    }
    *o++ = char(v);
    return o;
}

// A cell in its stored form written from `base` (room for five bytes and three a UTF-16
// unit); returns where it ended. One byte is left for the length, the usual case; a longer
// one moves the text up.
char* escribirCelda(char* base, QStringView texto) {
    const std::size_t n = std::size_t(escribirUtf8(base + 1, texto) - (base + 1));
    const std::size_t k = bytesDeLargo(n);
    if (k > 1) std::memmove(base + k, base + 1, n);
    escribirLargo(base, n);
    return base + k + n;
}

} // namespace

namespace {
constexpr std::size_t BloqueGrande = std::size_t(1) << 21; // from 2 MiB on: mapped pages

std::size_t redondearPaginas(std::size_t bytes) {
    return (bytes + BloqueGrande - 1) & ~(BloqueGrande - 1);
}
} // namespace

void* ReservarBloque(std::size_t bytes, std::size_t& capacidad) {
#ifdef __linux__
    if (bytes >= BloqueGrande) {
        const std::size_t total = redondearPaginas(bytes);
        void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, total, MADV_HUGEPAGE);
        capacidad = total;
        return p;
    }
#endif
    void* p = std::malloc(bytes);
    if (!p) throw std::bad_alloc();
    capacidad = bytes;
    return p;
}

void* AgrandarBloque(void* bloque, std::size_t usados, std::size_t actual, std::size_t bytes,
                     std::size_t& capacidad) {
#ifdef __linux__
    if (actual >= BloqueGrande) {
        const std::size_t total = redondearPaginas(bytes);
        void* p = mremap(bloque, actual, total, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, total, MADV_HUGEPAGE);
        capacidad = total;
        return p;
    }
    if (bytes >= BloqueGrande) {
        void* p = ReservarBloque(bytes, capacidad);
        std::memcpy(p, bloque, usados);
        std::free(bloque);
        return p;
    }
#endif
    (void)usados;
    void* p = std::realloc(bloque, bytes);
    if (!p) throw std::bad_alloc();
    capacidad = bytes;
    return p;
}

void LiberarBloque(void* bloque, std::size_t capacidad) {
#ifdef __linux__
    if (capacidad >= BloqueGrande) {
        munmap(bloque, capacidad);
        return;
    }
#endif
    (void)capacidad;
    std::free(bloque);
}

// ---- values ---------------------------------------------------------------------------------

namespace {
// The class bytes that lead a key in a column of values; an empty or blank cell has an empty
// key and comes first.
constexpr unsigned char ClaseNumero = 1, ClaseFecha = 2, ClaseTexto = 3;
constexpr std::size_t ClaveValorMaxima = 17;
constexpr std::uint64_t Signo = std::uint64_t(1) << 63;
constexpr double Exactos = 9007199254740992.0; // 2^53: from here on not every integer is a double

// Order-preserving bits of a double: negatives with every bit inverted, the rest with the
// sign bit set.
std::uint64_t ordenDeReal(double d) {
    if (d == 0) d = 0; // -0 sorts as 0
    std::uint64_t b = 0;
    std::memcpy(&b, &d, sizeof b);
    return (b & Signo) ? ~b : (b | Signo);
}

void escribirGrande(unsigned char* o, std::uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8)
        o[i] = static_cast<unsigned char>(v);
}

// The key of a number or a date: its class byte and its value, big-endian. Numbers compare
// as doubles; beyond 2^53, where a double no longer tells integers apart, the exact integer
// follows.
std::size_t claveDeValor(ClaseValor clase, std::uint64_t dato, unsigned char* o) {
    switch (clase) {
    case ClaseValor::Entero: {
        const auto v = static_cast<std::int64_t>(dato);
        o[0] = ClaseNumero;
        escribirGrande(o + 1, ordenDeReal(double(v)));
        if (v < std::int64_t(Exactos) && v > -std::int64_t(Exactos)) return 9;
        escribirGrande(o + 9, std::uint64_t(v) ^ Signo);
        return 17;
    }
    case ClaseValor::Real: {
        double d = 0;
        std::memcpy(&d, &dato, sizeof d);
        o[0] = ClaseNumero;
        escribirGrande(o + 1, ordenDeReal(d));
        if (!std::isfinite(d) || std::fabs(d) < Exactos) return 9;
        const std::int64_t e = d >= 9.2233720368547758e18    ? std::numeric_limits<std::int64_t>::max()
                               : d <= -9.2233720368547758e18 ? std::numeric_limits<std::int64_t>::min()
                                                             : std::int64_t(d);
        escribirGrande(o + 9, std::uint64_t(e) ^ Signo);
        return 17;
    }
    case ClaseValor::Fecha:
        o[0] = ClaseFecha;
        escribirGrande(o + 1, dato ^ Signo);
        return 9;
    case ClaseValor::Texto:
        break;
    }
    return 0;
}
} // namespace

ValorCelda ValorDeCampo(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return {};
    auto entero = [](std::int64_t x) { return ValorCelda{ClaseValor::Entero, std::uint64_t(x)}; };
    auto real = [](double x) {
        std::uint64_t b = 0;
        std::memcpy(&b, &x, sizeof b);
        return ValorCelda{ClaseValor::Real, b};
    };
    constexpr std::int64_t MsDia = 86400000;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return entero(v.toBool() ? 1 : 0);
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return entero(v.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        if (u <= qulonglong(std::numeric_limits<std::int64_t>::max())) return entero(std::int64_t(u));
        return real(double(u));
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return real(v.toDouble());
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        if (!d.isValid()) return {};
        return {ClaseValor::Fecha, std::uint64_t(d.toJulianDay() * MsDia)};
    }
    case QMetaType::QDateTime: {
        const QDateTime t = v.toDateTime();
        if (!t.date().isValid()) return {};
        return {ClaseValor::Fecha,
                std::uint64_t(t.date().toJulianDay() * MsDia + t.time().msecsSinceStartOfDay())};
    }
    case QMetaType::QTime: {
        const QTime t = v.toTime();
        if (!t.isValid()) return {};
        return {ClaseValor::Fecha, std::uint64_t(std::int64_t(t.msecsSinceStartOfDay()))};
    }
    default:
        return {};
    }
}

int ModeloConsulta::rowCount(const QModelIndex& padre) const {
    return padre.isValid() ? 0 : int(filas_);
}
int ModeloConsulta::columnCount(const QModelIndex& padre) const {
    return padre.isValid() ? 0 : int(columnas_.size());
}

QVariant ModeloConsulta::data(const QModelIndex& indice, int rol) const {
    if (!indice.isValid() || indice.row() >= int(filas_) || indice.column() >= int(columnas_.size()))
        return {};
    switch (rol) {
    case Qt::DisplayRole:
        return Texto(indice.row(), indice.column());
    case Qt::CheckStateRole:
        if (marcas_ && indice.column() == 0) return Marcada(indice.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
    default:
        return {};
    }
}

bool ModeloConsulta::setData(const QModelIndex& indice, const QVariant& valor, int rol) {
    if (rol != Qt::CheckStateRole || !marcas_ || !indice.isValid() || indice.column() != 0) return false;
    Marcar(indice.row(), valor.toInt() == Qt::Checked);
    return true;
}

QVariant ModeloConsulta::headerData(int seccion, Qt::Orientation orientacion, int rol) const {
    if (orientacion == Qt::Horizontal && rol == Qt::DisplayRole && seccion >= 0 &&
        seccion < int(columnas_.size()))
        return columnas_[std::size_t(seccion)].encabezado;
    return QAbstractTableModel::headerData(seccion, orientacion, rol);
}

Qt::ItemFlags ModeloConsulta::flags(const QModelIndex& indice) const {
    if (!indice.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (marcas_ && indice.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

void ModeloConsulta::sort(int columna, Qt::SortOrder orden) {
    Ordenar(columna, orden);
}

void ModeloConsulta::QuitarColumnas() {
    beginResetModel();
    columnas_.clear();
    ordenVigente_ = false;
    ++version_;
    endResetModel();
}

void ModeloConsulta::AgregarColumna(const QString& encabezado, bool esCantidad) {
    Columna c;
    c.encabezado = encabezado;
    c.cantidad = esCantidad;
    if (!esCantidad)
        for (std::uint32_t f = 0; f < filas_; ++f) {
            lugarCelda(c, 5, nullptr); // existing rows: empty cells
            agregarCelda(c, {}, nullptr);
        }
    const int n = int(columnas_.size());
    beginInsertColumns({}, n, n);
    columnas_.push_back(std::move(c));
    ++version_;
    endInsertColumns();
}

QString ModeloConsulta::Encabezado(int columna) const {
    if (columna < 0 || columna >= int(columnas_.size())) return {};
    return columnas_[std::size_t(columna)].encabezado;
}

bool ModeloConsulta::EsCantidad(int columna) const {
    return columna >= 0 && columna < int(columnas_.size()) && columnas_[std::size_t(columna)].cantidad;
}

bool ModeloConsulta::PorValor(int columna) const {
    return columna >= 0 && columna < int(columnas_.size()) && columnas_[std::size_t(columna)].porValor;
}

void ModeloConsulta::MostrarMarcas(bool mostrar) {
    if (marcas_ == mostrar) return;
    beginResetModel();
    marcas_ = mostrar;
    endResetModel();
}

void ModeloConsulta::Limpiar() {
    beginResetModel();
    for (auto& c : columnas_) {
        c.bytes.clear();
        c.bloques.clear();
        c.celdas = 0;
        c.textos.clear();
        c.porValor = false;
        c.clases.clear();
        c.datos.clear();
    }
    filas_ = 0;
    orden_.clear();
    posicion_.clear();
    posicionesValidas_ = false;
    marcadas_.clear();
    ordenVigente_ = false;
    ++version_;
    endResetModel();
}

void ModeloConsulta::lugarCelda(Columna& c, std::size_t bytes, const ValorCelda* valor) {
    c.bytes.asegurar(bytes);
    if (c.celdas % 64 == 0) c.bloques.asegurar(1);
    if (c.porValor || (valor && valor->clase != ClaseValor::Texto)) {
        c.clases.asegurar(c.celdas + 1 - c.clases.size());
        c.datos.asegurar(c.celdas + 1 - c.datos.size());
    }
}

void ModeloConsulta::agregarCelda(Columna& c, QStringView texto, const ValorCelda* valor) {
    if (c.celdas % 64 == 0) c.bloques.push_back(c.bytes.size());
    const std::size_t inicio = c.bytes.size();
    char* fin = escribirCelda(c.bytes.data() + inicio, texto);
    c.bytes.resize(std::size_t(fin - c.bytes.data()));
    cerrarCelda(c, inicio, valor);
}

void ModeloConsulta::cerrarCelda(Columna& c, std::size_t inicio, const ValorCelda* valor) {
    c.ultima = inicio;
    if (!c.porValor && valor && valor->clase != ClaseValor::Texto) {
        // The first number or date: every cell before it was a text (room made by lugarCelda).
        c.porValor = true;
        c.clases.resize(c.celdas);
        c.datos.resize(c.celdas);
        if (c.celdas) {
            std::memset(c.clases.data(), 0, c.celdas);
            std::memset(c.datos.data(), 0, c.celdas * sizeof(std::uint64_t));
        }
    }
    if (c.porValor) {
        c.clases.push_back(std::uint8_t(valor ? valor->clase : ClaseValor::Texto));
        c.datos.push_back(valor ? valor->dato : 0);
    }
    ++c.celdas;
}

void ModeloConsulta::guardarFila(const QStringView* celdas, int n, const ValorCelda* valores) {
    if (filas_ == 0xFFFFFFFEu) throw std::bad_alloc();
    // All the room first: once it is there nothing can fail, so a row goes in whole or not at
    // all. A cell takes at most five bytes for its length and three a UTF-16 unit.
    orden_.asegurar(1);
    marcadas_.asegurar(1);
    int j = 0;
    for (auto& c : columnas_) {
        if (c.cantidad) continue;
        lugarCelda(c, 5 + 3 * std::size_t(j < n ? celdas[j].size() : 0),
                   valores && j < n ? valores + j : nullptr);
        ++j;
    }
    j = 0;
    for (auto& c : columnas_) {
        if (c.cantidad) continue;
        agregarCelda(c, j < n ? celdas[j] : QStringView(), valores && j < n ? valores + j : nullptr);
        ++j;
    }
    orden_.push_back(filas_);
    marcadas_.push_back(0);
    ++filas_;
}

void ModeloConsulta::AgregarFila(const QStringView* celdas, int n, const ValorCelda* valores) {
    if (cargando_ && carga_) {
        cargaAgregar(celdas, n, valores);
        return;
    }
    if (!cargando_) beginInsertRows({}, int(filas_), int(filas_));
    guardarFila(celdas, n, valores);
    posicionesValidas_ = false;
    ordenVigente_ = false;
    ++version_;
    if (!cargando_) endInsertRows();
}

const char* ModeloConsulta::celda(const Columna& c, std::uint32_t fila, std::size_t& n) const {
    if (fila >= c.celdas) {
        n = 0;
        return "";
    }
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data()) + c.bloques[fila >> 6];
    for (std::uint32_t r = fila & ~std::uint32_t(63); r < fila; ++r)
        p += leerLargo(p);
    n = leerLargo(p);
    return reinterpret_cast<const char*>(p);
}

template <typename F> void ModeloConsulta::recorrer(const Columna& c, F&& f) const {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    const std::uint32_t hay = std::min(c.celdas, filas_);
    for (std::uint32_t fila = 0; fila < hay; ++fila) {
        const std::size_t n = leerLargo(p);
        f(fila, reinterpret_cast<const char*>(p), n);
        p += n;
    }
    for (std::uint32_t fila = hay; fila < filas_; ++fila)
        f(fila, "", std::size_t(0));
}

QString ModeloConsulta::textoAlmacenado(int columna, std::uint32_t fila) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (c.cantidad) return c.textos.value(fila);
    std::size_t n = 0;
    const char* p = celda(c, fila, n);
    return QString::fromUtf8(p, qsizetype(n));
}

void ModeloConsulta::clave(int columna, std::uint32_t fila, std::string& salida) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (c.cantidad) {
        const QByteArray u = c.textos.value(fila).toUtf8();
        ClaveUtf8(u.constData(), std::size_t(u.size()), salida);
        return;
    }
    std::size_t n = 0;
    const char* p = celda(c, fila, n);
    ClaveUtf8(p, n, salida);
}

QString ModeloConsulta::TextoAlmacenado(int columna, int fila) const {
    if (fila < 0 || std::uint32_t(fila) >= filas_ || columna < 0 || columna >= int(columnas_.size()))
        return {};
    return textoAlmacenado(columna, std::uint32_t(fila));
}

QString ModeloConsulta::Texto(int fila, int columna) const {
    if (fila < 0 || fila >= int(filas_) || columna < 0 || columna >= int(columnas_.size())) return {};
    return textoAlmacenado(columna, orden_[std::size_t(fila)]);
}

void ModeloConsulta::EstablecerTexto(int fila, int columna, const QString& texto) {
    if (fila < 0 || fila >= int(filas_) || !EsCantidad(columna)) return;
    columnas_[std::size_t(columna)].textos.insert(orden_[std::size_t(fila)], texto);
    if (columna == columnaOrden_) ordenVigente_ = false;
    ++version_;
    const QModelIndex i = index(fila, columna);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

bool ModeloConsulta::Marcada(int fila) const {
    if (fila < 0 || fila >= int(filas_)) return false;
    return marcadas_[orden_[std::size_t(fila)]] != 0;
}

void ModeloConsulta::Marcar(int fila, bool marcada) {
    if (fila < 0 || fila >= int(filas_)) return;
    marcadas_[orden_[std::size_t(fila)]] = marcada ? 1 : 0;
    const QModelIndex i = index(fila, 0);
    Q_EMIT dataChanged(i, i, {Qt::CheckStateRole});
}

void ModeloConsulta::asegurarPosiciones() const {
    if (posicionesValidas_ && posicion_.size() == filas_) return;
    posicion_.resize(filas_);
    for (std::uint32_t i = 0; i < filas_; ++i)
        posicion_[orden_[i]] = i;
    posicionesValidas_ = true;
}

int ModeloConsulta::BuscarLineal(int columna, QStringView texto) const {
    if (columna < 0 || columna >= int(columnas_.size())) return -1;
    const std::string q = Clave(texto);
    std::string c;
    for (std::uint32_t i = 0; i < filas_; ++i) {
        clave(columna, orden_[i], c);
        if (EmpiezaCon(c, q)) return int(i);
    }
    return -1;
}

int ModeloConsulta::Buscar(int columna, QStringView texto) const {
    Busqueda b = IniciarBusqueda(columna, texto);
    while (!AvanzarBusqueda(b, 0xFFFFFFFFu)) {
    }
    return b.resultado;
}

bool ModeloConsulta::BusquedaInmediata(int columna) const {
    // Sorted by the text of this column: the rows that start with a text are consecutive.
    return ordenVigente_ && columna == columnaOrden_ && columna >= 0 && columna < int(columnas_.size()) &&
           !columnas_[std::size_t(columna)].porValor;
}

ModeloConsulta::Busqueda ModeloConsulta::IniciarBusqueda(int columna, QStringView texto) const {
    Busqueda b;
    b.columna = columna;
    b.clave = Clave(texto);
    b.version = version_;
    AvanzarBusqueda(b, 0);
    return b;
}

bool ModeloConsulta::AvanzarBusqueda(Busqueda& b, std::uint32_t cuantas) const {
    if (b.terminada) return true;
    auto terminar = [&b](int resultado) {
        b.resultado = resultado;
        b.terminada = true;
        return true;
    };
    if (b.version != version_) {
        // The rows or their order changed since the search began: it starts again.
        b.version = version_;
        b.siguiente = 0;
        b.byte = 0;
        b.mejor = 0xFFFFFFFFu;
    }
    const int columna = b.columna;
    if (columna < 0 || columna >= int(columnas_.size()) || filas_ == 0) return terminar(-1);
    const std::string& q = b.clave;
    if (q.empty()) return terminar(0);
    if (BusquedaInmediata(columna)) return terminar(buscarEnOrden(columna, q));
    if (cuantas == 0) return false;
    recorrerBusqueda(b, cuantas);
    if (b.mejor != 0 && b.siguiente < filas_) return false;
    return terminar(b.mejor < filas_ ? int(b.mejor) : -1);
}

int ModeloConsulta::buscarEnOrden(int columna, const std::string& q) const {
    // A binary search over the view, sorted on that column.
    std::string c;
    const bool desc = sentido_ == Qt::DescendingOrder;
    auto clase = [&](std::uint32_t pos) {
        clave(columna, orden_[pos], c);
        const std::size_t k = std::min(c.size(), q.size());
        const int r = k ? std::memcmp(c.data(), q.data(), k) : 0;
        if (r != 0) return r < 0 ? -1 : 1;
        return c.size() >= q.size() ? 0 : -1;
    };
    std::uint32_t bajo = 0, alto = filas_;
    while (bajo < alto) {
        const std::uint32_t medio = bajo + (alto - bajo) / 2;
        const int k = clase(medio);
        if (desc ? k > 0 : k < 0)
            bajo = medio + 1;
        else
            alto = medio;
    }
    return (bajo < filas_ && clase(bajo) == 0) ? int(bajo) : -1;
}

void ModeloConsulta::recorrerBusqueda(Busqueda& b, std::uint32_t cuantas) const {
    // A pass in stored order (memory order), keeping the match that comes first in the view.
    asegurarPosiciones();
    const std::string& q = b.clave;
    std::string c;
    const int columna = b.columna;
    const Columna& col = columnas_[std::size_t(columna)];
    const std::uint32_t hasta =
        std::uint32_t(std::min<std::uint64_t>(filas_, std::uint64_t(b.siguiente) + cuantas));
    std::uint32_t f = b.siguiente;
    std::uint32_t mejor = b.mejor;
    if (col.cantidad) {
        for (; f < hasta && mejor != 0; ++f) {
            if (posicion_[f] >= mejor) continue;
            clave(columna, f, c);
            if (EmpiezaCon(c, q)) mejor = posicion_[f];
        }
    } else {
        // Cells past the column's last are empty, and an empty cell never starts with q.
        const auto* p = reinterpret_cast<const unsigned char*>(col.bytes.data()) + b.byte;
        const std::uint32_t conCelda = std::min(hasta, col.celdas);
        for (; f < conCelda && mejor != 0; ++f) {
            const std::size_t n = leerLargo(p);
            if (posicion_[f] < mejor && EmpiezaConClave(reinterpret_cast<const char*>(p), n, q, c))
                mejor = posicion_[f];
            p += n;
        }
        b.byte = std::size_t(p - reinterpret_cast<const unsigned char*>(col.bytes.data()));
        if (f >= conCelda) f = hasta;
    }
    b.siguiente = f;
    b.mejor = mejor;
}

void ModeloConsulta::trozoOrden(int columna, std::uint32_t fila, const char* p, std::size_t n,
                                std::size_t desde, std::uint64_t* trozos, int cuantos, std::size_t& longitud,
                                std::string& auxiliar) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (c.porValor) {
        const auto clase = fila < c.clases.size() ? ClaseValor(c.clases[fila]) : ClaseValor::Texto;
        if (clase != ClaseValor::Texto) {
            unsigned char b[ClaveValorMaxima];
            longitud = claveDeValor(clase, c.datos[fila], b);
            for (int t = 0; t < cuantos; ++t)
                trozos[t] = trozoDe(b, longitud, desde + 8 * std::size_t(t));
            return;
        }
        // A text among values: after them, in Spanish order.
        ClaveUtf8(p, n, auxiliar);
        if (!auxiliar.empty()) auxiliar.insert(auxiliar.begin(), char(ClaseTexto));
    } else if (!c.cantidad) {
        if (TrozoClaveRapido(p, n, desde, trozos, cuantos, longitud)) return;
        ClaveUtf8(p, n, auxiliar);
    } else {
        clave(columna, fila, auxiliar);
    }
    for (int t = 0; t < cuantos; ++t)
        trozos[t] = trozoDe(auxiliar, desde + 8 * std::size_t(t));
    longitud = auxiliar.size();
}

template <typename F> void ModeloConsulta::recorrerColumna(int columna, F&& f) const {
    const Columna& col = columnas_[std::size_t(columna)];
    if (col.cantidad)
        for (std::uint32_t fila = 0; fila < filas_; ++fila)
            f(fila, "", std::size_t(0));
    else
        recorrer(col, f);
}

void ModeloConsulta::ordenarIndices(int columna, bool desc) {
    // The keys are worked out in stored order (one sequential pass over the column per level),
    // so the text is never read at random; the sort moves row numbers only.
    const std::size_t n = filas_;
    ArregloPlano<std::uint64_t> claves; // by stored row: eight bytes of the level being sorted
    claves.resize(n);
    ArregloPlano<std::uint32_t> longitudes; // by stored row: key length
    longitudes.resize(n);
    ArregloPlano<std::uint64_t> claves1; // by stored row: the next eight bytes (read in the same pass)
    claves1.resize(n);
    std::string texto;
    const std::uint64_t inversa = desc ? ~std::uint64_t(0) : 0;
    recorrerColumna(columna, [&](std::uint32_t f, const char* p, std::size_t bytes) {
        std::uint64_t k[2] = {0, 0};
        std::size_t l = 0;
        trozoOrden(columna, f, p, bytes, 0, k, 2, l, texto);
        claves[f] = k[0] ^ inversa;
        claves1[f] = k[1] ^ inversa;
        longitudes[f] = std::uint32_t(std::min<std::size_t>(l, 0xFFFFFFFFu));
    });
    std::uint32_t* filas = orden_.data(); // sorted in place, from the current order
    interno::Auxiliares auxiliar;
    const std::uint64_t* k = claves.data();
    interno::ordenarPorClave(filas, n, auxiliar, [k](std::uint32_t f) { return k[f]; });
    std::vector<Tramo> tramos;
    interno::agregarTramos(
        filas, 0, n, [k](std::uint32_t f) { return k[f]; }, tramos);
    desempatar(columna, desc, std::move(tramos), 1, longitudes.data(), claves, claves1);
}

void ModeloConsulta::leerNivel(int columna, const std::vector<Tramo>& tramos, std::size_t desde,
                               const std::uint32_t* largo, std::uint64_t inversa,
                               ArregloPlano<std::uint64_t>& claves, ArregloPlano<std::uint64_t>& claves1,
                               ArregloPlano<std::uint8_t>& falta, std::string& texto) {
    const std::size_t n = filas_;
    const std::uint32_t* filas = orden_.data();
    if (claves.size() != n) claves.resize(n);
    if (claves1.size() != n) claves1.resize(n);
    if (falta.empty()) {
        falta.resize(n);
        std::memset(falta.data(), 0, n);
    }
    bool alguna = false;
    for (const Tramo& t : tramos)
        for (std::size_t i = t.desde; i < t.hasta; ++i)
            if (largo[filas[i]] > desde) falta[filas[i]] = 1, alguna = true;
    if (!alguna) return;
    recorrerColumna(columna, [&](std::uint32_t f, const char* p, std::size_t bytes) {
        if (!falta[f]) return;
        falta[f] = 0;
        // This level and the next: a cell is worked out once for both.
        std::uint64_t c[2] = {0, 0};
        std::size_t l = 0;
        trozoOrden(columna, f, p, bytes, desde, c, 2, l, texto);
        claves[f] = c[0] ^ inversa;
        claves1[f] = c[1] ^ inversa;
    });
}

void ModeloConsulta::desempatar(int columna, bool desc, std::vector<Tramo> tramos, std::size_t nivel,
                                const std::uint32_t* largo, ArregloPlano<std::uint64_t>& claves,
                                ArregloPlano<std::uint64_t>& claves1) {
    // Runs of equal keys go on with the next eight bytes, level by level, until the texts
    // differ; texts equal in every byte are told apart by their length only (a text may hold
    // character 0).
    std::uint32_t* filas = orden_.data();
    const std::uint64_t inversa = desc ? ~std::uint64_t(0) : 0;
    std::string texto;
    interno::Auxiliares auxiliar;
    std::vector<Tramo> siguientes;
    ArregloPlano<std::uint8_t> falta; // by stored row: needs the bytes of this level
    for (; !tramos.empty(); ++nivel) {
        const std::size_t desde = nivel * 8;
        const std::uint64_t* k = nullptr;
        if (nivel % 2 == 1) {
            k = claves1.data(); // read with the level before
        } else {
            leerNivel(columna, tramos, desde, largo, inversa, claves, claves1, falta, texto);
            k = claves.data();
        }
        // A text that has ended reads as zero padding at this level.
        auto siguiente = [k, largo, desde, inversa](std::uint32_t f) {
            return largo[f] > desde ? k[f] : inversa;
        };
        auto porLargo = [largo, inversa](std::uint32_t f) { return std::uint64_t(largo[f]) ^ inversa; };
        siguientes.clear();
        for (const Tramo& t : tramos) {
            bool siguen = false;
            for (std::size_t i = t.desde; i < t.hasta && !siguen; ++i)
                siguen = largo[filas[i]] > desde;
            if (!siguen) {
                interno::ordenarPorClave(filas + t.desde, t.hasta - t.desde, auxiliar, porLargo);
                continue;
            }
            interno::ordenarPorClave(filas + t.desde, t.hasta - t.desde, auxiliar, siguiente);
            interno::agregarTramos(filas, t.desde, t.hasta, siguiente, siguientes);
        }
        tramos.swap(siguientes);
    }
}

void ModeloConsulta::quedaOrdenado(int columna, Qt::SortOrder orden) {
    ordenado_ = true;
    ordenVigente_ = true;
    columnaOrden_ = columna;
    sentido_ = orden;
    posicionesValidas_ = false;
    ++version_;
}

void ModeloConsulta::Ordenar(int columna, Qt::SortOrder orden) {
    if (columna < 0 || columna >= int(columnas_.size())) return;
    // Already in this order (a loading sorts as it goes): nothing moves.
    if (ordenVigente_ && columna == columnaOrden_ && orden == sentido_) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistentes = persistentIndexList();
    std::vector<std::uint32_t> almacenadas;
    almacenadas.reserve(std::size_t(persistentes.size()));
    for (const auto& i : persistentes)
        almacenadas.push_back(i.isValid() && i.row() < int(filas_) ? orden_[std::size_t(i.row())]
                                                                   : 0xFFFFFFFFu);
    ordenarIndices(columna, orden == Qt::DescendingOrder);
    quedaOrdenado(columna, orden);
    if (!persistentes.isEmpty()) {
        asegurarPosiciones();
        QModelIndexList nuevos;
        nuevos.reserve(persistentes.size());
        for (qsizetype k = 0; k < persistentes.size(); ++k) {
            const std::uint32_t f = almacenadas[std::size_t(k)];
            nuevos.append(f == 0xFFFFFFFFu ? QModelIndex()
                                           : index(int(posicion_[f]), persistentes[k].column()));
        }
        changePersistentIndexList(persistentes, nuevos);
    }
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::size_t ModeloConsulta::BytesOcupados() const {
    std::size_t t = orden_.size() * 4 + posicion_.size() * 4 + marcadas_.size();
    for (const auto& c : columnas_)
        t += c.bytes.size() + c.bloques.size() * 8 + c.clases.size() + c.datos.size() * 8;
    return t;
}
