#pragma once
// The database chosen by the operator when the session line names none (the program started
// from the desktop's menu or a terminal): the data sources the ODBC manager knows, the last
// choice (never its password), one connection attempt that says why it failed, and the check
// that a database is the suite's. No widget: the dialog that asks is the GUI layer's, installed
// with InstalarSelectorConexion.
#include <functional>
#include <optional>
#include <QString>
#include <vector>

struct OrigenDatos {
    QString nombre;
    QString descripcion; // the driver, as the ODBC manager describes it
};
// The user and system data sources (a user one hides a system one of the same name), by name.
std::vector<OrigenDatos> OrigenesDeDatos();

enum class TipoOrigen { Odbc, ArchivoSqlite };
struct EleccionConexion {
    TipoOrigen tipo = TipoOrigen::Odbc;
    QString origen; // the data source's name, or the SQLite file's path
    QString usuario;
    QString password;
};

// The choice remembered in the user's configuration folder, if any.
std::optional<EleccionConexion> UltimaEleccion();
// Remembers the choice without its password. False when it could not be written, which costs
// the operator only the preselection.
bool RecordarEleccion(const EleccionConexion& eleccion);
// The file where the choice is kept.
QString ArchivoEleccion();

// Connects gSesion to the chosen database and checks that it is the suite's. Nothing on
// success; otherwise why not (the driver's message, or the table it lacks), with gSesion left
// disconnected. Shows nothing.
std::optional<QString> ConectarEleccion(const EleccionConexion& eleccion);

// Why the database gSesion is connected to is not the suite's (a table it cannot read), or
// nothing when it is.
std::optional<QString> MotivoBaseAjena();

// What asks the operator for the database: true once gSesion is connected (through
// ConectarEleccion), false when the operator gave up. A program with windows installs one;
// without it a session line that names no database is a refused connection.
using SelectorConexion = std::function<bool()>;
void InstalarSelectorConexion(SelectorConexion selector);
const SelectorConexion& SelectorConexionActual();
