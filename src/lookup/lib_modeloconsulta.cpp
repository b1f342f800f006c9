#include "lib_modeloconsulta.h"

#include "lib_textoconsulta.h"

#include <algorithm>
#include <array>

namespace {
constexpr std::uint32_t MaximoBytes = 0xFFFFFFF0u;

// UTF-8 of a text appended to a buffer (lone surrogates become U+FFFD).
void agregarUtf8(ArregloPlano<char>& destino, QStringView texto) {
    const std::size_t inicio = destino.size();
    destino.resize(inicio + std::size_t(texto.size()) * 3);
    char* o = destino.data() + inicio;
    const char16_t* p = texto.utf16();
    const char16_t* fin = p + texto.size();
    while (p < fin) {
        char32_t c = *p++;
        if (c < 0x80) {
            *o++ = char(c);
            continue;
        }
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
        if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3F));
        } else {
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        }
    }
    destino.resize(std::size_t(o - destino.data()));
}

// Eight bytes of a folded text from a position, big-endian, padded with zeros: comparing
// these as numbers compares the texts' bytes.
std::uint64_t trozo(const std::string& s, std::size_t desde) {
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

// Stable LSD radix sort by key, one byte per pass; passes where every key has the same byte
// are skipped.
void ordenarPorClave(Par* a, std::size_t n, ArregloPlano<Par>& auxiliar) {
    if (n < 2) return;
    if (n < 256) {
        std::stable_sort(a, a + n, [](const Par& x, const Par& y) { return x.clave < y.clave; });
        return;
    }
    std::vector<std::array<std::uint32_t, 256>> cuentas(8);
    for (auto& c : cuentas)
        c.fill(0);
    for (std::size_t i = 0; i < n; ++i)
        for (int b = 0; b < 8; ++b)
            ++cuentas[std::size_t(b)][(a[i].clave >> (8 * b)) & 0xFF];
    auxiliar.resize(std::max(auxiliar.size(), n));
    Par* origen = a;
    Par* destino = auxiliar.data();
    for (int b = 0; b < 8; ++b) {
        auto& c = cuentas[std::size_t(b)];
        if (c[(origen[0].clave >> (8 * b)) & 0xFF] == n) continue;
        std::uint32_t suma = 0;
        for (auto& v : c) {
            const std::uint32_t t = v;
            v = suma;
            suma += t;
        }
        for (std::size_t i = 0; i < n; ++i)
            destino[c[(origen[i].clave >> (8 * b)) & 0xFF]++] = origen[i];
        std::swap(origen, destino);
    }
    if (origen != a) std::memcpy(a, origen, n * sizeof(Par));
}
} // namespace

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
    if (!esCantidad && filas_ > 0) {
        c.fin.resize(filas_);
        std::fill(c.fin.data(), c.fin.data() + filas_, 0u);
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
        c.fin.clear();
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

void ModeloConsulta::AgregarFila(const QStringView* celdas, int n) {
    if (filas_ == 0xFFFFFFFEu) throw std::bad_alloc();
    struct Marca {
        std::size_t bytes, fin;
    };
    std::vector<Marca> marcas;
    marcas.reserve(columnas_.size());
    for (const auto& c : columnas_)
        marcas.push_back({c.bytes.size(), c.fin.size()});
    try {
        orden_.reserve(filas_ + 1);
        marcadas_.reserve(filas_ + 1);
        int j = 0;
        for (auto& c : columnas_) {
            if (c.cantidad) continue;
            if (j < n) agregarUtf8(c.bytes, celdas[j]);
            ++j;
            if (c.bytes.size() > MaximoBytes) throw std::bad_alloc();
            c.fin.push_back(std::uint32_t(c.bytes.size()));
        }
    } catch (...) {
        for (std::size_t i = 0; i < columnas_.size(); ++i) {
            columnas_[i].bytes.resize(std::min(columnas_[i].bytes.size(), marcas[i].bytes));
            columnas_[i].fin.resize(std::min(columnas_[i].fin.size(), marcas[i].fin));
        }
        throw;
    }
    if (!cargando_) beginInsertRows({}, int(filas_), int(filas_));
    orden_.push_back(filas_);
    marcadas_.push_back(0);
    ++filas_;
    posicionesValidas_ = false;
    if (!cargando_) endInsertRows();
}

const char* ModeloConsulta::celda(const Columna& c, std::uint32_t fila, std::size_t& n) const {
    if (fila >= c.fin.size()) {
        n = 0;
        return "";
    }
    const std::uint32_t desde = fila ? c.fin[fila - 1] : 0;
    n = c.fin[fila] - desde;
    return c.bytes.data() + desde;
}

QString ModeloConsulta::textoAlmacenado(int columna, std::uint32_t fila) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (c.cantidad) return c.textos.value(fila);
    std::size_t n = 0;
    const char* p = celda(c, fila, n);
    return QString::fromUtf8(p, qsizetype(n));
}

void ModeloConsulta::plegada(int columna, std::uint32_t fila, std::string& salida) const {
    const Columna& c = columnas_[std::size_t(columna)];
    if (c.cantidad) {
        const QByteArray u = c.textos.value(fila).toUtf8();
        PlegarUtf8(u.constData(), std::size_t(u.size()), salida);
        return;
    }
    std::size_t n = 0;
    const char* p = celda(c, fila, n);
    PlegarUtf8(p, n, salida);
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
    const std::string q = Plegar(texto);
    std::string c;
    for (std::uint32_t i = 0; i < filas_; ++i) {
        plegada(columna, orden_[i], c);
        if (EmpiezaCon(c, q)) return int(i);
    }
    return -1;
}

int ModeloConsulta::Buscar(int columna, QStringView texto) const {
    if (columna < 0 || columna >= int(columnas_.size()) || filas_ == 0) return -1;
    const std::string q = Plegar(texto);
    if (q.empty()) return 0;
    std::string c;
    if (ordenado_ && columna == columnaOrden_) {
        // The rows are in the order of this column's folded texts, so the rows that start
        // with q are consecutive: find the first of them.
        const bool desc = sentido_ == Qt::DescendingOrder;
        auto clase = [&](std::uint32_t pos) {
            plegada(columna, orden_[pos], c);
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
    for (std::uint32_t f = 0; f < filas_; ++f) {
        if (posicion_[f] >= mejor) continue;
        plegada(columna, f, c);
        if (EmpiezaCon(c, q)) mejor = posicion_[f];
    }
    return mejor < filas_ ? int(mejor) : -1;
}

void ModeloConsulta::ordenarIndices(int columna, bool desc) {
    const std::size_t n = filas_;
    ArregloPlano<Par> pares;
    pares.resize(n);
    ArregloPlano<Par> auxiliar;
    std::string c;
    for (std::size_t i = 0; i < n; ++i) {
        plegada(columna, orden_[i], c);
        const std::uint64_t k = trozo(c, 0);
        pares[i] = {desc ? ~k : k, orden_[i]};
    }
    ordenarPorClave(pares.data(), n, auxiliar);

    // Runs of equal keys: go on with the next eight bytes until the texts differ; texts equal
    // in every byte are told apart by their length only (a text may hold character 0).
    struct Tramo {
        std::size_t desde, hasta, nivel;
    };
    std::vector<Tramo> pendientes;
    auto agregarTramos = [&](std::size_t desde, std::size_t hasta, std::size_t nivel) {
        std::size_t i = desde;
        while (i < hasta) {
            std::size_t j = i + 1;
            while (j < hasta && pares[j].clave == pares[i].clave)
                ++j;
            if (j - i > 1) pendientes.push_back({i, j, nivel});
            i = j;
        }
    };
    agregarTramos(0, n, 1);
    std::vector<std::uint64_t> longitudes;
    while (!pendientes.empty()) {
        const Tramo t = pendientes.back();
        pendientes.pop_back();
        bool siguen = false;
        longitudes.resize(t.hasta - t.desde);
        for (std::size_t i = t.desde; i < t.hasta; ++i) {
            plegada(columna, pares[i].fila, c);
            longitudes[i - t.desde] = c.size();
            if (c.size() > t.nivel * 8) siguen = true;
            const std::uint64_t k = trozo(c, t.nivel * 8);
            pares[i].clave = desc ? ~k : k;
        }
        if (!siguen) {
            for (std::size_t i = t.desde; i < t.hasta; ++i) {
                const std::uint64_t k = longitudes[i - t.desde];
                pares[i].clave = desc ? ~k : k;
            }
            ordenarPorClave(pares.data() + t.desde, t.hasta - t.desde, auxiliar);
            continue;
        }
        ordenarPorClave(pares.data() + t.desde, t.hasta - t.desde, auxiliar);
        agregarTramos(t.desde, t.hasta, t.nivel + 1);
    }
    for (std::size_t i = 0; i < n; ++i)
        orden_[i] = pares[i].fila;
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
        t += c.bytes.size() + c.fin.size() * 4;
    return t;
}
