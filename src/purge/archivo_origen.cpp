#include "purge/archivo_origen.h"

#include "purge/archivo_p.h"
#include "suite/sesion.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <sql.h>
#include <sqlext.h>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

namespace {

sqlite3* manejadorSqlite(const Sesion& s) {
    const QSqlDatabase db = s.Base();
    if (!db.isValid() || !db.driver()) return nullptr;
    const QVariant h = db.driver()->handle();
    if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(h.constData());
    return nullptr;
}

SQLHDBC manejadorOdbc(const Sesion& s) {
    const QSqlDatabase db = s.Base();
    if (!db.isValid() || !db.driver()) return nullptr;
    const QVariant h = db.driver()->handle();
    if (h.isValid() && (qstrcmp(h.typeName(), "SQLHANDLE") == 0 || qstrcmp(h.typeName(), "void*") == 0))
        return *static_cast<const SQLHANDLE*>(h.constData());
    return nullptr;
}

[[noreturn]] void fallarLectura(const QString& tabla, const QString& motivo) {
    throw ErrorSistema(
        Errores::BaseDeDatos,
        QStringLiteral("No se pudo leer la tabla %1 para el archivo de depuración: %2").arg(tabla, motivo));
}

[[noreturn]] void sinTabla(const QString& tabla) {
    throw ErrorSistema(
        Errores::BaseDeDatos,
        QStringLiteral("No se encontró la tabla %1 en la base de datos para el archivo de depuración.")
            .arg(tabla));
}

QString corchetes(const QString& nombre) {
    return QChar('[') + QString(nombre).replace(QChar(']'), QLatin1String("]]")) + QChar(']');
}

bool esEnteroSqlite(const QString& tipo) {
    return tipo.trimmed().compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0;
}

// ---- SQLite --------------------------------------------------------------------------------

TablaOrigen describirSqlite(sqlite3* h, const QString& tabla) {
    TablaOrigen t;
    t.tabla = tabla;
    sqlite3_stmt* q = nullptr;
    const auto fin = qScopeGuard([&] { sqlite3_finalize(q); });
    auto preparar = [&](const QString& sql) {
        sqlite3_finalize(q);
        q = nullptr;
        const QByteArray b = sql.toUtf8();
        if (sqlite3_prepare_v2(h, b.constData(), int(b.size()), &q, nullptr) != SQLITE_OK)
            fallarLectura(tabla, QString::fromUtf8(sqlite3_errmsg(h)));
    };
    auto texto = [&](int i) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, i));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(q, i)) : QString();
    };
    // A bracketed or quoted name in a statement names the table without its delimiters.
    QString nombre = tabla.trimmed();
    if (nombre.size() > 1 && ((nombre.front() == QChar('[') && nombre.back() == QChar(']')) ||
                              (nombre.front() == QChar('"') && nombre.back() == QChar('"'))))
        nombre = nombre.mid(1, nombre.size() - 2);
    preparar(QStringLiteral("SELECT type, sql FROM sqlite_master WHERE type IN ('table', 'view') AND "
                            "lower(name) = lower(?)"));
    const QByteArray n = nombre.toUtf8();
    sqlite3_bind_text(q, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(q) != SQLITE_ROW) sinTabla(tabla);
    const bool esTabla = texto(0) == QLatin1String("table");
    const bool sinRowid = texto(1).contains(QLatin1String("WITHOUT ROWID"), Qt::CaseInsensitive);
    preparar(QStringLiteral("PRAGMA table_info(%1)").arg(archivo_p::Citado(nombre)));
    std::vector<std::pair<int, QString>> clave;
    std::vector<ColumnaArchivo> columnas;
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        columnas.push_back(ColumnaArchivo{texto(1), texto(2)});
        if (const int pk = sqlite3_column_int(q, 5); pk > 0) clave.emplace_back(pk, texto(1));
    }
    if (rc != SQLITE_DONE) fallarLectura(tabla, QString::fromUtf8(sqlite3_errmsg(h)));
    std::sort(clave.begin(), clave.end());
    for (const auto& [orden, columna] : clave)
        t.clave << columna;
    // The rowid is the key itself when the key is one INTEGER column.
    bool alias = false;
    if (t.clave.size() == 1)
        for (const auto& c : columnas)
            if (c.nombre == t.clave.front()) alias = esEnteroSqlite(c.tipo);
    t.conRowid = esTabla && !sinRowid && !alias;
    if (t.conRowid)
        t.columnas.push_back(ColumnaArchivo{QString::fromLatin1(kColumnaRowid), QStringLiteral("INTEGER")});
    t.columnas.insert(t.columnas.end(), columnas.begin(), columnas.end());
    return t;
}

// ---- ODBC ----------------------------------------------------------------------------------

QString diagnosticoOdbc(SQLSMALLINT tipo, SQLHANDLE h) {
    SQLWCHAR estado[6] = {};
    SQLINTEGER nativo = 0;
    SQLWCHAR mensaje[1024] = {};
    SQLSMALLINT largo = 0;
    if (!SQL_SUCCEEDED(
            SQLGetDiagRecW(tipo, h, 1, estado, &nativo, mensaje, SQLSMALLINT(std::size(mensaje)), &largo)))
        return QStringLiteral("error desconocido del controlador");
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(mensaje),
                              std::min<qsizetype>(largo, qsizetype(std::size(mensaje)) - 1))
        .trimmed();
}

// An ODBC statement handle of the session's connection, freed at the end of its scope.
class SentenciaOdbc {
public:
    SentenciaOdbc(SQLHDBC conexion, const QString& tabla) : tabla_(tabla) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, conexion, &h_)))
            fallarLectura(tabla, diagnosticoOdbc(SQL_HANDLE_DBC, conexion));
    }
    ~SentenciaOdbc() {
        if (h_) {
            SQLFreeStmt(h_, SQL_CLOSE);
            SQLFreeHandle(SQL_HANDLE_STMT, h_);
        }
    }
    SentenciaOdbc(const SentenciaOdbc&) = delete;
    SentenciaOdbc& operator=(const SentenciaOdbc&) = delete;
    SQLHSTMT h() const { return h_; }
    void exigir(SQLRETURN r) const {
        if (!SQL_SUCCEEDED(r)) fallarLectura(tabla_, diagnosticoOdbc(SQL_HANDLE_STMT, h_));
    }
    // Column i (1-based) of the current row as text; nothing for NULL.
    std::optional<QString> texto(SQLUSMALLINT i) const {
        QString t = QStringLiteral("");
        SQLWCHAR trozo[512];
        constexpr SQLLEN capacidad = SQLLEN(std::size(trozo)) - 1;
        for (;;) {
            SQLLEN indicador = 0;
            const SQLRETURN r = SQLGetData(h_, i, SQL_C_WCHAR, trozo, sizeof trozo, &indicador);
            if (r == SQL_NO_DATA) break;
            exigir(r);
            if (indicador == SQL_NULL_DATA) return std::nullopt;
            const SQLLEN llegados = indicador == SQL_NO_TOTAL
                                        ? capacidad
                                        : std::min(capacidad, SQLLEN(indicador / SQLLEN(sizeof(SQLWCHAR))));
            t.append(QStringView(reinterpret_cast<const char16_t*>(trozo), qsizetype(llegados)));
            if (r == SQL_SUCCESS || llegados < capacidad) break;
        }
        return t;
    }
    // Binary data; false for NULL.
    bool binario(SQLUSMALLINT i, QByteArray& datos) const {
        datos.resize(0);
        char trozo[4096];
        for (;;) {
            SQLLEN indicador = 0;
            const SQLRETURN r = SQLGetData(h_, i, SQL_C_BINARY, trozo, sizeof trozo, &indicador);
            if (r == SQL_NO_DATA) break;
            exigir(r);
            if (indicador == SQL_NULL_DATA) return false;
            const bool todo = indicador != SQL_NO_TOTAL && indicador <= SQLLEN(sizeof trozo);
            datos.append(trozo, todo ? qsizetype(indicador) : qsizetype(sizeof trozo));
            if (r == SQL_SUCCESS || todo) break;
        }
        return true;
    }

private:
    QString tabla_;
    SQLHSTMT h_ = nullptr;
};

std::u16string ancho(const QString& t) {
    return std::u16string(reinterpret_cast<const char16_t*>(t.utf16()), size_t(t.size()));
}
SQLWCHAR* ptr(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

// The declared type as the server writes it: "numeric(18,2)", "varchar(60)", "nvarchar(max)".
QString tipoDeclarado(const QString& nombre, SQLSMALLINT tipo, qint64 tamano, qint64 decimales) {
    if (nombre.contains(QChar('('))) return nombre; // SQLite's driver gives the declared text
    switch (tipo) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
        if (tamano <= 0 || tamano >= (1 << 30)) return nombre + QStringLiteral("(max)");
        return QStringLiteral("%1(%2)").arg(nombre).arg(tamano);
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return QStringLiteral("%1(%2,%3)").arg(nombre).arg(tamano).arg(decimales);
    default:
        return nombre;
    }
}

bool mismoNombreOdbc(const std::optional<QString>& a, const QString& b) {
    return a && a->compare(b, Qt::CaseInsensitive) == 0;
}

// The primary key's columns of the table found in that schema, in key order.
QStringList claveOdbc(SQLHDBC h, const QString& tabla, const QString& esquema, const QString& nombre) {
    SentenciaOdbc q(h, tabla);
    std::u16string wSch = ancho(esquema), wNombre = ancho(nombre);
    q.exigir(SQLPrimaryKeysW(q.h(), nullptr, 0, esquema.isEmpty() ? nullptr : ptr(wSch),
                             SQLSMALLINT(esquema.isEmpty() ? 0 : SQL_NTS), ptr(wNombre), SQL_NTS));
    std::vector<std::pair<int, QString>> clave;
    while (SQL_SUCCEEDED(SQLFetch(q.h()))) {
        if (!mismoNombreOdbc(q.texto(3), nombre)) continue;
        clave.emplace_back(q.texto(5).value_or(QStringLiteral("0")).toInt(), q.texto(4).value_or(QString()));
    }
    std::sort(clave.begin(), clave.end());
    QStringList columnas;
    for (const auto& [orden, columna] : clave)
        columnas << columna;
    return columnas;
}

// Whether the driver lists the name as a table (not a view).
bool esTablaOdbc(SQLHDBC h, const QString& tabla, const QString& nombre) {
    SentenciaOdbc q(h, tabla);
    std::u16string wNombre = ancho(nombre);
    q.exigir(SQLTablesW(q.h(), nullptr, 0, nullptr, 0, ptr(wNombre), SQL_NTS, nullptr, 0));
    bool esTabla = false;
    while (SQL_SUCCEEDED(SQLFetch(q.h())))
        if (mismoNombreOdbc(q.texto(3), nombre))
            esTabla = mismoNombreOdbc(q.texto(4), QStringLiteral("TABLE"));
    return esTabla;
}

TablaOrigen describirOdbc(Sesion& sesion, SQLHDBC h, const QString& tabla) {
    TablaOrigen t;
    t.tabla = tabla;
    // The catalog takes the bare name (and, for SQL Server, an optional schema before a dot).
    QString esquema, nombre = tabla.trimmed();
    nombre.remove(QChar('[')).remove(QChar(']')).remove(QChar('"'));
    if (const qsizetype punto = nombre.lastIndexOf(QChar('.')); punto >= 0) {
        esquema = nombre.left(punto);
        nombre = nombre.mid(punto + 1);
    }
    std::u16string wNombre = ancho(nombre), wEsquema = ancho(esquema);
    QString esquemaHallado;
    bool hallado = false;
    struct Col {
        int posicion;
        ColumnaArchivo columna;
    };
    std::vector<Col> columnas;
    {
        SentenciaOdbc q(h, tabla);
        q.exigir(SQLColumnsW(q.h(), nullptr, 0, esquema.isEmpty() ? nullptr : ptr(wEsquema),
                             SQLSMALLINT(esquema.isEmpty() ? 0 : SQL_NTS), ptr(wNombre), SQL_NTS, nullptr,
                             0));
        while (SQL_SUCCEEDED(SQLFetch(q.h()))) {
            // The name is a search pattern ("_" matches any character): keep the table itself,
            // in the first schema that has it.
            if (!mismoNombreOdbc(q.texto(3), nombre)) continue;
            const QString sch = q.texto(2).value_or(QString());
            if (!hallado) esquemaHallado = sch;
            hallado = true;
            if (sch != esquemaHallado) continue;
            const QString col = q.texto(4).value_or(QString());
            const auto tipo = SQLSMALLINT(q.texto(5).value_or(QString()).toInt());
            const QString tn = q.texto(6).value_or(QString());
            const qint64 tamano = q.texto(7).value_or(QStringLiteral("0")).toLongLong();
            const qint64 decimales = q.texto(9).value_or(QStringLiteral("0")).toLongLong();
            const int posicion = q.texto(17).value_or(QString::number(columnas.size() + 1)).toInt();
            columnas.push_back(
                Col{posicion, ColumnaArchivo{col, tipoDeclarado(tn, tipo, tamano, decimales)}});
        }
    }
    if (!hallado) sinTabla(tabla);
    std::stable_sort(columnas.begin(), columnas.end(),
                     [](const Col& a, const Col& b) { return a.posicion < b.posicion; });
    t.clave = claveOdbc(h, tabla, esquemaHallado, nombre);
    // SQLite behind the driver: keep a rowid that is not a column of its own, as on a file.
    if (sesion.EsSQLite()) {
        const bool esTabla = esTablaOdbc(h, tabla, nombre);
        bool alias = false;
        if (t.clave.size() == 1)
            for (const auto& c : columnas)
                if (c.columna.nombre == t.clave.front()) alias = esEnteroSqlite(c.columna.tipo);
        t.conRowid = esTabla && !alias;
    }
    if (t.conRowid)
        t.columnas.push_back(ColumnaArchivo{QString::fromLatin1(kColumnaRowid), QStringLiteral("INTEGER")});
    for (const auto& c : columnas)
        t.columnas.push_back(c.columna);
    return t;
}

// ---- Reading into the archive --------------------------------------------------------------

// Tells the session's hooks about a statement, as the session does for its own.
void avisarAntes(Sesion& s, const QString& sql, const QString& texto) {
    if (!s.Conectado())
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No hay conexión abierta con la base de datos."));
    if (s.AntesDeEjecutar) s.AntesDeEjecutar(texto);
    if (s.Observador) s.Observador(SentenciaSesion{sql, texto, false, {}, -1, std::nullopt});
}
void avisarDespues(Sesion& s, const QString& sql, const QString& texto, std::optional<QString> error) {
    if (s.Observador) s.Observador(SentenciaSesion{sql, texto, true, {}, -1, std::move(error)});
}

// Each row read goes to `agregar`, its values valid during the call.
using PorFila = std::function<void(const Dato*)>;

void leerSqlite(Sesion& sesion, sqlite3* h, const PorFila& agregar, const TablaOrigen& origen,
                const QString& sql) {
    const QString texto = TraducirTSQL(sql);
    avisarAntes(sesion, sql, texto);
    sqlite3_stmt* q = nullptr;
    const auto fin = qScopeGuard([&] { sqlite3_finalize(q); });
    const QByteArray b = texto.toUtf8();
    int rc = sqlite3_prepare_v2(h, b.constData(), int(b.size()), &q, nullptr);
    const int n = rc == SQLITE_OK ? sqlite3_column_count(q) : 0;
    if (rc == SQLITE_OK && n != int(origen.columnas.size())) {
        avisarDespues(sesion, sql, texto, std::nullopt);
        fallarLectura(origen.tabla, QStringLiteral("la consulta dio %1 columnas y la tabla tiene %2")
                                        .arg(n)
                                        .arg(origen.columnas.size()));
    }
    std::vector<Dato> fila(static_cast<size_t>(n));
    try {
        while (rc == SQLITE_OK && (rc = sqlite3_step(q)) == SQLITE_ROW) {
            for (int i = 0; i < n; ++i)
                fila[size_t(i)] = archivo_p::DatoDeColumna(q, i);
            agregar(fila.data());
            rc = SQLITE_OK;
        }
    } catch (const ErrorSistema& e) {
        avisarDespues(sesion, sql, texto, e.Descripcion);
        throw;
    }
    if (rc != SQLITE_DONE) {
        const QString motivo = QString::fromUtf8(sqlite3_errmsg(h));
        avisarDespues(sesion, sql, texto, motivo);
        fallarLectura(origen.tabla, motivo);
    }
    avisarDespues(sesion, sql, texto, std::nullopt);
}

// How a column of an ODBC result is fetched.
enum class Lectura : unsigned char { Real, Entero, Binario, Texto };

// How each column of the result is fetched, from its SQL type.
std::vector<Lectura> lecturasOdbc(SentenciaOdbc& q, SQLSMALLINT n) {
    std::vector<Lectura> lecturas(size_t(n), Lectura::Texto);
    for (SQLSMALLINT i = 0; i < n; ++i) {
        SQLSMALLINT tipo = SQL_VARCHAR, decimales = 0, nulos = 0;
        SQLULEN tamano = 0;
        q.exigir(SQLDescribeColW(q.h(), SQLUSMALLINT(i + 1), nullptr, 0, nullptr, &tipo, &tamano, &decimales,
                                 &nulos));
        switch (tipo) {
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
            lecturas[size_t(i)] = Lectura::Real;
            break;
        case SQL_BIT:
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
            lecturas[size_t(i)] = Lectura::Entero;
            break;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            lecturas[size_t(i)] = Lectura::Binario;
            break;
        default:
            // Decimals keep the driver's exact digits; dates its text.
            break;
        }
    }
    return lecturas;
}

// One value of the current row; b keeps the bytes a text or binary value points into.
void leerDatoOdbc(SentenciaOdbc& q, SQLUSMALLINT c, Lectura lectura, Dato& d, QByteArray& b) {
    switch (lectura) {
    case Lectura::Real: {
        double v = 0;
        SQLLEN indicador = 0;
        q.exigir(SQLGetData(q.h(), c, SQL_C_DOUBLE, &v, sizeof v, &indicador));
        d = indicador == SQL_NULL_DATA ? Dato::Nulo() : Dato::DeReal(v);
        return;
    }
    case Lectura::Binario:
        d = q.binario(c, b) ? Dato::DeBinario(b.constData(), b.size()) : Dato::Nulo();
        return;
    case Lectura::Entero:
    case Lectura::Texto:
        break;
    }
    const auto t = q.texto(c);
    if (!t) {
        d = Dato::Nulo();
        return;
    }
    if (lectura == Lectura::Entero) {
        bool ok = false;
        const qlonglong v = t->trimmed().toLongLong(&ok);
        if (ok) {
            d = Dato::DeEntero(v);
            return;
        }
    }
    b = t->toUtf8();
    d = Dato::DeTexto(b.constData(), b.size());
}

void leerOdbc(Sesion& sesion, SQLHDBC h, const PorFila& agregar, const TablaOrigen& origen,
              const QString& sql) {
    const QString texto = sesion.EsSQLite() ? TraducirTSQL(sql) : sql;
    avisarAntes(sesion, sql, texto);
    try {
        SentenciaOdbc q(h, origen.tabla);
        if (sesion.CommandTimeout() > 0)
            SQLSetStmtAttr(q.h(), SQL_ATTR_QUERY_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(sesion.CommandTimeout())),
                           SQL_IS_UINTEGER);
        std::u16string w = ancho(texto);
        q.exigir(SQLExecDirectW(q.h(), ptr(w), SQL_NTS));
        SQLSMALLINT n = 0;
        q.exigir(SQLNumResultCols(q.h(), &n));
        if (n != SQLSMALLINT(origen.columnas.size()))
            fallarLectura(origen.tabla, QStringLiteral("la consulta dio %1 columnas y la tabla tiene %2")
                                            .arg(n)
                                            .arg(origen.columnas.size()));
        const std::vector<Lectura> lecturas = lecturasOdbc(q, n);
        std::vector<Dato> fila(static_cast<size_t>(n));
        std::vector<QByteArray> bytes(static_cast<size_t>(n));
        SQLRETURN r;
        while ((r = SQLFetch(q.h())) != SQL_NO_DATA) {
            q.exigir(r);
            for (SQLSMALLINT i = 0; i < n; ++i) {
                const auto c = SQLUSMALLINT(i + 1);
                Dato& d = fila[size_t(i)];
                QByteArray& b = bytes[size_t(i)];
                leerDatoOdbc(q, c, lecturas[size_t(i)], d, b);
            }
            agregar(fila.data());
        }
    } catch (const ErrorSistema& e) {
        avisarDespues(sesion, sql, texto, e.Descripcion);
        throw;
    }
    avisarDespues(sesion, sql, texto, std::nullopt);
}

} // namespace

QString TablaOrigen::Orden() const {
    if (conRowid) return QStringLiteral("rowid");
    if (!clave.isEmpty()) return clave.join(QChar(','));
    return QStringLiteral("*");
}

TablaOrigen DescribirTabla(Sesion& sesion, const QString& tabla) {
    if (sqlite3* h = manejadorSqlite(sesion)) return describirSqlite(h, tabla);
    if (SQLHDBC h = manejadorOdbc(sesion)) return describirOdbc(sesion, h, tabla);
    throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("No hay conexión abierta con la base de datos."));
}

QString SentenciaLectura(const TablaOrigen& origen, const QString& condicion, BloqueoLectura bloqueo) {
    QStringList orden;
    if (origen.conRowid)
        orden << QStringLiteral("rowid");
    else if (!origen.clave.isEmpty())
        for (const QString& c : origen.clave)
            orden << corchetes(c);
    else
        for (const auto& c : origen.columnas)
            orden << corchetes(c.nombre);
    QString sql = QStringLiteral("SELECT ");
    if (origen.conRowid) sql += QStringLiteral("rowid AS %1, ").arg(QLatin1String(kColumnaRowid));
    sql += QStringLiteral("* FROM ") + origen.tabla;
    if (bloqueo == BloqueoLectura::Tabla) sql += QStringLiteral(" WITH (TABLOCKX, HOLDLOCK)");
    if (!condicion.trimmed().isEmpty()) sql += QStringLiteral(" WHERE ") + condicion.trimmed();
    return sql + QStringLiteral(" ORDER BY ") + orden.join(QStringLiteral(", "));
}

namespace {
void leer(Sesion& sesion, const TablaOrigen& origen, const QString& condicion, BloqueoLectura bloqueo,
          const PorFila& agregar) {
    const QString sql = SentenciaLectura(origen, condicion, bloqueo);
    if (sqlite3* h = manejadorSqlite(sesion))
        leerSqlite(sesion, h, agregar, origen, sql);
    else if (SQLHDBC odbc = manejadorOdbc(sesion))
        leerOdbc(sesion, odbc, agregar, origen, sql);
    else
        throw ErrorSistema(Errores::BaseDeDatos,
                           QStringLiteral("No hay conexión abierta con la base de datos."));
}
} // namespace

TablaArchivo ArchivarTabla(Sesion& sesion, EscritorArchivo& escritor, const QString& nombre,
                           const TablaOrigen& origen, const QString& condicion, BloqueoLectura bloqueo) {
    escritor.AbrirTabla(nombre, origen.tabla, origen.Orden(), origen.columnas);
    leer(sesion, origen, condicion, bloqueo, [&](const Dato* fila) { escritor.Agregar(fila); });
    return escritor.CerrarTabla();
}

TablaArchivo HuellaOrigen(Sesion& sesion, const TablaOrigen& origen, const QString& condicion,
                          BloqueoLectura bloqueo) {
    std::vector<ClaseCanonica> clases;
    for (const ColumnaArchivo& c : origen.columnas)
        clases.push_back(ClaseDeTipo(c.tipo));
    HuellaTabla huella(std::move(clases));
    leer(sesion, origen, condicion, bloqueo, [&](const Dato* fila) { huella.Agregar(fila); });
    return TablaArchivo{QString(),      origen.tabla,    origen.Orden(),
                        huella.Filas(), huella.Sha256(), origen.columnas};
}
