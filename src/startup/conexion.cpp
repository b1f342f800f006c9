#include "startup/conexion.h"

#include "suite/globales.h"
#include "suite/operador.h"
#include "suite/ubicaciones.h"

#include <algorithm>
#include <map>
#include <QDir>
#include <QSettings>
#include <sql.h>
#include <sqlext.h>

namespace {
SelectorConexion& selector() {
    static SelectorConexion s;
    return s;
}

// The ODBC manager's environment, freed on every way out.
class EntornoOdbc {
public:
    EntornoOdbc() {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h_))) h_ = SQL_NULL_HENV;
        if (h_) SQLSetEnvAttr(h_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    ~EntornoOdbc() {
        if (h_) SQLFreeHandle(SQL_HANDLE_ENV, h_);
    }
    EntornoOdbc(const EntornoOdbc&) = delete;
    EntornoOdbc& operator=(const EntornoOdbc&) = delete;
    SQLHENV handle() const { return h_; }

private:
    SQLHENV h_ = SQL_NULL_HENV;
};

// While it lives, the session's messages are kept instead of shown: the dialog shows the
// reason a connection failed in itself, not in a box over it.
class OperadorQueGuarda : public Operador {
public:
    QString texto;

protected:
    Respuesta mensaje(const QString& t, int, const QString&) override {
        if (texto.isEmpty()) texto = t;
        return Respuesta::Aceptar;
    }
    std::optional<QString> entrada(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    int menu(const QStringList&, const QPoint&) override { return -1; }
    void terminar(int) override {}
};

class MensajesGuardados {
public:
    MensajesGuardados() {
        auto propio = std::make_unique<OperadorQueGuarda>();
        guarda_ = propio.get();
        anterior_ = InstalarOperador(std::move(propio));
    }
    ~MensajesGuardados() { InstalarOperador(std::move(anterior_)); }
    MensajesGuardados(const MensajesGuardados&) = delete;
    MensajesGuardados& operator=(const MensajesGuardados&) = delete;
    QString Texto() const { return guarda_->texto; }

private:
    OperadorQueGuarda* guarda_ = nullptr;
    std::unique_ptr<Operador> anterior_;
};

const QString kGrupo = QStringLiteral("conexion");
} // namespace

std::vector<OrigenDatos> OrigenesDeDatos() {
    std::map<QString, OrigenDatos> porNombre;
    const EntornoOdbc entorno;
    if (!entorno.handle()) return {};
    // System ones first, so that a user one of the same name takes its place.
    for (const SQLUSMALLINT primero :
         {SQLUSMALLINT(SQL_FETCH_FIRST_SYSTEM), SQLUSMALLINT(SQL_FETCH_FIRST_USER)}) {
        SQLUSMALLINT direccion = primero;
        for (;;) {
            SQLCHAR nombre[SQL_MAX_DSN_LENGTH * 4 + 1] = {};
            SQLCHAR descripcion[512] = {};
            SQLSMALLINT largoNombre = 0, largoDescripcion = 0;
            const SQLRETURN r =
                SQLDataSources(entorno.handle(), direccion, nombre, sizeof nombre, &largoNombre, descripcion,
                               sizeof descripcion, &largoDescripcion);
            if (!SQL_SUCCEEDED(r)) break;
            direccion = SQL_FETCH_NEXT;
            OrigenDatos o{QString::fromLocal8Bit(reinterpret_cast<const char*>(nombre)).trimmed(),
                          QString::fromLocal8Bit(reinterpret_cast<const char*>(descripcion)).trimmed()};
            if (!o.nombre.isEmpty()) porNombre[o.nombre.toLower()] = o;
        }
    }
    std::vector<OrigenDatos> lista;
    for (auto& [clave, o] : porNombre)
        lista.push_back(o);
    return lista;
}

QString ArchivoEleccion() {
    return CarpetaDeUsuario() + QStringLiteral("conexion.ini");
}

std::optional<EleccionConexion> UltimaEleccion() {
    const QSettings ini(ArchivoEleccion(), QSettings::IniFormat);
    EleccionConexion e;
    e.origen = ini.value(kGrupo + QStringLiteral("/origen")).toString();
    if (e.origen.trimmed().isEmpty()) return std::nullopt;
    e.tipo = ini.value(kGrupo + QStringLiteral("/tipo")).toString() == QLatin1String("archivo")
                 ? TipoOrigen::ArchivoSqlite
                 : TipoOrigen::Odbc;
    e.usuario = ini.value(kGrupo + QStringLiteral("/usuario")).toString();
    return e;
}

bool RecordarEleccion(const EleccionConexion& e) {
    QDir().mkpath(CarpetaDeUsuario());
    QSettings ini(ArchivoEleccion(), QSettings::IniFormat);
    ini.remove(kGrupo);
    ini.setValue(kGrupo + QStringLiteral("/tipo"),
                 e.tipo == TipoOrigen::ArchivoSqlite ? QStringLiteral("archivo") : QStringLiteral("odbc"));
    ini.setValue(kGrupo + QStringLiteral("/origen"), e.origen);
    ini.setValue(kGrupo + QStringLiteral("/usuario"), e.usuario);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

std::optional<QString> ConectarEleccion(const EleccionConexion& e) {
    Sesion& sesion = gSesion();
    sesion.Desconectar();
    const bool archivo = e.tipo == TipoOrigen::ArchivoSqlite;
    // A file chosen in a folder is opened as a file whatever its name ends in.
    sesion.setDbName(archivo ? QDir::cleanPath(QDir::current().absoluteFilePath(e.origen))
                             : e.origen.trimmed());
    sesion.setUsuario(archivo ? QString() : e.usuario.trimmed());
    sesion.setPassword(archivo ? QString() : e.password);
    sesion.setServer(QString());
    QString fallo;
    {
        const MensajesGuardados mensajes;
        sesion.Conectar();
        fallo = mensajes.Texto();
    }
    if (!sesion.Conectado())
        return fallo.isEmpty() ? QStringLiteral("No se pudo conectar con la base de datos.") : fallo;
    if (auto motivo = MotivoBaseAjena()) {
        sesion.Desconectar();
        return motivo;
    }
    return std::nullopt;
}

std::optional<QString> MotivoBaseAjena() {
    // The two tables every start reads: without them the start-up and the window fail step by
    // step, once for each setting.
    for (const char* tabla : {"TA_CONFIGURACION", "MV_EJERCICIOS"}) {
        try {
            Recordset rs;
            gSesion().AbrirRecordset(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(QLatin1String(tabla)),
                                     rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
            gSesion().CerrarRecordset(rs);
        } catch (const ErrorSistema& error) {
            return QStringLiteral(
                       "La base de datos \"%1\" no es la de la suite: no se pudo leer su tabla %2.\r%3")
                .arg(gSesion().DbName(), QLatin1String(tabla), error.Descripcion);
        }
    }
    return std::nullopt;
}

void InstalarSelectorConexion(SelectorConexion s) {
    selector() = std::move(s);
}
const SelectorConexion& SelectorConexionActual() {
    return selector();
}
