#pragma once
// ModGlobal: the process-wide session state, the start-up procedure and the suite settings.
#include <QString>

class Lib_ClsCons2;
struct QConsulta;

// Session variables, filled once at start-up.
extern QString gSeccionIni;
extern double gFlatToolbars;
extern QString gParametroAdicional;
extern QString gMenu;
extern QString gUsuarioLogeado;
extern QString gCaja;
extern QString gCadenaConexion;

// Suite settings loaded by CargarConfiguracion.
extern bool gMostrarStock;
extern QString gTituloClientes;
extern QString gTituloProveedores;
extern QString gArchivoTareas;
extern bool gExigeClaveConsultaLike;
extern bool gUsaConsultaLike;
extern QString gCantidadDecimales;
extern bool gUsaMultiplesMonedas;
extern long gColorFondo;
extern long gColorLetra;
extern bool gModuloOrdenDeTrabajo;

// The global lookup request (created on first use) and the record buffer of the masks writer.
Lib_ClsCons2& gConsulta();
QConsulta& gMascara();

// The argument text of the process: its arguments (without the program) joined by one blank.
QString LineaComandos();
void EstablecerLineaComandos(const QString& linea);

// Cuts the value of one key out of a command line. A key is found at its first occurrence
// (ignoring case) that starts an entry (at the start of the text or after a ";", blanks
// allowed) and is followed, after optional blanks, by "=". The value is the text after that
// "=" up to the next ";", trimmed. Returns false when the key is found without a following
// ";" (the value is then left as it was); an absent key gives the empty text.
bool CortarValor(const QString& linea, const QString& clave, QString& valor);

// The start-up: workstation, INI value, command line, connection (or the end of the
// process, status 4), connection string, lookup set-up, configuration load. A command line
// that names no database asks the installed connection selector (startup/conexion.h), when
// there is one; a database without the suite's tables ends the process with status 4 too.
void InicioSistema();
// One value of TA_CONFIGURACION by key; a missing key gives " ", a failed read "".
QString Cfg(const QString& clave);
void CargarConfiguracion(const QString& carpetaAplicacion);
// Writes the four default masks into the masks file of gConsulta.
void CrearMascarasConsultas();

// Puts every variable back to its initial value, drops gConsulta and the connection selector (tests).
void ReiniciarModGlobal();

// Exit status when the connection cannot be opened.
inline constexpr int SalidaSinConexion = 4;
