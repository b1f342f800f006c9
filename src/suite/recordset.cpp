#include "suite/recordset.h"

#include "suite/datos_p.h"
#include "suite/sesion.h"
#include "suite/transaccion.h"
#include "suite/tsql.h"
#include "suite/utilidades.h"

#include <cmath>
#include <cstring>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <QSqlResult>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

namespace {

constexpr long SinRegistroActual = 3021;
constexpr long ObjetoCerrado = 3704;
constexpr long NoActualizable = 3251;
constexpr long TextoSinLargo = 2147483647;

[[noreturn]] void errorCerrado() {
    throw ErrorSistema(ObjetoCerrado, QStringLiteral("Operación no permitida si el recordset está cerrado."));
}
[[noreturn]] void errorSinRegistro() {
    throw ErrorSistema(SinRegistroActual,
                       QStringLiteral("No hay registro actual: BOF o EOF es verdadero, o el "
                                      "registro actual se eliminó."));
}
[[noreturn]] void errorLecturaFallida(const RecordsetDatos& d) {
    throw ErrorSistema(Errores::BaseDeDatos,
                       QStringLiteral("No se pudo leer la consulta hasta el final (%1); las filas "
                                      "siguientes no se leyeron y la consulta debe abrirse de nuevo.")
                           .arg(d.lecturaFallida));
}

int dosDigitos(const QChar* c) {
    if (!c[0].isDigit() || !c[1].isDigit()) return -1;
    return (c[0].unicode() - '0') * 10 + (c[1].unicode() - '0');
}

// From i on, between minimo and maximo ASCII digits as a number (i moves past them); -1 otherwise.
int cifras(const QChar* c, qsizetype n, qsizetype& i, int minimo, int maximo) {
    int v = 0, k = 0;
    while (i < n && k < maximo && c[i] >= QChar('0') && c[i] <= QChar('9')) {
        v = v * 10 + (c[i].unicode() - '0');
        ++i;
        ++k;
    }
    return k >= minimo ? v : -1;
}

// The time after a date, from c[desde] to the end: a blank or "T", then HH:mm, optional :ss and
// an optional fraction of a second (its first three digits count). Invalid when it is not that.
QTime horaDeTexto(const QChar* c, qsizetype n, qsizetype desde) {
    if (n < desde + 6 || (c[desde] != QChar(' ') && c[desde] != QChar('T')) || c[desde + 3] != QChar(':'))
        return {};
    const int h = dosDigitos(c + desde + 1), mi = dosDigitos(c + desde + 4);
    int s = 0, ms = 0;
    qsizetype i = desde + 6;
    if (i < n && c[i] == QChar(':')) {
        if (i + 3 > n || (s = dosDigitos(c + i + 1)) < 0) return {};
        i += 3;
        if (i < n && c[i] == QChar('.')) {
            ++i;
            int digitos = 0;
            while (i < n && c[i].isDigit()) {
                if (digitos < 3) ms = ms * 10 + (c[i].unicode() - '0');
                ++digitos;
                ++i;
            }
            if (digitos == 0) return {};
            for (int k = digitos; k < 3; ++k)
                ms *= 10;
        }
    }
    if (i != n || h < 0 || mi < 0) return {};
    return QTime(h, mi, s, ms);
}

// A date text as SQLite keeps it ("2023-12-31", "2023-12-31 13:45:00[.000]", with "T" too)
// or in the short form, with one or two digits for day and month ("31/12/2023", "1/1/2023");
// anything else stays text.
QVariant fechaDeTexto(const QString& t) {
    const qsizetype n = t.size();
    const QChar* c = t.constData();
    int a = -1, m = -1, d = -1;
    qsizetype resto = 10;
    if (n >= 10 && c[4] == QChar('-') && c[7] == QChar('-')) {
        const int a1 = dosDigitos(c), a2 = dosDigitos(c + 2);
        if (a1 >= 0 && a2 >= 0) a = a1 * 100 + a2;
        m = dosDigitos(c + 5);
        d = dosDigitos(c + 8);
    } else if (n >= 8 && (c[1] == QChar('/') || c[2] == QChar('/'))) {
        qsizetype i = 0;
        d = cifras(c, n, i, 1, 2);
        if (d < 0 || i >= n || c[i] != QChar('/')) return t;
        m = cifras(c, n, ++i, 1, 2);
        if (m < 0 || i >= n || c[i] != QChar('/')) return t;
        a = cifras(c, n, ++i, 4, 4);
        resto = i;
    } else
        return t;
    const QDate fecha(a, m, d);
    if (a < 0 || m < 0 || d < 0 || !fecha.isValid()) return t;
    if (n == resto) return fecha;
    const QTime hora = horaDeTexto(c, n, resto);
    if (!hora.isValid()) return t;
    return QDateTime(fecha, hora);
}

// The table of a single-table SELECT ("SELECT ... FROM name [WHERE ...] [ORDER BY ...]"), as
// written, and its WHERE condition (empty when none).
struct TablaYCondicion {
    QString tabla;
    QString condicion;
};

// Reads "FROM name [WITH (...)] then the end, ";", WHERE or ORDER BY" over the statement's tokens;
// comments read as blanks.
class LectorDeConsulta {
public:
    explicit LectorDeConsulta(const QString& sql) : sql_(sql), t_(Tokenizar(sql)), n_(qsizetype(t_.size())) {}

    TablaYCondicion Leer() const {
        for (qsizetype i = 0; i < n_; ++i) {
            if (!EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("FROM")) || !EsBlanco(i + 1)) continue;
            const qsizetype fin = FinDeNombre(Saltar(i + 1));
            if (fin < 0) continue;
            const qsizetype siguiente = Saltar(TrasSugerencias(Saltar(fin)));
            const bool where =
                siguiente < n_ && EsPalabra(t_[size_t(siguiente)], sql_, QLatin1StringView("WHERE"));
            if (siguiente < n_ && !where && !Es(siguiente, ';') && !EsOrderBy(siguiente)) continue;
            const qsizetype inicio = t_[size_t(Saltar(i + 1))].inicio;
            TablaYCondicion r;
            r.tabla = sql_.mid(inicio, t_[size_t(fin - 1)].fin() - inicio);
            if (where) r.condicion = Condicion(siguiente + 1);
            return r;
        }
        return {};
    }

private:
    bool EsBlanco(qsizetype i) const {
        return i < n_ &&
               (t_[size_t(i)].clase == ClaseToken::Blanco || t_[size_t(i)].clase == ClaseToken::Comentario);
    }
    bool Es(qsizetype i, char signo) const { return i < n_ && EsSigno(t_[size_t(i)], sql_, signo); }
    qsizetype Saltar(qsizetype i) const {
        while (EsBlanco(i))
            ++i;
        return i;
    }
    bool EsOrderBy(qsizetype i) const {
        if (i >= n_ || !EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("ORDER")) || !EsBlanco(i + 1))
            return false;
        const qsizetype by = Saltar(i + 1);
        return by < n_ && EsPalabra(t_[size_t(by)], sql_, QLatin1StringView("BY"));
    }
    // The first token after a table name starting at i ("[a b]", dbo.T), or -1.
    qsizetype FinDeNombre(qsizetype i) const {
        for (;;) {
            if (i >= n_) return -1;
            const Token& t = t_[size_t(i)];
            const bool parte = (t.clase == ClaseToken::NombreCitado && t.cerrado && t.largo > 2) ||
                               t.clase == ClaseToken::Palabra || t.clase == ClaseToken::Numero;
            if (!parte) return -1;
            if (!Es(i + 1, '.')) return i + 1;
            i += 2;
        }
    }
    // Past a table hint "WITH (...)" at i, or i itself when there is none.
    qsizetype TrasSugerencias(qsizetype i) const {
        if (i >= n_ || !EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("WITH"))) return i;
        qsizetype k = Saltar(i + 1);
        if (!Es(k, '(')) return i;
        while (++k < n_)
            if (Es(k, ')')) return k + 1;
        return i;
    }
    // The WHERE condition from token i: up to an ORDER BY outside parentheses, without the
    // closing semicolons.
    QString Condicion(qsizetype i) const {
        const qsizetype desde = i < n_ ? t_[size_t(i)].inicio : sql_.size();
        qsizetype hasta = sql_.size();
        for (int nivel = 0; i < n_; ++i) {
            if (Es(i, '('))
                ++nivel;
            else if (Es(i, ')'))
                --nivel;
            else if (nivel == 0 && EsOrderBy(i)) {
                hasta = t_[size_t(i)].inicio;
                break;
            }
        }
        QString r = sql_.mid(desde, hasta - desde).trimmed();
        while (r.endsWith(QChar(';')))
            r = r.chopped(1).trimmed();
        return r;
    }

    const QString& sql_;
    const std::vector<Token> t_;
    const qsizetype n_;
};

TablaYCondicion tablaDeConsulta(const QString& sql) {
    return LectorDeConsulta(sql).Leer();
}

QString sinDelimitadores(const QString& nombre) {
    QString r;
    for (QChar c : nombre)
        if (c != QChar('[') && c != QChar(']') && c != QChar('"')) r += c;
    return r;
}

} // namespace

QString TextoEstandar(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        throw ErrorSistema(Errores::UsoNoValidoDeNull, QStringLiteral("Uso no válido de Null"));
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(FormatoFechaCorta());
    case QMetaType::QDateTime: {
        const QDateTime t = v.toDateTime();
        QString r = t.date().toString(FormatoFechaCorta());
        if (t.time() != QTime(0, 0)) r += t.time().toString(QStringLiteral(" HH:mm:ss"));
        return r;
    }
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("Verdadero") : QStringLiteral("Falso");
    case QMetaType::Double:
    case QMetaType::Float:
        return NumeroSinExponente(v.toDouble());
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    default:
        return v.toString();
    }
}

// ---- Columns and values -----------------------------------------------------------

Columna ColumnaDeTipoDeclarado(const QString& nombre, const QString& declarado) {
    Columna c;
    c.nombre = nombre;
    const QString t = declarado.trimmed().toUpper();
    long largo = -1;
    static const QRegularExpression reLargo(QStringLiteral("\\(\\s*(\\d+)"));
    if (const auto m = reLargo.match(t); m.hasMatch()) largo = m.captured(1).toLong();
    const bool maximo = t.contains(QLatin1String("(MAX"));
    auto tiene = [&](const char* x) { return t.contains(QLatin1String(x)); };
    if (t.isEmpty()) {
        c.clase = ClaseColumna::Otra;
        c.tamano = 255;
    } else if (tiene("DATE") || t.startsWith(QLatin1String("TIMESTAMP"))) {
        c.clase = ClaseColumna::Fecha;
        c.tamano = 8;
    } else if (t == QLatin1String("BIT") || tiene("BOOL")) {
        c.clase = ClaseColumna::Logica;
        c.tamano = 2;
    } else if (tiene("INT")) {
        c.clase = ClaseColumna::Entero;
        c.tamano = tiene("BIGINT") ? 8 : tiene("SMALLINT") ? 2 : tiene("TINYINT") ? 1 : 4;
    } else if (tiene("CHAR") || tiene("CLOB") || tiene("TEXT") || tiene("STRING")) {
        c.clase = ClaseColumna::Texto;
        c.tamano = (largo > 0 && !maximo) ? largo : TextoSinLargo;
    } else if (tiene("BLOB") || tiene("BINARY") || tiene("IMAGE")) {
        c.clase = ClaseColumna::Binaria;
        c.tamano = (largo > 0 && !maximo) ? largo : TextoSinLargo;
    } else if (tiene("REAL") || tiene("FLOA") || tiene("DOUB")) {
        c.clase = ClaseColumna::Decimal;
        c.tamano = 8;
    } else if (tiene("NUM") || tiene("DEC") || tiene("MONEY")) {
        c.clase = ClaseColumna::Decimal;
        c.tamano = tiene("MONEY") ? 8 : 19;
    } else {
        c.clase = ClaseColumna::Otra;
        c.tamano = 255;
    }
    return c;
}

QVariant NormalizarValor(QVariant&& v, ClaseColumna clase) {
    if (v.isNull()) return QVariant();
    switch (clase) {
    case ClaseColumna::Fecha:
        if (v.typeId() == QMetaType::QString) return fechaDeTexto(v.toString());
        break;
    case ClaseColumna::Decimal:
        switch (v.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
            return v.toDouble();
        case QMetaType::QString: {
            bool ok = false;
            const double d = v.toString().toDouble(&ok);
            if (ok) return d;
            break;
        }
        default:
            break;
        }
        break;
    case ClaseColumna::Logica:
        switch (v.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::UChar:
        case QMetaType::Char:
        case QMetaType::Double:
            return v.toDouble() != 0;
        default:
            break;
        }
        break;
    case ClaseColumna::Entero:
        if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::Short) return v.toLongLong();
        break;
    default:
        break;
    }
    return std::move(v);
}

namespace {

// Columns of an executed statement: names, classes and defined sizes.
std::vector<Columna> columnasDe(const QSqlQuery& q, bool rutaSqlite) {
    const QSqlRecord rec = q.record();
    std::vector<Columna> r;
    r.reserve(size_t(rec.count()));
    sqlite3_stmt* stmt = nullptr;
    if (rutaSqlite) {
        const QVariant h = q.result()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3_stmt*") == 0)
            stmt = *static_cast<sqlite3_stmt* const*>(h.constData());
    }
    for (int i = 0; i < rec.count(); ++i) {
        const QSqlField f = rec.field(i);
        if (rutaSqlite) {
            const char* decl = stmt ? sqlite3_column_decltype(stmt, i) : nullptr;
            r.push_back(ColumnaDeTipoDeclarado(f.name(), decl ? QString::fromUtf8(decl) : QString()));
            continue;
        }
        Columna c;
        c.nombre = f.name();
        const int largo = f.length();
        switch (f.metaType().id()) {
        case QMetaType::QString:
            c.clase = ClaseColumna::Texto;
            c.tamano = (largo > 0 && largo < 1073741823) ? largo : TextoSinLargo;
            break;
        case QMetaType::QByteArray:
            c.clase = ClaseColumna::Binaria;
            c.tamano = (largo > 0 && largo < 1073741823) ? largo : TextoSinLargo;
            break;
        case QMetaType::QDate:
        case QMetaType::QDateTime:
        case QMetaType::QTime:
            c.clase = ClaseColumna::Fecha;
            c.tamano = 8;
            break;
        case QMetaType::Bool:
            c.clase = ClaseColumna::Logica;
            c.tamano = 2;
            break;
        case QMetaType::Short:
        case QMetaType::UShort:
            c.clase = ClaseColumna::Entero;
            c.tamano = 2;
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
            c.clase = ClaseColumna::Entero;
            c.tamano = 4;
            break;
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            c.clase = ClaseColumna::Entero;
            c.tamano = 8;
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            c.clase = ClaseColumna::Decimal;
            c.tamano = 8;
            break;
        default:
            c.clase = ClaseColumna::Otra;
            c.tamano = largo > 0 ? largo : 255;
        }
        r.push_back(std::move(c));
    }
    return r;
}

[[noreturn]] void falloOdbc(SQLHSTMT sentencia) {
    SQLCHAR estado[6] = {};
    SQLINTEGER nativo = 0;
    SQLCHAR mensaje[1024] = {};
    SQLSMALLINT largo = 0;
    QString texto;
    if (SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, sentencia, 1, estado, &nativo, mensaje,
                                    SQLSMALLINT(sizeof mensaje), &largo)))
        texto = QString::fromUtf8(reinterpret_cast<const char*>(mensaje)).trimmed();
    if (texto.isEmpty()) texto = QStringLiteral("error desconocido del controlador");
    throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("No se pudo leer la consulta: ") + texto);
}

// A number written by a driver: a whole number, or a decimal one with "." (or a lone ",") as
// its point. Anything else stays the text it is, so nothing is lost.
QVariant numeroDeTexto(const QString& texto) {
    const QString t = texto.trimmed();
    bool ok = false;
    if (!t.contains(QChar('.')) && !t.contains(QChar(',')) && !t.contains(QChar('e'), Qt::CaseInsensitive)) {
        const qlonglong v = t.toLongLong(&ok);
        if (ok) return v;
    }
    QString c = t;
    if (!c.contains(QChar('.')) && c.count(QChar(',')) == 1) c.replace(QChar(','), QChar('.'));
    const double d = QLocale::c().toDouble(c, &ok);
    if (ok && std::isfinite(d)) return d;
    return texto;
}

} // namespace

// ---- Reading from ODBC ---------------------------------------------------------------

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

bool LectorOdbc::Preparar(const QSqlQuery& q) {
    Olvidar();
    const QVariant h = q.result() ? q.result()->handle() : QVariant();
    if (!h.isValid() || (qstrcmp(h.typeName(), "SQLHANDLE") != 0 && qstrcmp(h.typeName(), "void*") != 0))
        return false;
    const SQLHSTMT sentencia = *static_cast<const SQLHANDLE*>(h.constData());
    SQLSMALLINT n = 0;
    if (!sentencia || !SQL_SUCCEEDED(SQLNumResultCols(sentencia, &n))) return false;
    tipos_.assign(size_t(std::max<SQLSMALLINT>(n, 0)), SQL_VARCHAR);
    for (SQLSMALLINT i = 0; i < n; ++i) {
        SQLSMALLINT tipo = SQL_VARCHAR, decimales = 0, nulos = 0;
        SQLULEN tamano = 0;
        if (SQL_SUCCEEDED(SQLDescribeCol(sentencia, SQLUSMALLINT(i + 1), nullptr, 0, nullptr, &tipo, &tamano,
                                         &decimales, &nulos)))
            tipos_[size_t(i)] = tipo;
    }
    sentencia_ = sentencia;
    return true;
}

QVariant LectorOdbc::Leer(int columna) const {
    const SQLHSTMT sentencia = sentencia_;
    const auto numero = SQLUSMALLINT(columna + 1);
    const short tipo = tipos_.at(size_t(columna));
    SQLLEN indicador = 0;
    switch (tipo) {
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: {
        double v = 0;
        if (!SQL_SUCCEEDED(SQLGetData(sentencia, numero, SQL_C_DOUBLE, &v, sizeof v, &indicador)))
            falloOdbc(sentencia);
        if (indicador == SQL_NULL_DATA) return QVariant();
        return v;
    }
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: {
        QByteArray datos;
        char trozo[4096];
        for (;;) {
            const SQLRETURN r = SQLGetData(sentencia, numero, SQL_C_BINARY, trozo, sizeof trozo, &indicador);
            if (r == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(r)) falloOdbc(sentencia);
            if (indicador == SQL_NULL_DATA) return QVariant();
            const bool entero = indicador != SQL_NO_TOTAL && indicador <= SQLLEN(sizeof trozo);
            datos.append(trozo, entero ? qsizetype(indicador) : qsizetype(sizeof trozo));
            if (r == SQL_SUCCESS || entero) break;
        }
        return datos;
    }
    default:
        break;
    }
    QString texto = QStringLiteral("");
    SQLWCHAR trozo[1024];
    constexpr SQLLEN capacidad = SQLLEN(sizeof trozo / sizeof(SQLWCHAR)) - 1; // without the terminator
    for (;;) {
        const SQLRETURN r = SQLGetData(sentencia, numero, SQL_C_WCHAR, trozo, sizeof trozo, &indicador);
        if (r == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(r)) falloOdbc(sentencia);
        if (indicador == SQL_NULL_DATA) return QVariant();
        const SQLLEN llegados =
            indicador == SQL_NO_TOTAL ? capacidad : std::min(capacidad, SQLLEN(indicador / sizeof(SQLWCHAR)));
        texto.append(QStringView(reinterpret_cast<const char16_t*>(trozo), qsizetype(llegados)));
        if (r == SQL_SUCCESS || llegados < capacidad) break;
    }
    switch (tipo) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return numeroDeTexto(texto);
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
        return fechaDeTexto(texto.trimmed());
    case SQL_TIME:
    case SQL_TYPE_TIME: {
        const QTime hora = QTime::fromString(texto.trimmed().left(8), QStringLiteral("HH:mm:ss"));
        return hora.isValid() ? QVariant(hora) : QVariant(texto);
    }
    default:
        return texto;
    }
}

// ---- RecordsetDatos ----------------------------------------------------------------

void RecordsetDatos::apuntarFila() {
    if (editando)
        fila = edicion.data();
    else if (eof || modo == Modo::Cerrado)
        fila = nullptr;
    else if (modo == Modo::Flujo)
        fila = actual.data();
    else
        fila = filas.data() + size_t(indice) * size_t(ncols);
}

namespace {
// The next row of a streaming recordset into actual; false at the end of the result.
void terminarFlujo(RecordsetDatos& d);

// Before each row read from the database: the tests' hook may fail the read.
void antesDeLeer(const RecordsetDatos& d) {
    if (d.sesion && d.sesion->AntesDeLeer) d.sesion->AntesDeLeer(d.sql);
}

// A read that failed part way: what follows is unknown, and the recordset says so from now on.
void lecturaInterrumpida(RecordsetDatos& d, const QString& motivo) {
    d.lecturaFallida = motivo.trimmed().isEmpty() ? QStringLiteral("error desconocido") : motivo.trimmed();
}

// A read that fails ends the result first, so that the connection is free for what follows.
[[noreturn]] void falloDeLectura(RecordsetDatos& d, const QSqlError& e) {
    terminarFlujo(d);
    d.eof = true;
    d.fila = nullptr;
    lecturaInterrumpida(d, e.text());
    if (d.sesion) SesionInterna::Fallar(*d.sesion, QStringLiteral("No se pudo leer la consulta: "), e);
    throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("No se pudo leer la consulta: ") + e.text());
}

// A value of the query's current row as the driver gives it (before normalising).
QVariant valorCrudo(const RecordsetDatos& d, QSqlQuery& q, int i) {
    return d.odbc.Activo() ? d.odbc.Leer(i) : q.value(i);
}

// A column of a SQLite statement's current row as Qt's driver gives it (before normalising).
QVariant valorSqlite(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_BLOB: {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
        return QByteArray(p, sqlite3_column_bytes(s, i));
    }
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, i);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default: {
        const auto* p = static_cast<const QChar*>(sqlite3_column_text16(s, i));
        return QString(p, sqlite3_column_bytes16(s, i) / int(sizeof(QChar)));
    }
    }
}

// The UTF-16 of a UTF-8 text into `destino` when it is made of ASCII and well-formed two-byte
// sequences only, which SQLite's own translation turns into the same units; its length, or -1
// for anything else (left to SQLite).
int anchoSimple(const unsigned char* p, int n, std::vector<char16_t>& destino) {
    if (destino.size() < std::size_t(n)) destino.resize(std::size_t(n));
    char16_t* o = destino.data();
    int i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time: the usual text.
        while (i + 8 <= n) {
            std::uint64_t ocho = 0;
            std::memcpy(&ocho, p + i, 8);
            if (ocho & 0x8080808080808080u) break;
            for (int k = 0; k < 8; ++k)
                o[k] = p[i + k];
            o += 8;
            i += 8;
        }
        if (i >= n) break;
        const unsigned char b = p[i];
        if (b < 0x80) {
            *o++ = b;
            ++i;
            continue;
        }
        // A lead byte and one continuation byte; SQLite takes in any further continuation
        // byte, which is left to it when the loop reaches it.
        if (b < 0xC2 || b > 0xDF || i + 1 >= n || (p[i + 1] & 0xC0) != 0x80) return -1;
        *o++ = char16_t((b & 0x1F) << 6 | (p[i + 1] & 0x3F));
        i += 2;
    }
    return int(o - destino.data());
}

// A failed step as Qt's driver reports it (a generic error is told by the reset).
QSqlError errorDePaso(sqlite3_stmt* s, int r) {
    if (r == SQLITE_ERROR || r == SQLITE_CONSTRAINT) r = sqlite3_reset(s);
    const auto* mensaje = static_cast<const QChar*>(sqlite3_errmsg16(sqlite3_db_handle(s)));
    return QSqlError(QCoreApplication::translate("QSQLiteResult", "Unable to fetch row"), QString(mensaje),
                     QSqlError::ConnectionError, QString::number(r));
}

bool siguienteEnFlujo(RecordsetDatos& d) {
    QSqlQuery& q = *d.consulta;
    auto interrumpir = [&d](const QString& motivo) {
        terminarFlujo(d);
        d.eof = true;
        d.fila = nullptr;
        lecturaInterrumpida(d, motivo);
    };
    try {
        antesDeLeer(d);
    } catch (const ErrorSistema& e) {
        interrumpir(e.Descripcion);
        throw;
    }
    if (d.directa) {
        const int r = sqlite3_step(d.directa);
        if (r == SQLITE_DONE) return false;
        if (r != SQLITE_ROW) falloDeLectura(d, errorDePaso(d.directa, r));
        std::fill(d.porConstruir.begin(), d.porConstruir.end(), 1);
        return true;
    }
    if (!q.next()) {
        if (q.lastError().isValid()) falloDeLectura(d, q.lastError());
        return false;
    }
    try {
        for (int i = 0; i < d.ncols; ++i)
            d.actual[size_t(i)] = NormalizarValor(valorCrudo(d, q, i), d.columnas[size_t(i)].clase);
    } catch (const ErrorSistema& e) {
        interrumpir(e.Descripcion);
        throw;
    } catch (...) {
        interrumpir(QString());
        throw;
    }
    return true;
}

void terminarFlujo(RecordsetDatos& d) {
    d.odbc.Olvidar();
    d.directa = nullptr;
    d.porConstruir.clear();
    if (d.consulta) {
        d.consulta->finish();
        d.consulta.reset();
    }
    if (d.modo == RecordsetDatos::Modo::Flujo) {
        if (d.sesion) SesionInterna::CambioAFlujo(*d.sesion, -1);
        d.modo = RecordsetDatos::Modo::Memoria;
    }
}
} // namespace

void RecordsetDatos::construir(int i) {
    actual[size_t(i)] = NormalizarValor(valorSqlite(directa, i), columnas[size_t(i)].clase);
    porConstruir[size_t(i)] = 0;
}

void RecordsetDatos::construirFila() {
    for (int i = 0; i < ncols; ++i)
        if (porConstruir[size_t(i)]) construir(i);
}

void RecordsetDatos::leerResto() {
    if (modo != Modo::Flujo) return;
    QSqlQuery& q = *consulta;
    try {
        // The current row stays where it is (actual) until the next move; the rows in memory
        // start with a copy of it. Qt's reading goes on from the statement's row.
        if (directa) {
            construirFila();
            directa = nullptr;
            porConstruir.clear();
        }
        filas.assign(actual.begin(), actual.end());
        nfilas = 1;
        indice = 0;
        while ((antesDeLeer(*this), q.next())) {
            for (int i = 0; i < ncols; ++i)
                filas.push_back(NormalizarValor(valorCrudo(*this, q, i), columnas[size_t(i)].clase));
            ++nfilas;
        }
    } catch (const ErrorSistema& e) {
        completo = false;
        terminarFlujo(*this);
        lecturaInterrumpida(*this, e.Descripcion);
        throw;
    } catch (...) {
        completo = false;
        terminarFlujo(*this);
        lecturaInterrumpida(*this, QString());
        throw;
    }
    if (q.lastError().isValid()) {
        completo = false;
        falloDeLectura(*this, q.lastError());
    }
    terminarFlujo(*this);
    completo = descartadas == 0;
}

void RecordsetDatos::cerrar() {
    odbc.Olvidar();
    directa = nullptr;
    porConstruir.clear();
    if (consulta) {
        consulta->finish();
        consulta.reset();
    }
    if (sesion) {
        if (modo == Modo::Flujo) SesionInterna::CambioAFlujo(*sesion, -1);
        SesionInterna::Olvidar(*sesion, this);
    }
    sesion = nullptr;
    modo = Modo::Cerrado;
    vacio = eof = true;
    columnas.clear();
    ncols = 0;
    std::vector<QVariant>().swap(actual);
    std::vector<QVariant>().swap(filas);
    std::vector<QVariant>().swap(originales);
    edicion.clear();
    cambiadas.clear();
    nfilas = indice = descartadas = 0;
    lecturaFallida.clear();
    editando = nuevo = false;
    fila = nullptr;
}

// ---- Opening ------------------------------------------------------------------

void Sesion::AbrirRecordset(const QString& sql, Recordset& rs, int cursor, int bloqueo, int) {
    rs.Close();
    if (!rs.d_) rs.d_ = std::make_unique<RecordsetDatos>();
    RecordsetDatos& d = *rs.d_;
    const bool actualizable = bloqueo >= 2;
    const bool flujo = cursor == Cursor::SoloAdelante && !actualizable;

    QSqlQuery q = SesionInterna::Preparar(*this, sql);
    SesionInterna::Ejecutar(*this, q, QStringLiteral("No se pudo abrir la consulta: "));

    d.sesion = this;
    d.sql = sql;
    d.cursor = cursor;
    d.bloqueo = bloqueo;
    d.actualizable = actualizable;
    d.columnas = columnasDe(q, SesionInterna::RutaSQLite(*this));
    d.ncols = int(d.columnas.size());
    d.actual.assign(size_t(d.ncols), QVariant());
    d.descartadas = 0;
    SesionInterna::Registrar(*this, &d);
    try {
        if (!SesionInterna::RutaSQLite(*this)) d.odbc.Preparar(q);
        if (flujo) {
            d.consulta.emplace(std::move(q));
            d.modo = RecordsetDatos::Modo::Flujo;
            SesionInterna::CambioAFlujo(*this, +1);
            d.vacio = d.eof = !siguienteEnFlujo(d);
            if (d.vacio) terminarFlujo(d);
            d.completo = d.vacio;
        } else {
            d.modo = RecordsetDatos::Modo::Memoria;
            while ((antesDeLeer(d), q.next())) {
                for (int i = 0; i < d.ncols; ++i) {
                    QVariant v = valorCrudo(d, q, i);
                    if (actualizable) d.originales.push_back(v);
                    d.filas.push_back(NormalizarValor(std::move(v), d.columnas[size_t(i)].clase));
                }
                ++d.nfilas;
            }
            if (q.lastError().isValid())
                SesionInterna::Fallar(*this, QStringLiteral("No se pudo leer la consulta: "), q.lastError());
            d.odbc.Olvidar();
            q.finish();
            d.vacio = d.eof = d.nfilas == 0;
            d.completo = true;
        }
        // Expressions (SUM, COUNT) declare no type: their size follows what the first row holds.
        if (!d.vacio) {
            const QVariant* primera =
                d.modo == RecordsetDatos::Modo::Flujo ? d.actual.data() : d.filas.data();
            for (int i = 0; i < d.ncols; ++i) {
                Columna& c = d.columnas[size_t(i)];
                if (c.clase != ClaseColumna::Otra) continue;
                switch (primera[i].typeId()) {
                case QMetaType::LongLong:
                case QMetaType::Double:
                    c.tamano = 8;
                    break;
                case QMetaType::Int:
                    c.tamano = 4;
                    break;
                default:
                    break;
                }
            }
        }
    } catch (...) {
        d.cerrar();
        throw;
    }
    d.indice = 0;
    d.apuntarFila();
}

// ---- Recordset --------------------------------------------------------------------

Recordset::Recordset() = default;
Recordset::~Recordset() {
    if (d_) d_->cerrar();
}
Recordset::Recordset(Recordset&& o) noexcept : d_(std::move(o.d_)) {}
Recordset& Recordset::operator=(Recordset&& o) noexcept {
    if (this != &o) {
        if (d_) d_->cerrar();
        d_ = std::move(o.d_);
    }
    return *this;
}

bool Recordset::Abierto() const {
    return d_ && d_->modo != RecordsetDatos::Modo::Cerrado;
}

bool Recordset::BOF() const {
    if (!Abierto()) errorCerrado();
    return d_->vacio;
}

bool Recordset::Eof() const {
    if (!d_ || d_->modo == RecordsetDatos::Modo::Cerrado) errorCerrado();
    if (!d_->lecturaFallida.isEmpty()) errorLecturaFallida(*d_);
    return d_->eof;
}

void Recordset::MoveNext() {
    if (!Abierto()) errorCerrado();
    RecordsetDatos& d = *d_;
    if (!d.lecturaFallida.isEmpty()) errorLecturaFallida(d);
    if (d.eof) errorSinRegistro();
    if (d.editando) Update();
    if (d.modo == RecordsetDatos::Modo::Flujo) {
        ++d.descartadas;
        if (!siguienteEnFlujo(d)) {
            terminarFlujo(d);
            d.nfilas = 0;
            d.eof = true;
        }
    } else if (++d.indice >= d.nfilas) {
        d.indice = d.nfilas;
        d.eof = true;
    }
    d.apuntarFila();
}

void Recordset::MoveFirst() {
    if (!Abierto()) errorCerrado();
    RecordsetDatos& d = *d_;
    if (d.editando) Update();
    if (d.vacio) return;
    if (d.modo == RecordsetDatos::Modo::Flujo && d.descartadas == 0) return;
    if (d.modo == RecordsetDatos::Modo::Memoria && d.completo) {
        d.indice = 0;
        d.eof = d.nfilas == 0;
        d.apuntarFila();
        return;
    }
    // A forward-only result already passed: run the statement again, as a forward-only cursor does.
    Sesion* s = d.sesion;
    if (!s) errorCerrado();
    const QString sql = d.sql;
    s->AbrirRecordset(sql, *this, d.cursor, d.bloqueo);
}

int Recordset::FieldCount() const {
    if (!Abierto()) errorCerrado();
    return d_->ncols;
}

Campo Recordset::Fields(int indice) {
    if (!Abierto()) errorCerrado();
    if (indice < 0 || indice >= d_->ncols)
        throw ErrorSistema(Errores::ElementoNoEncontrado,
                           QStringLiteral("No existe el campo número %1 en el recordset (tiene %2 campos).")
                               .arg(indice)
                               .arg(d_->ncols));
    return Campo(this, indice);
}

Campo Recordset::Fields(const QString& nombre) {
    if (!Abierto()) errorCerrado();
    const QString buscado = nombre.trimmed();
    for (int i = 0; i < d_->ncols; ++i)
        if (d_->columnas[size_t(i)].nombre.compare(buscado, Qt::CaseInsensitive) == 0) return Campo(this, i);
    throw ErrorSistema(Errores::ElementoNoEncontrado,
                       QStringLiteral("No existe el campo \"%1\" en el recordset.").arg(nombre));
}

const QVariant& Recordset::Valor(int indice) const {
    RecordsetDatos* d = d_.get();
    if (d && d->fila && unsigned(indice) < unsigned(d->ncols)) {
        if (d->directa && d->porConstruir[size_t(indice)]) d->construir(indice);
        return d->fila[indice];
    }
    if (!d || d->modo == RecordsetDatos::Modo::Cerrado) errorCerrado();
    if (!d->fila) errorSinRegistro();
    throw ErrorSistema(Errores::ElementoNoEncontrado,
                       QStringLiteral("No existe el campo número %1 en el recordset.").arg(indice));
}

bool Recordset::LecturaDirecta() {
    if (!d_) return false;
    RecordsetDatos& d = *d_;
    if (d.directa) return true;
    if (d.modo != RecordsetDatos::Modo::Flujo || !d.consulta || d.odbc.Activo() || d.eof || !d.sesion ||
        !d.sesion->LecturaDirecta || !SesionInterna::RutaSQLite(*d.sesion) || !d.lecturaFallida.isEmpty())
        return false;
    // The values must come out as Qt's driver builds them for this query.
    const QSql::NumericalPrecisionPolicy precision = d.consulta->numericalPrecisionPolicy();
    if (precision != QSql::LowPrecisionDouble && precision != QSql::HighPrecision) return false;
    const QVariant h = d.consulta->result() ? d.consulta->result()->handle() : QVariant();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3_stmt*") != 0) return false;
    sqlite3_stmt* stmt = *static_cast<sqlite3_stmt* const*>(h.constData());
    if (!stmt) return false;
    // The texts are widened here only when the file keeps them as UTF-8 (asked of the
    // connection itself: no statement of the session's runs meanwhile).
    bool utf8 = false;
    sqlite3_stmt* pragma = nullptr;
    if (sqlite3_prepare_v2(sqlite3_db_handle(stmt), "PRAGMA encoding", -1, &pragma, nullptr) == SQLITE_OK &&
        sqlite3_step(pragma) == SQLITE_ROW) {
        const auto* e = reinterpret_cast<const char*>(sqlite3_column_text(pragma, 0));
        utf8 = e && qstrcmp(e, "UTF-8") == 0;
    }
    sqlite3_finalize(pragma);
    d.anchos.resize(size_t(d.ncols));
    d.porConstruir.assign(size_t(d.ncols), 0);
    // Qt has read the current row already (its first row is stepped when the query runs):
    // the statement stands on it, and the next step is the next row.
    d.utf8 = utf8;
    d.directa = stmt;
    return true;
}

Recordset::Celda Recordset::CeldaTexto(int indice, QStringView& texto) const {
    RecordsetDatos* d = d_.get();
    if (d && d->fila && d->directa && unsigned(indice) < unsigned(d->ncols) &&
        d->porConstruir[size_t(indice)]) {
        const ClaseColumna clase = d->columnas[size_t(indice)].clase;
        switch (sqlite3_column_type(d->directa, indice)) {
        case SQLITE_NULL:
            return Celda::Nula;
        case SQLITE_TEXT:
            // Dates and decimals written as text become values: those go through Valor.
            if (clase != ClaseColumna::Fecha && clase != ClaseColumna::Decimal) {
                // SQLite's translation to UTF-16 allocates for every value: most texts are
                // widened here instead.
                if (d->utf8) {
                    const auto* u = sqlite3_column_text(d->directa, indice);
                    std::vector<char16_t>& ancho = d->anchos[size_t(indice)];
                    const int n = u ? anchoSimple(u, sqlite3_column_bytes(d->directa, indice), ancho) : -1;
                    if (n >= 0) {
                        texto = QStringView(ancho.data(), n);
                        return Celda::Texto;
                    }
                }
                const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(d->directa, indice));
                if (!p) break;
                texto = QStringView(p, sqlite3_column_bytes16(d->directa, indice) / 2);
                return Celda::Texto;
            }
            break;
        default:
            break;
        }
    }
    const QVariant& v = Valor(indice);
    if (!v.isValid() || v.isNull()) return Celda::Nula;
    if (v.metaType().id() != QMetaType::QString) return Celda::Otra;
    texto = *static_cast<const QString*>(v.constData());
    return Celda::Texto;
}

void Recordset::AddNew() {
    if (!Abierto()) errorCerrado();
    RecordsetDatos& d = *d_;
    if (!d.actualizable)
        throw ErrorSistema(NoActualizable,
                           QStringLiteral("El recordset es de solo lectura: no admite agregar filas."));
    if (d.editando) Update();
    d.edicion.assign(size_t(d.ncols), QVariant());
    d.cambiadas.assign(size_t(d.ncols), false);
    d.editando = d.nuevo = true;
    d.apuntarFila();
}

void Recordset::Close() {
    if (d_) d_->cerrar();
}

// ---- Writing back -------------------------------------------------------------------

namespace {

struct Destino {
    QString tabla;                 // as written in the statement
    QString condicion;             // the statement's WHERE condition, when the row is found by its values
    std::vector<QString> columnas; // per recordset column: the table's column name, or empty
    std::vector<int> identidad;    // recordset columns that identify a row
};

Destino destinoDe(Sesion& s, RecordsetDatos& d) {
    Destino r;
    const TablaYCondicion tc = tablaDeConsulta(d.sql);
    r.tabla = tc.tabla;
    if (r.tabla.isEmpty())
        throw ErrorSistema(
            NoActualizable,
            QStringLiteral("No se puede actualizar: la consulta no es de una sola tabla (%1).").arg(d.sql));
    QSqlDatabase db = s.Base();
    const QString nombre = sinDelimitadores(r.tabla);
    const QSqlRecord campos = db.record(nombre);
    if (campos.isEmpty())
        throw ErrorSistema(
            NoActualizable,
            QStringLiteral("No se puede actualizar: no se encontró la tabla %1.").arg(r.tabla));
    r.columnas.resize(size_t(d.ncols));
    for (int i = 0; i < d.ncols; ++i)
        for (int k = 0; k < campos.count(); ++k)
            if (campos.fieldName(k).compare(d.columnas[size_t(i)].nombre, Qt::CaseInsensitive) == 0) {
                r.columnas[size_t(i)] = campos.fieldName(k);
                break;
            }
    const QSqlIndex clave = db.primaryIndex(nombre);
    bool claveCompleta = clave.count() > 0;
    for (int k = 0; claveCompleta && k < clave.count(); ++k) {
        int encontrada = -1;
        for (int i = 0; i < d.ncols && encontrada < 0; ++i)
            if (r.columnas[size_t(i)].compare(clave.fieldName(k), Qt::CaseInsensitive) == 0) encontrada = i;
        if (encontrada < 0)
            claveCompleta = false;
        else
            r.identidad.push_back(encontrada);
    }
    if (!claveCompleta) {
        // Without a key, the row read is the one that still meets the statement's condition
        // and still holds the values read.
        r.condicion = tc.condicion;
        r.identidad.clear();
        const bool sqlite = SesionInterna::EsSQLite(s);
        for (int i = 0; i < d.ncols; ++i) {
            if (r.columnas[size_t(i)].isEmpty()) continue;
            const Columna& c = d.columnas[size_t(i)];
            // Long texts and binaries cannot be compared with "=" on every server.
            if (!sqlite && (c.clase == ClaseColumna::Binaria || c.tamano >= 1073741823)) continue;
            r.identidad.push_back(i);
        }
    }
    if (r.identidad.empty())
        throw ErrorSistema(
            NoActualizable,
            QStringLiteral("No se puede actualizar: ninguna columna de la consulta identifica la fila."));
    return r;
}

QString nombreSql(const QSqlDatabase& db, const QString& columna) {
    return db.driver()->escapeIdentifier(columna, QSqlDriver::FieldName);
}

// The recordset columns given a value, each of them a column of the table.
std::vector<int> columnasPuestas(const RecordsetDatos& d, const Destino& dest) {
    std::vector<int> puestas;
    for (int i = 0; i < d.ncols; ++i)
        if (d.cambiadas[size_t(i)]) {
            if (dest.columnas[size_t(i)].isEmpty())
                throw ErrorSistema(NoActualizable,
                                   QStringLiteral("El campo \"%1\" no es una columna de %2: no se puede "
                                                  "actualizar.")
                                       .arg(d.columnas[size_t(i)].nombre, dest.tabla));
            puestas.push_back(i);
        }
    return puestas;
}

void insertarFila(Sesion& s, RecordsetDatos& d, const Destino& dest, const std::vector<int>& puestas,
                  const std::vector<QVariant>& ligados) {
    QSqlDatabase db = s.Base();
    QString sql;
    if (puestas.empty())
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(dest.tabla);
    else {
        QStringList nombres, marcas;
        for (int i : puestas) {
            nombres << nombreSql(db, dest.columnas[size_t(i)]);
            marcas << QStringLiteral("?");
        }
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(dest.tabla, nombres.join(QStringLiteral(", ")), marcas.join(QStringLiteral(", ")));
    }
    QSqlQuery q = SesionInterna::Preparar(s, sql);
    for (int i : puestas)
        q.addBindValue(ligados[size_t(i)]);
    SesionInterna::Ejecutar(s, q, QStringLiteral("No se pudo agregar la fila: "));
    q.finish();
    for (int i = 0; i < d.ncols; ++i) {
        const QVariant crudo = d.cambiadas[size_t(i)] ? ligados[size_t(i)] : QVariant();
        d.originales.push_back(crudo);
        d.filas.push_back(NormalizarValor(QVariant(crudo), d.columnas[size_t(i)].clase));
    }
    ++d.nfilas;
    d.indice = d.nfilas - 1;
    d.vacio = d.eof = false;
    d.completo = true;
}

// The condition that finds the row read (by its key, or by the statement's condition and all
// of its original values), and the values it binds.
struct CondicionDeFila {
    QString donde;
    std::vector<QVariant> valores;
};

CondicionDeFila condicionDeFila(const QSqlDatabase& db, const RecordsetDatos& d, const Destino& dest) {
    const size_t base = size_t(d.indice) * size_t(d.ncols);
    CondicionDeFila r;
    QStringList condiciones;
    for (int i : dest.identidad) {
        const QVariant& o = d.originales[base + size_t(i)];
        const QString col = nombreSql(db, dest.columnas[size_t(i)]);
        if (o.isNull())
            condiciones << col + QStringLiteral(" IS NULL");
        else {
            condiciones << col + QStringLiteral(" = ?");
            r.valores.push_back(o);
        }
    }
    if (!dest.condicion.isEmpty()) condiciones.prepend(QChar('(') + dest.condicion + QChar(')'));
    r.donde = condiciones.join(QStringLiteral(" AND "));
    return r;
}

// Exactly one row meets the condition; else nothing may be written.
void exigirFilaUnica(Sesion& s, const Destino& dest, const CondicionDeFila& condicion) {
    QSqlQuery c = SesionInterna::Preparar(
        s, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2").arg(dest.tabla, condicion.donde));
    for (const QVariant& v : condicion.valores)
        c.addBindValue(v);
    SesionInterna::Ejecutar(s, c, QStringLiteral("No se pudo actualizar la fila: "));
    const qlonglong n = c.next() ? c.value(0).toLongLong() : 0;
    c.finish();
    if (n == 0)
        throw ErrorSistema(Errores::FilaNoEncontrada,
                           QStringLiteral("No se encontró la fila para actualizar en %1: otro proceso la "
                                          "modificó o la eliminó después de leerla. No se cambió nada.")
                               .arg(dest.tabla));
    if (n > 1)
        throw ErrorSistema(
            Errores::FilaNoEncontrada,
            QStringLiteral("No se puede actualizar la fila de %1: la fila no es única (%2 filas "
                           "iguales). No se cambió nada.")
                .arg(dest.tabla)
                .arg(n));
}

void actualizarFila(Sesion& s, RecordsetDatos& d, const Destino& dest, const std::vector<int>& puestas,
                    const std::vector<QVariant>& ligados) {
    QSqlDatabase db = s.Base();
    const CondicionDeFila condicion = condicionDeFila(db, d, dest);
    // Count and write as one unit, so that the row counted is the row written. On SQLite the
    // unit takes the write lock first: a count under a read lock cannot ask for it later
    // while another program writes (SQLite refuses at once, to avoid a deadlock).
    Transaccion unidad(s);
    exigirFilaUnica(s, dest, condicion);
    QStringList asignaciones;
    for (int i : puestas)
        asignaciones << nombreSql(db, dest.columnas[size_t(i)]) + QStringLiteral(" = ?");
    QSqlQuery u = SesionInterna::Preparar(
        s, QStringLiteral("UPDATE %1 SET %2 WHERE %3")
               .arg(dest.tabla, asignaciones.join(QStringLiteral(", ")), condicion.donde));
    for (int i : puestas)
        u.addBindValue(ligados[size_t(i)]);
    for (const QVariant& v : condicion.valores)
        u.addBindValue(v);
    SesionInterna::Ejecutar(s, u, QStringLiteral("No se pudo actualizar la fila: "));
    const int afectadas = u.numRowsAffected();
    u.finish();
    if (afectadas > 1 || afectadas == 0)
        throw ErrorSistema(
            Errores::FilaNoEncontrada,
            QStringLiteral("No se pudo actualizar la fila de %1: la sentencia alcanzó %2 filas. "
                           "No se cambió nada.")
                .arg(dest.tabla)
                .arg(afectadas));
    unidad.Cometer();
    const size_t base = size_t(d.indice) * size_t(d.ncols);
    for (int i : puestas) {
        d.originales[base + size_t(i)] = ligados[size_t(i)];
        d.filas[base + size_t(i)] =
            NormalizarValor(QVariant(ligados[size_t(i)]), d.columnas[size_t(i)].clase);
    }
}

} // namespace

void Recordset::Update() {
    if (!Abierto()) errorCerrado();
    RecordsetDatos& d = *d_;
    if (!d.editando) return;
    if (!d.sesion) errorCerrado();
    Sesion& s = *d.sesion;
    // Metadata reads use the connection too: pending results first.
    SesionInterna::LeerPendientes(s);
    const Destino dest = destinoDe(s, d);
    const std::vector<int> puestas = columnasPuestas(d, dest);
    if (!d.nuevo && puestas.empty()) {
        d.editando = false;
        d.apuntarFila();
        return;
    }
    std::vector<QVariant> ligados(size_t(d.ncols));
    for (int i : puestas)
        ligados[size_t(i)] = SesionInterna::ValorParaLigar(s, d.edicion[size_t(i)]);
    if (d.nuevo)
        insertarFila(s, d, dest, puestas, ligados);
    else
        actualizarFila(s, d, dest, puestas, ligados);
    d.editando = d.nuevo = false;
    d.edicion.clear();
    d.cambiadas.clear();
    d.apuntarFila();
}

// ---- Campo ---------------------------------------------------------------------------

QString Campo::Name() const {
    if (!rs_->Abierto()) errorCerrado();
    return rs_->d_->columnas[size_t(indice_)].nombre;
}

QVariant Campo::Value() const {
    return rs_->Valor(indice_);
}

QString Campo::Texto() const {
    return TextoEstandar(Value());
}

long Campo::DefinedSize() const {
    if (!rs_->Abierto()) errorCerrado();
    return rs_->d_->columnas[size_t(indice_)].tamano;
}

void Campo::setValue(const QVariant& valor) {
    if (!rs_->Abierto()) errorCerrado();
    RecordsetDatos& d = *rs_->d_;
    if (!d.actualizable)
        throw ErrorSistema(NoActualizable,
                           QStringLiteral("El recordset es de solo lectura: no se puede asignar el campo "
                                          "\"%1\".")
                               .arg(d.columnas[size_t(indice_)].nombre));
    if (!d.editando) {
        if (!d.fila) errorSinRegistro();
        d.edicion.assign(d.fila, d.fila + d.ncols);
        d.cambiadas.assign(size_t(d.ncols), false);
        d.editando = true;
    }
    d.edicion[size_t(indice_)] = valor;
    d.cambiadas[size_t(indice_)] = true;
    d.apuntarFila();
}
