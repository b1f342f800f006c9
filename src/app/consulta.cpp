// consulta: shows the suite's lookup over a table (through its mask) or a statement, as a
// screen of the suite would, and prints what the caller gets back as one JSON object.
#include "app/registro_sentencias.h"
#include "lookup/lib_clscons2.h"
#include "startup/frmconexion.h"
#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/interfaz_qt.h"
#include "suite/operador.h"
#include "suite/traducciones.h"
#include "suite/trampa.h"

#include <cstdio>
#include <optional>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

namespace {

constexpr int SalidaUso = 64;

const char* const TextoUso =
    "Uso: consulta \"<linea de comandos de la suite>\" TABLA_O_SENTENCIA [opciones]\n"
    "\n"
    "  La linea de comandos es la de la suite, por ejemplo\n"
    "    \"@Server=;@DbName=/ruta/conta.db;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;\"\n"
    "  Si no nombra la base de datos (por ejemplo \"\"), se pide en un dialogo.\n"
    "  TABLA_O_SENTENCIA: la Tabla de una mascara de consultas.vlm (por ejemplo VT_CLIENTES)\n"
    "  o una sentencia SELECT.\n"
    "\n"
    "Opciones:\n"
    "  --checks             casillas de verificacion: devuelve todas las filas marcadas\n"
    "  --cantidades         columna de cantidades\n"
    "  --devuelto NOMBRE    columna cuyo valor se devuelve (CampoDevuelto)\n"
    "  --devueltos A,B,...  columnas cuyos valores se devuelven en Valores\n"
    "  --clave TEXTO        texto inicial de la primera caja de busqueda\n"
    "  --busqueda NOMBRE    campo de busqueda (CampoBusqueda)\n"
    "  --registro-sentencias RUTA\n"
    "                       agrega a RUTA cada sentencia enviada a la base de datos\n"
    "\n"
    "Escribe en la salida estandar un objeto JSON:\n"
    "  {\"valores\": [..] o null, \"cantidades\": [..] o null, \"valorDevuelto\": texto o null,\n"
    "   \"campoBusqueda\": texto}\n";

struct Opciones {
    QString linea;
    QString tabla;
    bool checks = false;
    bool cantidades = false;
    std::optional<QString> devuelto;
    std::optional<QStringList> devueltos;
    QString clave;
    QString busqueda;
    QString registroSentencias;
};

int ErrorDeUso(const QString& motivo) {
    std::fprintf(stderr, "consulta: %s\n\n%s", motivo.toLocal8Bit().constData(), TextoUso);
    return SalidaUso;
}

// One argument (with the value that follows it, when it takes one: i then points at that
// value). Returns an exit status when the program must stop here.
std::optional<int> LeerOpcion(const QStringList& args, qsizetype& i, Opciones& o, QStringList& posicionales) {
    const QString& a = args.at(i);
    auto valor = [&](QString& destino) -> bool {
        if (i + 1 >= args.size()) return false;
        destino = args.at(++i);
        return true;
    };
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
        std::fputs(TextoUso, stdout);
        return 0;
    } else if (a == QLatin1String("--checks")) {
        o.checks = true;
    } else if (a == QLatin1String("--cantidades")) {
        o.cantidades = true;
    } else if (a == QLatin1String("--devuelto")) {
        QString v;
        if (!valor(v)) return ErrorDeUso(QStringLiteral("falta el valor de --devuelto"));
        o.devuelto = v;
    } else if (a == QLatin1String("--devueltos")) {
        QString v;
        if (!valor(v)) return ErrorDeUso(QStringLiteral("falta el valor de --devueltos"));
        o.devueltos = v.isEmpty() ? QStringList() : v.split(QChar(','));
    } else if (a == QLatin1String("--clave")) {
        if (!valor(o.clave)) return ErrorDeUso(QStringLiteral("falta el valor de --clave"));
    } else if (a == QLatin1String("--busqueda")) {
        if (!valor(o.busqueda)) return ErrorDeUso(QStringLiteral("falta el valor de --busqueda"));
    } else if (a == QLatin1String("--registro-sentencias")) {
        if (!valor(o.registroSentencias) || o.registroSentencias.trimmed().isEmpty())
            return ErrorDeUso(QStringLiteral("--registro-sentencias necesita la ruta del registro"));
    } else if (a.startsWith(QLatin1String("--registro-sentencias="))) {
        o.registroSentencias = a.section(QChar('='), 1);
        if (o.registroSentencias.trimmed().isEmpty())
            return ErrorDeUso(QStringLiteral("--registro-sentencias necesita la ruta del registro"));
    } else if (a.startsWith(QLatin1String("--"))) {
        return ErrorDeUso(QStringLiteral("opción desconocida: %1").arg(a));
    } else {
        posicionales << a;
    }
    return std::nullopt;
}

// Returns an exit status when the arguments say the program must stop here.
std::optional<int> LeerOpciones(const QStringList& args, Opciones& o) {
    QStringList posicionales;
    for (qsizetype i = 0; i < args.size(); ++i)
        if (const auto fin = LeerOpcion(args, i, o, posicionales)) return fin;
    if (posicionales.size() != 2)
        return ErrorDeUso(posicionales.size() < 2
                              ? QStringLiteral("faltan argumentos")
                              : QStringLiteral("sobran argumentos: %1").arg(posicionales.mid(2).join(' ')));
    o.linea = posicionales.at(0);
    o.tabla = posicionales.at(1);
    return std::nullopt;
}

// One JSON value as text (a bare value cannot be a document of its own).
QByteArray Json(const QJsonValue& v) {
    QByteArray t = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return t.mid(1, t.size() - 2);
}

QJsonValue Lista(const ColeccionRef& c) {
    if (!c) return QJsonValue(QJsonValue::Null);
    return QJsonArray::fromStringList(c->Lista());
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    InstalarInterfazQt();
    InstalarDialogoConexion();
    CargarTraduccionesQt();
    QApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));

    Opciones o;
    if (const auto fin = LeerOpciones(QApplication::arguments().mid(1), o)) return *fin;

    // Every statement from the start-up on, as the unattended mode logs them.
    std::optional<RegistroSentencias> registro;
    if (!o.registroSentencias.isEmpty()) {
        registro.emplace(o.registroSentencias);
        if (!registro->Abierto()) {
            std::fprintf(stderr, "consulta: no se puede abrir el registro de sentencias %s: %s\n",
                         o.registroSentencias.toLocal8Bit().constData(),
                         registro->Error().toLocal8Bit().constData());
            return SalidaUso;
        }
        gSesion().Observador = [&r = *registro](const SentenciaSesion& s) { r.Observar(s); };
    }

    // The connection is closed before the program's statics go, the database registry among them.
    struct CierreSesion {
        ~CierreSesion() {
            gSesion().Desconectar();
            gSesion().Observador = nullptr;
        }
    } cierre;

    EstablecerLineaComandos(o.linea);
    // The start-up ends the process itself when there is no connection; any other failure
    // is reported, and the operator may go on without what it left undone.
    Trampa inicio = Trampa::ConReporte(QStringLiteral("InicioSistema"));
    const bool seguir = inicio([] { InicioSistema(); });
    if (operador().Terminado()) return *operador().CodigoFin();
    if (!seguir) return 1;

    Lib_ClsCons2& consulta = gConsulta();
    if (o.checks) consulta.Checks = Verdadero;
    if (o.cantidades) consulta.UsaCantidades = Verdadero;
    if (o.devuelto) consulta.CampoDevuelto = *o.devuelto;
    ColeccionRef devueltos;
    if (o.devueltos) {
        devueltos = NuevaColeccion();
        for (const QString& n : *o.devueltos)
            devueltos->Add(n);
    }
    QString campoBusqueda = o.busqueda;

    consulta.ConsultaSearch(o.tabla, devueltos, o.clave, campoBusqueda);
    std::fprintf(stderr, "sentencia: %s\n", consulta.UltimoSQL().toLocal8Bit().constData());

    const QJsonValue valorDevuelto = consulta.ValorDevuelto.isValid()
                                         ? QJsonValue(consulta.ValorDevuelto.toString())
                                         : QJsonValue(QJsonValue::Null);
    QByteArray salida = "{\"valores\": " + Json(Lista(consulta.Valores)) +
                        ", \"cantidades\": " + Json(Lista(consulta.Cantidades)) +
                        ", \"valorDevuelto\": " + Json(valorDevuelto) +
                        ", \"campoBusqueda\": " + Json(QJsonValue(campoBusqueda)) + "}\n";
    std::fwrite(salida.constData(), 1, size_t(salida.size()), stdout);
    std::fflush(stdout);
    return 0;
}
