#pragma once
// Demo and fixture databases (SQLite) with the suite's tables: fiscal years, journal,
// configuration, voucher types, stock movements and the four lookup tables.
//
// Conventions of the files it writes:
// - dates are text, "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (never Qt's ISO form with a "T");
//   DATE/DATETIME declared types and varchar(n) lengths are real, the data layer reads them;
// - key text columns are COLLATE NOCASE, as the suite's server collation is case-insensitive;
// - MV_ASIENTOS.PERIODO is text ("2022"; a few rows carry a trailing blank, "2022 "), as the
//   suite's statements convert it with CONVERT(INT,PERIODO);
// - quantities are multiples of 1/8, so sums of them are exact in double precision;
// - V_MV_STOCK.Anulado defaults to 0, so rows inserted without it count as valid.
//
// Every generated file is a pure function of the options (seed included): the generator uses
// its own PRNG, never the standard library's distributions.
//
// Functions given a path open a uniquely named connection of their own and remove it before
// returning; those given a QSqlDatabase use it as it is.
#include <optional>
#include <QDate>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace demodb {

struct OpcionesDemo {
    quint64 semilla = 1;
    // Fiscal years primerEjercicio..ultimoEjercicio, Jan 1 to Dec 31. Their closing marks,
    // counted from the last one: open (Cerrado 0, CIERRE 0); listed through CIERRE only
    // (Cerrado 0, CIERRE 1: refused); Cerrado NULL with CIERRE 1 (accepted); the older ones
    // closed (Cerrado 1, CIERRE alternately 1 and 0).
    int primerEjercicio = 2021;
    int ultimoEjercicio = 2025;
    // Rows of MV_ASIENTOS (journal lines, in balanced entries of 2 to 4 lines).
    int asientos = 2000;
    // Rows of V_MV_STOCK, not counting the earlier "SI" voucher.
    int movimientos = 5000;
    // Distinct balance groups (article, unit, depot, position, serial, lot, description).
    // Every group gets a valid movement in the first year, so any cut-off from the end of the
    // first year on sees exactly min(gruposObjetivo, movimientos) of them (plus the earlier
    // "SI" voucher's). 0: movimientos / 10 (at least 1).
    int gruposObjetivo = 0;
    // Rows of each lookup table (V_MA_ARTICULOS, VT_CLIENTES, VT_PROVEEDORES, MA_CONTACTOS).
    // Stock uses the articles of V_MA_ARTICULOS; with movements it has at least one row.
    int filasConsulta = 200;
    // An earlier purge: year primerEjercicio-1 listed as closed with no journal left, an "SI"
    // voucher dated its Dec 31 (one row per article for max(20, groups / 100) of the articles,
    // depot/position/serial/lot NULL, ControladoPor "Depuracion"), and FECHAULTIMADEPURACION set
    // to its Jan 1. Its rows are groups of their own.
    bool conSaldoInicialPrevio = true;
    QString comprobanteSIPrevio = QStringLiteral("000100000001X");
    // V_TA_CPTE holds the type "SI".
    bool conTipoSI = true;
    // Share of vouchers (after the first year's intake) that are annulled (Anulado 1), in percent.
    // About one in two hundred has Anulado NULL.
    int porcentajeAnulados = 3;
    // About one journal line in a hundred stores PERIODO with a trailing blank.
    bool periodoConBlancos = true;
    // Index on V_MV_STOCK(FECHA), on (TC, IDCOMPROBANTE) and on MV_ASIENTOS(PERIODO).
    bool conIndices = true;
};

struct ResumenDemo {
    QList<QPair<QString, qint64>> filasPorTabla; // every table, by name
    qint64 grupos = 0;                           // groups of the generated movements (earlier "SI" excluded)
    qint64 gruposSaldoPrevio = 0;                // rows (and groups) of the earlier "SI" voucher
    qint64 milisegundos = 0;                     // time to build the file
};

// Creates the demo database at ruta. An existing file is replaced only when it is a SQLite
// database (or empty); anything else is refused and left as it is. The file is built beside
// ruta and moved over it when complete, so a failure leaves the old one.
//
// What it holds besides the years described above:
// - TA_CONFIGURACION: the operating period "fechaoperdesde"/"fechaoperhasta" (dd/MM/yyyy, the
//   last year) under Grupo "DATOS", the suite settings read at start-up, and
//   "FECHAULTIMADEPURACION" with an earlier purge;
// - V_TA_CPTE: SI, RC, FC, RM, NC, AJ, PR, CO, DV, and OC, PE that move no stock;
// - V_MV_STOCK: rows in date order (IdMovimiento grows with FECHA); vouchers of 1 to 10 lines
//   numbered per type and prefix ("0002" "00000041" "A"), so one number can appear under
//   several types; most dates without a time, some with one, every Dec 31 with a closing at a
//   time of day (some at 23:59:59), some on Jan 1 at 00:00:00; about 3% of the vouchers
//   annulled and 0.5% with Anulado NULL; lot-controlled articles (NroLote), serial-tracked ones
//   (NroSerie, quantities of 1), others by depot and position; CantidadUD = CANTIDAD times a
//   factor of the article (often 0); a few descriptions with quotes (O'Brien, tipo "A");
// - MV_ASIENTOS: balanced entries numbered per year in date order;
// - lookup tables with Spanish names, about 6% suspended articles and 7-10% deactivated
//   customers and suppliers.
bool CrearBaseDemo(const QString& ruta, const OpcionesDemo& opciones, QString* error,
                   ResumenDemo* resumen = nullptr);

// The CREATE TABLE statements, then the CREATE INDEX statements, of the schema.
QStringList SentenciasEsquema();
// The same, tables only / indexes only.
QStringList SentenciasTablas();
QStringList SentenciasIndices();

// The schema with no rows at all (not even voucher types), for hand-made fixtures.
// Same replacement rule as CrearBaseDemo.
bool CrearEsquemaVacio(const QString& ruta, QString* error);
// The schema on a connection already open (":memory:" included).
bool CrearEsquema(const QSqlDatabase& db, QString* error);

// A lookup benchmark table nombreTabla(CODIGO varchar(20), DESCRIPCION varchar(60),
// RUBRO varchar(30), MARCA varchar(30)) with `filas` rows, in the file at ruta (created when
// missing; a table of that name is replaced). CODIGO is unique; the other columns repeat.
bool CrearTablaConsulta(const QString& ruta, const QString& nombreTabla, int filas, quint64 semilla,
                        QString* error);

// Whether a file may be replaced: missing, empty, or a SQLite database.
bool EsReemplazable(const QString& ruta, QString* error);

// --- Stock balances -----------------------------------------------------------------------

enum class Agrupacion {
    Completa,                 // article, unit, depot, position, serial, lot, description
    ArticuloUnidadDescripcion // what an opening balance keeps
};

struct OpcionesSaldo {
    // Movements dated on or before this day (any time of that day). Invalid: no date limit.
    QDate hasta;
    Agrupacion agrupacion = Agrupacion::Completa;
    // false: only Anulado = 0 counts (the purge's rule); true: Anulado NULL counts too.
    bool anuladoNuloValido = false;
};

struct SaldoStock {
    QString idArticulo;
    QString idUnidad;
    std::optional<qint64> idDeposito;  // the next four are empty for NULL and with
    std::optional<QString> idPosicion; // Agrupacion::ArticuloUnidadDescripcion
    std::optional<QString> nroSerie;
    std::optional<QString> nroLote;
    QString descripcion;
    double cantidad = 0;   // SUM(CANTIDAD)
    double cantidadUD = 0; // SUM(CantidadUD), NULL as 0
    qint64 movimientos = 0;
    bool operator==(const SaldoStock&) const = default;
};

// The balance per group, ordered by the group's columns. Returns false and sets error on failure.
bool SaldosStock(const QSqlDatabase& db, const OpcionesSaldo& opciones, QList<SaldoStock>* saldos,
                 QString* error);
bool SaldosStock(const QString& ruta, const OpcionesSaldo& opciones, QList<SaldoStock>* saldos,
                 QString* error);

// --- Inspection ---------------------------------------------------------------------------

// Rows per table (sqlite_master's tables, by name).
bool ContarFilas(const QString& ruta, QList<QPair<QString, qint64>>* filas, QString* error);
// SHA-256 of the schema text and every row of every table (in rowid order): equal files give
// equal fingerprints.
QByteArray Huella(const QString& ruta, QString* error);

} // namespace demodb
