#include "suite/ubicaciones.h"

#include "suite/error.h"
#include "suite/globales.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QString ConBarra(const QString& carpeta) {
    QString r = QDir::cleanPath(QDir::fromNativeSeparators(carpeta));
    if (!r.endsWith(QChar('/'))) r += QChar('/');
    return r;
}

QString CarpetaSistema() {
    const QString otra = qEnvironmentVariable(VariableCarpetaSistema);
    return ConBarra(otra.isEmpty() ? QStringLiteral("/etc/cribanzas") : otra);
}

} // namespace

QString CarpetaDeUsuario() {
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return ConBarra(base + QStringLiteral("/cribanzas"));
}

QStringList CarpetasDeArchivos() {
    return {ConBarra(CarpetaAplicacion()), CarpetaSistema(), CarpetaDeUsuario()};
}

QString BuscarArchivoAplicacion(const QString& nombre) {
    for (const QString& carpeta : CarpetasDeArchivos())
        if (QFileInfo(carpeta + nombre).isFile()) return carpeta + nombre;
    return {};
}

QString CrearArchivoAplicacion(const QString& nombre, const std::function<void(const QString&)>& escribir) {
    const QStringList carpetas = CarpetasDeArchivos();
    for (qsizetype i = 0; i < carpetas.size(); ++i) {
        const QString& carpeta = carpetas.at(i);
        if (i == 0 && carpeta.startsWith(QLatin1String("/usr/"))) continue;
        if (i == 2) QDir().mkpath(carpeta);
        if (!QFileInfo(carpeta).isDir()) continue;
        const QString ruta = carpeta + nombre;
        // exists() follows links: a dangling link counts as something there too.
        if (QFileInfo(ruta).exists() || QFileInfo(ruta).isSymLink()) continue;
        try {
            escribir(ruta);
            return ruta;
        } catch (const ErrorSistema&) {
            // Half a file would be taken for a whole one at the next start.
            QFile::remove(ruta);
        }
    }
    return {};
}
