#include "sesion.h"

#include "datos_p.h"
#include "operador.h"

#include <clocale>
#include <cmath>
#include <langinfo.h>
#include <QAtomicInt>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>
#include <QUrl>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

// ---- T-SQL to SQLite ----------------------------------------------------------

namespace {

bool esCaracterDeNombre(QChar c) {
    return c.isLetterOrNumber() || c == QChar('_') || c == QChar('@') || c == QChar('#') || c == QChar('$');
}

bool esBlanco(QChar c) {
    return c == QChar(' ') || c == QChar('\t') || c == QChar('\r') || c == QChar('\n');
}

bool palabraEn(const QString& s, qsizetype i, QLatin1StringView palabra) {
    if (i < 0 || i + palabra.size() > s.size()) return false;
    if (i > 0 && esCaracterDeNombre(s[i - 1])) return false;
    if (QStringView(s).mid(i, palabra.size()).compare(palabra, Qt::CaseInsensitive) != 0) return false;
    const qsizetype fin = i + palabra.size();
    return fin >= s.size() || !esCaracterDeNombre(s[fin]);
}

// Where "FROM " goes in a statement "DELETE name WHERE ..." (or "DELETE name" alone); -1 when
// the statement is not of that form.
qsizetype insercionDeleteFrom(const QString& s) {
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n && esBlanco(s[i]))
        ++i;
    if (!palabraEn(s, i, QLatin1StringView("DELETE"))) return -1;
    i += 6;
    while (i < n && esBlanco(s[i]))
        ++i;
    const qsizetype inicio = i;
    if (i >= n || palabraEn(s, i, QLatin1StringView("FROM"))) return -1;
    // The name: parts joined by dots, each bracketed, double-quoted or plain.
    for (;;) {
        if (i >= n) return -1;
        if (s[i] == QChar('[') || s[i] == QChar('"')) {
            const QChar cierre = s[i] == QChar('[') ? QChar(']') : QChar('"');
            ++i;
            for (;;) {
                if (i >= n) return -1;
                if (s[i] == cierre) {
                    if (i + 1 < n && s[i + 1] == cierre) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else {
            const qsizetype desde = i;
            while (i < n && esCaracterDeNombre(s[i]))
                ++i;
            if (i == desde) return -1;
        }
        if (i < n && s[i] == QChar('.')) {
            ++i;
            continue;
        }
        break;
    }
    qsizetype j = i;
    while (j < n && esBlanco(s[j]))
        ++j;
    if (j >= n) return inicio;
    if (j == i) return -1; // something glued to the name
    if (palabraEn(s, j, QLatin1StringView("WHERE"))) return inicio;
    qsizetype k = j;
    while (k < n && (esBlanco(s[k]) || s[k] == QChar(';')))
        ++k;
    return k >= n ? inicio : -1;
}

bool esTipoEntero(const QString& t) {
    return t == QLatin1String("INT") || t == QLatin1String("INTEGER") || t == QLatin1String("BIGINT") ||
           t == QLatin1String("SMALLINT") || t == QLatin1String("TINYINT");
}

} // namespace

QString TraducirTSQL(const QString& sql) {
    const qsizetype insercion = insercionDeleteFrom(sql);
    if (insercion < 0 && !sql.contains(QLatin1String("convert"), Qt::CaseInsensitive)) return sql;

    const qsizetype n = sql.size();
    // First pass: which characters are code (not literals, quoted names or comments), the
    // matching parenthesis of each one and the commas at the first level inside each "(".
    std::vector<unsigned char> codigo(size_t(n), 0);
    std::vector<qsizetype> pareja(size_t(n), -1);
    std::vector<int> comas(size_t(n), 0);
    {
        std::vector<qsizetype> abiertos;
        qsizetype i = 0;
        auto saltarCitado = [&](QChar cierre) {
            ++i;
            while (i < n) {
                if (sql[i] == cierre) {
                    if (i + 1 < n && sql[i + 1] == cierre) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    return;
                }
                ++i;
            }
        };
        while (i < n) {
            const QChar c = sql[i];
            if (c == QChar('\''))
                saltarCitado(QChar('\''));
            else if (c == QChar('"'))
                saltarCitado(QChar('"'));
            else if (c == QChar('['))
                saltarCitado(QChar(']'));
            else if (c == QChar('-') && i + 1 < n && sql[i + 1] == QChar('-')) {
                while (i < n && sql[i] != QChar('\n'))
                    ++i;
            } else if (c == QChar('/') && i + 1 < n && sql[i + 1] == QChar('*')) {
                i += 2;
                while (i < n && !(sql[i] == QChar('*') && i + 1 < n && sql[i + 1] == QChar('/')))
                    ++i;
                i = std::min(n, i + 2);
            } else {
                codigo[size_t(i)] = 1;
                if (c == QChar('('))
                    abiertos.push_back(i);
                else if (c == QChar(')') && !abiertos.empty()) {
                    pareja[size_t(abiertos.back())] = i;
                    pareja[size_t(i)] = abiertos.back();
                    abiertos.pop_back();
                } else if (c == QChar(',') && !abiertos.empty())
                    ++comas[size_t(abiertos.back())];
                ++i;
            }
        }
    }
    auto blancos = [&](qsizetype i) {
        while (i < n && codigo[size_t(i)] && esBlanco(sql[i]))
            ++i;
        return i;
    };
    auto enCodigo = [&](qsizetype i, QChar c) { return i < n && codigo[size_t(i)] && sql[i] == c; };

    QString r;
    r.reserve(n + 32);
    std::vector<qsizetype> cierres; // closing parentheses that end a CAST(... AS INTEGER)
    qsizetype i = 0;
    while (i < n) {
        if (i == insercion)
            r += r.isEmpty() || esBlanco(r.back()) ? QLatin1String("FROM ") : QLatin1String(" FROM ");
        if (!cierres.empty() && i == cierres.back()) {
            r += QLatin1String(" AS INTEGER)");
            cierres.pop_back();
            ++i;
            continue;
        }
        if (codigo[size_t(i)] && (sql[i] == QChar('C') || sql[i] == QChar('c')) &&
            palabraEn(sql, i, QLatin1StringView("CONVERT"))) {
            const qsizetype p = blancos(i + 7);
            if (enCodigo(p, QChar('(')) && pareja[size_t(p)] > p) {
                const qsizetype q = pareja[size_t(p)];
                const qsizetype a = blancos(p + 1);
                qsizetype b = a;
                while (b < q && codigo[size_t(b)] && sql[b].unicode() < 128 && sql[b].isLetter())
                    ++b;
                const QString tipo = sql.mid(a, b - a).toUpper();
                const qsizetype c = blancos(b);
                if (b > a && enCodigo(c, QChar(','))) {
                    if (esTipoEntero(tipo) && comas[size_t(p)] == 1) {
                        r += QLatin1String("CAST(");
                        cierres.push_back(q);
                        i = blancos(c + 1);
                        continue;
                    }
                    if (tipo == QLatin1String("DATETIME") && comas[size_t(p)] == 2) {
                        const qsizetype l = blancos(c + 1);
                        bool ok = l + 9 < n && sql[l] == QChar('\'') && sql[l + 9] == QChar('\'');
                        for (qsizetype k = l + 1; ok && k < l + 9; ++k)
                            ok = sql[k] >= QChar('0') && sql[k] <= QChar('9');
                        if (ok) {
                            const qsizetype e = blancos(l + 10);
                            const qsizetype f = blancos(e + 1);
                            ok = enCodigo(e, QChar(',')) && f + 3 <= n &&
                                 QStringView(sql).mid(f, 3) == QLatin1String("112") && blancos(f + 3) == q;
                        }
                        if (ok) {
                            // A literal glued to the new one would merge with it ('' is a quote).
                            if (r.endsWith(QChar('\''))) r += QChar(' ');
                            r += QChar('\'') + sql.mid(l + 1, 4) + QChar('-') + sql.mid(l + 5, 2) +
                                 QChar('-') + sql.mid(l + 7, 2) + QChar('\'');
                            if (q + 1 < n && sql[q + 1] == QChar('\'')) r += QChar(' ');
                            i = q + 1;
                            continue;
                        }
                    }
                }
            }
        }
        r += sql[i];
        ++i;
    }
    if (insercion == n) r += QLatin1String("FROM "); // cannot happen: a name follows DELETE
    return r;
}

// ---- Texts of values ------------------------------------------------------------

namespace {

QString numeroSinExponente(double v) {
    if (v == 0) return QStringLiteral("0");
    return QString::number(v, 'f', QLocale::FloatingPointShortest);
}

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
    bool hayPreparada(const QString& sql, qsizetype valores) const {
        return (preparada || preparadaSqlite) && textoPreparado == sql && valoresPreparados == valores;
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
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT @@TRANCOUNT")) || !q.next()) return true;
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

Sesion::Sesion() : d_(std::make_unique<Privado>()) {}
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
QSqlDatabase Sesion::Base() const {
    return d_->db;
}

QString Sesion::CadenaConexion() const {
    if (esRutaSqlite(d_->dbName))
        return QStringLiteral("DRIVER=QSQLITE;Database=%1")
            .arg(QFileInfo(d_->dbName.trimmed()).absoluteFilePath());
    return QStringLiteral("DSN=%1;UID=%2;PWD=%3").arg(d_->dbName, d_->usuario, d_->password);
}

void Sesion::Conectar(bool, long) {
    Desconectar();
    auto& p = *d_;
    p.rutaSqlite = esRutaSqlite(p.dbName);
    p.nombreConexion = nuevoNombreDeConexion();
    QString fallo;
    {
        QSqlDatabase db;
        if (p.rutaSqlite) {
            // Opened read-write without creating: a missing file is a refused connection.
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), p.nombreConexion);
            const QString ruta = QFileInfo(p.dbName.trimmed()).absoluteFilePath();
            db.setDatabaseName(QUrl::fromLocalFile(ruta).toString(QUrl::FullyEncoded) +
                               QStringLiteral("?mode=rw"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=3000"));
        } else {
            db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), p.nombreConexion);
            db.setDatabaseName(p.dbName);
            db.setUserName(p.usuario);
            db.setPassword(p.password);
            if (!p.server.isEmpty()) db.setHostName(p.server);
            db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
        }
        bool abierta = false;
        if (p.rutaSqlite)
            abierta = db.open();
        else {
            const CodificacionUtf8 utf8;
            abierta = db.open();
        }
        if (!abierta) {
            fallo = textoDeError(db.lastError());
        } else if (p.rutaSqlite) {
            // A file that is not a database opens fine; the first read tells.
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA schema_version"))) fallo = textoDeError(q.lastError());
        }
        if (!fallo.isEmpty())
            db.close();
        else {
            p.db = db;
            p.esSqlite = p.rutaSqlite;
            if (!p.rutaSqlite) {
                const QVariant h = db.driver()->handle();
                if (esManejadorOdbc(h)) {
                    const SQLHDBC hdbc = *static_cast<const SQLHANDLE*>(h.constData());
                    p.motor = textoOdbc(hdbc, SQL_DBMS_NAME);
                    p.esSqlite = p.motor.contains(QLatin1String("SQLite"), Qt::CaseInsensitive) ||
                                 textoOdbc(hdbc, SQL_DRIVER_NAME)
                                     .contains(QLatin1String("sqlite"), Qt::CaseInsensitive);
                }
            }
        }
    }
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
        if (p.enTransaccion && p.db.isOpen()) p.db.rollback();
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

void SesionInterna::AntesDe(Sesion& s, const QString& texto) {
    auto& p = *s.d_;
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
    if (s.AntesDeEjecutar) s.AntesDeEjecutar(texto);
}

QSqlQuery SesionInterna::Preparar(Sesion& s, const QString& sql, bool soloAdelante) {
    auto& p = *s.d_;
    if (!p.conectado || !p.db.isOpen())
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No hay conexión abierta con la base de datos."));
    const QString texto = p.esSqlite ? TraducirTSQL(sql) : sql;
    AntesDe(s, texto);
    QSqlQuery q(p.db);
    q.setForwardOnly(soloAdelante);
    if (!q.prepare(texto)) Fallar(s, QStringLiteral("No se pudo ejecutar la sentencia: "), q.lastError());
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
    if (!q.exec()) Fallar(s, lead, q.lastError());
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

void Sesion::Ejecutar(const QString& sql) {
    QSqlQuery q = SesionInterna::Preparar(*this, sql);
    SesionInterna::Ejecutar(*this, q, QStringLiteral("No se pudo ejecutar la sentencia: "));
    q.finish();
}

void Sesion::EjecutarConValores(const QString& sql, const QVariantList& valores) {
    auto& p = *d_;
    if (sqlite3* h = p.manejadorSqlite()) {
        // SQLite's own statement: Qt's driver would turn every "?" into a name, and SQLite
        // looks each new name up among the earlier ones, a cost that grows with the square of
        // a batch's values.
        if (p.hayPreparada(sql, valores.size())) {
            SesionInterna::AntesDe(*this, p.textoEnviado);
        } else {
            p.olvidarPreparada();
            const QString texto = TraducirTSQL(sql);
            SesionInterna::AntesDe(*this, texto);
            sqlite3_stmt* s = nullptr;
            const int r = sqlite3_prepare16_v3(h, texto.utf16(), int(texto.size() * 2),
                                               SQLITE_PREPARE_PERSISTENT, &s, nullptr);
            p.preparadaSqlite.reset(s);
            if (r != SQLITE_OK || !s) {
                const QString motivo = QString::fromUtf8(sqlite3_errmsg(h));
                p.olvidarPreparada();
                SesionInterna::Fallar(*this, QStringLiteral("No se pudo ejecutar la sentencia: "),
                                      QSqlError(QStringLiteral("Unable to execute statement"), motivo,
                                                QSqlError::StatementError, QString::number(r)));
            }
            p.textoPreparado = sql;
            p.textoEnviado = texto;
            p.valoresPreparados = valores.size();
        }
        sqlite3_stmt* s = p.preparadaSqlite.get();
        int r = valores.size() == sqlite3_bind_parameter_count(s) ? SQLITE_OK : SQLITE_RANGE;
        for (int i = 0; r == SQLITE_OK && i < int(valores.size()); ++i)
            r = ligarSqlite(s, i + 1, SesionInterna::ValorParaLigar(*this, valores[i]));
        if (r == SQLITE_OK) r = sqlite3_step(s);
        if (r != SQLITE_DONE && r != SQLITE_ROW) {
            const QString motivo = r == SQLITE_RANGE && valores.size() != sqlite3_bind_parameter_count(s)
                                       ? QStringLiteral("Parameter count mismatch")
                                       : QString::fromUtf8(sqlite3_errmsg(h));
            p.olvidarPreparada();
            SesionInterna::Fallar(*this, QStringLiteral("No se pudo ejecutar la sentencia: "),
                                  QSqlError(QStringLiteral("Unable to execute statement"), motivo,
                                            QSqlError::StatementError, QString::number(r)));
        }
        sqlite3_reset(s);
        return;
    }
    if (p.hayPreparada(sql, valores.size())) {
        SesionInterna::AntesDe(*this, p.textoEnviado);
    } else {
        p.olvidarPreparada();
        p.preparada = SesionInterna::Preparar(*this, sql);
        p.textoPreparado = sql;
        p.textoEnviado = p.preparada->lastQuery();
        p.valoresPreparados = valores.size();
    }
    QSqlQuery& q = *p.preparada;
    for (qsizetype i = 0; i < valores.size(); ++i)
        q.bindValue(int(i), SesionInterna::ValorParaLigar(*this, valores[i]));
    if (!q.exec()) {
        // Prepared afresh the next time: a retry does not lean on a statement that failed.
        const QSqlError e = q.lastError();
        p.olvidarPreparada();
        SesionInterna::Fallar(*this, QStringLiteral("No se pudo ejecutar la sentencia: "), e);
    }
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
    default:
        return QChar('\'') + QString(clave).replace(QChar('\''), QLatin1String("''")) + QChar('\'');
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
        switch (valor.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return valor.toString();
        case QMetaType::Bool:
            return valor.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        case QMetaType::Double:
        case QMetaType::Float: {
            const double v = valor.toDouble();
            if (!std::isfinite(v))
                throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
            return numeroSinExponente(v);
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
        return numeroSinExponente(v);
    }
    const QString texto = TextoEstandar(valor);
    if (delimitador.isEmpty()) return texto;
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
    SesionInterna::AntesDe(*this, QStringLiteral("BEGIN TRANSACTION"));
    if (!p.db.transaction())
        throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("No se pudo iniciar la transacción: ") +
                                                     textoDeError(p.db.lastError()));
    p.enTransaccion = true;
    p.transaccionPerdida = false;
}

void Sesion::ConfirmarTransaccion() {
    auto& p = *d_;
    if (!p.enTransaccion)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("No hay ninguna transacción abierta en la sesión."));
    auto terminarPerdida = [&] {
        if (p.db.isOpen()) p.db.rollback();
        p.enTransaccion = false;
        p.transaccionPerdida = false;
        throw ErrorSistema(
            Errores::TransaccionPerdida,
            QStringLiteral("No se pudo confirmar la transacción: la base de datos la terminó por su "
                           "cuenta y sus cambios no se guardaron."));
    };
    if (p.transaccionPerdida) terminarPerdida();
    try {
        SesionInterna::AntesDe(*this, QStringLiteral("COMMIT TRANSACTION"));
    } catch (const ErrorSistema& e) {
        if (e.Numero == Errores::TransaccionPerdida) terminarPerdida();
        throw;
    }
    if (p.transaccionCaida()) terminarPerdida();
    if (!p.db.commit()) {
        const QString texto = textoDeError(p.db.lastError());
        if (p.transaccionCaida()) terminarPerdida();
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No se pudo confirmar la transacción: ") + texto);
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
        if (p.db.isOpen()) p.db.rollback();
        p.enTransaccion = false;
        p.transaccionPerdida = false;
        return;
    }
    SesionInterna::AntesDe(*this, QStringLiteral("ROLLBACK TRANSACTION"));
    const bool ok = p.db.rollback();
    p.enTransaccion = false;
    p.transaccionPerdida = false;
    if (!ok)
        throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("No se pudo deshacer la transacción: ") +
                                                     textoDeError(p.db.lastError()));
}

bool Sesion::EnTransaccion() const {
    return d_->enTransaccion;
}
