#include "purge/archivo_depuracion.h"

#include "purge/archivo_origen.h"
#include "purge/sentencias_depuracion.h"
#include "suite/globales.h"
#include "suite/sesion.h"
#include "suite/transaccion.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace S = SentenciasDepuracion;

namespace {
QString ahora() {
    return QDateTime::currentDateTime()
        .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODate);
}
} // namespace

ArchivoDepuracion::ArchivoDepuracion(Sesion& sesion, const OpcionesArchivo& opciones, const QString& usuario)
    : sesion_(sesion), opciones_(opciones), usuario_(usuario) {}

ArchivoDepuracion::~ArchivoDepuracion() = default;

QString ArchivoDepuracion::CarpetaElegida(const QString& opcion) {
    if (!opcion.trimmed().isEmpty())
        return QDir::cleanPath(QDir::current().absoluteFilePath(opcion.trimmed()));
    const QString seccion =
        gEquipo().NombreEquipo().toUpper() + QStringLiteral("|") + gEquipo().UsuarioEquipo().toUpper();
    const QString ini =
        gArchivoIni()
            .LeerValor(QStringLiteral("CN000pr.INI"), seccion, QStringLiteral("CarpetaArchivo"), QString())
            .trimmed();
    if (!ini.isEmpty()) return QDir::cleanPath(QDir::current().absoluteFilePath(ini));
    return CarpetaArchivoPorDefecto();
}

QString ArchivoDepuracion::Nombre() const {
    return QFileInfo(ruta_).fileName();
}

void ArchivoDepuracion::Elegir(const QString& codigo, const std::optional<MarcaDepuracion>& pendiente) {
    const QString carpeta = CarpetaElegida(opciones_.carpeta);
    continuar_ = false;
    anterior_.clear();
    tablas_.clear();
    if (pendiente && !pendiente->archivo.isEmpty()) {
        const QString ruta = QDir(carpeta).filePath(pendiente->archivo);
        try {
            if (QFileInfo(ruta).isFile()) {
                const LectorArchivo lector(ruta);
                if (lector.ValorManifiesto(QStringLiteral("ejercicio")) == codigo.trimmed()) {
                    for (const auto& t : lector.Tablas())
                        tablas_ << t.nombre;
                    ruta_ = ruta;
                    continuar_ = true;
                    return;
                }
            }
        } catch (const ErrorSistema&) {
            // Not a verified archive of this year: a new file goes on from here.
        }
        // One cut short before its first verification holds nothing, and nothing was deleted
        // on its word: the new file is the whole purge, and restores on its own.
        if (!ArchivoSinVerificar(ruta)) {
            anterior_ = pendiente->archivo;
            if (!pendiente->equipoArchivo.isEmpty())
                anterior_ += QStringLiteral(" (equipo %1)").arg(pendiente->equipoArchivo);
        }
    }
    ruta_ = QDir(carpeta).filePath(
        NombreArchivoDepuracion(sesion_.DbName(), codigo.trimmed(), QDateTime::currentDateTime()));
    // A run killed within the same second left a file of that name: the next free one, never
    // that file.
    if (QFileInfo::exists(ruta_) || QFileInfo(ruta_).isSymLink()) ruta_ = SiguienteLibre(ruta_);
}

QString ArchivoDepuracion::SiguienteLibre(const QString& ruta) {
    static const QRegularExpression sufijo(QStringLiteral("(-[0-9]{1,2})?\\.sqlite$"));
    const QString base = QString(ruta).remove(sufijo);
    QString libre = ruta;
    for (int n = 2; n < 100 && (QFileInfo::exists(libre) || QFileInfo(libre).isSymLink()); ++n)
        libre = QStringLiteral("%1-%2.sqlite").arg(base).arg(n);
    return libre;
}

qint64 ArchivoDepuracion::ContarFilas(const QString& codigo, const QString& fechaSQL) {
    qint64 filas = 0;
    for (const QString& sql : {S::ContarAsientos(codigo), S::ContarArchivo(fechaSQL)}) {
        Recordset rs;
        sesion_.AbrirRecordset(sql, rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        if (!rs.BOF()) filas += rs.Valor(0).toLongLong();
        sesion_.CerrarRecordset(rs);
    }
    return filas;
}

void ArchivoDepuracion::Comprobar(qint64 filas) {
    const QString carpeta = QFileInfo(ruta_).absolutePath();
    // The default folder is the program's to make; one the operator named must exist.
    if (opciones_.carpeta.trimmed().isEmpty() && carpeta == QDir::cleanPath(CarpetaArchivoPorDefecto()))
        QDir().mkpath(carpeta);
    const qint64 bytes = EstimarBytesArchivo(
        filas, BytesPorFila(DescribirTabla(sesion_, QStringLiteral("V_MV_STOCK")).columnas));
    if (continuar_) {
        const QFileInfo info(carpeta);
        if (!info.isDir() || !info.isWritable())
            throw ErrorSistema(
                Errores::PermisoDenegado,
                QStringLiteral("No se puede escribir en la carpeta del archivo de depuración %1")
                    .arg(carpeta));
        return;
    }
    ruta_ = SiguienteLibre(ruta_); // taken since it was chosen: the next free one
    ComprobarCarpetaArchivo(carpeta, QFileInfo(ruta_).fileName(), bytes);
}

void ArchivoDepuracion::Abrir(const QString& codigo, const QString& desde, const QString& hasta,
                              const QString& corte) {
    if (escritor_) return;
    if (continuar_) {
        escritor_ = EscritorArchivo::Continuar(ruta_);
        return;
    }
    const Manifiesto m{
        {QStringLiteral("programa"), QStringLiteral("cribanzas %1").arg(QStringLiteral(CRIBANZAS_VERSION))},
        {QStringLiteral("servidor"), sesion_.EsSQLite() ? QString() : sesion_.Server()},
        {QStringLiteral("base"), sesion_.DbName()},
        {QStringLiteral("ejercicio"), codigo.trimmed()},
        {QStringLiteral("fecha_desde"), desde},
        {QStringLiteral("fecha_hasta"), hasta},
        {QStringLiteral("fecha_corte"), corte},
        {QStringLiteral("operador"), usuario_},
        {QStringLiteral("equipo"), gEquipo().NombreEquipo()},
        {QStringLiteral("inicio"), ahora()},
        {QStringLiteral("fin"), QString()},
        {QStringLiteral("archivo_anterior"), anterior_.section(QStringLiteral(" (equipo "), 0, 0)},
    };
    // Another purge (of another database of the same name) took that name meanwhile: the next
    // free one, never its file.
    for (int intento = 0;; ++intento) {
        try {
            escritor_ = EscritorArchivo::Crear(ruta_, m);
            return;
        } catch (const ErrorSistema& e) {
            if (e.Numero != kErrorArchivoExistente || intento >= 20) throw;
            ruta_ = SiguienteLibre(ruta_);
        }
    }
}

bool ArchivoDepuracion::TieneTabla(const QString& tabla) const {
    return tablas_.contains(tabla);
}

void ArchivoDepuracion::Escritor() const {
    if (!escritor_)
        throw ErrorSistema(Errores::OperacionNoPermitida,
                           QStringLiteral("El archivo de depuración %1 no está abierto.").arg(ruta_));
}

void ArchivoDepuracion::ArchivarConfiguracion() {
    Escritor();
    if (TieneTabla(QLatin1String(kTablaConfiguracion))) return;
    ArchivarTabla(sesion_, *escritor_, QLatin1String(kTablaConfiguracion),
                  DescribirTabla(sesion_, QStringLiteral("TA_CONFIGURACION")), S::CondicionConfiguracion());
    escritor_->Verificar();
    tablas_ << QLatin1String(kTablaConfiguracion);
}

qint64 ArchivoDepuracion::DepurarAsientos(const QString& codigo, const QString& sentenciaBorrado) {
    Escritor();
    const QString tabla = QLatin1String(kTablaAsientos);
    auto quedan = [&] {
        Recordset rs;
        sesion_.AbrirRecordset(S::ContarAsientos(codigo), rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        const qint64 n = rs.BOF() ? 0 : rs.Valor(0).toLongLong();
        sesion_.CerrarRecordset(rs);
        return n;
    };
    if (TieneTabla(tabla)) {
        // The run that archived them committed their deletion: nothing left to do.
        if (quedan() == 0) return 0;
        // It was killed before its commit: the rows are the database's again.
        escritor_->Quitar({tabla});
        tablas_.removeAll(tabla);
    }
    bool verificada = false;
    try {
        Transaccion transaccion(sesion_);
        const TablaArchivo t = ArchivarTabla(
            sesion_, *escritor_, tabla, DescribirTabla(sesion_, QStringLiteral("MV_ASIENTOS")),
            QStringLiteral("CONVERT(INT,PERIODO) = ") + codigo.trimmed(), BloqueoLectura::Tabla);
        escritor_->Verificar();
        verificada = true;
        qint64 borrados = sesion_.Ejecutar(sentenciaBorrado);
        // No count from the driver: what is left tells.
        if (borrados < 0) borrados = quedan() == 0 ? t.filas : -1;
        if (borrados != t.filas)
            throw ErrorSistema(
                Errores::BaseDeDatos,
                QStringLiteral("Se eliminaban %1 asientos del ejercicio y la tabla %2 del "
                               "archivo de depuración %3 guarda %4: se deshizo la eliminación.")
                    .arg(borrados)
                    .arg(tabla, ruta_)
                    .arg(t.filas));
        transaccion.Cometer();
        asientos_ = t.filas;
        tablas_ << tabla;
        return t.filas;
    } catch (const ErrorSistema& e) {
        try {
            Reabrir();
            if (verificada) escritor_->Quitar({tabla});
        } catch (const ErrorSistema&) {
            // The rerun takes it out: it finds the rows still in the database.
        }
        throw ErrorSistema(e.Numero, e.Descripcion + QStringLiteral(" No se eliminó ningún asiento."));
    }
}

void ArchivoDepuracion::ArchivarMovimientos(const QString& condicion) {
    Escritor();
    // A run killed after verifying its stock and before the commit left tables for rows the
    // database still has.
    QStringList viejas;
    for (const char* t : {kTablaMovimientos, kTablaSaldoInicial})
        if (TieneTabla(QLatin1String(t))) viejas << QLatin1String(t);
    if (!viejas.isEmpty()) {
        escritor_->Quitar(viejas);
        for (const QString& t : viejas)
            tablas_.removeAll(t);
    }
    stockEscrito_ = true;
    movimientos_ = ArchivarTabla(sesion_, *escritor_, QLatin1String(kTablaMovimientos),
                                 DescribirTabla(sesion_, QStringLiteral("V_MV_STOCK")), condicion)
                       .filas;
}

void ArchivoDepuracion::VaciarMovimientos() {
    Escritor();
    escritor_->Quitar({QLatin1String(kTablaMovimientos)});
    movimientos_ =
        ArchivarTabla(sesion_, *escritor_, QLatin1String(kTablaMovimientos),
                      DescribirTabla(sesion_, QStringLiteral("V_MV_STOCK")), QStringLiteral("1 = 0"))
            .filas;
}

void ArchivoDepuracion::ArchivarSaldoInicial(const QString& condicion) {
    Escritor();
    stockEscrito_ = true;
    renglones_ = ArchivarTabla(sesion_, *escritor_, QLatin1String(kTablaSaldoInicial),
                               DescribirTabla(sesion_, QStringLiteral("V_MV_STOCK")), condicion)
                     .filas;
}

void ArchivoDepuracion::VerificarStock() {
    Escritor();
    escritor_->FijarManifiesto(QStringLiteral("fin"), ahora());
    for (const auto& t : escritor_->Verificar())
        tablas_ << t.nombre;
}

void ArchivoDepuracion::DeshacerStock() {
    if (!escritor_ || !stockEscrito_) return;
    stockEscrito_ = false;
    movimientos_ = renglones_ = 0;
    const QStringList stock{QLatin1String(kTablaMovimientos), QLatin1String(kTablaSaldoInicial)};
    Reabrir();
    escritor_->Quitar(stock);
    for (const QString& t : stock)
        tablas_.removeAll(t);
}

void ArchivoDepuracion::Descartar() {
    if (!escritor_) return;
    escritor_.reset();
    if (continuar_) return;
    QFile::remove(ruta_ + QStringLiteral("-journal"));
    QFile::remove(ruta_);
}

void ArchivoDepuracion::Reabrir() {
    // A write cut short leaves its table open in the writer: a new writer on the file drops it.
    // Something in the file is verified by now, so closing the writer keeps the file.
    escritor_.reset();
    escritor_ = EscritorArchivo::Continuar(ruta_);
}
