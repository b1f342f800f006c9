// The loading of the lookup list. The caller's thread only reads the database and copies
// each row into a batch; a second thread stores the batches and sorts the rows by the sort
// column in runs as they come. At the end the two threads merge the runs, one from each end.
#include "lookup/lib_modeloconsulta.h"
#include "lookup/lib_modeloconsulta_p.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// A row's place in the order: the first sixteen bytes of its key and its stored row (twenty
// bytes, no padding: there is one a row).
struct __attribute__((packed)) Trio {
    std::uint64_t k0, k1;
    std::uint32_t fila;
};
static_assert(sizeof(Trio) == 20);
// The strict order of the merge: by key, then by stored row (the rows of a run are in stored
// order among equal keys, and the runs follow one another).
inline bool menor(const Trio& a, const Trio& b) {
    if (a.k0 != b.k0) return a.k0 < b.k0;
    if (a.k1 != b.k1) return a.k1 < b.k1;
    return a.fila < b.fila;
}
inline bool mismaClave(const Trio& a, const Trio& b) {
    return a.k0 == b.k0 && a.k1 == b.k1;
}

// Stable sort of a run by (k0, k1): k1 first, then k0, each a radix sort that skips the bytes
// every key shares.
void ordenarCorrida(Trio* a, Trio* auxiliar, std::size_t n) {
    if (n < 2) return;
    if (n < 48) {
        for (std::size_t i = 1; i < n; ++i) {
            const Trio x = a[i];
            std::size_t j = i;
            while (j > 0 && (a[j - 1].k0 > x.k0 || (a[j - 1].k0 == x.k0 && a[j - 1].k1 > x.k1))) {
                a[j] = a[j - 1];
                --j;
            }
            a[j] = x;
        }
        return;
    }
    std::uint32_t cuentas[8 * 256] = {};
    Trio* r = interno::radix(a, auxiliar, n, 8, cuentas, [](const Trio& t) { return t.k1; });
    std::fill(std::begin(cuentas), std::end(cuentas), 0u);
    Trio* r2 = interno::radix(r, r == a ? auxiliar : a, n, 8, cuentas, [](const Trio& t) { return t.k0; });
    if (r2 != a) std::memcpy(a, r2, n * sizeof(Trio));
}

struct Corrida {
    const Trio* inicio;
    std::size_t n;
};

// `cuantos` rows of the merged runs, from the front (the smallest first) or from the back
// (the largest first, written from salida[cuantos - 1] down). igual[i]: row i has the key of
// row i - 1 (for the first row written from each end, left to the caller). `ultimo`: the
// last trio taken.
template <bool DesdeAtras>
void fusionar(const std::vector<Corrida>& corridas, std::uint32_t* salida, std::uint8_t* igual,
              std::size_t cuantos, Trio& ultimo) {
    struct Cabeza {
        const Trio* p;
        std::size_t quedan;
    };
    std::vector<Cabeza> monton;
    for (const Corrida& c : corridas)
        if (c.n) monton.push_back({DesdeAtras ? c.inicio + c.n - 1 : c.inicio, c.n});
    // The head that goes first sits on top.
    auto antes = [](const Cabeza& a, const Cabeza& b) {
        return DesdeAtras ? menor(*b.p, *a.p) : menor(*a.p, *b.p);
    };
    auto hundir = [&](std::size_t i) {
        const std::size_t n = monton.size();
        const Cabeza x = monton[i];
        for (;;) {
            std::size_t h = 2 * i + 1;
            if (h >= n) break;
            if (h + 1 < n && antes(monton[h + 1], monton[h])) ++h;
            if (!antes(monton[h], x)) break;
            monton[i] = monton[h];
            i = h;
        }
        monton[i] = x;
    };
    for (std::size_t i = monton.size() / 2; i-- > 0;)
        hundir(i);
    for (std::size_t k = 0; k < cuantos && !monton.empty(); ++k) {
        Cabeza& c = monton.front();
        const Trio t = *c.p;
        const std::size_t pos = DesdeAtras ? cuantos - 1 - k : k;
        salida[pos] = t.fila;
        if (k > 0) {
            if (DesdeAtras)
                igual[pos + 1] = mismaClave(t, ultimo);
            else
                igual[pos] = mismaClave(t, ultimo);
        }
        ultimo = t;
        if (--c.quedan == 0) {
            c = monton.back();
            monton.pop_back();
        } else {
            c.p += DesdeAtras ? -1 : 1;
        }
        if (!monton.empty()) hundir(0);
    }
}

constexpr std::uint32_t FilasPorLote = 2048;
constexpr std::size_t BytesPorLote = std::size_t(1) << 17;
constexpr int LotesEnCurso = 8;

} // namespace

struct ModeloConsulta::Carga {
    // Rows on their way, one after the other: each row its number of cells (four bytes),
    // then every cell as four bytes (its length in UTF-16 units, shifted up three bits over
    // its value's class), the value's eight bytes unless it is a text, and its UTF-16 as the
    // caller's thread had it. Copying is all that thread does: converting and storing is
    // left to the second thread. `hechas` rows, `cursor` bytes, are stored.
    struct Lote {
        ArregloPlano<char> bytes;
        std::uint32_t filas = 0, hechas = 0;
        std::size_t cursor = 0;
        void vaciar() {
            bytes.resize(0);
            filas = hechas = 0;
            cursor = 0;
        }
        bool lleno() const { return filas >= FilasPorLote || bytes.size() >= BytesPorLote; }
    };

    ModeloConsulta& m;
    int columnaOrden = -1;
    Qt::SortOrder orden = Qt::AscendingOrder;
    std::uint64_t inversa = 0;
    bool ordenando = false;
    std::uint32_t filasPorCorrida;
    // Sorting as the rows come: by stored row until its run is sorted in place.
    ArregloPlano<Trio> trios, auxiliarTrios;
    ArregloPlano<std::uint32_t> largos; // by stored row: the sort key's length
    std::size_t ordenadas = 0;          // trios in sorted runs
    std::string auxiliar;
    // The row being stored: its cells and their values.
    std::vector<QStringView> vistas;
    std::vector<ValorCelda> valoresFila;
    std::uint32_t enviadas = 0;

    std::thread hilo;
    bool enParalelo = false;
    std::mutex mx;
    std::condition_variable hayTrabajo, hayLibre;
    std::deque<std::unique_ptr<Lote>> cola, libres, pendientes;
    std::unique_ptr<Lote> llenando, fallido;
    bool terminar = false, ocupado = false;
    std::atomic<bool> fallo{false};

    Carga(ModeloConsulta& modelo, int columna, Qt::SortOrder sentido)
        : m(modelo), columnaOrden(columna), orden(sentido), filasPorCorrida(modelo.filasPorCorrida_) {
        inversa = sentido == Qt::DescendingOrder ? ~std::uint64_t(0) : 0;
        ordenando = columna >= 0 && columna < int(m.columnas_.size()) &&
                    !m.columnas_[std::size_t(columna)].cantidad && m.filas_ == 0;
        if (std::thread::hardware_concurrency() < 2) return;
        try {
            llenando = std::make_unique<Lote>();
            for (int i = 1; i < LotesEnCurso; ++i)
                libres.push_back(std::make_unique<Lote>());
            hilo = std::thread([this] { trabajar(); });
            enParalelo = true;
        } catch (...) {
            // No second thread: the rows are stored as they come.
            llenando.reset();
            libres.clear();
        }
    }
    ~Carga() { parar(); }

    // The second thread: stores the batches in order until told to stop. A failure (memory)
    // stops it; the caller's thread then stores the rest itself.
    void trabajar() {
        std::unique_lock<std::mutex> cerrojo(mx);
        for (;;) {
            hayTrabajo.wait(cerrojo, [this] { return !cola.empty() || terminar; });
            if (cola.empty()) return;
            std::unique_ptr<Lote> l = std::move(cola.front());
            cola.pop_front();
            ocupado = true;
            cerrojo.unlock();
            try {
                while (l->hechas < l->filas) {
                    const std::size_t fin = leer(*l);
                    guardar(valoresFila.data());
                    l->cursor = fin;
                    ++l->hechas;
                }
            } catch (...) {
                cerrojo.lock();
                fallido = std::move(l);
                ocupado = false;
                fallo.store(true, std::memory_order_release);
                hayLibre.notify_all();
                return;
            }
            l->vaciar();
            cerrojo.lock();
            libres.push_back(std::move(l));
            ocupado = false;
            hayLibre.notify_all();
        }
    }

    void parar() {
        if (!hilo.joinable()) return;
        {
            std::lock_guard<std::mutex> cerrojo(mx);
            terminar = true;
        }
        hayTrabajo.notify_one();
        hilo.join();
        enParalelo = false;
    }

    // The next row of a batch into `vistas` and `valoresFila`; returns where the row ends.
    std::size_t leer(const Lote& l) {
        const char* p = l.bytes.data() + l.cursor;
        std::uint32_t n = 0;
        std::memcpy(&n, p, 4);
        p += 4;
        vistas.resize(n);
        valoresFila.resize(n);
        for (std::uint32_t j = 0; j < n; ++j) {
            std::uint32_t cabecera = 0;
            std::memcpy(&cabecera, p, 4);
            p += 4;
            valoresFila[j] = {};
            if (cabecera & 7) {
                valoresFila[j].clase = ClaseValor(cabecera & 7);
                std::memcpy(&valoresFila[j].dato, p, 8);
                p += 8;
            }
            const std::size_t largo = cabecera >> 3;
            vistas[j] = QStringView(reinterpret_cast<const char16_t*>(p), qsizetype(largo));
            p += 2 * largo;
        }
        return std::size_t(p - l.bytes.data());
    }

    // Stores the row in `vistas` (with `valores`, or none: all texts) and notes its key.
    // Everything that can fail comes before the row is stored.
    void guardar(const ValorCelda* valores) {
        if (ordenando) {
            trios.asegurar(1);
            largos.asegurar(1);
        }
        const std::uint32_t fila = m.filas_;
        const bool porValorAntes = ordenando && m.columnas_[std::size_t(columnaOrden)].porValor;
        m.guardarFila(vistas.data(), int(vistas.size()), valores);
        if (!ordenando) return;
        const Columna& c = m.columnas_[std::size_t(columnaOrden)];
        // The column's first number or date: the texts before it now sort after the values.
        if (!porValorAntes && c.porValor && fila > 0) {
            try {
                rehacerClaves();
            } catch (...) {
                ordenando = false; // no room: the caller sorts after the loading
                return;
            }
        }
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data()) + c.ultima;
        const std::size_t n = interno::leerLargo(p);
        std::uint64_t k[2] = {0, 0};
        std::size_t l = 0;
        m.trozoOrden(columnaOrden, fila, reinterpret_cast<const char*>(p), n, 0, k, 2, l, auxiliar);
        trios.push_back({k[0] ^ inversa, k[1] ^ inversa, fila});
        largos.push_back(std::uint32_t(std::min<std::size_t>(l, 0xFFFFFFFFu)));
        if (trios.size() - ordenadas >= filasPorCorrida) ordenarUltima();
    }

    // The keys of the rows stored so far worked out again (the column's keys changed kind),
    // and the sorted runs sorted again.
    void rehacerClaves() {
        const std::size_t n = trios.size();
        const Columna& c = m.columnas_[std::size_t(columnaOrden)];
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        // Back in stored order: the merge wants equal keys in stored order within a run.
        for (std::uint32_t f = 0; f < n; ++f) {
            const std::size_t bytes = f < c.celdas ? interno::leerLargo(p) : 0;
            std::uint64_t k[2] = {0, 0};
            std::size_t l = 0;
            m.trozoOrden(columnaOrden, f, f < c.celdas ? reinterpret_cast<const char*>(p) : "", bytes, 0, k,
                         2, l, auxiliar);
            if (f < c.celdas) p += bytes;
            trios[f] = {k[0] ^ inversa, k[1] ^ inversa, f};
            largos[f] = std::uint32_t(std::min<std::size_t>(l, 0xFFFFFFFFu));
        }
        if (ordenadas == 0) return;
        if (auxiliarTrios.size() < filasPorCorrida) auxiliarTrios.resize(filasPorCorrida);
        for (std::size_t i = 0; i < ordenadas; i += filasPorCorrida)
            ordenarCorrida(trios.data() + i, auxiliarTrios.data(),
                           std::min<std::size_t>(filasPorCorrida, ordenadas - i));
    }

    // Sorts the run not yet sorted; without room for it the loading leaves the sort to
    // the caller.
    void ordenarUltima() {
        const std::size_t n = trios.size() - ordenadas;
        try {
            if (auxiliarTrios.size() < n) auxiliarTrios.resize(n);
        } catch (...) {
            ordenando = false;
            return;
        }
        ordenarCorrida(trios.data() + ordenadas, auxiliarTrios.data(), n);
        ordenadas = trios.size();
    }

    // The caller's thread: the row into the batch being filled.
    void agregar(const QStringView* celdas, int n, const ValorCelda* valores) {
        if (!enParalelo) {
            guardarPendientes();
            vistas.assign(celdas, celdas + std::max(n, 0));
            guardar(valores);
            return;
        }
        if (fallo.load(std::memory_order_acquire)) {
            recuperar();
            agregar(celdas, n, valores);
            return;
        }
        if (enviadas >= 0xFFFFFFFEu) throw std::bad_alloc();
        if (!llenando || llenando->lleno()) enviar(); // may fail: then the row is not taken
        Lote& l = *llenando;
        const std::uint32_t k = std::uint32_t(std::max(n, 0));
        std::size_t maximo = 4;
        for (std::uint32_t j = 0; j < k; ++j) {
            if (celdas[j].size() >= (qsizetype(1) << 29)) throw std::bad_alloc(); // past the length's bits
            maximo += 12 + 2 * std::size_t(celdas[j].size());
        }
        l.bytes.asegurar(maximo);
        // From here on nothing fails.
        char* o = l.bytes.data() + l.bytes.size();
        std::memcpy(o, &k, 4);
        o += 4;
        for (std::uint32_t j = 0; j < k; ++j) {
            const QStringView c = celdas[j];
            const std::uint32_t clase = valores ? std::uint32_t(valores[j].clase) : 0;
            const std::uint32_t cabecera = std::uint32_t(c.size()) << 3 | clase;
            std::memcpy(o, &cabecera, 4);
            o += 4;
            if (clase) {
                std::memcpy(o, &valores[j].dato, 8);
                o += 8;
            }
            if (!c.isEmpty()) std::memcpy(o, c.utf16(), 2 * std::size_t(c.size()));
            o += 2 * c.size();
        }
        l.bytes.resize(std::size_t(o - l.bytes.data()));
        ++l.filas;
        ++enviadas;
    }

    // Hands the batch being filled to the second thread and takes an empty one, waiting for
    // one when all are on their way.
    void enviar() {
        {
            std::lock_guard<std::mutex> cerrojo(mx);
            if (llenando && llenando->filas) cola.push_back(std::move(llenando));
        }
        hayTrabajo.notify_one();
        {
            std::unique_lock<std::mutex> cerrojo(mx);
            hayLibre.wait(cerrojo, [this] { return !libres.empty() || fallo.load(); });
            if (!libres.empty()) {
                llenando = std::move(libres.front());
                libres.pop_front();
                return;
            }
        }
        if (!llenando) llenando = std::make_unique<Lote>();
    }

    // Waits until the second thread has stored every batch handed to it, so that the model
    // can be read (an error report shows the dialog's list).
    void esperar() {
        if (!enParalelo) return;
        {
            std::lock_guard<std::mutex> cerrojo(mx);
            if (llenando && llenando->filas) cola.push_back(std::move(llenando));
        }
        hayTrabajo.notify_one();
        std::unique_lock<std::mutex> cerrojo(mx);
        hayLibre.wait(cerrojo, [this] { return (cola.empty() && !ocupado) || fallo.load(); });
    }

    // After a failure of the second thread: it has stopped; the rows it did not store wait,
    // in order, for the caller's thread, and the loading no longer sorts.
    void recuperar() {
        parar();
        ordenando = false;
        if (fallido) pendientes.push_back(std::move(fallido));
        for (auto& l : cola)
            pendientes.push_back(std::move(l));
        cola.clear();
        if (llenando && llenando->hechas < llenando->filas) pendientes.push_back(std::move(llenando));
        llenando.reset();
        fallo.store(false);
    }

    // Stores the waiting rows. A row that fails again is left out and its failure raised.
    void guardarPendientes() {
        while (!pendientes.empty()) {
            Lote& l = *pendientes.front();
            while (l.hechas < l.filas) {
                const std::size_t fin = leer(l);
                l.cursor = fin;
                ++l.hechas;
                guardar(valoresFila.data());
            }
            pendientes.pop_front();
        }
    }

    // Everything handed over is stored.
    void completar() {
        if (enParalelo) {
            {
                std::lock_guard<std::mutex> cerrojo(mx);
                if (llenando && llenando->filas) cola.push_back(std::move(llenando));
            }
            parar();
            if (fallo.load()) recuperar();
        }
        guardarPendientes();
    }

    // The sorted runs merged into the model's order (the two halves at once), then the rows
    // whose first sixteen bytes agree sorted by the rest. False when the rows are left in
    // stored order.
    bool terminarOrden() {
        const std::size_t n = m.filas_;
        if (!ordenando || n == 0 || trios.size() != n || m.orden_.size() != n) return false;
        ArregloPlano<std::uint8_t> igual;
        igual.resize(n);
        if (ordenadas < n) ordenarUltima();
        if (!ordenando) return false;
        std::vector<Corrida> corridas;
        for (std::size_t i = 0; i < n; i += filasPorCorrida)
            corridas.push_back({trios.data() + i, std::min<std::size_t>(filasPorCorrida, n - i)});
        std::uint32_t* salida = m.orden_.data();
        std::uint8_t* iguales = igual.data();
        iguales[0] = 0;
        if (corridas.size() == 1) {
            for (std::size_t i = 0; i < n; ++i) {
                salida[i] = trios[i].fila;
                if (i) iguales[i] = mismaClave(trios[i], trios[i - 1]);
            }
        } else {
            const std::size_t mitad = n / 2;
            Trio primeraMitad{}, segundaMitad{};
            bool hecho = false;
            if (n >= 2 * filasPorCorrida) {
                try {
                    std::thread frente(
                        [&] { fusionar<false>(corridas, salida, iguales, mitad, primeraMitad); });
                    fusionar<true>(corridas, salida + mitad, iguales + mitad, n - mitad, segundaMitad);
                    frente.join();
                    hecho = true;
                } catch (...) {
                }
            }
            if (!hecho) {
                fusionar<false>(corridas, salida, iguales, mitad, primeraMitad);
                fusionar<true>(corridas, salida + mitad, iguales + mitad, n - mitad, segundaMitad);
            }
            // The back half's last trio taken is the one at `mitad`.
            if (mitad > 0) iguales[mitad] = mismaClave(primeraMitad, segundaMitad);
        }
        std::vector<Tramo> tramos;
        for (std::size_t i = 1; i < n;) {
            if (!iguales[i]) {
                ++i;
                continue;
            }
            const std::size_t desde = i - 1;
            while (i < n && iguales[i])
                ++i;
            tramos.push_back({desde, i});
        }
        igual.clear();
        trios.clear();
        auxiliarTrios.clear();
        ArregloPlano<std::uint64_t> claves, claves1;
        m.desempatar(columnaOrden, orden == Qt::DescendingOrder, std::move(tramos), 2, largos.data(), claves,
                     claves1);
        return true;
    }
};

ModeloConsulta::ModeloConsulta(QObject* padre) : QAbstractTableModel(padre) {}
ModeloConsulta::~ModeloConsulta() = default;

void ModeloConsulta::IniciarCarga(int columnaOrden, Qt::SortOrder orden) {
    if (cargando_) return;
    beginResetModel();
    cargando_ = true;
    try {
        carga_ = std::make_unique<Carga>(*this, columnaOrden, orden);
    } catch (...) {
        carga_.reset(); // rows stored one by one, as outside a loading
    }
}

void ModeloConsulta::cargaAgregar(const QStringView* celdas, int n, const ValorCelda* valores) {
    carga_->agregar(celdas, n, valores);
}

void ModeloConsulta::CompletarCarga() {
    if (cargando_ && carga_) carga_->completar();
}

void ModeloConsulta::EsperarCarga() {
    if (cargando_ && carga_) carga_->esperar();
}

void ModeloConsulta::TerminarCarga() {
    if (!cargando_) return;
    if (carga_) {
        // Whatever was handed over is stored; a row that cannot be (memory) is left out, as
        // CompletarCarga would have reported.
        try {
            carga_->completar();
        } catch (...) {
        }
        carga_->parar();
        bool ordenada = false;
        try {
            ordenada = !carga_->fallo.load() && carga_->terminarOrden();
        } catch (...) {
            ordenada = false;
        }
        if (ordenada)
            quedaOrdenado(carga_->columnaOrden, carga_->orden);
        else
            ordenVigente_ = false;
        carga_.reset();
    }
    cargando_ = false;
    posicionesValidas_ = false;
    ++version_;
    endResetModel();
}
