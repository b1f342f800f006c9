#pragma once
// Compaction after a purge: the space the deleted rows held.
//
// - SQLite: the program compacts (VACUUM) when the operator asks ("Compactar ahora" in the
//   window's final message, --compactar in the unattended mode), with the progress display and
//   the size before and after. VACUUM writes a full copy of the live pages in SQLite's
//   temporary folder and then a rollback journal (or the WAL) beside the database, each about
//   as large as the copy: the free space of both places is checked first, and a compaction
//   that would not fit is refused before anything is written.
// - SQL Server: shrinking the files is the DBA's decision (it fragments the indexes, and the
//   file grows back with the next year's rows): the program only says how much space the purged
//   tables held, from sp_spaceused before and after the purge.
//
// For the integration: the window asks ClaseDeCompactacion once the purge ends. For SQLite it
// offers "Compactar ahora", which calls Compactar (it checks the space itself; a refusal is an
// ErrorSistema whose text is the message to show) and shows TextoCompactacion. For SQL Server
// the purge calls MedirEspacioServidor before its first deletion and after its last, and adds
// TextoEspacioServidor to the final message. The session must be out of any transaction, with
// no recordset still reading.
#include <QString>
#include <QStringList>
#include <vector>

class Avance;
class Operador;
class Sesion;

enum class ClaseCompactacion {
    SQLite,   // VACUUM, on the file the session has open
    Servidor, // SQL Server: figures only
    Ninguna   // another engine: nothing to offer
};
ClaseCompactacion ClaseDeCompactacion(Sesion& sesion);

// ---- SQLite ---------------------------------------------------------------------------------

struct EspacioCompactacion {
    QString base;            // the database file
    qint64 bytes = 0;        // its size on disk (with its WAL)
    qint64 bytesEnUso = 0;   // its pages in use: the size of VACUUM's copy
    QString carpetaTemporal; // where SQLite writes the copy; empty: in memory
    qint64 libreTemporal = -1, necesarioTemporal = 0;
    QString carpetaBase; // where the journal goes
    qint64 libreBase = -1, necesarioBase = 0;
    bool mismoDisco = false; // both on one file system: both needs come out of one free space
};

// Measures what a VACUUM of the session's SQLite file needs and has. Raises ErrorSistema, with a
// Spanish message naming the folder and the sizes, when either place is short; when the session
// is not on a SQLite file; or when it is inside a transaction.
EspacioCompactacion ComprobarEspacioCompactacion(Sesion& sesion);

struct ResultadoCompactacion {
    QString base;
    qint64 antes = 0, despues = 0; // bytes on disk
    qint64 milisegundos = 0;
};

// Compacts the session's SQLite file: the checks of ComprobarEspacioCompactacion, then VACUUM
// through the session (it waits for other stations like any statement), with the progress
// display started, updated with an estimate of the share done (on Qt's SQLite driver; through
// ODBC the display shows the sizes only) and closed. A WAL is checkpointed and truncated after,
// so that the file's size is the real one. Raises ErrorSistema in Spanish; a failed VACUUM
// leaves the database as it was (SQLite rolls it back).
ResultadoCompactacion Compactar(Sesion& sesion, Avance& avance);

// "La base de datos ocupaba 61,2 MB y ahora ocupa 40,1 MB: se liberaron 21,1 MB."
QString TextoCompactacion(const ResultadoCompactacion& resultado);

// ---- SQL Server -----------------------------------------------------------------------------

struct EspacioTablaServidor {
    QString tabla;
    qint64 filas = -1, reservado = -1, datos = -1, indices = -1, sinUsar = -1; // bytes; -1 unknown
};
struct EspacioServidor {
    qint64 tamanio = -1, sinAsignar = -1; // the database's files, and their space not allocated
    std::vector<EspacioTablaServidor> tablas;
};

// The statements, for the grammar check.
namespace SentenciasCompactacion {
QString EspacioBase();                      // EXEC sp_spaceused
QString EspacioTabla(const QString& tabla); // EXEC sp_spaceused N'tabla'
} // namespace SentenciasCompactacion

// sp_spaceused for the database and for each table (a view or a table the server refuses is
// left unknown). Never raises: figures that cannot be had stay -1.
EspacioServidor MedirEspacioServidor(Sesion& sesion, const QStringList& tablas);
// What the purged tables held, for the final message, and why nothing was shrunk.
QString TextoEspacioServidor(const EspacioServidor& antes, const EspacioServidor& despues);

// "1234 KB", "12.50 MB", "3 GB" as sp_spaceused writes them, in bytes; -1 when not a size.
qint64 BytesDeTexto(const QString& texto);
// A size for the operator: "812 KB", "61,2 MB", "1,5 GB".
QString TextoTamanio(qint64 bytes);

// ---- The final message of a complete purge ------------------------------------------------------

// The tables whose space a purge frees: the journal and the stock movements.
QStringList TablasDepuradas();

// What the window offers once a purge is complete. Made before the purge: on SQL Server it
// measures the purged tables then.
class OfertaCompactacion {
public:
    explicit OfertaCompactacion(Sesion& sesion);
    // The purge's success message, shown in its place: on SQLite with "Compactar ahora" (the
    // compaction runs with the progress display, and its result or its refusal is a second
    // message); on SQL Server with the space the purged rows held; and with "Abrir carpeta" when
    // carpetaListados is given. Never raises.
    void MensajeFinal(Operador& operador, Avance& avance, const QString& texto, int estilo,
                      const QString& titulo, const QString& carpetaListados = {});

private:
    Sesion& sesion_;
    ClaseCompactacion clase_;
    EspacioServidor antes_;
};
