#pragma once
// Where the files that live beside the executable (the INI file, the masks file) are found
// and created, so that a copied program folder works as it always has and an installed
// program, whose folder its users cannot write, works too.
//
// The folders, in the order they are searched:
//   1. the folder of the executable (CarpetaAplicacion);
//   2. the system folder: /etc/cribanzas, or the folder named by CRIBANZAS_CARPETA_SISTEMA;
//   3. the user's configuration folder: $XDG_CONFIG_HOME/cribanzas, by default
//      ~/.config/cribanzas.
#include <functional>
#include <QString>
#include <QStringList>

// Environment variable that replaces the system folder (tests, unusual installations).
inline constexpr char VariableCarpetaSistema[] = "CRIBANZAS_CARPETA_SISTEMA";

// The three folders in search order, each ending in "/".
QStringList CarpetasDeArchivos();
// The user's configuration folder (the third of them), ending in "/"; it may not exist yet.
QString CarpetaDeUsuario();

// The path of the first regular file of that name in those folders, or empty when none has one.
QString BuscarArchivoAplicacion(const QString& nombre);

// Creates a missing file in the first of those folders that takes it: escribir is called with
// the file's path in each folder in turn until one call returns without raising an
// ErrorSistema. The user's folder is created when needed; the system folder never is; the
// folder of the executable is left out when it lies under /usr, which belongs to the system's
// packages (root could write there). A folder where something of that name already is, is
// skipped, and a failed attempt leaves no file behind. Returns the path written, or empty when
// no folder took the file.
QString CrearArchivoAplicacion(const QString& nombre, const std::function<void(const QString&)>& escribir);
