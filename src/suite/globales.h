#pragma once
// The one process-wide instance of each suite component, created on first use.
#include "suite/avance.h"
#include "suite/componentes.h"
#include "suite/sesion.h"
#include "suite/utilidades.h"

Utilidades& gUtilidades();
Sesion& gSesion();
ArchivoIni& gArchivoIni();
Equipo& gEquipo();
Avance& gAvance();
Auxiliar& gAuxiliar();

// Drops every instance (tests start each case from a fresh process state).
void ReiniciarComponentes();

// The folder of the executable (QCoreApplication::applicationDirPath, or the folder set
// with EstablecerCarpetaAplicacion, which tests use).
QString CarpetaAplicacion();
void EstablecerCarpetaAplicacion(const QString& carpeta);
