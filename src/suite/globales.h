#pragma once
// The one process-wide instance of each suite component, created on first use.
#include "avance.h"
#include "componentes.h"
#include "sesion.h"
#include "utilidades.h"

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
