#include "apoyo/entorno.h"

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
