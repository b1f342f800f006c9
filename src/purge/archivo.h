#pragma once
// The purge archive: one SQLite file per purge that holds every row the purge deletes, checked
// on disk before anything is deleted, and read back by the restore and the listings.
//
// The file (format 1; anyone opens it with `sqlite3 FILE`):
// - manifiesto(clave, valor): formato, programa, servidor, base, ejercicio, fecha_desde,
//   fecha_hasta, fecha_corte, operador, equipo, inicio, fin, estado, archivo_anterior. `estado`
//   is "escribiendo" from its creation until the first verification, then "verificado": every
//   table listed in `tablas` was read back from disk and matched what was written.
// - tablas(nombre, origen, filas, sha256, orden): one row per verified data table, with its
//   row count and the digest of its canonical rows (purge/archivo_canonico.h).
// - columnas(tabla, posicion, nombre, tipo): each data table's columns with the source's
//   declared types.
// - the data tables (asientos, movimientos, configuracion, saldo_inicial), columns named as
//   in the source and declared without a type, so that every value keeps the storage class it
//   came with; a SQLite rowid that is not a column of its own comes first as _rowid_origen.
// A table is written as "_parcial_<nombre>" and becomes <nombre>, listed in `tablas`, in the
// transaction that records its verification: a write cut short (a killed process, a full
// disk) never leaves a table that looks archived. The file is created empty with O_EXCL, so
// two purges never share one, and it is written with SQLite's rollback journal, so a process
// killed while adding tables to a verified archive leaves the verified part as it was.
//
// How the purge uses it (call sequence for the integration):
//
//   Before any change:
//     ComprobarCarpetaArchivo(carpeta, nombre, EstimarBytesArchivo(filas, bytesPorFila))
//       nombre = NombreArchivoDepuracion(base, ejercicio, now); filas from the dry run's counts;
//       bytesPorFila = BytesPorFila(DescribirTabla(...).columnas) (archivo_origen.h), a generous
//       guess (about 1.8 times the real size of the demo's stock rows). The default folder
//       (CarpetaArchivoPorDefecto) is the caller's to create. A refusal is an ErrorSistema whose
//       text names the folder (unattended status 1, nothing changed).
//     auto escritor = EscritorArchivo::Crear(ruta, manifiesto)   // estado "escribiendo"
//     Record the file name and station in the pending purge record.
//     ArchivarTabla(sesion, *escritor, kTablaConfiguracion, DescribirTabla(sesion, "TA_CONFIGURACION"),
//                   <the keys the purge changes>)  // as they were: before the operating period moves
//
//   Journal phase, in one database transaction:
//     BEGIN
//     ArchivarTabla(sesion, *escritor, kTablaAsientos, DescribirTabla(sesion, "MV_ASIENTOS"),
//                   "CONVERT(INT,PERIODO) = <year>", BloqueoLectura::Tabla)   // locked until COMMIT
//     escritor->Verificar()    // sync, reread through a read-only connection, mark verified
//     DELETE the year's journal: its row count must equal the archive's `asientos` count,
//     otherwise ROLLBACK
//     COMMIT
//   A failure before COMMIT deletes nothing. If the archive was verified by then, it stands
//   for rows the database still has: Quitar({kTablaAsientos}) (or leave it to the rerun, which
//   rewrites it through Continuar). Destroying a writer drops what it did not verify and removes
//   a file it created that holds nothing verified.
//
//   Stock phase, inside the stock transaction, right after the statement that takes the lock:
//     ArchivarTabla(... kTablaMovimientos, DescribirTabla(sesion, "V_MV_STOCK"),
//                   <the deletion's own condition>)   // before the opening balances go in
//     insert the opening balances, then
//     ArchivarTabla(... kTablaSaldoInicial, same table, "TC = 'SI' AND IDCOMPROBANTE = <voucher>")
//     delete the movements: the row count must equal the `movimientos` count
//     FijarManifiesto("fin", ...); escritor->Verificar()  // before the commit
//     COMMIT. A rollback after Verificar: Quitar({kTablaMovimientos, kTablaSaldoInicial}), so
//     that the archive never claims rows the database still has; the rerun writes them again.
//   A rerun of an interrupted purge continues the same file with EscritorArchivo::Continuar
//   (it drops a table a killed process left half written), or, when that file cannot be
//   reached, creates a new one whose manifest key archivo_anterior names the first.
//
//   Restore:
//     LectorArchivo archivo(ruta); archivo.ExigirIntegro();     // refuses an edited archive
//     in one database transaction: Recorrer(kTablaAsientos / kTablaMovimientos) and insert
//     each row with its columns (ValorDeDato gives the QVariant to bind; _rowid_origen, when
//     there, is the rowid to insert); delete the rows listed in saldo_inicial; put back
//     FECHAULTIMADEPURACION from configuracion.
//
// Threads: the writer and the reader belong to the thread that made them. Nothing here keeps
// rows in memory beyond one batch.
#include "purge/archivo_canonico.h"
#include "suite/error.h"

#include <functional>
#include <memory>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The runtime's "file already exists".
inline constexpr long kErrorArchivoExistente = 58;

// The data tables of a purge archive.
inline constexpr char kTablaAsientos[] = "asientos";
inline constexpr char kTablaMovimientos[] = "movimientos";
inline constexpr char kTablaConfiguracion[] = "configuracion";
inline constexpr char kTablaSaldoInicial[] = "saldo_inicial";
// The column that keeps a SQLite rowid that is not a column of its own.
inline constexpr char kColumnaRowid[] = "_rowid_origen";

struct ColumnaArchivo {
    QString nombre;
    QString tipo; // declared type in the source: "numeric(18,2)", "DATETIME", "varchar(60)"
    bool operator==(const ColumnaArchivo&) const = default;
};

// A data table of the archive as `tablas` and `columnas` describe it.
struct TablaArchivo {
    QString nombre;
    QString origen; // the source table
    QString orden;  // "IdMovimiento", "rowid", "*" (all columns), key columns joined by ","
    qint64 filas = 0;
    QString sha256;
    std::vector<ColumnaArchivo> columnas;
};

using Manifiesto = std::vector<std::pair<QString, QString>>;

// ---- Before any change ---------------------------------------------------------------------

// The default folder: the user's data folder (XDG) and "archivos" in it.
QString CarpetaArchivoPorDefecto();
// "depuracion-<base>-<year>-<yyyyMMdd-HHmmss>.sqlite"; the base name is the database file's
// name without folder and extension, or the data source's name, with characters outside
// [A-Za-z0-9_-] turned into "_".
QString NombreArchivoDepuracion(const QString& base, const QString& ejercicio, const QDateTime& momento);
// Bytes an archive of `filas` rows of about bytesPorFila bytes takes, with SQLite's overhead.
qint64 EstimarBytesArchivo(qint64 filas, qint64 bytesPorFila);
// A generous guess of a row's stored size from the declared types.
qint64 BytesPorFila(const std::vector<ColumnaArchivo>& columnas);
// Raises ErrorSistema, with a message naming the folder, when the folder is missing or cannot
// be written, when its free space is below bytesEstimados, or when a file of that name exists.
void ComprobarCarpetaArchivo(const QString& carpeta, const QString& nombre, qint64 bytesEstimados);

// ---- Writing -------------------------------------------------------------------------------

class EscritorArchivo {
public:
    // A new archive at ruta (refused when anything is there), with its manifest: the writer
    // adds formato "1" and estado "escribiendo".
    static std::unique_ptr<EscritorArchivo> Crear(const QString& ruta, const Manifiesto& manifiesto);
    // An existing archive, to add tables to it (a purge continued in a later run). A table cut
    // short by a killed process is dropped.
    static std::unique_ptr<EscritorArchivo> Continuar(const QString& ruta);
    // Drops the tables not verified yet; removes the file when nothing in it was ever verified.
    ~EscritorArchivo();
    EscritorArchivo(const EscritorArchivo&) = delete;
    EscritorArchivo& operator=(const EscritorArchivo&) = delete;

    QString Ruta() const { return ruta_; }
    // Sets a manifest key; written with the next verification.
    void FijarManifiesto(const QString& clave, const QString& valor);

    // Starts a data table (its name must not be in the archive yet).
    void AbrirTabla(const QString& nombre, const QString& origen, const QString& orden,
                    const std::vector<ColumnaArchivo>& columnas);
    // One row: as many values as the table has columns.
    void Agregar(const Dato* fila);
    void Agregar(const QVariant* fila);
    // Rows and digest of the open table so far.
    qint64 FilasTabla() const;
    // Ends the open table; returns its count and digest as written.
    TablaArchivo CerrarTabla();
    // Syncs the file and its folder, reads every table written since the last verification
    // back through a new read-only connection, compares counts and digests and, only when all
    // match, lists them in `tablas` and marks the archive "verificado" (synced again). Raises
    // ErrorSistema naming the table that does not match. Returns the tables it verified.
    std::vector<TablaArchivo> Verificar();
    // Takes tables out of the archive (their rows went back to being the database's).
    void Quitar(const QStringList& tablas);

private:
    struct Privado;
    explicit EscritorArchivo(std::unique_ptr<Privado> d);
    std::unique_ptr<Privado> d_;
    QString ruta_;
};

// ---- Reading -------------------------------------------------------------------------------

// A value read from an archive as a QVariant to bind: Null, qlonglong, double, QString or
// QByteArray.
QVariant ValorDeDato(const Dato& dato);

// Whether the file at ruta is a purge archive cut short before its first verification (estado
// "escribiendo"): it holds nothing, and no row was deleted on its word.
bool ArchivoSinVerificar(const QString& ruta);

class LectorArchivo {
public:
    // Opens the archive read-only. Raises ErrorSistema when the file is not a purge archive
    // (not SQLite, no manifest, another format) or is not verified.
    explicit LectorArchivo(const QString& ruta);
    ~LectorArchivo();
    LectorArchivo(const LectorArchivo&) = delete;
    LectorArchivo& operator=(const LectorArchivo&) = delete;

    QString Ruta() const { return ruta_; }
    const Manifiesto& DatosManifiesto() const { return manifiesto_; }
    QString ValorManifiesto(const QString& clave) const; // empty when missing
    const std::vector<TablaArchivo>& Tablas() const { return tablas_; }
    const TablaArchivo* Tabla(const QString& nombre) const;

    // The rows of a table in the archive's order; the values are valid during the call.
    // Returning false stops. Raises ErrorSistema when the table is not in the archive.
    void Recorrer(const QString& tabla, const std::function<bool(const Dato* fila)>& porFila) const;

    struct Diferencia {
        QString tabla;
        qint64 filasEsperadas = 0, filasHalladas = 0;
        QString shaEsperado, shaHallado;
        bool columnas = false; // its columns are not the ones `columnas` lists
    };
    // Recounts and rehashes every table, and checks its columns' names against `columnas`; the
    // tables that do not match.
    std::vector<Diferencia> Verificar() const;
    // Raises ErrorSistema naming the first table that does not match.
    void ExigirIntegro() const;

private:
    QString ruta_;
    sqlite3* db_ = nullptr;
    Manifiesto manifiesto_;
    std::vector<TablaArchivo> tablas_;
};
