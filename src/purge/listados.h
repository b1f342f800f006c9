#pragma once
// The year's listings, as PDF, printed from a purge archive (purge/archivo.h): what the purge
// deleted or carried, on paper, for the auditor.
//
// - "Libro Diario <year>": every column of the archived journal rows (archive table
//   `asientos`), in the table's order, sorted by entry number and date where the table has
//   such columns (found by name: NROASIENTO, NUMEROASIENTO, ... and FECHA, FECHAASIENTO, ...,
//   or its first date column), otherwise in the archive's order (the source's key). The
//   amount columns (decimal, numeric with decimals, money) are totalled on the last page.
// - "Existencias al <cut-off date>": the carried opening-balance rows (`saldo_inicial`):
//   article, description, unit, depot and quantity, and position, serial and lot when any row
//   has one; sorted by article and depot; the count and the total quantity at the end.
//
// Each on A4, upright when its columns fit and across otherwise, with a header on every page
// (title, database, year and dates, the purge's time, operator and station, the archive's name,
// "Página N de M") and the column headings repeated. Nothing is cut: a text too wide for its
// column is broken into lines, and when the columns do not fit the type gets smaller.
//
// Rendering runs without a display (cairo and pango, no Qt GUI) and keeps memory flat: the
// rows are read three times (measure, paginate, draw) and only page offsets are kept. Each PDF
// is written under a temporary name in its folder, synced and renamed: a failure leaves no
// half-written listing, and two processes printing the same listings each leave a whole one.
//
// Threads: one call at a time per thread; nothing is shared between calls.
#include <QString>
#include <QStringList>
#include <vector>

class Avance;

enum class Listado { LibroDiario, Existencias };

struct ListadoEmitido {
    Listado listado = Listado::LibroDiario;
    QString titulo;   // "Libro Diario 2022", "Existencias al 31/12/2022"
    QString ruta;     // the PDF
    qint64 filas = 0; // rows listed
    int paginas = 0;  // pages written
    bool horizontal = false;
};

struct OpcionesListados {
    // Where the PDFs go; empty: the archive's folder.
    QString carpeta;
    // Recount and rehash the archive before printing it (LectorArchivo::ExigirIntegro). A purge
    // that has just verified its archive may skip it; a listing asked for later should not.
    bool verificarArchivo = true;
    // Progress, when given: only Mostrar is called (the caller starts and closes the display).
    Avance* avance = nullptr;
};

// The PDF of a listing of the archive at rutaArchivo: the archive's name without its extension,
// and "-libro-diario.pdf" or "-existencias.pdf", in carpeta (empty: beside the archive).
QString RutaListado(const QString& rutaArchivo, Listado listado, const QString& carpeta = {});

// Prints the listings of the archive at rutaArchivo. A listing whose table the archive does not
// have (a purge that carried no stock, a rerun that archived only what was left) is not made;
// a table with no rows gives a listing that says so. An existing PDF of the same name is
// replaced. Raises ErrorSistema, in Spanish, when the archive cannot be read or is not whole,
// or when a PDF cannot be written (the folder and the cause named); a failure leaves no PDF of
// that listing behind, and the listings already written stay.
std::vector<ListadoEmitido> EmitirListados(const QString& rutaArchivo, const OpcionesListados& opciones = {});

// What the purge does with its listings once its archive is verified: the PDFs, or why they
// could not be made. A listing that fails never undoes the purge (the archive is the safety):
// the final message adds Texto(), and the exit status stays the purge's.
struct ResultadoListados {
    std::vector<ListadoEmitido> emitidos;
    QString error; // empty: every listing the archive has was made
    bool Bien() const { return error.isEmpty(); }
    QStringList Rutas() const;
    // The folder of the PDFs (empty when none was made).
    QString Carpeta() const;
    // For the final message: the PDFs made, or that the listings could not be made, why, and
    // the command that prints them later from the archive.
    QString Texto(const QString& rutaArchivo) const;
};

// EmitirListados for the purge: never raises. The archive is not rehashed (the purge has just
// verified it; LectorArchivo still refuses one that is not "verificado"). carpeta empty: beside
// the archive. The progress display, when given, only gets Mostrar.
ResultadoListados EmitirListadosDepuracion(const QString& rutaArchivo, const QString& carpeta = {},
                                           Avance* avance = nullptr);
