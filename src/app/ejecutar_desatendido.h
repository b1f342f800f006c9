#pragma once
#include "desatendido.h"

// Runs the unattended purge or dry run on the purge engine, with the window's start-up but no
// window, and returns the exit status. Needs a QCoreApplication.
int EjecutarDesatendido(const OpcionesDesatendido& opciones, FILE* salida = stdout);
