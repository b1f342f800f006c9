#pragma once
#include "app/desatendido.h"

// Runs the unattended purge or dry run on the purge engine, with the window's start-up but no
// window, and returns the exit status. Needs a QCoreApplication.
int EjecutarDesatendido(const OpcionesDesatendido& opciones, FILE* salida = stdout);

// The unattended mode as a whole program: a QCoreApplication (no GUI platform is loaded), the
// operator that answers from the options, progress on the terminal. main calls it before any
// QApplication exists.
int ProgramaDesatendido(int& argc, char** argv, const OpcionesDesatendido& opciones);
