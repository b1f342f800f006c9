#include "startup/modglobal.h"

#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "startup/conexion.h"
#include "suite/globales.h"
#include "suite/operador.h"
#include "suite/trampa.h"
#include "suite/ubicaciones.h"

#include <cmath>
#include <memory>
#include <optional>
#include <QCoreApplication>

QString gSeccionIni;
double gFlatToolbars = 0;
QString gParametroAdicional;
QString gMenu;
QString gUsuarioLogeado;
QString gCaja;
QString gCadenaConexion;

bool gMostrarStock = false;
QString gTituloClientes;
QString gTituloProveedores;
QString gArchivoTareas;
bool gExigeClaveConsultaLike = false;
bool gUsaConsultaLike = false;
QString gCantidadDecimales;
bool gUsaMultiplesMonedas = false;
long gColorFondo = 0;
long gColorLetra = 0;
bool gModuloOrdenDeTrabajo = false;

namespace {
std::unique_ptr<Lib_ClsCons2>& consulta() {
    static std::unique_ptr<Lib_ClsCons2> c;
    return c;
}
std::unique_ptr<QConsulta>& mascara() {
    static std::unique_ptr<QConsulta> m;
    return m;
}
std::optional<QString>& lineaFijada() {
    static std::optional<QString> l;
    return l;
}
bool esIgual(const QString& a, const char* b) {
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}
} // namespace

Lib_ClsCons2& gConsulta() {
    if (!consulta()) consulta() = std::make_unique<Lib_ClsCons2>();
    return *consulta();
}

QConsulta& gMascara() {
    if (!mascara()) mascara() = std::make_unique<QConsulta>();
    return *mascara();
}

QString LineaComandos() {
    if (lineaFijada()) return *lineaFijada();
    return QCoreApplication::arguments().mid(1).join(QChar(' '));
}
void EstablecerLineaComandos(const QString& linea) {
    lineaFijada() = linea;
}

bool CortarValor(const QString& linea, const QString& clave, QString& valor) {
    const qsizetype n = linea.size();
    qsizetype desde = 0;
    while (desde <= n) {
        const qsizetype p = linea.indexOf(clave, desde, Qt::CaseInsensitive);
        if (p < 0) break;
        desde = p + 1;
        // The key must start an entry: at the start of the text or after a ";", blanks allowed.
        qsizetype a = p - 1;
        while (a >= 0 && linea.at(a).isSpace())
            --a;
        if (a >= 0 && linea.at(a) != QChar(';')) continue;
        // ... and be followed, after optional blanks, by "=".
        qsizetype b = p + clave.size();
        while (b < n && linea.at(b).isSpace())
            ++b;
        if (b >= n || linea.at(b) != QChar('=')) continue;
        const qsizetype fin = linea.indexOf(QChar(';'), b + 1);
        if (fin < 0) {
            // A key without its ";": the value keeps what it held.
            valor = valor.trimmed();
            return false;
        }
        valor = linea.mid(b + 1, fin - b - 1).trimmed();
        return true;
    }
    valor.clear();
    return true;
}

void InicioSistema() {
    // Only the cutting of a value without its ";" is skipped here (the cutting itself keeps
    // the value); every other failure ends the start-up and reaches the load handler's trap.
    const QString carpeta = gUtilidades().CompletarRuta(CarpetaAplicacion());
    const QString linea = LineaComandos();
    gSeccionIni =
        gEquipo().NombreEquipo().toUpper() + QStringLiteral("|") + gEquipo().UsuarioEquipo().toUpper();
    gFlatToolbars = Val(gArchivoIni().LeerValor(QStringLiteral("CN000pr.INI"), gSeccionIni,
                                                QStringLiteral("FlatToolbars"), QStringLiteral("1")));

    if (!gSesion().Conectado()) {
        QString server, dbName, usuario, password;
        CortarValor(linea, QStringLiteral("@ParametroAdicional"), gParametroAdicional);
        CortarValor(linea, QStringLiteral("@Menu"), gMenu);
        CortarValor(linea, QStringLiteral("@Server"), server);
        CortarValor(linea, QStringLiteral("@DbName"), dbName);
        CortarValor(linea, QStringLiteral("@Usuario"), usuario);
        CortarValor(linea, QStringLiteral("@Password"), password);
        CortarValor(linea, QStringLiteral("@UsuarioLogeado"), gUsuarioLogeado);
        CortarValor(linea, QStringLiteral("@Caja"), gCaja);

        if (dbName.trimmed().isEmpty() && SelectorConexionActual()) {
            // Started without the suite's session (from the menu): the operator chooses the
            // database. The database login may be shared, so the user is the system's.
            if (!SelectorConexionActual()()) {
                operador().Terminar(SalidaSinConexion);
                return;
            }
            if (gUsuarioLogeado.isEmpty()) gUsuarioLogeado = gEquipo().UsuarioEquipo();
        } else {
            gSesion().setUsuario(usuario);
            gSesion().setDbName(dbName);
            gSesion().setPassword(password);
            gSesion().setServer(server);
            gSesion().Conectar();
            if (!gSesion().Conectado()) {
                operador().Terminar(SalidaSinConexion);
                return;
            }
            // Another database would fail at every setting and every year read: one message.
            if (const auto motivo = MotivoBaseAjena()) {
                gSesion().Desconectar();
                operador().MsgBox(*motivo, Estilo::Critico);
                operador().Terminar(SalidaSinConexion);
                return;
            }
        }
        gSesion().setCommandTimeout(360);
    }

    gCadenaConexion = QStringLiteral("DSN=") + gSesion().DbName() + QStringLiteral("; UID=") +
                      gSesion().Usuario() + QStringLiteral("; PWD=") + gSesion().Password();
    gAuxiliar().Inicializar(carpeta);

    gConsulta().gConnString = gSesion().CadenaConexion();
    gConsulta().gUsarMascarasConsultas = Verdadero;
    // The first masks file found is used. A missing one is written where it can be, never
    // with an error report: when no folder takes it the lookups simply go without masks.
    const QString& mascaras = MascarasArchivo::NombreArchivo;
    gConsulta().gRutaMascaraConsultas = BuscarArchivoAplicacion(mascaras);
    if (gConsulta().gRutaMascaraConsultas.isEmpty()) {
        const QString escrito = CrearArchivoAplicacion(mascaras, [](const QString& ruta) {
            gConsulta().gRutaMascaraConsultas = ruta;
            CrearMascarasConsultas();
        });
        gConsulta().gRutaMascaraConsultas =
            escrito.isEmpty() ? gUtilidades().CompletarRuta(CarpetaAplicacion()) + mascaras : escrito;
    }

    CargarConfiguracion(carpeta);
}

QString Cfg(const QString& clave) {
    QString resultado;
    bool salir = false;
    Trampa trampa([&](const ErrorSistema& e) {
        // No retry here: Omitir goes on, anything else returns the empty text.
        if (gUtilidades().ReportarError(e, {}, QStringLiteral("Cfg")) == Respuesta::Omitir)
            return Respuesta::Omitir;
        salir = true;
        return Respuesta::Anular;
    });
    QString sql;
    Recordset rs;
    const bool completo =
        trampa([&] {
            // A quote in the key is doubled so the key can never end the literal.
            QString k = clave.trimmed();
            k.replace(QChar('\''), QStringLiteral("''"));
            sql = QStringLiteral("SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = '") + k +
                  QStringLiteral("'");
        }) &&
        trampa([&] { gSesion().AbrirRecordset(sql, rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1); }) &&
        trampa([&] {
            if (rs.BOF())
                resultado = QStringLiteral(" ");
            else
                resultado = gUtilidades().SinNulo(rs.Fields(QStringLiteral("Valor")).Value()).toString();
        }) &&
        trampa([&] { gSesion().CerrarRecordset(rs); });
    if (!completo || salir) return QString();
    return resultado;
}

void CargarConfiguracion(const QString& carpetaAplicacion) {
    gMostrarStock =
        esIgual(gUtilidades().SinNulo(Cfg(QStringLiteral("MostrarStockenConsultas"))).toString(), "SI");
    gTituloClientes = Cfg(QStringLiteral("TituloClientes")).trimmed();
    gTituloProveedores = Cfg(QStringLiteral("TituloProveedores")).trimmed();
    gArchivoTareas = carpetaAplicacion + QStringLiteral("VLDOCTareas.vlm");
    gExigeClaveConsultaLike = esIgual(Cfg(QStringLiteral("EXIGECLAVECONSULTALIKEARTICULOS")), "SI");
    gUsaConsultaLike = esIgual(Cfg(QStringLiteral("UsaConsultaLike")), "SI");
    gCantidadDecimales = Cfg(QStringLiteral("CantidadDecimales"));
    gUsaMultiplesMonedas = esIgual(Cfg(QStringLiteral("UsaMultilesMonedas")), "SI");
    auto color = [](const QString& clave) {
        const double v = std::nearbyint(gUtilidades().ValorNumero(Cfg(clave)));
        if (v > 2147483647.0 || v < -2147483648.0)
            throw ErrorSistema(
                Errores::Desbordamiento,
                QStringLiteral("Desbordamiento: el valor de %1 no es un color válido").arg(clave));
        return long(v);
    };
    gColorFondo = color(QStringLiteral("CFondo"));
    gColorLetra = color(QStringLiteral("CLetra"));
    if (gColorFondo == 0) gColorFondo = 16776960;
    gModuloOrdenDeTrabajo = !esIgual(Cfg(QStringLiteral("ModuloOrdenDeTrabajo")).trimmed(), "NO");
}

void ReiniciarModGlobal() {
    gSeccionIni.clear();
    gFlatToolbars = 0;
    gParametroAdicional.clear();
    gMenu.clear();
    gUsuarioLogeado.clear();
    gCaja.clear();
    gCadenaConexion.clear();
    gMostrarStock = false;
    gTituloClientes.clear();
    gTituloProveedores.clear();
    gArchivoTareas.clear();
    gExigeClaveConsultaLike = false;
    gUsaConsultaLike = false;
    gCantidadDecimales.clear();
    gUsaMultiplesMonedas = false;
    gColorFondo = 0;
    gColorLetra = 0;
    gModuloOrdenDeTrabajo = false;
    consulta().reset();
    mascara().reset();
    lineaFijada().reset();
    InstalarSelectorConexion({});
}
