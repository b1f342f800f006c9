#include "suite/sesion.h"

#include "suite/datos_p.h"
#include "suite/operador.h"
#include "suite/utilidades.h"

#include <climits>
#include <clocale>
#include <cmath>
#include <langinfo.h>
#include <QAtomicInt>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>
#include <QThread>
#include <QUrl>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

// ---- Binding values ------------------------------------------------------------

namespace {

struct FinalizarSqlite {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// Binds one value the way Qt's SQLite driver binds it.
int ligarSqlite(sqlite3_stmt* s, int i, const QVariant& v) {
    if (!v.isValid() || v.isNull()) return sqlite3_bind_null(s, i);
    switch (v.typeId()) {
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return sqlite3_bind_blob(s, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(s, i, v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(s, i, v.toDouble());
    default: {
        const QString t = v.toString();
        return sqlite3_bind_text16(s, i, t.utf16(), int(t.size() * 2), SQLITE_TRANSIENT);
    }
    }
}

QString textoDeError(const QSqlError& e) {
    QString t = e.databaseText().trimmed();
    const QString d = e.driverText().trimmed();
    if (t.isEmpty())
        t = d;
    else if (!d.isEmpty() && !t.contains(d))
        t += QStringLiteral(" (") + d + QChar(')');
    if (t.isEmpty()) t = QStringLiteral("error desconocido del controlador");
    return t;
}

} // namespace

// ---- The session ----------------------------------------------------------------

struct Sesion::Privado {
    QString server, dbName, usuario, password;
    int commandTimeout = 30;
    QString nombreConexion;
    QSqlDatabase db;
    bool conectado = false;
    bool rutaSqlite = false; // QSQLITE driver
    bool esSqlite = false;   // SQLite behind either driver
    QString motor;           // the DBMS name an ODBC driver reports
    bool enTransaccion = false;
    bool transaccionPerdida = false;
    std::vector<RecordsetDatos*> recordsets;
    int enFlujo = 0;
    int limiteParametros = 0;
    // The statement EjecutarConValores keeps prepared (Qt's, or SQLite's own for a SQLite
    // file), its text as given and as sent, and how many values it was first run with (values
    // bound before stay bound: a shorter list must not reuse it).
    std::optional<QSqlQuery> preparada;
    std::unique_ptr<sqlite3_stmt, FinalizarSqlite> preparadaSqlite;
    QString textoPreparado, textoEnviado;
    qsizetype valoresPreparados = 0;

    void olvidarPreparada() {
        if (preparada) preparada->finish();
        preparada.reset();
        preparadaSqlite.reset();
        textoPreparado.clear();
        textoEnviado.clear();
        valoresPreparados = 0;
    }
    // Opens the connection named nombreConexion from the four properties: the empty text, or
    // why it could not.
    QString abrir(const std::function<std::pair<QSqlDriver*, QString>()>& controladorDeServidor);
    bool hayPreparada(const QString& sql, qsizetype valores) const {
        return (preparada || preparadaSqlite) && textoPreparado == sql && valoresPreparados == valores;
    }
    Sesion* sesion = nullptr;
    // The statement between its preparation and its outcome: as written and as sent.
    QString sqlPendiente, textoPendiente;

    // The wait for another writer on a SQLite file (SQLite's busy handler): when it started,
    // the last whole second told, whether the session is inside it, whether it is connecting.
    QElapsedTimer esperaReloj;
    int esperaDicha = -1;
    bool enEspera = false;
    bool conectando = false;
    static constexpr int kEsperaAlConectar = 5000; // ms, a refused connection must say so soon
    static constexpr int kEsperaVisible = 2000;    // ms: from here on the wait is shown

    int limiteEspera() const {
        if (conectando) return kEsperaAlConectar;
        return commandTimeout <= 0 || commandTimeout > 2000000 ? INT_MAX : commandTimeout * 1000;
    }
    // SQLite calls it while another connection holds the lock a statement needs; 0 gives up
    // (the statement fails with "database is locked"). Every statement waits up to the command
    // time-out, as on SQL Server, in short steps. The program's windows keep painting meanwhile:
    // only timers and paint events go through, never the operator's input, so nothing can
    // start another statement; one that tries anyway is refused (AntesDe).
    static int esperarOtroEscritor(void* datos, int veces) {
        // Nothing may unwind through SQLite: a failure in the notice ends the wait.
        try {
            return static_cast<Privado*>(datos)->esperar(veces);
        } catch (...) {
            return 0;
        }
    }
    int esperar(int veces) {
        if (veces == 0) esperaReloj.start();
        const qint64 ms = esperaReloj.elapsed();
        const int limite = limiteEspera();
        if (ms >= limite) return 0;
        struct Dentro {
            bool& b;
            explicit Dentro(bool& x) : b(x) { b = true; }
            ~Dentro() { b = false; }
        } dentro(enEspera);
        if (ms >= kEsperaVisible && int(ms / 1000) != esperaDicha) {
            esperaDicha = int(ms / 1000);
            if (sesion->AvisoDeEspera) sesion->AvisoDeEspera(esperaDicha, limite / 1000);
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        // SQLite's own steps: a lock let go soon is taken soon, a long one costs little.
        static constexpr int pasos[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50};
        const int paso = veces < int(std::size(pasos)) ? pasos[veces] : 50;
        QThread::msleep(ulong(std::min<qint64>(paso, limite - ms)));
        return 1;
    }
    // The statement that waited has its outcome: the display shows what it showed before.
    void finDeEspera() {
        if (esperaDicha < 0) return;
        esperaDicha = -1;
        if (sesion->AvisoDeEspera) sesion->AvisoDeEspera(-1, 0);
    }

    // Tells the observer about a statement; before it, the observer may throw.
    void avisarAntes(const QString& sql, const QString& texto) {
        sqlPendiente = sql;
        textoPendiente = texto;
        if (sesion->AntesDeEjecutar) sesion->AntesDeEjecutar(texto);
        if (sesion->Observador) sesion->Observador(SentenciaSesion{sql, texto, false, {}, -1, std::nullopt});
    }
    void avisarDespues(const QString& texto, QVariantList valores, qint64 filas,
                       std::optional<QString> error) {
        finDeEspera();
        const QString sql = texto == textoPendiente ? sqlPendiente : texto;
        sqlPendiente.clear();
        textoPendiente.clear();
        if (sesion->Observador)
            sesion->Observador(
                SentenciaSesion{sql, texto, true, std::move(valores), filas, std::move(error)});
    }
    // A transaction statement sent as text (SQLite): empty, or why it failed.
    std::optional<QString> ejecutarPropia(const QString& texto) {
        QSqlQuery q(db);
        std::optional<QString> error;
        if (!q.exec(texto)) error = textoDeError(q.lastError());
        q.finish();
        avisarDespues(texto, {}, -1, error);
        return error;
    }
    // Ends the transaction without a word (after a failure, or at disconnection).
    void deshacerCallando() {
        if (db.isOpen()) {
            if (esSqlite)
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK TRANSACTION"));
            else
                db.rollback();
        }
        enTransaccion = false;
        transaccionPerdida = false;
    }

    void leerPendientes() {
        if (enFlujo == 0) return;
        const auto copia = recordsets;
        for (RecordsetDatos* d : copia)
            if (d->modo == RecordsetDatos::Modo::Flujo) d->leerResto();
    }
    sqlite3* manejadorSqlite() const {
        if (!rutaSqlite || !db.isValid()) return nullptr;
        const QVariant h = db.driver()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
            return *static_cast<sqlite3* const*>(h.constData());
        return nullptr;
    }
    // Whether the database ended the open transaction by itself.
    bool transaccionCaida() {
        if (!enTransaccion) return false;
        if (transaccionPerdida) return true;
        if (sqlite3* h = manejadorSqlite()) return sqlite3_get_autocommit(h) != 0;
        // Only SQL Server says whether a transaction is still open.
        if (esSqlite || !db.isOpen() || !motor.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
            return !db.isOpen();
        const QString sql = QStringLiteral("SELECT @@TRANCOUNT");
        try {
            if (sesion->Observador)
                sesion->Observador(SentenciaSesion{sql, sql, false, {}, -1, std::nullopt});
        } catch (const ErrorSistema&) {
            return true; // a simulated failure: the check cannot tell, so the transaction is gone
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const bool ok = q.exec(sql) && q.next();
        if (sesion->Observador)
            sesion->Observador(SentenciaSesion{
                sql, sql, true, {}, -1, ok ? std::nullopt : std::optional(textoDeError(q.lastError()))});
        if (!ok) return true;
        return q.value(0).toInt() == 0;
    }
    void cerrarTodo() {
        const auto copia = recordsets;
        for (RecordsetDatos* d : copia)
            d->cerrar();
        recordsets.clear();
        enFlujo = 0;
    }
};

namespace {
// A SQLite file is named as one: by its extension or by a path. A bare name is a data source,
// even when a file of that name happens to lie in the working folder.
bool esRutaSqlite(const QString& nombre) {
    const QString t = nombre.trimmed();
    if (t.isEmpty()) return false;
    for (const char* ext : {".db", ".sqlite", ".sqlite3"})
        if (t.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) return true;
    return t.contains(QChar('/')) || t.contains(QChar('\\'));
}

QString nuevoNombreDeConexion() {
    static QAtomicInt contador;
    return QStringLiteral("cribanzas-sesion-%1").arg(contador.fetchAndAddRelaxed(1) + 1);
}

// QODBC hands its handles out as SQLHANDLE, which the type system knows as void*.
bool esManejadorOdbc(const QVariant& h) {
    return h.isValid() && (qstrcmp(h.typeName(), "SQLHANDLE") == 0 || qstrcmp(h.typeName(), "void*") == 0) &&
           *static_cast<const SQLHANDLE*>(h.constData()) != nullptr;
}

// unixODBC hands the application's wide text to a driver without wide entry points (SQLite's)
// in the codeset of LC_CTYPE, chosen once per connection when it opens. Under C that codeset has
// no "ñ", and statements would reach the database with their letters replaced. The narrow side
// of the drivers on this platform is UTF-8 (SQLite's own), whatever the process locale: the
// connection opens under a UTF-8 codeset, for this thread only.
class CodificacionUtf8 {
public:
    CodificacionUtf8() {
        if (qstrcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
        for (const char* nombre : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            const locale_t base = duplocale(uselocale(locale_t(nullptr)));
            if (base == locale_t(nullptr)) return;
            const locale_t utf8 = newlocale(LC_CTYPE_MASK, nombre, base);
            if (utf8 == locale_t(nullptr)) {
                freelocale(base);
                continue;
            }
            propia_ = utf8;
            anterior_ = uselocale(utf8);
            return;
        }
    }
    ~CodificacionUtf8() {
        if (propia_ == locale_t(nullptr)) return;
        uselocale(anterior_);
        freelocale(propia_);
    }
    CodificacionUtf8(const CodificacionUtf8&) = delete;
    CodificacionUtf8& operator=(const CodificacionUtf8&) = delete;

private:
    locale_t propia_ = locale_t(nullptr);
    locale_t anterior_ = locale_t(nullptr);
};

QString textoOdbc(SQLHDBC h, SQLUSMALLINT que) {
    SQLCHAR buf[256] = {};
    SQLSMALLINT largo = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(h, que, buf, sizeof buf - 1, &largo))) return {};
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(buf));
}
} // namespace

Sesion::Sesion() : d_(std::make_unique<Privado>()) {
    d_->sesion = this;
}
Sesion::~Sesion() {
    Desconectar();
}

bool Sesion::Conectado() const {
    return d_->conectado;
}
QString Sesion::Server() const {
    return d_->server;
}
void Sesion::setServer(const QString& v) {
    d_->server = v;
}
QString Sesion::DbName() const {
    return d_->dbName;
}
void Sesion::setDbName(const QString& v) {
    d_->dbName = v;
}
QString Sesion::Usuario() const {
    return d_->usuario;
}
void Sesion::setUsuario(const QString& v) {
    d_->usuario = v;
}
QString Sesion::Password() const {
    return d_->password;
}
void Sesion::setPassword(const QString& v) {
    d_->password = v;
}
int Sesion::CommandTimeout() const {
    return d_->commandTimeout;
}
void Sesion::setCommandTimeout(int segundos) {
    d_->commandTimeout = std::max(0, segundos);
}
bool Sesion::EsSQLite() const {
    return d_->esSqlite;
}
QString Sesion::Motor() const {
    return d_->motor;
}
QSqlDatabase Sesion::Base() const {
    return d_->db;
}

QString Sesion::CadenaConexion() const {
    if (esRutaSqlite(d_->dbName))
        return QStringLiteral("DRIVER=QSQLITE;Database=%1")
            .arg(QFileInfo(d_->dbName.trimmed()).absoluteFilePath());
    return QStringLiteral("DSN=%1;UID=%2;PWD=%3").arg(d_->dbName, d_->usuario, d_->password);
}

QString
Sesion::Privado::abrir(const std::function<std::pair<QSqlDriver*, QString>()>& controladorDeServidor) {
    QString fallo;
    std::optional<QString> motorDoble;
    QSqlDatabase base;
    if (rutaSqlite) {
        // Opened read-write without creating: a missing file is a refused connection.
        base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombreConexion);
        const QString ruta = QFileInfo(dbName.trimmed()).absoluteFilePath();
        base.setDatabaseName(QUrl::fromLocalFile(ruta).toString(QUrl::FullyEncoded) +
                             QStringLiteral("?mode=rw"));
        // The wait for other writers is the session's own (Privado::esperar).
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    } else {
        if (controladorDeServidor) {
            auto [controlador, motorDelDoble] = controladorDeServidor();
            base = QSqlDatabase::addDatabase(controlador, nombreConexion);
            motorDoble = motorDelDoble;
        } else {
            base = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), nombreConexion);
        }
        base.setDatabaseName(dbName);
        base.setUserName(usuario);
        base.setPassword(password);
        if (!server.isEmpty()) base.setHostName(server);
        base.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
    }
    bool abierta = false;
    if (rutaSqlite) {
        abierta = base.open();
        const QVariant h = abierta ? base.driver()->handle() : QVariant();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
            sqlite3_busy_handler(*static_cast<sqlite3* const*>(h.constData()), &Privado::esperarOtroEscritor,
                                 this);
    } else {
        const CodificacionUtf8 utf8;
        abierta = base.open();
    }
    if (!abierta) {
        fallo = textoDeError(base.lastError());
    } else if (rutaSqlite) {
        // A file that is not a database opens fine; the first read tells.
        conectando = true;
        QSqlQuery q(base);
        if (!q.exec(QStringLiteral("PRAGMA schema_version"))) fallo = textoDeError(q.lastError());
        conectando = false;
        finDeEspera();
    }
    // The local handle goes before the caller may remove a refused connection.
    if (!fallo.isEmpty())
        base.close();
    else {
        db = base;
        esSqlite = rutaSqlite;
        if (motorDoble) {
            motor = *motorDoble;
            esSqlite = motor.contains(QLatin1String("SQLite"), Qt::CaseInsensitive);
        } else if (!rutaSqlite) {
            const QVariant h = base.driver()->handle();
            if (esManejadorOdbc(h)) {
                const SQLHDBC hdbc = *static_cast<const SQLHANDLE*>(h.constData());
                motor = textoOdbc(hdbc, SQL_DBMS_NAME);
                esSqlite =
                    motor.contains(QLatin1String("SQLite"), Qt::CaseInsensitive) ||
                    textoOdbc(hdbc, SQL_DRIVER_NAME).contains(QLatin1String("sqlite"), Qt::CaseInsensitive);
            }
        }
    }
    return fallo;
}

void Sesion::Conectar() {
    Desconectar();
    auto& p = *d_;
    // Started without the suite's session line (from the desktop menu, say): say what is
    // missing instead of the ODBC manager's "data source name not found".
    if (p.dbName.trimmed().isEmpty()) {
        operador().MsgBox(
            QStringLiteral("No se pudo conectar con la base de datos: no se indicó cuál (@DbName).\r"
                           "La suite abre este programa con la sesión del operador en la línea de comandos, "
                           "por ejemplo:\r@DbName=CONTA;@Usuario=...;@Password=...;"),
            Estilo::Critico, QString());
        return;
    }
    p.rutaSqlite = esRutaSqlite(p.dbName);
    p.nombreConexion = nuevoNombreDeConexion();
    const QString fallo = p.abrir(ControladorDeServidor);
    if (!fallo.isEmpty()) {
        QSqlDatabase::removeDatabase(p.nombreConexion);
        p.nombreConexion.clear();
        operador().MsgBox(
            QStringLiteral("No se pudo conectar con la base de datos \"%1\":\r%2").arg(p.dbName, fallo),
            Estilo::Critico, QString());
        return;
    }
    p.conectado = true;
}

void Sesion::Desconectar() {
    auto& p = *d_;
    p.cerrarTodo();
    p.olvidarPreparada();
    if (p.db.isValid()) {
        if (p.enTransaccion) p.deshacerCallando();
        p.db.close();
        p.db = QSqlDatabase();
    }
    if (!p.nombreConexion.isEmpty()) QSqlDatabase::removeDatabase(p.nombreConexion);
    p.nombreConexion.clear();
    p.conectado = false;
    p.esSqlite = false;
    p.motor.clear();
    p.enTransaccion = false;
    p.transaccionPerdida = false;
}

// ---- Statements -------------------------------------------------------------------

void SesionInterna::Registrar(Sesion& s, RecordsetDatos* d) {
    s.d_->recordsets.push_back(d);
}
void SesionInterna::Olvidar(Sesion& s, RecordsetDatos* d) {
    auto& v = s.d_->recordsets;
    v.erase(std::remove(v.begin(), v.end(), d), v.end());
}
void SesionInterna::CambioAFlujo(Sesion& s, int delta) {
    s.d_->enFlujo = std::max(0, s.d_->enFlujo + delta);
}
bool SesionInterna::EsSQLite(const Sesion& s) {
    return s.d_->esSqlite;
}
bool SesionInterna::RutaSQLite(const Sesion& s) {
    return s.d_->rutaSqlite;
}

void SesionInterna::Fallar(Sesion& s, const QString& lead, const QSqlError& e) {
    auto& p = *s.d_;
    const QString texto = lead + textoDeError(e);
    if (p.enTransaccion && p.transaccionCaida()) {
        p.transaccionPerdida = true;
        throw ErrorSistema(Errores::TransaccionPerdida,
                           texto +
                               QStringLiteral("\rLa base de datos terminó la transacción por su cuenta."));
    }
    throw ErrorSistema(Errores::BaseDeDatos, texto);
}

void SesionInterna::LeerPendientes(Sesion& s) {
    s.d_->leerPendientes();
}

void SesionInterna::AntesDe(Sesion& s, const QString& sql, const QString& texto) {
    auto& p = *s.d_;
    if (p.enEspera)
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("La sesión está esperando a otra estación; la sentencia no se "
                                          "ejecutó."));
    if (!p.conectado || !p.db.isOpen())
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No hay conexión abierta con la base de datos."));
    p.leerPendientes();
    if (p.enTransaccion && (p.transaccionPerdida || (p.manejadorSqlite() && p.transaccionCaida()))) {
        p.transaccionPerdida = true;
        throw ErrorSistema(
            Errores::TransaccionPerdida,
            QStringLiteral(
                "La base de datos terminó la transacción por su cuenta; la sentencia no se ejecutó."));
    }
    p.avisarAntes(sql, texto);
}

QSqlQuery SesionInterna::Preparar(Sesion& s, const QString& sql, bool soloAdelante) {
    auto& p = *s.d_;
    const QString texto = p.esSqlite ? TraducirTSQL(sql) : sql;
    AntesDe(s, sql, texto);
    QSqlQuery q(p.db);
    q.setForwardOnly(soloAdelante);
    if (!q.prepare(texto)) {
        p.avisarDespues(texto, {}, -1, textoDeError(q.lastError()));
        Fallar(s, QStringLiteral("No se pudo ejecutar la sentencia: "), q.lastError());
    }
    if (!p.rutaSqlite && p.commandTimeout > 0) {
        const QVariant h = q.result()->handle();
        if (esManejadorOdbc(h))
            SQLSetStmtAttr(*static_cast<const SQLHANDLE*>(h.constData()), SQL_ATTR_QUERY_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(p.commandTimeout)),
                           SQL_IS_UINTEGER);
    }
    return q;
}

void SesionInterna::Ejecutar(Sesion& s, QSqlQuery& q, const QString& lead) {
    const bool ok = q.exec();
    const qint64 filas = ok && !q.isSelect() ? q.numRowsAffected() : -1;
    s.d_->avisarDespues(q.lastQuery(), q.boundValues(), filas,
                        ok ? std::nullopt : std::optional(textoDeError(q.lastError())));
    if (!ok) Fallar(s, lead, q.lastError());
}

QVariant SesionInterna::ValorParaLigar(const Sesion& s, const QVariant& v) {
    if (!v.isValid() || v.isNull()) return QVariant(QMetaType::fromType<QString>());
    if (!s.d_->esSqlite) return v;
    // One text form for dates in SQLite, so that they compare as text.
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::QDateTime: {
        const QDateTime t = v.toDateTime();
        return t.toString(t.time().msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                          : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    default:
        return v;
    }
}

qint64 Sesion::Ejecutar(const QString& sql) {
    QSqlQuery q = SesionInterna::Preparar(*this, sql);
    SesionInterna::Ejecutar(*this, q, QStringLiteral("No se pudo ejecutar la sentencia: "));
    const qint64 filas = q.isSelect() ? -1 : q.numRowsAffected();
    q.finish();
    return filas;
}

void Sesion::EjecutarConValores(const QString& sql, const QVariantList& valores) {
    auto& p = *d_;
    sqlite3* const h = p.manejadorSqlite();
    // Nothing stays prepared after a failure: a retry does not lean on a statement that failed.
    auto fallar = [&](const QString& texto, const QString& motivo, const QSqlError& e) {
        p.olvidarPreparada();
        p.avisarDespues(texto, valores, -1, motivo);
        SesionInterna::Fallar(*this, QStringLiteral("No se pudo ejecutar la sentencia: "), e);
    };
    auto fallarSqlite = [&](const QString& texto, int r, const QString& motivo) {
        fallar(texto, motivo,
               QSqlError(QStringLiteral("Unable to execute statement"), motivo, QSqlError::StatementError,
                         QString::number(r)));
    };
    if (p.hayPreparada(sql, valores.size())) {
        SesionInterna::AntesDe(*this, sql, p.textoEnviado);
    } else {
        p.olvidarPreparada();
        if (h) {
            // SQLite's own statement: Qt's driver would turn every "?" into a name, and SQLite
            // looks each new name up among the earlier ones, a cost that grows with the square
            // of a batch's values.
            const QString texto = TraducirTSQL(sql);
            SesionInterna::AntesDe(*this, sql, texto);
            sqlite3_stmt* s = nullptr;
            const int r = sqlite3_prepare16_v3(h, texto.utf16(), int(texto.size() * 2),
                                               SQLITE_PREPARE_PERSISTENT, &s, nullptr);
            p.preparadaSqlite.reset(s);
            if (r != SQLITE_OK || !s) fallarSqlite(texto, r, QString::fromUtf8(sqlite3_errmsg(h)));
            p.textoEnviado = texto;
        } else {
            p.preparada = SesionInterna::Preparar(*this, sql);
            p.textoEnviado = p.preparada->lastQuery();
        }
        p.textoPreparado = sql;
        p.valoresPreparados = valores.size();
    }
    const QString enviado = p.textoEnviado;
    if (h) {
        sqlite3_stmt* s = p.preparadaSqlite.get();
        const bool cuentaIgual = valores.size() == sqlite3_bind_parameter_count(s);
        int r = cuentaIgual ? SQLITE_OK : SQLITE_RANGE;
        for (int i = 0; r == SQLITE_OK && i < int(valores.size()); ++i)
            r = ligarSqlite(s, i + 1, SesionInterna::ValorParaLigar(*this, valores[i]));
        if (r == SQLITE_OK) r = sqlite3_step(s);
        if (r != SQLITE_DONE && r != SQLITE_ROW)
            fallarSqlite(enviado, r,
                         cuentaIgual ? QString::fromUtf8(sqlite3_errmsg(h))
                                     : QStringLiteral("Parameter count mismatch"));
        sqlite3_reset(s);
        p.avisarDespues(enviado, valores, sqlite3_changes(h), std::nullopt);
        return;
    }
    QSqlQuery& q = *p.preparada;
    for (qsizetype i = 0; i < valores.size(); ++i)
        q.bindValue(int(i), SesionInterna::ValorParaLigar(*this, valores[i]));
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        fallar(enviado, textoDeError(e), e);
    }
    p.avisarDespues(enviado, valores, q.numRowsAffected(), std::nullopt);
    q.finish();
}

void Sesion::CerrarRecordset(Recordset& rs) {
    rs.Close();
}

namespace {
// The literal of a key value, or nothing when the key cannot be of that type.
std::optional<QString> literalDeClave(const QString& clave, long tipo) {
    const QString t = clave.trimmed();
    switch (tipo) {
    case 2:
    case 3:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: {
        static const QRegularExpression entero(QStringLiteral("^[+-]?[0-9]{1,18}$"));
        if (!entero.match(t).hasMatch()) return std::nullopt;
        bool ok = false;
        const qlonglong v = t.toLongLong(&ok);
        if (!ok) return std::nullopt;
        if (tipo == 3 && (v > 2147483647LL || v < -2147483648LL)) return std::nullopt;
        return QString::number(v);
    }
    case 4:
    case 5:
    case 6:
    case 14:
    case 131: {
        static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
        if (!decimal.match(t).hasMatch()) return std::nullopt;
        return t;
    }
    default: {
        // A plain literal keeps an index seek on a varchar key column, and ASCII reads alike in
        // every code page; other characters need N'...' to be compared as they are.
        bool ascii = true;
        for (QChar c : clave)
            ascii = ascii && c.unicode() < 128;
        if (!ascii) return LiteralUnicode(clave);
        return QChar('\'') + QString(clave).replace(QChar('\''), QLatin1String("''")) + QChar('\'');
    }
    }
}

QString sentenciaDeClave(const QString& tabla, const QString& campoClave, const QString& literal,
                         const QString& condicion) {
    QString sql = QStringLiteral("SELECT * FROM %1 WHERE %2 = %3").arg(tabla, campoClave, literal);
    if (!condicion.trimmed().isEmpty()) sql += QStringLiteral(" AND (%1)").arg(condicion);
    return sql;
}
} // namespace

bool Sesion::Existe(const QString& tabla, const QString& clave, const QString& campoClave, Recordset* rs,
                    long tipoClave, const QString& condicion) {
    const auto literal = literalDeClave(clave, tipoClave);
    if (!literal) {
        if (rs) rs->Close();
        return false;
    }
    Recordset propio;
    Recordset& r = rs ? *rs : propio;
    AbrirRecordset(sentenciaDeClave(tabla, campoClave, *literal, condicion), r, Cursor::Dinamico,
                   Bloqueo::SoloLectura);
    return !r.BOF();
}

QVariant Sesion::ValorCampo(const QString& tabla, const QString& clave, const QString& campo,
                            const QString& campoClave, long tipoClave, const QString& condicion) {
    const auto literal = literalDeClave(clave, tipoClave);
    if (!literal) return QString();
    Recordset r;
    AbrirRecordset(sentenciaDeClave(tabla, campoClave, *literal, condicion), r, Cursor::Dinamico,
                   Bloqueo::SoloLectura);
    if (r.BOF()) return QString();
    const Campo c = r.Fields(campo);
    return c.EsNulo() ? QString() : c.Texto();
}

QVariant Sesion::ValorSQL(const QVariant& valor, const QString& delimitador) const {
    if (!valor.isValid() || valor.isNull()) return QStringLiteral("NULL");
    if (delimitador == QLatin1String("@")) {
        if (EsValorEntero(valor)) return valor.toString();
        switch (valor.typeId()) {
        case QMetaType::Bool:
            return valor.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        case QMetaType::Double:
        case QMetaType::Float: {
            const double v = valor.toDouble();
            if (!std::isfinite(v))
                throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
            return NumeroSinExponente(v);
        }
        default:
            break;
        }
        const QString t = valor.toString().trimmed();
        static const QRegularExpression plano(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
        if (plano.match(t).hasMatch()) return t;
        static const QRegularExpression numero(
            QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
        bool ok = false;
        const double v = numero.match(t).hasMatch() ? QLocale::c().toDouble(t, &ok) : 0.0;
        if (!ok || !std::isfinite(v))
            throw ErrorSistema(
                Errores::TiposNoCoinciden,
                QStringLiteral("No coinciden los tipos: \"%1\" no es un número").arg(valor.toString()));
        return NumeroSinExponente(v);
    }
    const QString texto = TextoEstandar(valor);
    if (delimitador.isEmpty()) return texto;
    if (delimitador == QLatin1String("'")) return LiteralUnicode(texto);
    return delimitador + QString(texto).replace(delimitador, delimitador + delimitador) + delimitador;
}

QVariant Sesion::ValorParametro(const QVariant& valor, const QString& delimitador) const {
    if (!valor.isValid() || valor.isNull()) return QVariant();
    if (delimitador != QLatin1String("@")) return TextoEstandar(valor);
    // The usual numbers, without writing and reading back their literal.
    switch (valor.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return valor.toLongLong();
    case QMetaType::Double: {
        const double v = valor.toDouble();
        if (!std::isfinite(v)) break;
        if (std::fabs(v) < 1e18 && v == std::trunc(v)) return qlonglong(v);
        if (d_->esSqlite) return v;
        break;
    }
    default:
        break;
    }
    const QString literal = ValorSQL(valor, delimitador).toString();
    if (!literal.contains(QChar('.'))) {
        bool ok = false;
        const qlonglong n = literal.toLongLong(&ok);
        if (ok) return n;
    }
    // SQLite reads a number literal as the nearest double; the server reads it as a decimal
    // of its own precision, and reads these digits the same way.
    if (d_->esSqlite) return QLocale::c().toDouble(literal);
    return literal;
}

int Sesion::LimiteParametros() const {
    const auto& p = *d_;
    int limite = 2000; // SQL Server takes 2,100 per request, a few of them for the driver's call
    if (sqlite3* h = p.manejadorSqlite())
        limite = sqlite3_limit(h, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
    else if (p.esSqlite)
        limite = 32766; // SQLite's own since 3.32; its ODBC driver does not say
    if (p.limiteParametros > 0) limite = std::min(limite, p.limiteParametros);
    return limite;
}

void Sesion::setLimiteParametros(int limite) {
    d_->limiteParametros = std::max(0, limite);
}

// ---- Transactions --------------------------------------------------------------

void Sesion::IniciarTransaccion() {
    auto& p = *d_;
    if (p.enTransaccion)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("Ya hay una transacción abierta en la sesión."));
    const QString sql = QStringLiteral("BEGIN TRANSACTION");
    // SQLite's plain BEGIN reads first and asks for the write lock at the first write, when
    // another writer may hold it: the transaction would then fail half way. IMMEDIATE takes it
    // now, waiting for the others. Sent as a statement, both drivers leave it alone.
    const QString texto = p.esSqlite ? QStringLiteral("BEGIN IMMEDIATE TRANSACTION") : sql;
    SesionInterna::AntesDe(*this, sql, texto);
    std::optional<QString> error;
    if (p.esSqlite) {
        error = p.ejecutarPropia(texto);
    } else {
        if (!p.db.transaction()) error = textoDeError(p.db.lastError());
        p.avisarDespues(texto, {}, -1, error);
    }
    if (error)
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No se pudo iniciar la transacción: ") + *error);
    p.enTransaccion = true;
    p.transaccionPerdida = false;
}

void Sesion::ConfirmarTransaccion() {
    auto& p = *d_;
    if (!p.enTransaccion)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("No hay ninguna transacción abierta en la sesión."));
    auto terminarPerdida = [&] {
        p.deshacerCallando();
        throw ErrorSistema(
            Errores::TransaccionPerdida,
            QStringLiteral("No se pudo confirmar la transacción: la base de datos la terminó por su "
                           "cuenta y sus cambios no se guardaron."));
    };
    if (p.transaccionPerdida) terminarPerdida();
    const QString texto = QStringLiteral("COMMIT TRANSACTION");
    try {
        SesionInterna::AntesDe(*this, texto, texto);
    } catch (const ErrorSistema& e) {
        if (e.Numero == Errores::TransaccionPerdida) terminarPerdida();
        throw;
    }
    if (p.transaccionCaida()) terminarPerdida();
    std::optional<QString> error;
    if (p.esSqlite) {
        error = p.ejecutarPropia(texto);
    } else {
        if (!p.db.commit()) error = textoDeError(p.db.lastError());
        p.avisarDespues(texto, {}, -1, error);
    }
    if (error) {
        // Still open when the commit only waited too long: Retry may commit it.
        if (p.transaccionCaida()) terminarPerdida();
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No se pudo confirmar la transacción: ") + *error);
    }
    p.enTransaccion = false;
}

void Sesion::DeshacerTransaccion() {
    auto& p = *d_;
    if (!p.enTransaccion)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("No hay ninguna transacción abierta en la sesión."));
    if (p.transaccionCaida()) {
        // Nothing left to undo: the database already did.
        p.deshacerCallando();
        return;
    }
    const QString texto = QStringLiteral("ROLLBACK TRANSACTION");
    try {
        SesionInterna::AntesDe(*this, texto, texto);
    } catch (const ErrorSistema&) {
        // The ROLLBACK did not go: the transaction ends all the same, or what the caller does
        // next would run inside it and be lost with it.
        if (!p.enEspera) p.deshacerCallando();
        throw;
    }
    std::optional<QString> error;
    if (p.esSqlite) {
        error = p.ejecutarPropia(texto);
    } else {
        if (!p.db.rollback()) error = textoDeError(p.db.lastError());
        p.avisarDespues(texto, {}, -1, error);
    }
    p.enTransaccion = false;
    p.transaccionPerdida = false;
    if (error)
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No se pudo deshacer la transacción: ") + *error);
}

bool Sesion::EnTransaccion() const {
    return d_->enTransaccion;
}
