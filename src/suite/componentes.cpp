#include "suite/componentes.h"

#include "suite/globales.h"
#include "suite/ubicaciones.h"

#include <pwd.h>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QStringDecoder>
#include <unistd.h>

QString ArchivoIni::LeerValor(const QString& archivo, const QString& seccion, const QString& clave,
                              const QVariant& porDefecto) const {
    const QString defecto = porDefecto.toString();
    QString ruta = archivo;
    if (!ruta.contains(QChar('/'))) ruta = BuscarArchivoAplicacion(archivo);
    // Only a regular file: opening a named pipe nobody writes to would hang the start-up.
    if (ruta.isEmpty() || !QFileInfo(ruta).isFile()) return defecto;
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return defecto;
    // INI files are small; a huge or binary one is read only as far as its first megabyte.
    return ValorIni(f.read(1 << 20), seccion, clave, defecto);
}

QString ValorIni(const QByteArray& datos, const QString& seccion, const QString& clave,
                 const QString& defecto) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString texto = utf8.decode(datos);
    if (utf8.hasError())
        texto = QString::fromLatin1(datos); // the suite writes them in a single-byte code page
    bool enSeccion = false;
    const QString sec = seccion.trimmed();
    const QString cla = clave.trimmed();
    // A bare CR ends a line too, so a value can never carry the next line with it.
    texto.replace(QChar('\r'), QChar('\n'));
    for (QStringView linea : QStringView(texto).split(QChar('\n'))) {
        linea = linea.trimmed();
        if (linea.isEmpty() || linea.startsWith(QChar(';'))) continue;
        if (linea.startsWith(QChar('['))) {
            const auto fin = linea.lastIndexOf(QChar(']'));
            if (fin > 0) enSeccion = linea.mid(1, fin - 1).trimmed().compare(sec, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!enSeccion) continue;
        const auto igual = linea.indexOf(QChar('='));
        if (igual < 0) continue;
        if (linea.left(igual).trimmed().compare(cla, Qt::CaseInsensitive) == 0)
            return linea.mid(igual + 1).trimmed().toString();
    }
    return defecto;
}

QString Equipo::NombreEquipo() const {
    return QHostInfo::localHostName();
}

QString Equipo::UsuarioEquipo() const {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}
