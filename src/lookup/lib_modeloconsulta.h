#pragma once
// The rows of the lookup dialog: a table model over the loaded rows, stored compactly (one
// UTF-8 buffer and one offset array per column; QStrings are made only when the view asks),
// with a check mark per row and the quantity column. The view order is a permutation of the
// stored rows; sorting is stable and searching works on the current order.
//
// A loading (IniciarCarga .. TerminarCarga) hands the rows to a second thread, which stores
// them and sorts them as they come, so that reading the database is the only work left on
// the caller's thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <string>
#include <type_traits>
#include <vector>

class QVariant;

// What a cell is sorted by. Numbers and dates sort by value, before texts, which keep the
// Spanish order; a Null or blank cell sorts first.
enum class ClaseValor : std::uint8_t { Texto = 0, Entero, Real, Fecha };
struct ValorCelda {
    ClaseValor clase = ClaseValor::Texto;
    // Entero: the integer; Real: the double's bits; Fecha: milliseconds from Julian day 0.
    std::uint64_t dato = 0;
};
// The value a database field sorts by (texts, Null and anything else: Texto).
ValorCelda ValorDeCampo(const QVariant& valor);

// Memory blocks for ArregloPlano: large ones are mapped pages that grow by remapping (never
// two copies of a column while loading) and ask for huge pages (fewer page faults).
void* ReservarBloque(std::size_t bytes, std::size_t& capacidad);
void* AgrandarBloque(void* bloque, std::size_t usados, std::size_t capacidadActual, std::size_t bytes,
                     std::size_t& capacidad);
void LiberarBloque(void* bloque, std::size_t capacidad);

// A growable array of plain values.
template <typename T> class ArregloPlano {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    ArregloPlano() = default;
    ArregloPlano(const ArregloPlano&) = delete;
    ArregloPlano& operator=(const ArregloPlano&) = delete;
    ArregloPlano(ArregloPlano&& o) noexcept : p_(o.p_), n_(o.n_), cap_(o.cap_), bytes_(o.bytes_) {
        o.p_ = nullptr, o.n_ = o.cap_ = o.bytes_ = 0;
    }
    ArregloPlano& operator=(ArregloPlano&& o) noexcept {
        if (this != &o) {
            clear();
            p_ = o.p_, n_ = o.n_, cap_ = o.cap_, bytes_ = o.bytes_;
            o.p_ = nullptr, o.n_ = o.cap_ = o.bytes_ = 0;
        }
        return *this;
    }
    ~ArregloPlano() { clear(); }

    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    T* data() { return p_; }
    const T* data() const { return p_; }
    T& operator[](std::size_t i) { return p_[i]; }
    const T& operator[](std::size_t i) const { return p_[i]; }
    void reserve(std::size_t c) {
        if (c <= cap_) return;
        std::size_t bytes = 0;
        void* q = p_ ? AgrandarBloque(p_, n_ * sizeof(T), bytes_, c * sizeof(T), bytes)
                     : ReservarBloque(c * sizeof(T), bytes);
        p_ = static_cast<T*>(q);
        bytes_ = bytes;
        cap_ = bytes / sizeof(T);
    }
    // Room for `extra` more values, the capacity growing by doubling.
    void asegurar(std::size_t extra) {
        if (n_ + extra <= cap_) return;
        std::size_t c = cap_ ? 2 * cap_ : 64;
        reserve(c < n_ + extra ? n_ + extra : c);
    }
    void resize(std::size_t n) {
        if (n > cap_) reserve(n < 2 * cap_ ? 2 * cap_ : n);
        n_ = n;
    }
    void push_back(T v) {
        asegurar(1);
        p_[n_++] = v;
    }
    void clear() {
        if (p_) LiberarBloque(p_, bytes_);
        p_ = nullptr;
        n_ = cap_ = bytes_ = 0;
    }

private:
    T* p_ = nullptr;
    std::size_t n_ = 0, cap_ = 0, bytes_ = 0;
};

class ModeloConsulta : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ModeloConsulta(QObject* padre = nullptr);
    ~ModeloConsulta() override;

    int rowCount(const QModelIndex& padre = {}) const override;
    int columnCount(const QModelIndex& padre = {}) const override;
    QVariant data(const QModelIndex& indice, int rol = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& indice, const QVariant& valor, int rol = Qt::EditRole) override;
    QVariant headerData(int seccion, Qt::Orientation orientacion, int rol = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& indice) const override;
    void sort(int columna, Qt::SortOrder orden = Qt::AscendingOrder) override;

    // Columns. A quantity column holds editable texts; the others hold the loaded cells.
    void QuitarColumnas();
    void AgregarColumna(const QString& encabezado, bool esCantidad = false);
    QString Encabezado(int columna) const;
    bool EsCantidad(int columna) const;

    // Check boxes shown in the first column.
    void MostrarMarcas(bool mostrar);
    bool MarcasVisibles() const { return marcas_; }

    // Rows. Loading appends rows between IniciarCarga and TerminarCarga (views see one reset).
    // With a sort column the rows come out of the loading sorted as Ordenar would sort them.
    // CompletarCarga stores what is still on its way and may fail (like AgregarFila);
    // TerminarCarga does the same without failing (a row that cannot be stored is left out).
    // Nothing else may be asked of the model in between.
    void Limpiar();
    void IniciarCarga(int columnaOrden = -1, Qt::SortOrder orden = Qt::AscendingOrder);
    void CompletarCarga();
    // Waits until every row handed over is stored, so that the model may be read (before an
    // error report, whose modal loop repaints the list).
    void EsperarCarga();
    void TerminarCarga();
    // Appends a row: one cell per loaded column in column order; missing cells are empty.
    // `valores` (one per cell, or none: all texts) tell how the cells sort. Either the whole
    // row is added or, on failure, nothing.
    void AgregarFila(const QStringView* celdas, int n, const ValorCelda* valores = nullptr);
    // Rows sorted at a time while loading (the runs merged at the end); for tests.
    void FilasPorCorrida(std::uint32_t filas) { filasPorCorrida_ = filas ? filas : 1; }

    // By view position (0-based, current order).
    QString Texto(int fila, int columna) const;
    void EstablecerTexto(int fila, int columna, const QString& texto); // quantity columns only
    bool Marcada(int fila) const;
    void Marcar(int fila, bool marcada);
    // The stored row at a view position (stable while the dialog is open), and a cell by
    // stored row (empty text for a row no longer held).
    int FilaAlmacenada(int fila) const { return int(orden_[std::size_t(fila)]); }
    QString TextoAlmacenado(int columna, int filaAlmacenada) const;

    // The first view position whose cell's Spanish key starts with the text's; -1 when none
    // does. Binary search when the column is the sort column and sorts by text.
    int Buscar(int columna, QStringView texto) const;
    // The same by a plain scan in view order (reference behaviour, kept for tests).
    int BuscarLineal(int columna, QStringView texto) const;

    // A search done a slice at a time (a pass over the column), so that the next key can
    // take its place: IniciarBusqueda, then AvanzarBusqueda until it gives true; `resultado`
    // is then what Buscar gives. A change of the rows or their order starts it again.
    struct Busqueda {
        int columna = -1;
        std::string clave;
        std::uint32_t siguiente = 0; // next stored row to look at
        std::size_t byte = 0;        // where its cell starts
        std::uint32_t mejor = 0xFFFFFFFFu;
        std::uint64_t version = 0;
        bool terminada = false;
        int resultado = -1;
    };
    // Whether a search of the column is a binary search (no slices needed).
    bool BusquedaInmediata(int columna) const;
    Busqueda IniciarBusqueda(int columna, QStringView texto) const;
    bool AvanzarBusqueda(Busqueda& b, std::uint32_t filas) const;

    // Stable sort of the current order by the cells' keys: values, then the Spanish keys of
    // the texts (lib_textoconsulta.h).
    void Ordenar(int columna, Qt::SortOrder orden);
    // Whether the column holds numbers or dates (it then sorts by value).
    bool PorValor(int columna) const;
    bool Ordenado() const { return ordenado_; }
    int ColumnaOrden() const { return columnaOrden_; }
    Qt::SortOrder Orden() const { return sentido_; }

    // Approximate bytes held by the rows (for the benchmark).
    std::size_t BytesOcupados() const;

private:
    struct Columna {
        QString encabezado;
        bool cantidad = false;
        // The cells one after the other, each as its length (seven bits a byte, the high bit
        // set when more follow) and its UTF-8; where every run of 64 cells starts.
        ArregloPlano<char> bytes;
        ArregloPlano<std::uint64_t> bloques;
        std::uint32_t celdas = 0;
        std::size_t ultima = 0;               // where the last cell starts
        QHash<std::uint32_t, QString> textos; // quantity column: stored row -> text
        // From its first number or date on: every cell's class and value.
        bool porValor = false;
        ArregloPlano<std::uint8_t> clases;
        ArregloPlano<std::uint64_t> datos;
    };
    struct Carga;
    friend struct Carga;
    // Room for one more cell of `bytes` bytes in its stored form, then the cell written
    // into it (its value noted in a column of values).
    static void lugarCelda(Columna& c, std::size_t bytes, const ValorCelda* valor);
    static void agregarCelda(Columna& c, QStringView texto, const ValorCelda* valor);
    static void cerrarCelda(Columna& c, std::size_t inicio, const ValorCelda* valor);
    // A row stored (no view is told); what AgregarFila does outside a loading.
    void guardarFila(const QStringView* celdas, int n, const ValorCelda* valores);
    // AgregarFila while loading: the row goes to the loading's thread.
    void cargaAgregar(const QStringView* celdas, int n, const ValorCelda* valores);
    // Bytes of a stored cell (quantity columns: none).
    const char* celda(const Columna& c, std::uint32_t fila, std::size_t& n) const;
    // Calls f(fila, bytes, n) for every stored cell of a loaded column, in stored order.
    template <typename F> void recorrer(const Columna& c, F&& f) const;
    // The same for any column (a quantity column's cells are read by their row).
    template <typename F> void recorrerColumna(int columna, F&& f) const;
    void clave(int columna, std::uint32_t fila, std::string& salida) const;
    QString textoAlmacenado(int columna, std::uint32_t fila) const;
    void asegurarPosiciones() const;
    // The two ways of a search: a binary search on the sort column, and a pass over the
    // stored rows a slice at a time.
    int buscarEnOrden(int columna, const std::string& q) const;
    void recorrerBusqueda(Busqueda& b, std::uint32_t cuantas) const;
    // `cuantos` runs of eight bytes of the cell's key from `desde`, and the key's length.
    // (`p`, `n`: the cell's bytes; a quantity cell is read by its row.)
    void trozoOrden(int columna, std::uint32_t fila, const char* p, std::size_t n, std::size_t desde,
                    std::uint64_t* trozos, int cuantos, std::size_t& longitud, std::string& auxiliar) const;
    void ordenarIndices(int columna, bool descendente);
    // Stable sort of the rows of each run of `tramos` (runs of rows whose keys agree in
    // their first 8 × nivel bytes) by the rest of their keys. `largo`: every stored row's key
    // length; `claves`, `claves1`: eight-byte pieces of the keys by stored row (sized on
    // first use when empty; for an odd level, claves1 holds that level's piece).
    struct Tramo {
        std::size_t desde, hasta;
    };
    // The keys of the rows of the runs still tied that reach that byte: this level's and the
    // next one's, read together.
    void leerNivel(int columna, const std::vector<Tramo>& tramos, std::size_t desde,
                   const std::uint32_t* largo, std::uint64_t inversa, ArregloPlano<std::uint64_t>& claves,
                   ArregloPlano<std::uint64_t>& claves1, ArregloPlano<std::uint8_t>& falta,
                   std::string& texto);
    void desempatar(int columna, bool descendente, std::vector<Tramo> tramos, std::size_t nivel,
                    const std::uint32_t* largo, ArregloPlano<std::uint64_t>& claves,
                    ArregloPlano<std::uint64_t>& claves1);
    // The sort settings after a sort by the column, or after a loading sorted by it.
    void quedaOrdenado(int columna, Qt::SortOrder orden);

    std::vector<Columna> columnas_;
    std::uint32_t filas_ = 0;
    ArregloPlano<std::uint32_t> orden_;            // view position -> stored row
    mutable ArregloPlano<std::uint32_t> posicion_; // stored row -> view position (lazy)
    mutable bool posicionesValidas_ = false;
    ArregloPlano<std::uint8_t> marcadas_;
    bool marcas_ = false;
    bool ordenado_ = false;
    int columnaOrden_ = 0;
    Qt::SortOrder sentido_ = Qt::AscendingOrder;
    bool ordenVigente_ = false; // nothing changed since the last sort
    std::uint64_t version_ = 0; // rows, cells or order changed
    bool cargando_ = false;
    std::unique_ptr<Carga> carga_;
    std::uint32_t filasPorCorrida_ = 1u << 16;
};
