#pragma once
#include "desatendido.h"

// Runs the unattended purge or dry run with the window's own start-up and procedures (the
// window is created but never shown) and returns the exit status.
int EjecutarDesatendido(const OpcionesDesatendido& opciones, FILE* salida = stdout);
