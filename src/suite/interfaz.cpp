#include "suite/interfaz.h"

#include <optional>

namespace {
std::optional<Interfaz>& instalada() {
    static std::optional<Interfaz> i;
    return i;
}
} // namespace

void InstalarInterfaz(Interfaz interfaz) {
    instalada() = std::move(interfaz);
}

bool HayInterfaz() {
    return instalada().has_value();
}

const Interfaz& InterfazActual() {
    static const Interfaz ninguna;
    return instalada() ? *instalada() : ninguna;
}
