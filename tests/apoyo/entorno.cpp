#include "apoyo/entorno.h"

#include <QDir>
#include <QFile>
#include <sys/mount.h>
#include <unistd.h>

void EntornoFijado::Fijar(const char* nombre, const QByteArray& valor) {
    antes_.emplace_back(nombre, qEnvironmentVariableIsSet(nombre) ? std::optional<QByteArray>(qgetenv(nombre))
                                                                  : std::nullopt);
    qputenv(nombre, valor);
}

void EntornoFijado::Restaurar() {
    // Backwards, so that a variable set twice gets its first value back.
    for (auto i = antes_.rbegin(); i != antes_.rend(); ++i) {
        if (i->second)
            qputenv(i->first, *i->second);
        else
            qunsetenv(i->first);
    }
    antes_.clear();
}

Montaje::Montaje(const QString& carpeta, const char* opciones, unsigned long banderas)
    : carpeta_(QFile::encodeName(carpeta)) {
    montado_ = QDir().mkpath(carpeta) && geteuid() == 0 &&
               ::mount("tmpfs", carpeta_.constData(), "tmpfs", banderas, opciones) == 0;
}

Montaje::~Montaje() {
    if (montado_) ::umount(carpeta_.constData());
}
