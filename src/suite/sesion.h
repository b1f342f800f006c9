#pragma once
// The suite's database session. Qt's SQLite driver when DbName names a SQLite database file
// (ends in .db, .sqlite or .sqlite3, or contains a path separator); Qt's ODBC driver otherwise,
// with DbName as the data-source name and Usuario/Password as the login.
//
// Statements are T-SQL texts. When the database behind the session is SQLite (through
// either driver) they go through TraducirTSQL (suite/tsql.h) first; against SQL Server they go unchanged.
// Every failure raises ErrorSistema (number Errores::BaseDeDatos and the driver's text).
#include "suite/error.h"
#include "suite/recordset.h"
#include "suite/tsql.h"
#include <functional>
#include <optional>
#include <QString>
#include <QVariant>
#include <utility>

class QSqlDatabase;
class QSqlDriver;

// Cursor and lock types of AbrirRecordset (ADO's numbers).
namespace Cursor {
inline constexpr int SoloAdelante = 0;
inline constexpr int Dinamico = 2;
} // namespace Cursor
namespace Bloqueo {
inline constexpr int SoloLectura = 1;
inline constexpr int Optimista = 3;
} // namespace Bloqueo
namespace TipoClave {
inline constexpr long Entero = 3;
inline constexpr long Texto = 8;
} // namespace TipoClave

// One statement the session sends, as its observer sees it: once before it goes, and once
// after, with its outcome.
struct SentenciaSesion {
    QString sql;                  // as the system wrote it (T-SQL)
    QString enviada;              // as the database gets it (translated when SQLite is behind)
    bool hecha = false;           // false: about to go; true: it went, the outcome follows
    QVariantList valores;         // after: the values bound to its "?" markers
    qint64 filas = -1;            // after: rows it changed (-1: it returns rows, or the driver says not)
    std::optional<QString> error; // after: why it failed
};

class Sesion {
public:
    Sesion();
    ~Sesion();
    Sesion(const Sesion&) = delete;
    Sesion& operator=(const Sesion&) = delete;

    bool Conectado() const;
    QString Server() const;
    void setServer(const QString& v);
    QString DbName() const;
    void setDbName(const QString& v);
    QString Usuario() const;
    void setUsuario(const QString& v);
    QString Password() const;
    void setPassword(const QString& v);
    // Connection string for other components: "DSN=name;UID=user;PWD=pass" for ODBC,
    // "DRIVER=QSQLITE;Database=path" for a SQLite file.
    QString CadenaConexion() const;

    // Opens the connection from the four properties. A refused connection is not raised:
    // it shows a message through the operator seam with the driver's own text, and
    // Conectado() stays false.
    void Conectar();
    void Desconectar();

    // Command time-out in seconds: the ODBC query time-out, and on a SQLite file how long a
    // statement waits for another writer's lock (the connection itself waits 5 s at most). 0: no
    // limit.
    int CommandTimeout() const;
    void setCommandTimeout(int segundos);
    bool EsSQLite() const;
    // The DBMS name an ODBC driver reports ("Microsoft SQL Server", ...); empty on Qt's SQLite.
    QString Motor() const;

    // True when a row of the table has that key; a given recordset comes back open on that
    // row. Key type 3: the key must be a plain whole number (else: not found, no statement
    // runs); type 8: quoted text literal.
    bool Existe(const QString& tabla, const QString& clave, const QString& campoClave, Recordset* rs,
                long tipoClave, const QString& condicion);
    // The wanted field of the row with that key, as text (empty text when none).
    QVariant ValorCampo(const QString& tabla, const QString& clave, const QString& campo,
                        const QString& campoClave, long tipoClave, const QString& condicion);
    void CerrarRecordset(Recordset& rs);
    // Returns the rows the statement changed (-1 when the driver does not say).
    qint64 Ejecutar(const QString& sql);
    // Opens rs on the statement (closing it first when still open).
    void AbrirRecordset(const QString& sql, Recordset& rs, int cursor = Cursor::SoloAdelante,
                        int bloqueo = Bloqueo::SoloLectura, int opciones = -1);
    // A literal for an INSERT's VALUES list: "'" gives a Unicode text literal N'...' (quotes
    // doubled), so that SQL Server keeps every character in nvarchar columns; "@" writes a
    // number with "." as decimal point; Null gives NULL with either delimiter.
    QVariant ValorSQL(const QVariant& valor, const QString& delimitador) const;

    // Runs a statement with "?" markers and the values bound in that order, with the same
    // checks, translation and hook as Ejecutar. The statement stays prepared while the same
    // text comes again, so that a long run of batches is sent with one plan.
    void EjecutarConValores(const QString& sql, const QVariantList& valores);
    // The value to bind where ValorSQL(valor, delimitador) would paste a literal, so that the
    // database stores the same: "@" gives the literal's number (a whole number, a double for
    // SQLite, else the literal's digits as text for the server to read as it reads the
    // literal); any other delimiter gives the text between the quotes. Null gives Null. The
    // same errors as ValorSQL.
    QVariant ValorParametro(const QVariant& valor, const QString& delimitador) const;
    // How many "?" one statement may carry on this back end. A lower limit can be set (0 takes
    // the back end's again); it holds across connections.
    int LimiteParametros() const;
    void setLimiteParametros(int limite);

    // Transactions (the stock purge runs all or nothing). On SQLite the transaction takes
    // the write lock as it starts (BEGIN IMMEDIATE), waiting for other writers like any
    // statement; through the ODBC driver the data source's Timeout is the wait. On SQL Server
    // the statements inside take their locks.
    void IniciarTransaccion();
    void ConfirmarTransaccion();
    void DeshacerTransaccion();
    bool EnTransaccion() const;

    // Observer of every statement the session sends (the statement log, tests, benchmarks).
    // Before a statement it may throw ErrorSistema to simulate a failure: the statement then
    // does not go. After it, it must not throw nor use the session.
    std::function<void(const SentenciaSesion&)> Observador;
    // The short form for tests: the text sent, before every statement (and before the
    // observer sees it); may throw ErrorSistema likewise.
    std::function<void(const QString& sql)> AntesDeEjecutar;
    // Tests: before a recordset reads a row from the database, with its statement as written;
    // may throw ErrorSistema, and the read then fails as a driver's failed read does.
    std::function<void(const QString& sql)> AntesDeLeer;
    // Tests: false keeps streaming SQLite results on Qt's reading, to compare it with the
    // recordsets that step the statement themselves (Recordset::LecturaDirecta).
    bool LecturaDirecta = true;
    // Tests: a data source opened through this driver instead of Qt's ODBC one, with the DBMS
    // name it stands for (a double of a server). The session owns the driver it gives.
    std::function<std::pair<QSqlDriver*, QString>()> ControladorDeServidor;
    // A statement on a SQLite file that has waited a few seconds for another writer: told about
    // once a second with the seconds waited and the most it waits, then once with -1 when the
    // statement has its outcome. It runs inside the wait: it may show and paint, not use the
    // session. (Through ODBC the driver waits inside its call, and nothing is told.)
    std::function<void(int segundos, int limite)> AvisoDeEspera;

    // The Qt connection (for the recordsets and tests).
    QSqlDatabase Base() const;

private:
    friend class Recordset;
    friend struct SesionInterna;
    struct Privado;
    std::unique_ptr<Privado> d_;
};
