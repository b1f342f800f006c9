#include "demodb.h"
#include "demodb_p.h"

#include <atomic>
#include <filesystem>
#include <optional>

#if DEMODB_SQLITE3
#include <QSqlDriver>
#include <sqlite3.h>
#endif
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace demodb {

using namespace detalle;

namespace detalle {

namespace {
std::atomic<quint64> contadorConexiones{0};
}

Conexion::Conexion(const QString& ruta)
    : nombre_(QStringLiteral("demodb-%1").arg(contadorConexiones.fetch_add(1) + 1)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre_);
    db.setDatabaseName(ruta);
}

Conexion::~Conexion() {
    {
        QSqlDatabase db = QSqlDatabase::database(nombre_, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(nombre_);
}

bool Conexion::abrir(QString* error) {
    QSqlDatabase base = db();
    if (!base.isValid()) {
        PonerError(error, QStringLiteral("El controlador QSQLITE no está disponible"));
        return false;
    }
    if (!base.open()) {
        PonerError(
            error,
            QStringLiteral("No se pudo abrir %1: %2").arg(base.databaseName(), base.lastError().text()));
        return false;
    }
    return true;
}

QSqlDatabase Conexion::db() const {
    return QSqlDatabase::database(nombre_, false);
}

struct Insercion::Datos {
    QSqlDatabase db;
    std::optional<QSqlQuery> q;
#if DEMODB_SQLITE3
    sqlite3* base = nullptr;
    sqlite3_stmt* sentencia = nullptr;
#endif
};

Insercion::Insercion(const QSqlDatabase& db) : d_(std::make_unique<Datos>()) {
    d_->db = db;
#if DEMODB_SQLITE3
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        // Only when the driver runs on this very library: a copy built into the plugin would
        // not share its structures with ours.
        QSqlQuery version(db);
        if (version.exec(QStringLiteral("SELECT sqlite_version()")) && version.next() &&
            version.value(0).toString() == QLatin1String(sqlite3_libversion()))
            d_->base = *static_cast<sqlite3* const*>(handle.constData());
    }
#endif
}

Insercion::~Insercion() {
#if DEMODB_SQLITE3
    if (d_->sentencia) sqlite3_finalize(d_->sentencia);
#endif
}

bool Insercion::directa() const {
#if DEMODB_SQLITE3
    return d_->base != nullptr;
#else
    return false;
#endif
}

bool Insercion::preparar(const QString& sql, QString* error) {
#if DEMODB_SQLITE3
    if (d_->base) {
        if (d_->sentencia) sqlite3_finalize(d_->sentencia), d_->sentencia = nullptr;
        const QByteArray texto = sql.toUtf8();
        if (sqlite3_prepare_v2(d_->base, texto.constData(), int(texto.size()), &d_->sentencia, nullptr) ==
            SQLITE_OK)
            return true;
        PonerError(error,
                   QStringLiteral("%1\n  en: %2").arg(QString::fromUtf8(sqlite3_errmsg(d_->base)), sql));
        return false;
    }
#endif
    d_->q.emplace(d_->db);
    if (d_->q->prepare(sql)) return true;
    PonerError(error, QStringLiteral("%1\n  en: %2").arg(d_->q->lastError().text(), sql));
    return false;
}

void Insercion::texto(int i, const QString& valor) {
    if (valor.isNull()) return nulo(i);
#if DEMODB_SQLITE3
    if (d_->sentencia) {
        sqlite3_bind_text16(d_->sentencia, i + 1, valor.utf16(), int(valor.size() * 2), SQLITE_TRANSIENT);
        return;
    }
#endif
    d_->q->bindValue(i, valor);
}

void Insercion::entero(int i, qint64 valor) {
#if DEMODB_SQLITE3
    if (d_->sentencia) {
        sqlite3_bind_int64(d_->sentencia, i + 1, valor);
        return;
    }
#endif
    d_->q->bindValue(i, valor);
}

void Insercion::real(int i, double valor) {
#if DEMODB_SQLITE3
    if (d_->sentencia) {
        sqlite3_bind_double(d_->sentencia, i + 1, valor);
        return;
    }
#endif
    d_->q->bindValue(i, valor);
}

void Insercion::nulo(int i) {
#if DEMODB_SQLITE3
    if (d_->sentencia) {
        sqlite3_bind_null(d_->sentencia, i + 1);
        return;
    }
#endif
    d_->q->bindValue(i, QVariant());
}

bool Insercion::ejecutar(QString* error) {
#if DEMODB_SQLITE3
    if (d_->sentencia) {
        const int rc = sqlite3_step(d_->sentencia);
        sqlite3_reset(d_->sentencia);
        if (rc == SQLITE_DONE) return true;
        PonerError(error, QString::fromUtf8(sqlite3_errmsg(d_->base)));
        return false;
    }
#endif
    if (d_->q->exec()) return true;
    PonerError(error, d_->q->lastError().text());
    return false;
}

void PonerError(QString* error, const QString& texto) {
    if (error) *error = texto;
}

bool Ejecutar(const QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        PonerError(error, QStringLiteral("%1\n  en: %2").arg(q.lastError().text(), sql.simplified()));
        return false;
    }
    return true;
}

QString SinAcentos(const QString& texto) {
    QString resultado;
    for (const QChar c : texto.normalized(QString::NormalizationForm_D))
        if (c.unicode() < 128) resultado.append(c);
    return resultado;
}

ArchivoNuevo::ArchivoNuevo(const QString& ruta) : ruta_(ruta) {}

ArchivoNuevo::~ArchivoNuevo() = default;

bool ArchivoNuevo::preparar(QString* error) {
    if (ruta_.isEmpty() || ruta_ == QLatin1String(":memory:")) {
        PonerError(error, QStringLiteral("Falta la ruta del archivo de la base"));
        return false;
    }
    if (!EsReemplazable(ruta_, error)) return false;
    temporal_ =
        std::make_unique<QTemporaryFile>(QFileInfo(ruta_).absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!temporal_->open()) {
        PonerError(error, QStringLiteral("No se puede crear un archivo en %1: %2")
                              .arg(QFileInfo(ruta_).absolutePath(), temporal_->errorString()));
        return false;
    }
    temporal_->close();
    return true;
}

QString ArchivoNuevo::rutaTemporal() const {
    return temporal_ ? temporal_->fileName() : QString();
}

bool ArchivoNuevo::confirmar(QString* error) {
    // Checked again: the file may have appeared while this one was being built.
    if (!EsReemplazable(ruta_, error)) return false;
    for (const QString& sufijo :
         {QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString archivo = ruta_ + sufijo;
        if (QFileInfo::exists(archivo) && !QFile::remove(archivo)) {
            PonerError(error, QStringLiteral("No se pudo borrar %1").arg(archivo));
            return false;
        }
    }
    std::error_code codigo;
    std::filesystem::rename(std::filesystem::path(QFile::encodeName(rutaTemporal()).toStdString()),
                            std::filesystem::path(QFile::encodeName(ruta_).toStdString()), codigo);
    if (codigo) {
        PonerError(error, QStringLiteral("No se pudo escribir %1: %2")
                              .arg(ruta_, QString::fromStdString(codigo.message())));
        return false;
    }
    temporal_->setAutoRemove(false);
    return true;
}

} // namespace detalle

// --- Schema -------------------------------------------------------------------------------

QStringList SentenciasTablas() {
    return {
        QStringLiteral("CREATE TABLE MV_EJERCICIOS (\n"
                       "  PERIODO integer NOT NULL PRIMARY KEY,\n"
                       "  descripcion varchar(50),\n"
                       "  \"Fecha Desde\" DATE,\n"
                       "  \"Fecha Hasta\" DATE,\n"
                       "  Cerrado bit,\n"
                       "  CIERRE bit\n"
                       ")"),
        QStringLiteral("CREATE TABLE MV_ASIENTOS (\n"
                       "  IdAsiento integer PRIMARY KEY AUTOINCREMENT,\n"
                       "  PERIODO varchar(10) COLLATE NOCASE,\n"
                       "  NROASIENTO int,\n"
                       "  FECHA DATE,\n"
                       "  CUENTA varchar(20) COLLATE NOCASE,\n"
                       "  DEBE numeric(18,2),\n"
                       "  HABER numeric(18,2),\n"
                       "  LEYENDA varchar(60)\n"
                       ")"),
        QStringLiteral("CREATE TABLE TA_CONFIGURACION (\n"
                       "  Grupo varchar(30) COLLATE NOCASE,\n"
                       "  CLAVE varchar(60) COLLATE NOCASE,\n"
                       "  VALOR varchar(255)\n"
                       ")"),
        QStringLiteral("CREATE TABLE V_TA_CPTE (\n"
                       "  Codigo varchar(4) COLLATE NOCASE NOT NULL PRIMARY KEY,\n"
                       "  Descripcion varchar(50)\n"
                       ")"),
        QStringLiteral("CREATE TABLE V_MV_STOCK (\n"
                       "  IdMovimiento integer PRIMARY KEY AUTOINCREMENT,\n"
                       "  TC varchar(4) COLLATE NOCASE,\n"
                       "  IDCOMPROBANTE varchar(13) COLLATE NOCASE,\n"
                       "  SECUENCIA int,\n"
                       "  FECHA DATETIME,\n"
                       "  IDARTICULO varchar(20) COLLATE NOCASE,\n"
                       "  DESCRIPCION varchar(60),\n"
                       "  IDUNIDAD varchar(6) COLLATE NOCASE,\n"
                       "  CANTIDAD numeric(18,4),\n"
                       "  CantidadUD numeric(18,4),\n"
                       "  IdDeposito int,\n"
                       "  IdPosicion varchar(10) COLLATE NOCASE,\n"
                       "  NroSerie varchar(30) COLLATE NOCASE,\n"
                       "  NroLote varchar(30) COLLATE NOCASE,\n"
                       "  Anulado bit DEFAULT 0,\n"
                       "  ControladoPor varchar(30)\n"
                       ")"),
        QStringLiteral("CREATE TABLE V_MA_ARTICULOS (\n"
                       "  IDARTICULO varchar(20) COLLATE NOCASE NOT NULL PRIMARY KEY,\n"
                       "  DESCRIPCION varchar(60) COLLATE NOCASE,\n"
                       "  IDUNIDAD varchar(6) COLLATE NOCASE,\n"
                       "  RUBRO varchar(30) COLLATE NOCASE,\n"
                       "  MARCA varchar(30) COLLATE NOCASE,\n"
                       "  PRECIO numeric(18,2),\n"
                       "  SUSPENDIDO bit DEFAULT 0\n"
                       ")"),
        QStringLiteral("CREATE TABLE VT_CLIENTES (\n"
                       "  CODIGO int NOT NULL PRIMARY KEY,\n"
                       "  RAZON_SOCIAL varchar(60) COLLATE NOCASE,\n"
                       "  CONTACTO varchar(50) COLLATE NOCASE,\n"
                       "  DOMICILIO varchar(60),\n"
                       "  LOCALIDAD varchar(40) COLLATE NOCASE,\n"
                       "  TELEFONO varchar(30),\n"
                       "  CUIT varchar(13),\n"
                       "  Dada_De_Baja bit DEFAULT 0\n"
                       ")"),
        QStringLiteral("CREATE TABLE VT_PROVEEDORES (\n"
                       "  CODIGO int NOT NULL PRIMARY KEY,\n"
                       "  RAZON_SOCIAL varchar(60) COLLATE NOCASE,\n"
                       "  CONTACTO varchar(50) COLLATE NOCASE,\n"
                       "  DOMICILIO varchar(60),\n"
                       "  LOCALIDAD varchar(40) COLLATE NOCASE,\n"
                       "  TELEFONO varchar(30),\n"
                       "  CUIT varchar(13),\n"
                       "  Dada_De_Baja bit DEFAULT 0\n"
                       ")"),
        QStringLiteral("CREATE TABLE MA_CONTACTOS (\n"
                       "  IdContacto integer PRIMARY KEY AUTOINCREMENT,\n"
                       "  Nombre_y_Apellido varchar(60) COLLATE NOCASE,\n"
                       "  Domicilio varchar(60) COLLATE NOCASE,\n"
                       "  Localidad varchar(40) COLLATE NOCASE,\n"
                       "  Telefono varchar(30)\n"
                       ")"),
    };
}

QStringList SentenciasIndices() {
    return {
        QStringLiteral("CREATE INDEX IX_MV_ASIENTOS_PERIODO ON MV_ASIENTOS (PERIODO)"),
        QStringLiteral("CREATE INDEX IX_V_MV_STOCK_FECHA ON V_MV_STOCK (FECHA)"),
        QStringLiteral("CREATE INDEX IX_V_MV_STOCK_CPTE ON V_MV_STOCK (TC, IDCOMPROBANTE)"),
    };
}

QStringList SentenciasEsquema() {
    return SentenciasTablas() + SentenciasIndices();
}

bool CrearEsquema(const QSqlDatabase& db, QString* error) {
    for (const QString& sql : SentenciasEsquema())
        if (!Ejecutar(db, sql, error)) return false;
    return true;
}

bool EsReemplazable(const QString& ruta, QString* error) {
    const QFileInfo info(ruta);
    if (!info.exists()) return true;
    if (info.isDir()) {
        PonerError(error, QStringLiteral("%1 es una carpeta, no una base de datos").arg(ruta));
        return false;
    }
    if (info.size() == 0) return true;
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) {
        PonerError(error, QStringLiteral("No se puede leer %1: %2").arg(ruta, archivo.errorString()));
        return false;
    }
    static const QByteArray cabecera("SQLite format 3\0", 16);
    if (archivo.read(16) != cabecera) {
        PonerError(error,
                   QStringLiteral("%1 existe y no es una base de datos SQLite: no se reemplaza").arg(ruta));
        return false;
    }
    return true;
}

bool CrearEsquemaVacio(const QString& ruta, QString* error) {
    ArchivoNuevo archivo(ruta);
    if (!archivo.preparar(error)) return false;
    {
        Conexion conexion(archivo.rutaTemporal());
        if (!conexion.abrir(error) || !CrearEsquema(conexion.db(), error)) return false;
    }
    return archivo.confirmar(error);
}

// --- Stock balances -----------------------------------------------------------------------

bool SaldosStock(const QSqlDatabase& db, const OpcionesSaldo& opciones, QList<SaldoStock>* saldos,
                 QString* error) {
    const bool completa = opciones.agrupacion == Agrupacion::Completa;
    const QString grupo = completa ? QStringLiteral("IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion, NroSerie, "
                                                    "NroLote, DESCRIPCION")
                                   : QStringLiteral("IDARTICULO, IDUNIDAD, DESCRIPCION");
    QString condicion = opciones.anuladoNuloValido ? QStringLiteral("(Anulado = 0 OR Anulado IS NULL)")
                                                   : QStringLiteral("Anulado = 0");
    // A day limit covers the whole day whatever the stored form: "2023-12-31" and
    // "2023-12-31 18:00:00" are both below "2024-01-01".
    if (opciones.hasta.isValid()) condicion += QStringLiteral(" AND FECHA < ?");
    const QString sql =
        QStringLiteral("SELECT %1, SUM(CANTIDAD), TOTAL(CantidadUD), COUNT(*) FROM V_MV_STOCK "
                       "WHERE %2 GROUP BY %1 ORDER BY %1")
            .arg(grupo, condicion);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        PonerError(error, q.lastError().text());
        return false;
    }
    if (opciones.hasta.isValid()) q.addBindValue(opciones.hasta.addDays(1).toString(Qt::ISODate));
    if (!q.exec()) {
        PonerError(error, q.lastError().text());
        return false;
    }
    QList<SaldoStock> resultado;
    auto texto = [&](int i) -> std::optional<QString> {
        const QVariant v = q.value(i);
        if (v.isNull()) return std::nullopt;
        return v.toString();
    };
    while (q.next()) {
        SaldoStock s;
        int c = 0;
        s.idArticulo = q.value(c++).toString();
        s.idUnidad = q.value(c++).toString();
        if (completa) {
            const QVariant deposito = q.value(c++);
            if (!deposito.isNull()) s.idDeposito = deposito.toLongLong();
            s.idPosicion = texto(c++);
            s.nroSerie = texto(c++);
            s.nroLote = texto(c++);
        }
        s.descripcion = q.value(c++).toString();
        s.cantidad = q.value(c++).toDouble();
        s.cantidadUD = q.value(c++).toDouble();
        s.movimientos = q.value(c++).toLongLong();
        resultado.append(std::move(s));
    }
    if (q.lastError().isValid()) {
        PonerError(error, q.lastError().text());
        return false;
    }
    *saldos = std::move(resultado);
    return true;
}

bool SaldosStock(const QString& ruta, const OpcionesSaldo& opciones, QList<SaldoStock>* saldos,
                 QString* error) {
    if (!QFileInfo::exists(ruta)) {
        PonerError(error, QStringLiteral("No existe %1").arg(ruta));
        return false;
    }
    Conexion conexion(ruta);
    return conexion.abrir(error) && SaldosStock(conexion.db(), opciones, saldos, error);
}

// --- Inspection ---------------------------------------------------------------------------

namespace {

bool Tablas(const QSqlDatabase& db, QStringList* tablas, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(
            QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
                           "ORDER BY name"))) {
        PonerError(error, q.lastError().text());
        return false;
    }
    while (q.next())
        tablas->append(q.value(0).toString());
    return true;
}

bool AbrirExistente(Conexion& conexion, const QString& ruta, QString* error) {
    if (!QFileInfo::exists(ruta)) {
        PonerError(error, QStringLiteral("No existe %1").arg(ruta));
        return false;
    }
    return conexion.abrir(error);
}

} // namespace

bool ContarFilas(const QString& ruta, QList<QPair<QString, qint64>>* filas, QString* error) {
    Conexion conexion(ruta);
    if (!AbrirExistente(conexion, ruta, error)) return false;
    QStringList tablas;
    if (!Tablas(conexion.db(), &tablas, error)) return false;
    filas->clear();
    for (const QString& tabla : tablas) {
        QSqlQuery q(conexion.db());
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM \"%1\"").arg(tabla)) || !q.next()) {
            PonerError(error, q.lastError().text());
            return false;
        }
        filas->append({tabla, q.value(0).toLongLong()});
    }
    return true;
}

QByteArray Huella(const QString& ruta, QString* error) {
    Conexion conexion(ruta);
    if (!AbrirExistente(conexion, ruta, error)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    {
        QSqlQuery q(conexion.db());
        if (!q.exec(QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY type, name"))) {
            PonerError(error, q.lastError().text());
            return {};
        }
        while (q.next())
            for (int i = 0; i < 3; ++i)
                hash.addData(q.value(i).toString().toUtf8().append('\x1f'));
    }
    QStringList tablas;
    if (!Tablas(conexion.db(), &tablas, error)) return {};
    for (const QString& tabla : tablas) {
        QSqlQuery q(conexion.db());
        q.setForwardOnly(true);
        // quote() gives each value with its storage class: 1 and '1' and 1.0 differ.
        QSqlQuery columnas(conexion.db());
        if (!columnas.exec(
                QStringLiteral("SELECT name FROM pragma_table_info('%1') ORDER BY cid").arg(tabla))) {
            PonerError(error, columnas.lastError().text());
            return {};
        }
        QStringList citados;
        while (columnas.next())
            citados << QStringLiteral("quote(\"%1\")").arg(columnas.value(0).toString());
        if (!q.exec(QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY rowid").arg(citados.join(u','), tabla))) {
            PonerError(error, q.lastError().text());
            return {};
        }
        hash.addData(tabla.toUtf8().append('\x1e'));
        const int n = citados.size();
        while (q.next()) {
            QByteArray fila;
            for (int i = 0; i < n; ++i)
                fila.append(q.value(i).toString().toUtf8()).append('\x1f');
            hash.addData(fila.append('\x1e'));
        }
    }
    return hash.result();
}

// --- Lookup benchmark table ---------------------------------------------------------------

namespace {

const char* const kSustantivos[] = {
    "Tornillo",  "Tuerca",  "Arandela", "Caño",     "Codo",    "Válvula",  "Llave",          "Cable",
    "Enchufe",   "Lámpara", "Pintura",  "Rodillo",  "Pincel",  "Cinta",    "Manguera",       "Bisagra",
    "Cerradura", "Candado", "Taladro",  "Mecha",    "Sierra",  "Martillo", "Destornillador", "Pinza",
    "Guante",    "Casco",   "Escalera", "Tabla",    "Cemento", "Yeso",     "Azulejo",        "Cerámica",
    "Grifería",  "Teflón",  "Silicona", "Adhesivo", "Lija",    "Clavo",    "Tarugo",         "Alambre"};
const char* const kCalificativos[] = {
    "galvanizado",   "de acero", "de bronce",   "de PVC",    "reforzado",   "económico",
    "profesional",   "térmico",  "de aluminio", "cromado",   "blanco",      "negro",
    "para exterior", "de baño",  "de cocina",   "antióxido", "niquelado",   "de polipropileno",
    "de goma",       "de nylon", "de caño",     "con traba", "señalizador", "de montaña"};
const char* const kMedidas[] = {"1/2\"", "3/4\"", "1\"",  "6 mm", "8 mm", "10 mm", "12 mm", "25 mm", "2 m",
                                "5 m",   "10 m",  "1 kg", "4 l",  "20 l", "x 100", "x 12",  "N.º 2", "N.º 8"};
const char* const kRubros[] = {"Bulonería",    "Sanitarios", "Electricidad", "Pinturería", "Herramientas",
                               "Construcción", "Seguridad",  "Ferretería",   "Jardinería", "Plomería"};
const char* const kMarcas[] = {"Acindar", "Tigre",       "Peñaflor",      "Ñandú",  "O'Brien",
                               "Fischer", "Bahco",       "Stanley",       "Alba",   "Sinteplast",
                               "Dánica",  "Gómez Hnos.", "La Industrial", "Ibáñez", "Tramontina",
                               "3M",      "Cañuelas",    "Loma Negra"};

} // namespace

bool CrearTablaConsulta(const QString& ruta, const QString& nombreTabla, int filas, quint64 semilla,
                        QString* error) {
    static const QRegularExpression identificador(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!identificador.match(nombreTabla).hasMatch()) {
        PonerError(error, QStringLiteral("Nombre de tabla no válido: \"%1\"").arg(nombreTabla));
        return false;
    }
    if (filas < 0) {
        PonerError(error, QStringLiteral("Cantidad de filas negativa: %1").arg(filas));
        return false;
    }
    if (!EsReemplazable(ruta, error)) return false;
    Conexion conexion(ruta);
    if (!conexion.abrir(error)) return false;
    const QSqlDatabase db = conexion.db();
    // One transaction: a failure leaves the file as it was.
    if (!Ejecutar(db, QStringLiteral("BEGIN"), error) ||
        !Ejecutar(db, QStringLiteral("DROP TABLE IF EXISTS \"%1\"").arg(nombreTabla), error) ||
        !Ejecutar(
            db,
            QStringLiteral("CREATE TABLE \"%1\" (CODIGO varchar(20) COLLATE NOCASE, DESCRIPCION varchar(60), "
                           "RUBRO varchar(30), MARCA varchar(30))")
                .arg(nombreTabla),
            error))
        return false;
    Azar azar(semilla, 0xC0);
    auto lista = [](const auto& textos) {
        QStringList l;
        for (const char* t : textos)
            l << QString::fromUtf8(t);
        return l;
    };
    const QStringList sustantivos = lista(kSustantivos), calificativos = lista(kCalificativos),
                      medidas = lista(kMedidas), rubros = lista(kRubros), marcas = lista(kMarcas);
    {
        Insercion q(db);
        if (!q.preparar(QStringLiteral("INSERT INTO \"%1\" VALUES (?, ?, ?, ?)").arg(nombreTabla), error))
            return false;
        for (int i = 0; i < filas; ++i) {
            const QString& sustantivo = azar.elegir(sustantivos);
            // One draw per statement, so that every compiler draws in the same order.
            const QString& medida = azar.elegir(medidas);
            const QString& calificativo = azar.elegir(calificativos);
            const QString descripcion = QStringLiteral("%1 %2 %3").arg(sustantivo, calificativo, medida);
            q.texto(0, QStringLiteral("%1%2")
                           .arg(SinAcentos(sustantivo.left(3)).toUpper())
                           .arg(i + 1, 7, 10, QLatin1Char('0')));
            q.texto(1, descripcion.left(60));
            q.texto(2, azar.elegir(rubros));
            q.texto(3, azar.elegir(marcas));
            if (!q.ejecutar(error)) return false;
        }
    }
    return Ejecutar(db, QStringLiteral("COMMIT"), error);
}

} // namespace demodb
