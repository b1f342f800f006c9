#include "lookup/lib_modeloconsulta.h"

#include "lookup/lib_textoconsulta.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

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

// A cell's length as stored before its bytes.
inline std::size_t leerLargo(const unsigned char*& p) {
    std::size_t v = 0;
    for (int desplazar = 0;; desplazar += 7) {
        const unsigned char b = *p++;
        v |= std::size_t(b & 0x7F) << desplazar;
        if (!(b & 0x80)) return v;
    }
}

std::size_t bytesDeLargo(std::size_t n) {
    std::size_t k = 1;
    while (n >= 0x80)
        n >>= 7, ++k;
    return k;
}

// Eight bytes of a key from a position, big-endian, padded with zeros: comparing
// these as numbers compares the texts' bytes.
std::uint64_t trozoDe(const std::string& s, std::size_t desde) {
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t j = desde + i;
        k = (k << 8) | (j < s.size() ? static_cast<unsigned char>(s[j]) : 0u);
    }
    return k;
}

struct Par {
    std::uint64_t clave;
    std::uint32_t fila;
};

// Scratch space of one sort.
struct Auxiliares {
    ArregloPlano<std::uint32_t> filas;
    ArregloPlano<Par> pares, otros;
};

// Stable LSD radix sort by `clave` of elements whose key `de` gives: one pass per digit of
// `bits` bits, skipping the digits every key shares. Returns where the result ended (a or
// auxiliar).
template <typename T, typename De>
T* radix(T* a, T* auxiliar, std::size_t n, int bits, std::uint32_t* cuentas, const De& de) {
    const int digitos = 64 / bits;
    const std::size_t cubos = std::size_t(1) << bits;
    const std::uint64_t mascara = cubos - 1;
    std::uint64_t o = 0, y = ~std::uint64_t(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = de(a[i]);
        o |= k;
        y &= k;
        for (int d = 0; d < digitos; ++d)
            ++cuentas[std::size_t(d) * cubos + ((k >> (bits * d)) & mascara)];
    }
    T* origen = a;
    T* destino = auxiliar;
    for (int d = 0; d < digitos && o != y; ++d) {
        if (((o ^ y) >> (bits * d) & mascara) == 0) continue;
        std::uint32_t* c = cuentas + std::size_t(d) * cubos;
        std::uint32_t suma = 0;
        for (std::size_t v = 0; v < cubos; ++v) {
            const std::uint32_t t = c[v];
            c[v] = suma;
            suma += t;
        }
        for (std::size_t i = 0; i < n; ++i)
            destino[c[(de(origen[i]) >> (bits * d)) & mascara]++] = origen[i];
        std::swap(origen, destino);
    }
    return origen;
}

// Stable sort of stored-row numbers by a 64-bit key read through `clave`. Runs of up to 64 Ki
// rows gather their keys next to the row numbers first (the key of a row is then read once);
// longer ones move row numbers only, with 16-bit digits, so the extra memory of a big sort
// stays at four bytes a row.
template <typename Clave>
void ordenarPorClave(std::uint32_t* a, std::size_t n, Auxiliares& aux, const Clave& clave) {
    if (n < 2) return;
    if (n <= (std::size_t(1) << 16)) {
        aux.pares.resize(std::max(aux.pares.size(), n));
        Par* p = aux.pares.data();
        for (std::size_t i = 0; i < n; ++i)
            p[i] = {clave(a[i]), a[i]};
        Par* r = p;
        if (n < 48) {
            for (std::size_t i = 1; i < n; ++i) {
                const Par x = p[i];
                std::size_t j = i;
                while (j > 0 && p[j - 1].clave > x.clave) {
                    p[j] = p[j - 1];
                    --j;
                }
                p[j] = x;
            }
        } else {
            aux.otros.resize(std::max(aux.otros.size(), n));
            std::uint32_t cuentas[8 * 256] = {};
            r = radix(p, aux.otros.data(), n, 8, cuentas, [](const Par& x) { return x.clave; });
        }
        for (std::size_t i = 0; i < n; ++i)
            a[i] = r[i].fila;
        return;
    }
    aux.filas.resize(std::max(aux.filas.size(), n));
    std::vector<std::uint32_t> cuentas(4 * (std::size_t(1) << 16), 0);
    std::uint32_t* r = radix(a, aux.filas.data(), n, 16, cuentas.data(), clave);
    if (r != a) std::memcpy(a, r, n * sizeof(std::uint32_t));
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

ModeloConsulta::ModeloConsulta(QObject* padre) : QAbstractTableModel(padre) {}
ModeloConsulta::~ModeloConsulta() = default;

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
    endResetModel();
}

void ModeloConsulta::AgregarColumna(const QString& encabezado, bool esCantidad) {
    Columna c;
    c.encabezado = encabezado;
    c.cantidad = esCantidad;
    if (!esCantidad)
        for (std::uint32_t f = 0; f < filas_; ++f) {
            lugarCelda(c, 0); // existing rows: empty cells
            agregarCelda(c, {});
        }
    const int n = int(columnas_.size());
    beginInsertColumns({}, n, n);
    columnas_.push_back(std::move(c));
    endInsertColumns();
}

QString ModeloConsulta::Encabezado(int columna) const {
    if (columna < 0 || columna >= int(columnas_.size())) return {};
    return columnas_[std::size_t(columna)].encabezado;
}

bool ModeloConsulta::EsCantidad(int columna) const {
    return columna >= 0 && columna < int(columnas_.size()) && columnas_[std::size_t(columna)].cantidad;
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
    }
    filas_ = 0;
    orden_.clear();
    posicion_.clear();
    posicionesValidas_ = false;
    marcadas_.clear();
    endResetModel();
}

void ModeloConsulta::IniciarCarga() {
    if (cargando_) return;
    beginResetModel();
    cargando_ = true;
}

void ModeloConsulta::TerminarCarga() {
    if (!cargando_) return;
    cargando_ = false;
    endResetModel();
}

void ModeloConsulta::lugarCelda(Columna& c, qsizetype largo) {
    // The length before the bytes takes at most five, and UTF-8 three a UTF-16 unit.
    c.bytes.asegurar(5 + 3 * std::size_t(largo));
    if (c.celdas % 64 == 0) c.bloques.asegurar(1);
}

void ModeloConsulta::agregarCelda(Columna& c, QStringView texto) {
    if (c.celdas % 64 == 0) c.bloques.push_back(c.bytes.size());
    const std::size_t inicio = c.bytes.size();
    char* base = c.bytes.data() + inicio;
    // One byte is left for the length, the usual case; a longer one moves the text up.
    const std::size_t n = std::size_t(escribirUtf8(base + 1, texto) - (base + 1));
    const std::size_t k = bytesDeLargo(n);
    if (k > 1) std::memmove(base + k, base + 1, n);
    char* o = base;
    std::size_t v = n;
    while (v >= 0x80) {
        *o++ = char((v & 0x7F) | 0x80);
        v >>= 7;
    }
    *o = char(v);
    c.bytes.resize(inicio + k + n);
    ++c.celdas;
}

void ModeloConsulta::AgregarFila(const QStringView* celdas, int n) {
    if (filas_ == 0xFFFFFFFEu) throw std::bad_alloc();
    // All the room first: once it is there nothing can fail, so a row goes in whole or not at
    // all.
    orden_.asegurar(1);
    marcadas_.asegurar(1);
    int j = 0;
    for (auto& c : columnas_) {
        if (c.cantidad) continue;
        lugarCelda(c, j < n ? celdas[j].size() : 0);
        ++j;
    }
    j = 0;
    for (auto& c : columnas_) {
        if (c.cantidad) continue;
        agregarCelda(c, j < n ? celdas[j] : QStringView());
        ++j;
    }
    if (!cargando_) beginInsertRows({}, int(filas_), int(filas_));
    orden_.push_back(filas_);
    marcadas_.push_back(0);
    ++filas_;
    posicionesValidas_ = false;
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
    if (columna < 0 || columna >= int(columnas_.size()) || filas_ == 0) return -1;
    const std::string q = Clave(texto);
    if (q.empty()) return 0;
    std::string c;
    if (ordenado_ && columna == columnaOrden_) {
        // The rows are in the order of this column's keys, so the rows that start
        // with q are consecutive: find the first of them.
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
    // Any other column: one pass in stored order (memory order), keeping the match that
    // comes first in the view.
    asegurarPosiciones();
    std::uint32_t mejor = filas_;
    const Columna& col = columnas_[std::size_t(columna)];
    if (col.cantidad) {
        for (std::uint32_t f = 0; f < filas_; ++f) {
            if (posicion_[f] >= mejor) continue;
            clave(columna, f, c);
            if (EmpiezaCon(c, q)) mejor = posicion_[f];
        }
    } else {
        recorrer(col, [&](std::uint32_t f, const char* p, std::size_t n) {
            if (posicion_[f] < mejor && EmpiezaConClave(p, n, q, c)) mejor = posicion_[f];
        });
    }
    return mejor < filas_ ? int(mejor) : -1;
}

void ModeloConsulta::trozoOrden(int columna, std::uint32_t fila, const char* p, std::size_t n,
                                std::size_t desde, std::uint64_t* trozos, int cuantos, std::size_t& longitud,
                                std::string& auxiliar) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (!c.cantidad) {
        if (TrozoClaveRapido(p, n, desde, trozos, cuantos, longitud)) return;
        ClaveUtf8(p, n, auxiliar);
    } else {
        clave(columna, fila, auxiliar);
    }
    for (int t = 0; t < cuantos; ++t)
        trozos[t] = trozoDe(auxiliar, desde + 8 * std::size_t(t));
    longitud = auxiliar.size();
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
    const Columna& col = columnas_[std::size_t(columna)];
    // Every stored cell of the column in stored order (quantity cells by their row).
    auto cadaCelda = [&](auto&& f) {
        if (col.cantidad)
            for (std::uint32_t fila = 0; fila < n; ++fila)
                f(fila, "", std::size_t(0));
        else
            recorrer(col, f);
    };
    cadaCelda([&](std::uint32_t f, const char* p, std::size_t bytes) {
        std::uint64_t k[2] = {0, 0};
        std::size_t l = 0;
        trozoOrden(columna, f, p, bytes, 0, k, 2, l, texto);
        claves[f] = k[0] ^ inversa;
        claves1[f] = k[1] ^ inversa;
        longitudes[f] = std::uint32_t(std::min<std::size_t>(l, 0xFFFFFFFFu));
    });
    std::uint32_t* filas = orden_.data(); // sorted in place, from the current order
    Auxiliares auxiliar;
    const std::uint64_t* k = claves.data();
    const std::uint32_t* largo = longitudes.data();
    ordenarPorClave(filas, n, auxiliar, [k](std::uint32_t f) { return k[f]; });

    // Runs of equal keys go on with the next eight bytes, level by level, until the texts
    // differ; texts equal in every byte are told apart by their length only (a text may hold
    // character 0).
    struct Tramo {
        std::size_t desde, hasta;
    };
    std::vector<Tramo> tramos, siguientes;
    auto agregarTramos = [&](std::size_t desde, std::size_t hasta, const auto& clave,
                             std::vector<Tramo>& destino) {
        std::size_t i = desde;
        while (i < hasta) {
            const std::uint64_t ki = clave(filas[i]);
            std::size_t j = i + 1;
            while (j < hasta && clave(filas[j]) == ki)
                ++j;
            if (j - i > 1) destino.push_back({i, j});
            i = j;
        }
    };
    agregarTramos(
        0, n, [k](std::uint32_t f) { return k[f]; }, tramos);
    ArregloPlano<std::uint8_t> falta; // by stored row: needs the bytes of this level
    for (std::size_t nivel = 1; !tramos.empty(); ++nivel) {
        const std::size_t desde = nivel * 8;
        if (nivel % 2 == 1) {
            k = claves1.data(); // read with the level before
        } else {
            k = claves.data();
            if (falta.empty()) {
                falta.resize(n);
                std::memset(falta.data(), 0, n);
            }
            bool alguna = false;
            for (const Tramo& t : tramos)
                for (std::size_t i = t.desde; i < t.hasta; ++i)
                    if (largo[filas[i]] > desde) falta[filas[i]] = 1, alguna = true;
            if (alguna)
                cadaCelda([&](std::uint32_t f, const char* p, std::size_t bytes) {
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
                ordenarPorClave(filas + t.desde, t.hasta - t.desde, auxiliar, porLargo);
                continue;
            }
            ordenarPorClave(filas + t.desde, t.hasta - t.desde, auxiliar, siguiente);
            agregarTramos(t.desde, t.hasta, siguiente, siguientes);
        }
        tramos.swap(siguientes);
    }
}

void ModeloConsulta::Ordenar(int columna, Qt::SortOrder orden) {
    if (columna < 0 || columna >= int(columnas_.size())) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistentes = persistentIndexList();
    std::vector<std::uint32_t> almacenadas;
    almacenadas.reserve(std::size_t(persistentes.size()));
    for (const auto& i : persistentes)
        almacenadas.push_back(i.isValid() && i.row() < int(filas_) ? orden_[std::size_t(i.row())]
                                                                   : 0xFFFFFFFFu);
    ordenarIndices(columna, orden == Qt::DescendingOrder);
    ordenado_ = true;
    columnaOrden_ = columna;
    sentido_ = orden;
    posicionesValidas_ = false;
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
        t += c.bytes.size() + c.bloques.size() * 8;
    return t;
}
