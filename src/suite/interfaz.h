#pragma once
// What a user interface lends the data layer, installed once at program start: the operator a
// process gets while none is installed, the progress display's view and the busy indication.
// The GUI layer installs Qt's (InstalarInterfazQt, suite/interfaz_qt.h). Without one, prompts
// are written to standard error and get the answer that leaves things as they are, and
// progress and busy indication show nothing: a program without windows needs no widget.
#include "suite/avance.h"
#include "suite/operador.h"

#include <functional>
#include <memory>

struct Interfaz {
    std::function<std::unique_ptr<Operador>()> operador;
    std::function<std::unique_ptr<AvanceVista>()> vistaAvance;
    std::function<void(bool)> indicarOcupado;
};

// Installs the interface for the rest of the process (a member left empty keeps the default).
void InstalarInterfaz(Interfaz interfaz);
// Whether one was installed.
bool HayInterfaz();
const Interfaz& InterfazActual();
