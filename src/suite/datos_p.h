#pragma once
// Internals shared by Sesion and Recordset (not part of the suite's interface).
#include "suite/recordset.h"
#include "suite/sesion.h"

#include <optional>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <vector>

struct sqlite3_stmt;

// What a column holds, decided once per column so that reading a row is a switch.
enum class ClaseColumna : unsigned char { Otra, Texto, Entero, Decimal, Logica, Fecha, Binaria };

struct Columna {
    QString nombre;
    ClaseColumna clase = ClaseColumna::Otra;
    long tamano = 255;
};

// The normalised form of a value read from a column of that class (Null is QVariant()).
QVariant NormalizarValor(QVariant&& v, ClaseColumna clase);
// Class and defined size of a column from its declared SQL type ("varchar(40)", "DATETIME").
Columna ColumnaDeTipoDeclarado(const QString& nombre, const QString& tipo);

// The values of a row read straight from an ODBC statement. Qt's driver fetches a column as the
// type the driver declares for it, and SQLite's ODBC driver guesses that type for a computed
// column (SUM) from its first row: a later 12.75 would arrive as 12. Here a value comes as the
// driver's own text (binary data as bytes, floating columns as doubles) and becomes a number
// only when it is one; text arrives as UTF-16, whatever the process locale.
class LectorOdbc {
public:
    // Takes the statement of an executed query; false (and inactive) when it is not ODBC's.
    bool Preparar(const QSqlQuery& q);
    bool Activo() const { return sentencia_ != nullptr; }
    void Olvidar() {
        sentencia_ = nullptr;
        tipos_.clear();
    }
    // Column i (0-based) of the current row; Null is QVariant(). Raises ErrorSistema.
    QVariant Leer(int columna) const;

private:
    void* sentencia_ = nullptr;
    std::vector<short> tipos_;
};

struct RecordsetDatos {
    enum class Modo { Cerrado, Flujo, Memoria };

    Sesion* sesion = nullptr;
    QString sql; // as given (before translation)
    int cursor = 0;
    int bloqueo = 1;
    Modo modo = Modo::Cerrado;
    bool actualizable = false;
    bool vacio = true; // the result had no row
    bool eof = true;
    std::vector<Columna> columnas;
    int ncols = 0;

    // Streaming: the open query and the current row.
    std::optional<QSqlQuery> consulta;
    LectorOdbc odbc; // active on the ODBC route
    std::vector<QVariant> actual;
    long descartadas = 0; // rows passed while streaming (MoveFirst must re-run when > 0)

    // Streaming on the SQLite route, stepped here (LecturaDirecta): a column's value in
    // `actual` is built from the statement when first asked (porConstruir[i]).
    sqlite3_stmt* directa = nullptr;
    std::vector<unsigned char> porConstruir;
    bool utf8 = false;                         // the database keeps its texts as UTF-8
    std::vector<std::vector<char16_t>> anchos; // by column: its text widened here
    void construir(int i);
    void construirFila();

    // In memory: every row, flat; indice is the current row.
    std::vector<QVariant> filas;
    long nfilas = 0;
    long indice = 0;
    bool completo = false; // filas hold the result from its first row (MoveFirst stays in memory)
    // Why reading the result failed part way: the rows after that are unknown, so the recordset
    // neither ends nor moves any more (a retry must open it again).
    QString lecturaFallida;

    // Updatable recordsets: the values as the database gave them (to find the row again),
    // the row being edited, and what was staged.
    std::vector<QVariant> originales;
    std::vector<QVariant> edicion;
    std::vector<bool> cambiadas;
    bool editando = false;
    bool nuevo = false;

    // The current row's values (points into actual, filas or edicion; null at BOF/EOF).
    const QVariant* fila = nullptr;

    void apuntarFila();
    // Reads the rest of a streaming result into memory (before another statement runs).
    void leerResto();
    // Ends the query and forgets the rows; the session forgets the recordset.
    void cerrar();
};

// The session's side, used by the recordsets.
struct SesionInterna {
    static void Registrar(Sesion& s, RecordsetDatos* d);
    static void Olvidar(Sesion& s, RecordsetDatos* d);
    static void CambioAFlujo(Sesion& s, int delta);
    // Reads every streaming result of the session into memory.
    static void LeerPendientes(Sesion& s);
    // Before any statement (as written, and as sent): reads pending results, checks the
    // transaction, calls the hooks.
    static void AntesDe(Sesion& s, const QString& sql, const QString& texto);
    // Prepares a statement: reads pending results, translates, calls the hook, prepares.
    static QSqlQuery Preparar(Sesion& s, const QString& sql, bool soloAdelante = true);
    // Executes a prepared statement; raises with the lead text on failure.
    static void Ejecutar(Sesion& s, QSqlQuery& q, const QString& lead);
    static bool EsSQLite(const Sesion& s);
    static bool RutaSQLite(const Sesion& s);
    static QVariant ValorParaLigar(const Sesion& s, const QVariant& v);
    [[noreturn]] static void Fallar(Sesion& s, const QString& lead, const QSqlError& e);
};
