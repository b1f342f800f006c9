// generar_demo: writes a demo database for the purge window and the lookup component.
#include "demodb.h"

#include <cstdio>
#include <limits>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

namespace {

constexpr int kSalidaUso = 64; // EX_USAGE
constexpr int kSalidaFallo = 1;

const char kUso[] = "Uso: generar_demo [opciones] RUTA.db\n"
                    "Crea o reemplaza RUTA.db, una base SQLite de demostración con las tablas de la suite.\n"
                    "Un archivo existente que no sea una base SQLite no se reemplaza.\n"
                    "\n"
                    "  --semilla N            semilla del generador (1); la misma semilla da la misma base\n"
                    "  --movimientos N        movimientos de stock (5000)\n"
                    "  --asientos N           renglones de MV_ASIENTOS (2000)\n"
                    "  --filas-consulta N     filas de cada tabla de consulta (200)\n"
                    "  --grupos N             grupos de saldo de stock (movimientos / 10)\n"
                    "  --anulados N           porcentaje de comprobantes anulados (3)\n"
                    "  --sin-saldo-previo     sin una depuración anterior (ni su comprobante SI)\n"
                    "  --sin-tipo-si          sin el tipo de comprobante SI en V_TA_CPTE\n"
                    "  --sin-indices          sin índices\n"
                    "  --tabla-consulta NOMBRE:FILAS\n"
                    "                         además, una tabla de prueba para consultas grandes\n"
                    "  -h, --help             esta ayuda\n";

int ErrorDeUso(const QString& texto) {
    QTextStream(stderr) << "generar_demo: " << texto << "\n\n" << kUso;
    return kSalidaUso;
}

// A whole number between minimo and maximo, or nothing.
bool LeerEntero(const QString& texto, qint64 minimo, qint64 maximo, qint64* valor) {
    bool ok = false;
    const qint64 v = texto.trimmed().toLongLong(&ok);
    if (!ok || v < minimo || v > maximo) return false;
    *valor = v;
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption semilla(QStringLiteral("semilla"), QString(), QStringLiteral("N"));
    const QCommandLineOption movimientos(QStringLiteral("movimientos"), QString(), QStringLiteral("N"));
    const QCommandLineOption asientos(QStringLiteral("asientos"), QString(), QStringLiteral("N"));
    const QCommandLineOption filasConsulta(QStringLiteral("filas-consulta"), QString(), QStringLiteral("N"));
    const QCommandLineOption grupos(QStringLiteral("grupos"), QString(), QStringLiteral("N"));
    const QCommandLineOption anulados(QStringLiteral("anulados"), QString(), QStringLiteral("N"));
    const QCommandLineOption sinSaldoPrevio(QStringLiteral("sin-saldo-previo"));
    const QCommandLineOption sinTipoSI(QStringLiteral("sin-tipo-si"));
    const QCommandLineOption sinIndices(QStringLiteral("sin-indices"));
    const QCommandLineOption tablaConsulta(QStringLiteral("tabla-consulta"), QString(),
                                           QStringLiteral("NOMBRE:FILAS"));
    const QCommandLineOption ayuda(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({semilla, movimientos, asientos, filasConsulta, grupos, anulados, sinSaldoPrevio,
                       sinTipoSI, sinIndices, tablaConsulta, ayuda});
    if (!parser.parse(app.arguments())) return ErrorDeUso(parser.errorText());
    if (parser.isSet(ayuda)) {
        QTextStream(stdout) << kUso;
        return 0;
    }
    const QStringList posicionales = parser.positionalArguments();
    if (posicionales.size() != 1)
        return ErrorDeUso(posicionales.isEmpty()
                              ? QStringLiteral("falta RUTA.db")
                              : QStringLiteral("sobran argumentos: %1").arg(posicionales.join(u' ')));
    const QString ruta = posicionales.first();

    demodb::OpcionesDemo opciones;
    constexpr qint64 kMaxInt = std::numeric_limits<int>::max();
    struct Entero {
        const QCommandLineOption& opcion;
        int* destino;
        qint64 maximo;
    };
    for (const Entero& e : {Entero{movimientos, &opciones.movimientos, 100'000'000},
                            Entero{asientos, &opciones.asientos, 100'000'000},
                            Entero{filasConsulta, &opciones.filasConsulta, 10'000'000},
                            Entero{grupos, &opciones.gruposObjetivo, kMaxInt},
                            Entero{anulados, &opciones.porcentajeAnulados, 100}}) {
        if (!parser.isSet(e.opcion)) continue;
        qint64 v = 0;
        if (!LeerEntero(parser.value(e.opcion), 0, e.maximo, &v))
            return ErrorDeUso(QStringLiteral("--%1 espera un número entero entre 0 y %2, no \"%3\"")
                                  .arg(e.opcion.names().first())
                                  .arg(e.maximo)
                                  .arg(parser.value(e.opcion)));
        *e.destino = int(v);
    }
    if (parser.isSet(semilla)) {
        bool ok = false;
        opciones.semilla = parser.value(semilla).trimmed().toULongLong(&ok);
        if (!ok)
            return ErrorDeUso(QStringLiteral("--semilla espera un número entero no negativo, no \"%1\"")
                                  .arg(parser.value(semilla)));
    }
    opciones.conSaldoInicialPrevio = !parser.isSet(sinSaldoPrevio);
    opciones.conTipoSI = !parser.isSet(sinTipoSI);
    opciones.conIndices = !parser.isSet(sinIndices);

    QString nombreTabla;
    qint64 filasTabla = 0;
    if (parser.isSet(tablaConsulta)) {
        const QString valor = parser.value(tablaConsulta);
        const qsizetype dosPuntos = valor.lastIndexOf(u':');
        nombreTabla = valor.left(dosPuntos);
        if (dosPuntos <= 0 || !LeerEntero(valor.mid(dosPuntos + 1), 0, 100'000'000, &filasTabla))
            return ErrorDeUso(QStringLiteral("--tabla-consulta espera NOMBRE:FILAS, no \"%1\"").arg(valor));
    }

    QElapsedTimer reloj;
    reloj.start();
    QString error;
    demodb::ResumenDemo resumen;
    if (!demodb::CrearBaseDemo(ruta, opciones, &error, &resumen)) {
        QTextStream(stderr) << "generar_demo: " << error << '\n';
        return kSalidaFallo;
    }
    if (!nombreTabla.isEmpty()) {
        if (!demodb::CrearTablaConsulta(ruta, nombreTabla, int(filasTabla), opciones.semilla, &error) ||
            !demodb::ContarFilas(ruta, &resumen.filasPorTabla, &error)) {
            QTextStream(stderr) << "generar_demo: " << error << '\n';
            return kSalidaFallo;
        }
    }

    QTextStream salida(stdout);
    salida << "Base creada: " << ruta << " (semilla " << opciones.semilla << ", "
           << QString::number(reloj.elapsed() / 1000.0, 'f', 2) << " s)\n";
    for (const auto& [tabla, filas] : resumen.filasPorTabla)
        salida << "  " << tabla.leftJustified(20) << ' ' << QString::number(filas).rightJustified(10) << '\n';
    salida << "Grupos de saldo de stock: " << resumen.grupos;
    if (resumen.gruposSaldoPrevio > 0)
        salida << " (más " << resumen.gruposSaldoPrevio << " del saldo inicial previo)";
    salida << '\n';
    return 0;
}
