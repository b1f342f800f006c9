#include "purge/cerrojo_depuracion.h"

#include "purge/sentencias_depuracion.h"
#include "suite/error.h"
#include "suite/sesion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <sys/stat.h>
#include <unistd.h>

namespace S = SentenciasDepuracion;

namespace {
std::optional<CerrojoDepuracion::Via> viaForzada;

// The whole file, for writing: the lock is exclusive.
struct flock todoElArchivo() {
    struct flock f;
    std::memset(&f, 0, sizeof f);
    f.l_type = F_WRLCK;
    f.l_whence = SEEK_SET;
    return f;
}

[[noreturn]] void noSePuede(const QString& archivo, const QString& que, int error) {
    throw ErrorSistema(
        Errores::PermisoDenegado,
        QStringLiteral(
            "No se puede %1 el archivo de bloqueo de la depuración %2: %3.\r"
            "Quien depura debe poder crear ese archivo junto a la base de datos, o escribirlo si ya "
            "existe. No se modificó nada.")
            .arg(que, archivo, QString::fromLocal8Bit(std::strerror(error))));
}
} // namespace

CerrojoDepuracion::CerrojoDepuracion(Sesion& sesion) : sesion_(sesion) {}

CerrojoDepuracion::~CerrojoDepuracion() {
    Soltar();
}

void CerrojoDepuracion::ForzarVia(std::optional<Via> via) {
    viaForzada = via;
}

QString CerrojoDepuracion::ArchivoDe(const QString& base) {
    const QFileInfo f(base);
    const QString real = f.canonicalFilePath();
    return (real.isEmpty() ? f.absoluteFilePath() : real) + QStringLiteral(".lock");
}

CerrojoDepuracion::Via CerrojoDepuracion::ViaDeLaSesion() {
    if (via_) return *via_;
    if (viaForzada)
        via_ = viaForzada;
    else if (sesion_.EsSQLite())
        via_ = RutaBase().isEmpty() ? Via::Ninguna : Via::Archivo;
    else if (sesion_.Motor().contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        via_ = Via::Servidor;
    else
        via_ = Via::Ninguna;
    return *via_;
}

QString CerrojoDepuracion::RutaBase() {
    if (base_) return *base_;
    base_ = QString();
    // SQLite says where its main file is, through either driver. Not a statement of the purge:
    // it goes to SQLite only, outside the statement log.
    QSqlQuery q(sesion_.Base());
    if (!q.exec(QStringLiteral("PRAGMA database_list"))) return {};
    while (q.next())
        if (q.value(1).toString() == QLatin1String("main")) base_ = q.value(2).toString();
    return *base_;
}

CerrojoDepuracion::Estado CerrojoDepuracion::Tomar() {
    if (Tomado()) return Estado::Propio;
    switch (ViaDeLaSesion()) {
    case Via::Ninguna:
        return Estado::SinCerrojo;
    case Via::Servidor: {
        sesion_.Ejecutar(S::TomarCerrojo());
        Recordset rs;
        sesion_.AbrirRecordset(S::ModoCerrojo(), rs);
        const QString modo = rs.BOF() ? QString() : rs.Valor(0).toString().trimmed();
        rs.Close();
        servidor_ = modo.compare(QLatin1String("Exclusive"), Qt::CaseInsensitive) == 0;
        return servidor_ ? Estado::Propio : Estado::Ajeno;
    }
    case Via::Archivo:
        break;
    }
    const QString archivo = ArchivoDe(RutaBase());
    const QByteArray nombre = QFile::encodeName(archivo);
    constexpr int kModo = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(nombre.constData(), kModo | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
        // Whoever may write the database may take the lock: the new file gets the database's
        // group (when this user is in it) and permissions.
        struct stat base;
        if (::stat(QFile::encodeName(RutaBase()).constData(), &base) == 0) {
            [[maybe_unused]] const int grupo = ::fchown(fd, uid_t(-1), base.st_gid);
            ::fchmod(fd, base.st_mode & 0666);
        }
    } else if (errno == EEXIST) {
        fd = ::open(nombre.constData(), kModo);
    }
    if (fd < 0) noSePuede(archivo, QStringLiteral("abrir"), errno);
    struct flock f = todoElArchivo();
    if (::fcntl(fd, F_OFD_SETLK, &f) == 0) {
        archivo_ = fd;
        return Estado::Propio;
    }
    const int error = errno;
    ::close(fd);
    if (error == EAGAIN || error == EACCES) return Estado::Ajeno;
    noSePuede(archivo, QStringLiteral("bloquear"), error);
}

CerrojoDepuracion::Estado CerrojoDepuracion::Probar() {
    if (Tomado()) return Estado::Propio;
    try {
        switch (ViaDeLaSesion()) {
        case Via::Ninguna:
            return Estado::SinCerrojo;
        case Via::Servidor: {
            Recordset rs;
            sesion_.AbrirRecordset(S::ProbarCerrojo(), rs);
            const bool libre = rs.BOF() || rs.Valor(0).toInt() != 0;
            rs.Close();
            return libre ? Estado::Libre : Estado::Ajeno;
        }
        case Via::Archivo:
            break;
        }
    } catch (const ErrorSistema&) {
        return Estado::Libre;
    }
    // Read-only: a dry run by a user who cannot write the folder still tests it.
    const int fd =
        ::open(QFile::encodeName(ArchivoDe(RutaBase())).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return Estado::Libre;
    struct flock f = todoElArchivo();
    const bool probado = ::fcntl(fd, F_OFD_GETLK, &f) == 0;
    ::close(fd);
    return probado && f.l_type != F_UNLCK ? Estado::Ajeno : Estado::Libre;
}

void CerrojoDepuracion::Soltar() {
    if (archivo_ >= 0) {
        // Closing the file's description drops its lock; the file stays for the next purge.
        ::close(archivo_);
        archivo_ = -1;
    }
    if (servidor_) {
        servidor_ = false;
        try {
            if (sesion_.Conectado()) sesion_.Ejecutar(S::SoltarCerrojo());
        } catch (const ErrorSistema&) {
            // Gone with the connection anyway.
        }
    }
}
