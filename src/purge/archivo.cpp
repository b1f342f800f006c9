#include "purge/archivo.h"

#include "purge/archivo_p.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThread>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using archivo_p::Citado;
using archivo_p::DatoDeColumna;

namespace {

constexpr char kPrefijoParcial[] = "_parcial_";
// Rows per SQLite transaction while a table is written: commits are few, and what a failure
// leaves to roll back is bounded.
constexpr qint64 kFilasPorLote = 50000;

QString nombreParcial(const QString& tabla) {
    return QLatin1String(kPrefijoParcial) + tabla;
}

QString textoErrno(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

[[noreturn]] void fallarEscritura(const QString& ruta, const QString& tabla, const QString& motivo) {
    QString texto = QStringLiteral("No se pudo escribir el archivo de depuración %1").arg(ruta);
    if (!tabla.isEmpty()) texto += QStringLiteral(" (tabla %1)").arg(tabla);
    throw ErrorSistema(Errores::ErrorEntradaSalida, texto + QStringLiteral(": ") + motivo);
}

// Syncs a file or a folder to disk; 0, or the errno of the failure.
int sincronizar(const QString& ruta, bool carpeta) {
    const int fd = ::open(QFile::encodeName(ruta).constData(), carpeta ? (O_RDONLY | O_DIRECTORY) : O_RDONLY);
    if (fd < 0) return errno;
    const int e = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return e;
}

// Runs SQL with no result; the SQLite code (SQLITE_OK when it went).
int ejecutar(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}
int ejecutar(sqlite3* db, const QString& sql) {
    return ejecutar(db, sql.toUtf8().constData());
}

struct Sentencia {
    sqlite3_stmt* s = nullptr;
    Sentencia() = default;
    Sentencia(const Sentencia&) = delete;
    Sentencia& operator=(const Sentencia&) = delete;
    ~Sentencia() { sqlite3_finalize(s); }
    void cerrar() {
        sqlite3_finalize(s);
        s = nullptr;
    }
    int preparar(sqlite3* db, const QString& sql) {
        cerrar();
        const QByteArray t = sql.toUtf8();
        return sqlite3_prepare_v2(db, t.constData(), int(t.size()), &s, nullptr);
    }
};

void ligarTexto(sqlite3_stmt* s, int i, const QString& t) {
    const QByteArray b = t.toUtf8();
    sqlite3_bind_text(s, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
}

QString textoColumna(sqlite3_stmt* s, int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(s, i)) : QString();
}

std::vector<ClaseCanonica> clasesDe(const std::vector<ColumnaArchivo>& columnas) {
    std::vector<ClaseCanonica> r;
    r.reserve(columnas.size());
    for (const auto& c : columnas)
        r.push_back(ClaseDeTipo(c.tipo));
    return r;
}

// Count and digest of a data table, read in rowid order.
struct Recuento {
    qint64 filas = 0;
    QString sha256;
};

int recontar(sqlite3* db, const QString& tabla, const std::vector<ColumnaArchivo>& columnas, Recuento& r) {
    Sentencia q;
    int rc = q.preparar(db, QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(Citado(tabla)));
    if (rc != SQLITE_OK) return rc;
    const int n = sqlite3_column_count(q.s);
    if (n != int(columnas.size())) return SQLITE_MISMATCH;
    HuellaTabla huella(clasesDe(columnas));
    std::vector<Dato> fila(static_cast<size_t>(n));
    while ((rc = sqlite3_step(q.s)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i)
            fila[size_t(i)] = DatoDeColumna(q.s, i);
        huella.Agregar(fila.data());
    }
    if (rc != SQLITE_DONE) return rc;
    r.filas = huella.Filas();
    r.sha256 = huella.Sha256();
    return SQLITE_OK;
}

QString sinCaracteresRaros(const QString& t) {
    QString r;
    for (const QChar c : t)
        r += (c.unicode() < 128 && (c.isLetterOrNumber() || c == QChar('_') || c == QChar('-'))) ? c
                                                                                                 : QChar('_');
    return r;
}

// Rows on their way into a table of the archive. The caller copies each row into a batch and a
// thread of the writer binds and inserts the batches, so that reading the database and writing
// the archive overlap on two cores (on one core the caller inserts each batch itself). The
// connection is the thread's from the first batch until Terminar: the caller does not touch it.
class Tuberia {
public:
    Tuberia(sqlite3* db, sqlite3_stmt* insercion, int columnas) : db_(db), s_(insercion), n_(columnas) {
        actual_ = nuevoLote();
        // The cores this process may run on (taskset and cgroups count).
        if (QThread::idealThreadCount() > 1) hilo_ = std::thread([this] { trabajar(); });
    }
    // What is still queued is not written: the table is being given up.
    ~Tuberia() { parar(false); }
    Tuberia(const Tuberia&) = delete;
    Tuberia& operator=(const Tuberia&) = delete;

    // Raises ErrorSistema (through fallar) when an earlier batch could not be written.
    void Agregar(const Dato* fila, const std::function<void(int, const QString&)>& fallar) {
        Lote& l = *actual_;
        for (int i = 0; i < n_; ++i) {
            const Dato& v = fila[i];
            l.datos.push_back(v);
            if (v.tipo == Dato::Tipo::Texto || v.tipo == Dato::Tipo::Fecha || v.tipo == Dato::Tipo::Binario) {
                l.desde.push_back(qsizetype(l.bytes.size()));
                l.bytes.append(v.datos ? v.datos : "", size_t(v.largo));
            } else
                l.desde.push_back(-1);
        }
        if (++l.filas >= kFilasPorEntrega) entregar(fallar);
    }
    // Writes what is left and waits for it; then the connection is the caller's again.
    void Terminar(const std::function<void(int, const QString&)>& fallar) {
        if (actual_->filas > 0) entregar(fallar);
        parar(true);
        if (error_ != SQLITE_OK) fallar(error_, motivo_);
    }

private:
    static constexpr int kFilasPorEntrega = 2048;
    static constexpr size_t kMaximoEnCola = 3;
    struct Lote {
        std::vector<Dato> datos;
        std::vector<qsizetype> desde; // offset of each value's bytes, or -1
        std::string bytes;
        int filas = 0;
    };

    std::unique_ptr<Lote> nuevoLote() {
        std::unique_ptr<Lote> l;
        {
            std::lock_guard g(m_);
            if (!libres_.empty()) {
                l = std::move(libres_.back());
                libres_.pop_back();
            }
        }
        if (!l) l = std::make_unique<Lote>();
        l->datos.clear();
        l->desde.clear();
        l->bytes.clear();
        l->filas = 0;
        return l;
    }
    void entregar(const std::function<void(int, const QString&)>& fallar) {
        Lote& l = *actual_;
        for (size_t i = 0; i < l.datos.size(); ++i)
            if (l.desde[i] >= 0) l.datos[i].datos = l.bytes.data() + l.desde[i];
        if (!hilo_.joinable()) {
            if (error_ == SQLITE_OK) escribir(l);
            l.filas = 0;
            l.datos.clear();
            l.desde.clear();
            l.bytes.clear();
        } else {
            {
                std::unique_lock g(m_);
                cambio_.wait(g, [&] { return cola_.size() < kMaximoEnCola; });
                cola_.push_back(std::move(actual_));
            }
            cambio_.notify_all();
            actual_ = nuevoLote();
        }
        if (error_ != SQLITE_OK) {
            std::lock_guard g(m_);
            fallar(error_, motivo_);
        }
    }
    void parar(bool escribirLoPendiente) {
        if (!hilo_.joinable()) return;
        {
            std::lock_guard g(m_);
            fin_ = true;
            if (!escribirLoPendiente) cola_.clear();
        }
        cambio_.notify_all();
        hilo_.join();
    }
    void trabajar() {
        std::unique_lock g(m_);
        for (;;) {
            cambio_.wait(g, [&] { return fin_ || !cola_.empty(); });
            if (cola_.empty()) return;
            std::unique_ptr<Lote> l = std::move(cola_.front());
            cola_.pop_front();
            const bool escribirlo = error_ == SQLITE_OK;
            g.unlock();
            cambio_.notify_all();
            if (escribirlo) escribir(*l);
            g.lock();
            libres_.push_back(std::move(l));
        }
    }
    // The rows of a batch, bound and inserted; a commit every kFilasPorLote rows.
    void escribir(const Lote& l) {
        static const char vacio[] = "";
        const Dato* v = l.datos.data();
        for (int f = 0; f < l.filas; ++f, v += n_) {
            for (int i = 0; i < n_; ++i) {
                switch (v[i].tipo) {
                case Dato::Tipo::Nulo:
                    sqlite3_bind_null(s_, i + 1);
                    break;
                case Dato::Tipo::Entero:
                    sqlite3_bind_int64(s_, i + 1, v[i].entero);
                    break;
                case Dato::Tipo::Real:
                    sqlite3_bind_double(s_, i + 1, v[i].real);
                    break;
                case Dato::Tipo::Texto:
                case Dato::Tipo::Fecha:
                    // A null pointer would bind NULL: the empty text is not NULL.
                    sqlite3_bind_text(s_, i + 1, v[i].datos ? v[i].datos : vacio, int(v[i].largo),
                                      SQLITE_STATIC);
                    break;
                case Dato::Tipo::Binario:
                    sqlite3_bind_blob(s_, i + 1, v[i].datos ? v[i].datos : vacio, int(v[i].largo),
                                      SQLITE_STATIC);
                    break;
                }
            }
            int rc = sqlite3_step(s_);
            sqlite3_reset(s_);
            if (rc == SQLITE_DONE && ++enTransaccion_ >= kFilasPorLote) {
                rc = ejecutar(db_, "COMMIT");
                if (rc == SQLITE_OK) rc = ejecutar(db_, "BEGIN IMMEDIATE");
                enTransaccion_ = 0;
            }
            if (rc != SQLITE_DONE && rc != SQLITE_OK) {
                const QString motivo = archivo_p::TextoErrorSqlite(db_, rc);
                std::lock_guard g(m_);
                motivo_ = motivo;
                error_ = rc;
                return;
            }
        }
    }

    sqlite3* const db_;
    sqlite3_stmt* const s_;
    const int n_;
    std::unique_ptr<Lote> actual_;
    std::deque<std::unique_ptr<Lote>> cola_;
    std::vector<std::unique_ptr<Lote>> libres_;
    std::mutex m_;
    std::condition_variable cambio_;
    bool fin_ = false;
    std::atomic<int> error_{SQLITE_OK};
    QString motivo_;
    qint64 enTransaccion_ = 0;
    std::thread hilo_;
};

} // namespace

QString archivo_p::TextoErrorSqlite(sqlite3* db, int codigo) {
    switch (codigo & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("no queda espacio en el disco");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return QStringLiteral("no se puede escribir ni abrir el archivo (%1)")
            .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(codigo)));
    case SQLITE_IOERR:
        return QStringLiteral("error de entrada/salida del disco (%1)")
            .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(codigo)));
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return QStringLiteral("el archivo está dañado o no es una base de datos SQLite");
    default:
        return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(codigo));
    }
}

// ---- Before any change ---------------------------------------------------------------------

QString CarpetaArchivoPorDefecto() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/cribanzas/archivos");
}

QString NombreArchivoDepuracion(const QString& base, const QString& ejercicio, const QDateTime& momento) {
    QString nombre = base.trimmed();
    // A database file: its name without folder and extension.
    if (nombre.contains(QChar('/')) || nombre.contains(QChar('\\')) ||
        nombre.contains(QRegularExpression(QStringLiteral("\\.(db|sqlite3?)$"),
                                           QRegularExpression::CaseInsensitiveOption)))
        nombre = QFileInfo(QString(nombre).replace(QChar('\\'), QChar('/'))).completeBaseName();
    nombre = sinCaracteresRaros(nombre).left(60);
    if (nombre.isEmpty()) nombre = QStringLiteral("base");
    return QStringLiteral("depuracion-%1-%2-%3.sqlite")
        .arg(nombre, sinCaracteresRaros(ejercicio.trimmed()),
             momento.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

qint64 BytesPorFila(const std::vector<ColumnaArchivo>& columnas) {
    static const QRegularExpression largo(QStringLiteral("\\(\\s*(\\d+)"));
    qint64 total = 8; // the record's header and the rowid
    for (const auto& c : columnas) {
        const QString t = c.tipo.toUpper();
        const auto m = largo.match(t);
        if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("TEXT")) ||
            t.contains(QLatin1String("BINARY")) || t.contains(QLatin1String("BLOB"))) {
            // Half the declared length, as UTF-8 text is usually shorter than its column.
            const qint64 n = m.hasMatch() ? m.captured(1).toLongLong() : 100;
            total += 2 + std::min<qint64>(n, 4000) / 2;
        } else if (ClaseDeTipo(c.tipo) == ClaseCanonica::Fecha) {
            total += 20;
        } else {
            total += 9;
        }
    }
    return total;
}

qint64 EstimarBytesArchivo(qint64 filas, qint64 bytesPorFila) {
    // B-tree pages are filled to about 90%, plus the manifest and the page of each table.
    return std::max<qint64>(0, filas) * std::max<qint64>(1, bytesPorFila) * 11 / 10 + (256 << 10);
}

void ComprobarCarpetaArchivo(const QString& carpeta, const QString& nombre, qint64 bytesEstimados) {
    const QFileInfo info(carpeta);
    if (!info.exists() || !info.isDir())
        throw ErrorSistema(Errores::ArchivoNoEncontrado,
                           QStringLiteral("No existe la carpeta del archivo de depuración: %1").arg(carpeta));
    // A real file tells what permissions alone do not (root, a read-only mount).
    const QString prueba = QDir(carpeta).filePath(QStringLiteral(".cribanzas-prueba-%1").arg(::getpid()));
    const int fd = ::open(QFile::encodeName(prueba).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        const int e = errno;
        throw ErrorSistema(
            Errores::PermisoDenegado,
            QStringLiteral("No se puede escribir en la carpeta del archivo de depuración %1: %2")
                .arg(carpeta, textoErrno(e)));
    }
    ::close(fd);
    ::unlink(QFile::encodeName(prueba).constData());
    const QString ruta = QDir(carpeta).filePath(nombre);
    if (QFileInfo::exists(ruta) || QFileInfo(ruta).isSymLink())
        throw ErrorSistema(kErrorArchivoExistente,
                           QStringLiteral("Ya existe el archivo %1: la depuración no reemplaza un archivo de "
                                          "depuración.")
                               .arg(ruta));
    QStorageInfo disco(carpeta);
    disco.refresh();
    const qint64 libres = disco.bytesAvailable();
    if (libres >= 0 && libres < bytesEstimados) {
        const auto mb = [](qint64 b) { return QString::number((b + (1 << 20) - 1) >> 20); };
        throw ErrorSistema(
            Errores::ErrorEntradaSalida,
            QStringLiteral("No hay espacio suficiente en la carpeta del archivo de depuración %1: "
                           "el archivo necesitará unos %2 MB y quedan %3 MB libres.")
                .arg(carpeta, mb(bytesEstimados), mb(libres)));
    }
}

// ---- Writing -------------------------------------------------------------------------------

struct EscritorArchivo::Privado {
    QString ruta;
    sqlite3* db = nullptr;
    bool creado = false;                   // this writer made the file
    bool verificadoAlgunaVez = false;      // something in it is an archive
    std::map<QString, QString> manifiesto; // keys to write with the next verification

    // The open table.
    bool abierta = false;
    TablaArchivo tabla;
    Sentencia insercion;
    std::unique_ptr<Tuberia> tuberia; // after insercion: its thread stops before the statement goes
    std::unique_ptr<HuellaTabla> huella;
    bool enTransaccion = false;
    ConversorDatos conversor;
    // Tables closed and not verified yet.
    std::vector<TablaArchivo> pendientes;

    [[noreturn]] void fallar(int codigo, const QString& tablaNombre = QString()) {
        fallarEscritura(ruta, tablaNombre, archivo_p::TextoErrorSqlite(db, codigo));
    }
    void exigir(int codigo, const QString& tablaNombre = QString()) {
        if (codigo != SQLITE_OK && codigo != SQLITE_DONE) fallar(codigo, tablaNombre);
    }
    void empezar() {
        exigir(ejecutar(db, "BEGIN IMMEDIATE"), tabla.nombre);
        enTransaccion = true;
    }
    void cometer(const QString& tablaNombre) {
        const int rc = ejecutar(db, "COMMIT");
        if (rc != SQLITE_OK) {
            ejecutar(db, "ROLLBACK");
            enTransaccion = false;
            fallar(rc, tablaNombre);
        }
        enTransaccion = false;
    }
    bool existeTabla(const QString& nombre) {
        Sentencia q;
        if (q.preparar(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE lower(name) = lower(?)")) !=
            SQLITE_OK)
            return false;
        ligarTexto(q.s, 1, nombre);
        return sqlite3_step(q.s) == SQLITE_ROW;
    }
    void sincronizarTodo() {
        int e = sincronizar(ruta, false);
        if (e == 0) e = sincronizar(QFileInfo(ruta).absolutePath(), true);
        if (e != 0)
            fallarEscritura(ruta, QString(),
                            QStringLiteral("no se pudo asegurar en el disco: %1").arg(textoErrno(e)));
    }
    // Drops the tables that were not verified (best effort: the disk may be what failed).
    void descartarPendientes() {
        tuberia.reset();
        insercion.cerrar();
        if (enTransaccion) ejecutar(db, "ROLLBACK");
        enTransaccion = false;
        QStringList nombres;
        for (const auto& t : pendientes)
            nombres << t.nombre;
        if (abierta) nombres << tabla.nombre;
        abierta = false;
        pendientes.clear();
        if (nombres.isEmpty() || !verificadoAlgunaVez) return;
        if (ejecutar(db, "BEGIN IMMEDIATE") != SQLITE_OK) return;
        for (const QString& n : nombres)
            ejecutar(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(Citado(nombreParcial(n))));
        if (ejecutar(db, "COMMIT") != SQLITE_OK) ejecutar(db, "ROLLBACK");
    }
    void abrir(int flags) {
        const int rc =
            sqlite3_open_v2(QFile::encodeName(ruta).constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) fallar(rc);
        sqlite3_extended_result_codes(db, 1);
        // The rollback journal keeps what was verified whole if the process dies while tables
        // are added; row batches need not reach the disk one by one (Verificar syncs).
        exigir(ejecutar(db, "PRAGMA page_size=16384; PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; "
                            "PRAGMA cache_size=-8192"));
    }
};

EscritorArchivo::EscritorArchivo(std::unique_ptr<Privado> d) : d_(std::move(d)), ruta_(d_->ruta) {}

std::unique_ptr<EscritorArchivo> EscritorArchivo::Crear(const QString& ruta, const Manifiesto& manifiesto) {
    auto d = std::make_unique<Privado>();
    d->ruta = QFileInfo(ruta).absoluteFilePath();
    // O_EXCL: of two purges that chose the same name, one gets the file and the other stops.
    const int fd = ::open(QFile::encodeName(d->ruta).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        const int e = errno;
        if (e == EEXIST)
            throw ErrorSistema(
                kErrorArchivoExistente,
                QStringLiteral("Ya existe el archivo %1: la depuración no reemplaza un archivo "
                               "de depuración.")
                    .arg(d->ruta));
        fallarEscritura(d->ruta, QString(), textoErrno(e));
    }
    ::close(fd);
    d->creado = true;
    std::unique_ptr<EscritorArchivo> e(new EscritorArchivo(std::move(d)));
    Privado& p = *e->d_;
    p.abrir(SQLITE_OPEN_READWRITE);
    p.empezar();
    p.exigir(ejecutar(p.db, "CREATE TABLE manifiesto (clave TEXT PRIMARY KEY, valor TEXT);"
                            "CREATE TABLE tablas (nombre TEXT PRIMARY KEY, origen TEXT, filas INTEGER, "
                            "sha256 TEXT, orden TEXT);"
                            "CREATE TABLE columnas (tabla TEXT, posicion INTEGER, nombre TEXT, tipo TEXT, "
                            "PRIMARY KEY (tabla, posicion));"));
    Sentencia q;
    p.exigir(q.preparar(p.db, QStringLiteral("INSERT OR REPLACE INTO manifiesto VALUES (?, ?)")));
    Manifiesto todo = manifiesto;
    todo.emplace_back(QStringLiteral("formato"), QStringLiteral("1"));
    todo.emplace_back(QStringLiteral("estado"), QStringLiteral("escribiendo"));
    for (const auto& [clave, valor] : todo) {
        ligarTexto(q.s, 1, clave);
        ligarTexto(q.s, 2, valor);
        p.exigir(sqlite3_step(q.s));
        sqlite3_reset(q.s);
    }
    p.cometer(QString());
    return e;
}

std::unique_ptr<EscritorArchivo> EscritorArchivo::Continuar(const QString& ruta) {
    auto d = std::make_unique<Privado>();
    d->ruta = QFileInfo(ruta).absoluteFilePath();
    if (!QFileInfo(d->ruta).isFile())
        throw ErrorSistema(Errores::ArchivoNoEncontrado,
                           QStringLiteral("No se encuentra el archivo de depuración %1").arg(d->ruta));
    std::unique_ptr<EscritorArchivo> e(new EscritorArchivo(std::move(d)));
    Privado& p = *e->d_;
    p.abrir(SQLITE_OPEN_READWRITE);
    QString estado, formato;
    {
        Sentencia q;
        const int rc = q.preparar(p.db, QStringLiteral("SELECT clave, valor FROM manifiesto"));
        if (rc != SQLITE_OK)
            throw ErrorSistema(Errores::ErrorEntradaSalida,
                               QStringLiteral("%1 no es un archivo de depuración: %2")
                                   .arg(p.ruta, archivo_p::TextoErrorSqlite(p.db, rc)));
        while (sqlite3_step(q.s) == SQLITE_ROW) {
            const QString clave = textoColumna(q.s, 0);
            if (clave == QLatin1String("estado")) estado = textoColumna(q.s, 1);
            if (clave == QLatin1String("formato")) formato = textoColumna(q.s, 1);
        }
    }
    if (formato != QLatin1String("1") || estado != QLatin1String("verificado"))
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("El archivo %1 no es un archivo de depuración verificado: no se le "
                                          "agregan tablas.")
                               .arg(p.ruta));
    p.verificadoAlgunaVez = true;
    // Tables a killed process left half written.
    QStringList parciales;
    {
        Sentencia q;
        p.exigir(q.preparar(p.db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                                 "substr(name, 1, %1) = '%2'")
                                      .arg(qstrlen(kPrefijoParcial))
                                      .arg(QLatin1String(kPrefijoParcial))));
        while (sqlite3_step(q.s) == SQLITE_ROW)
            parciales << textoColumna(q.s, 0);
    }
    if (!parciales.isEmpty()) {
        p.empezar();
        for (const QString& t : parciales)
            p.exigir(ejecutar(p.db, QStringLiteral("DROP TABLE %1").arg(Citado(t))));
        p.cometer(QString());
    }
    return e;
}

EscritorArchivo::~EscritorArchivo() {
    if (!d_) return;
    Privado& p = *d_;
    if (p.db) {
        p.descartarPendientes();
        p.insercion.cerrar();
        sqlite3_close(p.db);
        p.db = nullptr;
    }
    // A file it made where nothing was ever verified is no archive.
    if (p.creado && !p.verificadoAlgunaVez) {
        QFile::remove(p.ruta + QStringLiteral("-journal"));
        QFile::remove(p.ruta);
    }
}

void EscritorArchivo::FijarManifiesto(const QString& clave, const QString& valor) {
    d_->manifiesto[clave] = valor;
}

void EscritorArchivo::AbrirTabla(const QString& nombre, const QString& origen, const QString& orden,
                                 const std::vector<ColumnaArchivo>& columnas) {
    Privado& p = *d_;
    if (p.abierta)
        throw ErrorSistema(
            Errores::OperacionNoPermitida,
            QStringLiteral("La tabla %1 del archivo de depuración sigue abierta.").arg(p.tabla.nombre));
    if (columnas.empty())
        throw ErrorSistema(
            Errores::LlamadaNoValida,
            QStringLiteral("La tabla %1 del archivo de depuración no tiene columnas.").arg(nombre));
    for (const auto& t : p.pendientes)
        if (t.nombre.compare(nombre, Qt::CaseInsensitive) == 0)
            throw ErrorSistema(
                Errores::OperacionNoPermitida,
                QStringLiteral("La tabla %1 ya está en el archivo de depuración.").arg(nombre));
    if (p.existeTabla(nombre))
        throw ErrorSistema(
            Errores::OperacionNoPermitida,
            QStringLiteral("La tabla %1 ya está en el archivo de depuración %2.").arg(nombre, p.ruta));
    p.tabla = TablaArchivo{nombre, origen, orden, 0, QString(), columnas};
    QStringList nombres, marcas;
    for (const auto& c : columnas) {
        nombres << Citado(c.nombre);
        marcas << QStringLiteral("?");
    }
    const QString parcial = Citado(nombreParcial(nombre));
    p.empezar();
    p.exigir(ejecutar(p.db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(parcial)), nombre);
    // No declared types: every value keeps the storage class it came with.
    p.exigir(
        ejecutar(p.db,
                 QStringLiteral("CREATE TABLE %1 (%2)").arg(parcial, nombres.join(QStringLiteral(", ")))),
        nombre);
    p.exigir(p.insercion.preparar(
                 p.db,
                 QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(parcial, marcas.join(QStringLiteral(",")))),
             nombre);
    p.huella = std::make_unique<HuellaTabla>(clasesDe(columnas));
    p.tuberia = std::make_unique<Tuberia>(p.db, p.insercion.s, int(columnas.size()));
    p.abierta = true;
}

void EscritorArchivo::Agregar(const Dato* fila) {
    Privado& p = *d_;
    if (!p.abierta)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("No hay ninguna tabla abierta en el archivo de depuración."));
    p.huella->Agregar(fila);
    p.tuberia->Agregar(fila,
                       [&](int, const QString& motivo) { fallarEscritura(p.ruta, p.tabla.nombre, motivo); });
}

void EscritorArchivo::Agregar(const QVariant* fila) {
    Agregar(d_->conversor.Convertir(fila, d_->huella ? d_->huella->Columnas() : 0).data());
}

qint64 EscritorArchivo::FilasTabla() const {
    return d_->huella ? d_->huella->Filas() : 0;
}

TablaArchivo EscritorArchivo::CerrarTabla() {
    Privado& p = *d_;
    if (!p.abierta)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("No hay ninguna tabla abierta en el archivo de depuración."));
    p.tuberia->Terminar([&](int, const QString& motivo) { fallarEscritura(p.ruta, p.tabla.nombre, motivo); });
    p.tuberia.reset();
    p.insercion.cerrar();
    p.cometer(p.tabla.nombre);
    p.tabla.filas = p.huella->Filas();
    p.tabla.sha256 = p.huella->Sha256();
    p.huella.reset();
    p.abierta = false;
    p.pendientes.push_back(p.tabla);
    return p.tabla;
}

std::vector<TablaArchivo> EscritorArchivo::Verificar() {
    Privado& p = *d_;
    if (p.abierta) CerrarTabla();
    // On disk first; then what is on disk, through a connection of its own.
    p.sincronizarTodo();
    {
        sqlite3* lectura = nullptr;
        int rc = sqlite3_open_v2(QFile::encodeName(p.ruta).constData(), &lectura,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        const auto cerrar = qScopeGuard([&] { sqlite3_close(lectura); });
        if (rc != SQLITE_OK) p.fallar(rc);
        for (const TablaArchivo& t : p.pendientes) {
            Recuento r;
            rc = recontar(lectura, nombreParcial(t.nombre), t.columnas, r);
            if (rc != SQLITE_OK)
                throw ErrorSistema(
                    Errores::ErrorEntradaSalida,
                    QStringLiteral("No se pudo verificar el archivo de depuración %1 (tabla %2): %3")
                        .arg(p.ruta, t.nombre, archivo_p::TextoErrorSqlite(lectura, rc)));
            if (r.filas != t.filas || r.sha256 != t.sha256)
                throw ErrorSistema(
                    Errores::ErrorEntradaSalida,
                    QStringLiteral(
                        "El archivo de depuración %1 no guarda lo que se escribió en la tabla %2: "
                        "se escribieron %3 filas y se leen %4; huella SHA-256 escrita %5, leída %6.")
                        .arg(p.ruta, t.nombre)
                        .arg(t.filas)
                        .arg(r.filas)
                        .arg(t.sha256, r.sha256));
        }
    }
    // This commit is the archive's word that the tables are whole: it waits for the disk.
    p.exigir(ejecutar(p.db, "PRAGMA synchronous=FULL"));
    p.empezar();
    for (const TablaArchivo& t : p.pendientes) {
        p.exigir(ejecutar(p.db, QStringLiteral("ALTER TABLE %1 RENAME TO %2")
                                    .arg(Citado(nombreParcial(t.nombre)), Citado(t.nombre))),
                 t.nombre);
        Sentencia q;
        p.exigir(q.preparar(p.db, QStringLiteral("INSERT INTO tablas VALUES (?, ?, ?, ?, ?)")), t.nombre);
        ligarTexto(q.s, 1, t.nombre);
        ligarTexto(q.s, 2, t.origen);
        sqlite3_bind_int64(q.s, 3, t.filas);
        ligarTexto(q.s, 4, t.sha256);
        ligarTexto(q.s, 5, t.orden);
        p.exigir(sqlite3_step(q.s), t.nombre);
        p.exigir(q.preparar(p.db, QStringLiteral("INSERT INTO columnas VALUES (?, ?, ?, ?)")), t.nombre);
        for (size_t i = 0; i < t.columnas.size(); ++i) {
            ligarTexto(q.s, 1, t.nombre);
            sqlite3_bind_int64(q.s, 2, qint64(i + 1));
            ligarTexto(q.s, 3, t.columnas[i].nombre);
            ligarTexto(q.s, 4, t.columnas[i].tipo);
            p.exigir(sqlite3_step(q.s), t.nombre);
            sqlite3_reset(q.s);
        }
    }
    p.manifiesto[QStringLiteral("estado")] = QStringLiteral("verificado");
    {
        Sentencia q;
        p.exigir(q.preparar(p.db, QStringLiteral("INSERT OR REPLACE INTO manifiesto VALUES (?, ?)")));
        for (const auto& [clave, valor] : p.manifiesto) {
            ligarTexto(q.s, 1, clave);
            ligarTexto(q.s, 2, valor);
            p.exigir(sqlite3_step(q.s));
            sqlite3_reset(q.s);
        }
    }
    p.cometer(QString());
    ejecutar(p.db, "PRAGMA synchronous=OFF");
    p.sincronizarTodo();
    p.verificadoAlgunaVez = true;
    p.manifiesto.clear();
    std::vector<TablaArchivo> hechas;
    hechas.swap(p.pendientes);
    return hechas;
}

void EscritorArchivo::Quitar(const QStringList& tablas) {
    Privado& p = *d_;
    if (p.abierta)
        throw ErrorSistema(
            Errores::OperacionNoPermitida,
            QStringLiteral("La tabla %1 del archivo de depuración sigue abierta.").arg(p.tabla.nombre));
    p.exigir(ejecutar(p.db, "PRAGMA synchronous=FULL"));
    p.empezar();
    for (const QString& t : tablas) {
        p.exigir(ejecutar(p.db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(Citado(t))), t);
        p.exigir(ejecutar(p.db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(Citado(nombreParcial(t)))), t);
        Sentencia q;
        for (const char* sql :
             {"DELETE FROM tablas WHERE nombre = ?", "DELETE FROM columnas WHERE tabla = ?"}) {
            p.exigir(q.preparar(p.db, QString::fromLatin1(sql)), t);
            ligarTexto(q.s, 1, t);
            p.exigir(sqlite3_step(q.s), t);
        }
        std::erase_if(p.pendientes, [&](const TablaArchivo& x) { return x.nombre == t; });
    }
    p.cometer(QString());
    ejecutar(p.db, "PRAGMA synchronous=OFF");
    p.sincronizarTodo();
}

// ---- Reading -------------------------------------------------------------------------------

QVariant ValorDeDato(const Dato& d) {
    switch (d.tipo) {
    case Dato::Tipo::Nulo:
        return QVariant();
    case Dato::Tipo::Entero:
        return QVariant::fromValue(qlonglong(d.entero));
    case Dato::Tipo::Real:
        return d.real;
    case Dato::Tipo::Binario:
        return QByteArray(d.datos, d.largo);
    case Dato::Tipo::Texto:
    case Dato::Tipo::Fecha:
        break;
    }
    return QString::fromUtf8(d.datos, d.largo);
}

namespace {
[[noreturn]] void noEsArchivo(const QString& ruta, const QString& motivo) {
    throw ErrorSistema(Errores::ErrorEntradaSalida,
                       QStringLiteral("%1 no es un archivo de depuración: %2").arg(ruta, motivo));
}

// Opens an archive read-only into db and reads its manifest. Raises ErrorSistema when the file
// is not a purge archive (not SQLite, no manifest, another format); db is the caller's to close.
Manifiesto abrirManifiesto(const QString& ruta, sqlite3*& db) {
    const auto abrir = [&](int flags) {
        sqlite3_close(db);
        db = nullptr;
        // One thread uses each connection: no locking on every call.
        const int rc =
            sqlite3_open_v2(QFile::encodeName(ruta).constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) noEsArchivo(ruta, archivo_p::TextoErrorSqlite(db, rc));
        sqlite3_extended_result_codes(db, 1);
    };
    abrir(SQLITE_OPEN_READONLY);
    Sentencia q;
    int rc = q.preparar(db, QStringLiteral("SELECT clave, valor FROM manifiesto ORDER BY clave"));
    if (rc == SQLITE_READONLY_ROLLBACK) {
        // A process died while adding tables: SQLite puts back the last verified state when the
        // file is opened for writing once.
        q.cerrar();
        abrir(SQLITE_OPEN_READWRITE);
        ejecutar(db, "SELECT count(*) FROM sqlite_master");
        abrir(SQLITE_OPEN_READONLY);
        rc = q.preparar(db, QStringLiteral("SELECT clave, valor FROM manifiesto ORDER BY clave"));
    }
    if (rc != SQLITE_OK) noEsArchivo(ruta, archivo_p::TextoErrorSqlite(db, rc));
    Manifiesto m;
    while ((rc = sqlite3_step(q.s)) == SQLITE_ROW)
        m.emplace_back(textoColumna(q.s, 0), textoColumna(q.s, 1));
    if (rc != SQLITE_DONE) noEsArchivo(ruta, archivo_p::TextoErrorSqlite(db, rc));
    QString formato;
    for (const auto& [clave, valor] : m)
        if (clave == QLatin1String("formato")) formato = valor;
    if (formato != QLatin1String("1"))
        noEsArchivo(ruta, QStringLiteral("formato desconocido \"%1\"").arg(formato));
    return m;
}
} // namespace

bool ArchivoSinVerificar(const QString& ruta) {
    if (!QFileInfo(ruta).isFile()) return false;
    sqlite3* db = nullptr;
    const auto cerrar = qScopeGuard([&] { sqlite3_close(db); });
    try {
        for (const auto& [clave, valor] : abrirManifiesto(ruta, db))
            if (clave == QLatin1String("estado")) return valor == QLatin1String("escribiendo");
    } catch (const ErrorSistema&) {
    }
    return false;
}

LectorArchivo::LectorArchivo(const QString& ruta) : ruta_(QFileInfo(ruta).absoluteFilePath()) {
    if (!QFileInfo(ruta_).isFile())
        throw ErrorSistema(Errores::ArchivoNoEncontrado,
                           QStringLiteral("No se encuentra el archivo de depuración %1").arg(ruta_));
    try {
        manifiesto_ = abrirManifiesto(ruta_, db_);
        Sentencia q;
        int rc = SQLITE_OK;
        if (ValorManifiesto(QStringLiteral("estado")) != QLatin1String("verificado"))
            throw ErrorSistema(
                Errores::ErrorEntradaSalida,
                QStringLiteral("El archivo de depuración %1 quedó a medio escribir (estado \"%2\"): "
                               "no es un archivo verificado.")
                    .arg(ruta_, ValorManifiesto(QStringLiteral("estado"))));
        rc = q.preparar(db_, QStringLiteral("SELECT nombre, origen, filas, sha256, orden FROM tablas"));
        if (rc != SQLITE_OK) noEsArchivo(ruta_, archivo_p::TextoErrorSqlite(db_, rc));
        while (sqlite3_step(q.s) == SQLITE_ROW)
            tablas_.push_back(TablaArchivo{textoColumna(q.s, 0),
                                           textoColumna(q.s, 1),
                                           textoColumna(q.s, 4),
                                           sqlite3_column_int64(q.s, 2),
                                           textoColumna(q.s, 3),
                                           {}});
        rc = q.preparar(
            db_, QStringLiteral("SELECT nombre, tipo FROM columnas WHERE tabla = ? ORDER BY posicion"));
        if (rc != SQLITE_OK) noEsArchivo(ruta_, archivo_p::TextoErrorSqlite(db_, rc));
        for (TablaArchivo& t : tablas_) {
            ligarTexto(q.s, 1, t.nombre);
            while (sqlite3_step(q.s) == SQLITE_ROW)
                t.columnas.push_back(ColumnaArchivo{textoColumna(q.s, 0), textoColumna(q.s, 1)});
            sqlite3_reset(q.s);
        }
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

LectorArchivo::~LectorArchivo() {
    sqlite3_close(db_);
}

QString LectorArchivo::ValorManifiesto(const QString& clave) const {
    for (const auto& [c, v] : manifiesto_)
        if (c == clave) return v;
    return QString();
}

const TablaArchivo* LectorArchivo::Tabla(const QString& nombre) const {
    for (const auto& t : tablas_)
        if (t.nombre == nombre) return &t;
    return nullptr;
}

void LectorArchivo::Recorrer(const QString& tabla, const std::function<bool(const Dato*)>& porFila) const {
    const TablaArchivo* t = Tabla(tabla);
    if (!t)
        throw ErrorSistema(
            Errores::ElementoNoEncontrado,
            QStringLiteral("El archivo de depuración %1 no tiene la tabla %2.").arg(ruta_, tabla));
    Sentencia q;
    int rc = q.preparar(db_, QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(Citado(tabla)));
    const auto fallar = [&](int codigo) {
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("No se pudo leer la tabla %1 del archivo de depuración %2: %3")
                               .arg(tabla, ruta_, archivo_p::TextoErrorSqlite(db_, codigo)));
    };
    if (rc != SQLITE_OK) fallar(rc);
    const int n = sqlite3_column_count(q.s);
    if (n != int(t->columnas.size()))
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("La tabla %1 del archivo de depuración %2 tiene %3 columnas y su "
                                          "descripción %4.")
                               .arg(tabla, ruta_)
                               .arg(n)
                               .arg(t->columnas.size()));
    std::vector<Dato> fila(static_cast<size_t>(n));
    while ((rc = sqlite3_step(q.s)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i)
            fila[size_t(i)] = DatoDeColumna(q.s, i);
        if (!porFila(fila.data())) return;
    }
    if (rc != SQLITE_DONE) fallar(rc);
}

std::vector<LectorArchivo::Diferencia> LectorArchivo::Verificar() const {
    std::vector<Diferencia> r;
    for (const TablaArchivo& t : tablas_) {
        // The digest covers the values; the names say where a restore puts them.
        QStringList nombres, descritos;
        {
            Sentencia q;
            if (q.preparar(db_, QStringLiteral("SELECT name FROM pragma_table_info(?)")) == SQLITE_OK) {
                ligarTexto(q.s, 1, t.nombre);
                while (sqlite3_step(q.s) == SQLITE_ROW)
                    nombres << textoColumna(q.s, 0);
            }
        }
        for (const auto& c : t.columnas)
            descritos << c.nombre;
        if (nombres != descritos) {
            r.push_back(Diferencia{t.nombre, t.filas, -1, t.sha256, QString(), true});
            continue;
        }
        Recuento cuenta;
        const int rc = recontar(db_, t.nombre, t.columnas, cuenta);
        if (rc != SQLITE_OK) cuenta.sha256 = archivo_p::TextoErrorSqlite(db_, rc);
        if (rc != SQLITE_OK || cuenta.filas != t.filas || cuenta.sha256 != t.sha256)
            r.push_back(Diferencia{t.nombre, t.filas, cuenta.filas, t.sha256, cuenta.sha256});
    }
    return r;
}

void LectorArchivo::ExigirIntegro() const {
    const auto diferencias = Verificar();
    if (diferencias.empty()) return;
    const Diferencia& d = diferencias.front();
    if (d.columnas)
        throw ErrorSistema(
            Errores::ErrorEntradaSalida,
            QStringLiteral("El archivo de depuración %1 fue modificado o está dañado: la tabla %2 "
                           "no tiene las columnas que su descripción enumera.")
                .arg(ruta_, d.tabla));
    throw ErrorSistema(Errores::ErrorEntradaSalida,
                       QStringLiteral("El archivo de depuración %1 fue modificado o está dañado: la tabla %2 "
                                      "debería tener %3 filas con la huella SHA-256 %4, y tiene %5 filas con "
                                      "la huella %6.")
                           .arg(ruta_, d.tabla)
                           .arg(d.filasEsperadas)
                           .arg(d.shaEsperado)
                           .arg(d.filasHalladas)
                           .arg(d.shaHallado));
}
