#include "app/ejecutar_desatendido.h"

#include "app/registro_sentencias.h"
#include "purge/compactacion.h"
#include "purge/depuracion.h"
#include "purge/listados.h"
#include "purge/restauracion.h"
#include "startup/modglobal.h"
#include "suite/avance.h"
#include "suite/globales.h"
#include "suite/trampa.h"

#include <functional>
#include <optional>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

namespace {
QString texto(const std::optional<QVariant>& v) {
    if (!v) return QStringLiteral("(sin clave, no se escribe)");
    return v->isNull() ? QStringLiteral("(sin valor)") : v->toString();
}

// What the purge would do, read with the purge's own statements; nothing is written.
OpcionesArchivo Archivo(const OpcionesDesatendido& o) {
    return OpcionesArchivo{!o.sinArchivo, o.carpetaArchivo, o.carpetaListados};
}

int Simular(const QString& codigo, const OpcionesDesatendido& o, FILE* salida) {
    Depuracion depuracion;
    depuracion.EstablecerArchivo(Archivo(o));
    const Simulacion s = depuracion.Simular(codigo);
    if (s.desenlace == Desenlace::Rechazado) return Salida::Rechazado;

    auto linea = [&](const QString& t) { std::fprintf(salida, "%s\n", t.toLocal8Bit().constData()); };
    linea(QStringLiteral("Simulación de la depuración del ejercicio %1 (%2), nada se escribe:")
              .arg(codigo, s.descripcion));
    // What the purge would say went to the messages; no work is announced.
    if (s.desenlace == Desenlace::SinDatos) {
        linea(QStringLiteral("  Nada que depurar: el ejercicio no tiene asientos."));
        return Salida::NadaQueDepurar;
    }
    const bool stockHecho = s.pendiente && s.pendiente->fase == MarcaDepuracion::Fase::StockHecho;
    if (s.pendiente)
        linea(QStringLiteral("  La depuración de este ejercicio quedó sin terminar: se terminaría (%1).")
                  .arg(stockHecho ? QStringLiteral("el stock ya se depuró; falta el resto")
                                  : QStringLiteral("falta depurar el stock")));
    linea(QStringLiteral("  Asientos a eliminar: %1").arg(s.asientos));
    linea(QStringLiteral("  Fecha de corte del stock: %1").arg(s.fechas.corte));
    if (stockHecho) {
        linea(QStringLiteral("  Stock: ya depurado, no se vuelve a generar el saldo inicial."));
    } else if (s.hayTipoSI) {
        linea(QStringLiteral("  Comprobante de saldo inicial: SI %1").arg(s.comprobante));
        linea(QStringLiteral("  Renglones de saldo inicial: %1 (cantidad total %2)")
                  .arg(s.renglones)
                  .arg(QLocale::c().toString(s.cantidad, 'f', 4)));
        linea(QStringLiteral("  Movimientos de stock a eliminar: %1 (%2 válidos, %3 anulados)")
                  .arg(s.validos + s.anulados)
                  .arg(s.validos)
                  .arg(s.anulados));
    } else {
        linea(QStringLiteral("  Stock: no hay movimientos que llevar al saldo inicial."));
    }
    linea(QStringLiteral("  Período operativo durante la depuración: %1 a %2")
              .arg(s.fechas.desde, s.fechas.hasta));
    linea(QStringLiteral("  Período operativo que se restaura: %1 a %2")
              .arg(texto(s.periodoDesde), texto(s.periodoHasta)));
    linea(QStringLiteral("  Fecha de última depuración que se registra: %1").arg(s.fechas.desde));
    if (s.archivo.isEmpty()) {
        linea(QStringLiteral("  Archivo de depuración: ninguno (--sin-archivo)."));
    } else {
        linea(QStringLiteral("  Archivo de depuración: %1%2")
                  .arg(s.archivo, s.continuaArchivo ? QStringLiteral(" (el de la depuración sin terminar)")
                                                    : QString()));
        linea(QStringLiteral("  Filas que guardaría: unas %1").arg(s.filasArchivo + s.renglones));
        if (!s.archivoAnterior.isEmpty())
            linea(QStringLiteral("  Archivo de la depuración sin terminar, que no se alcanza: %1")
                      .arg(s.archivoAnterior));
    }
    return s.desenlace == Desenlace::Completo ? Salida::Depurado : Salida::NadaQueDepurar;
}

// The restore of an archive, or its dry run: refusals and failures go to the operator (standard
// error), what was done to `salida`.
int RestaurarArchivo(const OpcionesDesatendido& o, FILE* salida) {
    const QString titulo = QStringLiteral("Restauración");
    const ResultadoRestauracion r = ::Restaurar(gSesion(), o.restaurar, o.simular);
    if (r.desenlace == DesenlaceRestauracion::Rechazado || r.desenlace == DesenlaceRestauracion::Fallo) {
        operador().MsgBox(r.mensaje + QStringLiteral("\rNo se cambió nada en la base de datos."),
                          Estilo::Critico, titulo);
        return r.desenlace == DesenlaceRestauracion::Rechazado ? Salida::Rechazado : Salida::Incompleto;
    }
    const bool simulada = r.desenlace == DesenlaceRestauracion::Simulado;
    auto linea = [&](const QString& t) { std::fprintf(salida, "%s\n", t.toLocal8Bit().constData()); };
    linea((simulada
               ? QStringLiteral("Simulación de la restauración del ejercicio %1 desde %2, nada se escribe:")
               : QStringLiteral("Restauración del ejercicio %1 desde %2:"))
              .arg(r.ejercicio, QFileInfo(o.restaurar).absoluteFilePath()));
    linea(QStringLiteral("  Asientos %1: %2")
              .arg(simulada ? QStringLiteral("a reinsertar") : QStringLiteral("reinsertados"))
              .arg(r.asientos));
    linea(QStringLiteral("  Movimientos de stock %1: %2")
              .arg(simulada ? QStringLiteral("a reinsertar") : QStringLiteral("reinsertados"))
              .arg(r.movimientos));
    if (r.saldos > 0)
        linea(QStringLiteral("  Renglones de saldo inicial %1: %2 (comprobante SI %3)")
                  .arg(simulada ? QStringLiteral("a quitar") : QStringLiteral("quitados"))
                  .arg(r.saldos)
                  .arg(r.comprobante));
    else
        linea(QStringLiteral("  Saldo inicial: la depuración no generó renglones."));
    if (r.fechaAnterior)
        linea(QStringLiteral("  Fecha de última depuración %1: %2")
                  .arg(simulada ? QStringLiteral("que se repone") : QStringLiteral("repuesta"),
                       *r.fechaAnterior));
    else
        linea(QStringLiteral("  Fecha de última depuración: no existía; %1")
                  .arg(simulada ? QStringLiteral("se quitaría") : QStringLiteral("se quitó")));
    if (r.idsNuevos)
        linea(
            QStringLiteral("  Los movimientos de stock recibieron números nuevos: el servidor no acepta los "
                           "originales a través de la vista."));
    linea(QStringLiteral("  El período operativo no se toca."));
    return Salida::Depurado;
}

// --listados-de: the listings of an archive, their paths on standard output. No database.
int ImprimirListados(const OpcionesDesatendido& o, FILE* salida) {
    const auto error = [](const QString& t) {
        std::fprintf(stderr, "cribanzas: %s\n", t.toLocal8Bit().constData());
        return Salida::NoHecho;
    };
    if (!QFileInfo(o.listadosDe).isFile())
        return error(QStringLiteral("no existe el archivo de depuración %1").arg(o.listadosDe));
    OpcionesListados opciones;
    opciones.carpeta = o.carpetaListados;
    opciones.avance = &gAvance();
    std::vector<ListadoEmitido> hechos;
    gAvance().Iniciar(QStringLiteral("Listados de la depuración"));
    try {
        hechos = EmitirListados(o.listadosDe, opciones);
    } catch (const ErrorSistema& e) {
        gAvance().Cerrar();
        return error(
            QStringLiteral("no se pudieron emitir los listados de %1: %2").arg(o.listadosDe, e.Descripcion));
    }
    gAvance().Cerrar();
    if (hechos.empty())
        return error(QStringLiteral("el archivo %1 no tiene asientos ni saldos iniciales que listar")
                         .arg(o.listadosDe));
    for (const ListadoEmitido& l : hechos)
        std::fprintf(salida, "%s\n", l.ruta.toLocal8Bit().constData());
    std::fflush(salida);
    return Salida::Depurado;
}

// --compactar: VACUUM on SQLite; on SQL Server the space the purge freed (antes: measured before
// it), the files left as they are. Returns whether it compacted.
bool CompactarBase(const std::optional<EspacioServidor>& antes) {
    const QString titulo = QStringLiteral("Compactación");
    switch (ClaseDeCompactacion(gSesion())) {
    case ClaseCompactacion::SQLite:
        try {
            operador().MsgBox(TextoCompactacion(Compactar(gSesion(), gAvance())), Estilo::Informacion,
                              titulo);
            return true;
        } catch (const ErrorSistema& e) {
            operador().MsgBox(e.Descripcion, Estilo::Critico, titulo);
            return false;
        }
    case ClaseCompactacion::Servidor:
        if (antes) {
            const QString t =
                TextoEspacioServidor(*antes, MedirEspacioServidor(gSesion(), TablasDepuradas()));
            if (!t.isEmpty()) operador().MsgBox(t, Estilo::Informacion, titulo);
        }
        [[fallthrough]];
    default:
        operador().MsgBox(QStringLiteral("Esta base de datos no se compacta desde el programa: reducir sus "
                                         "archivos es decisión del administrador de la base de datos."),
                          Estilo::Informacion, titulo);
        return false;
    }
}

int Estado(Desenlace desenlace) {
    switch (desenlace) {
    case Desenlace::Completo:
        return Salida::Depurado;
    case Desenlace::SinCodigo:
    case Desenlace::Rechazado:
        return Salida::Rechazado;
    case Desenlace::SinDatos:
        return Salida::NadaQueDepurar;
    default:
        return Salida::Incompleto;
    }
}
} // namespace

int EjecutarDesatendido(const OpcionesDesatendido& o, FILE* salida) {
    if (!o.listadosDe.isEmpty()) return ImprimirListados(o, salida);
    // Every statement from the start-up on, for the administrator's audit.
    std::optional<RegistroSentencias> registro;
    if (!o.registroSentencias.isEmpty()) {
        registro.emplace(o.registroSentencias);
        if (!registro->Abierto()) {
            std::fprintf(stderr, "cribanzas: no se puede abrir el registro de sentencias %s: %s\n",
                         o.registroSentencias.toLocal8Bit().constData(),
                         registro->Error().toLocal8Bit().constData());
            return Salida::Uso;
        }
    }
    struct Observando {
        std::function<void(const SentenciaSesion&)> anterior = gSesion().Observador;
        ~Observando() { gSesion().Observador = anterior; }
    } observando;
    if (registro) gSesion().Observador = [&r = *registro](const SentenciaSesion& s) { r.Observar(s); };
    EstablecerLineaComandos(o.linea);
    // The start-up of the window's load handler, under its trap.
    Trampa::ConReporte(QStringLiteral("InicioSistema"))([] { InicioSistema(); });
    if (operador().Terminado())
        return *operador().CodigoFin() == 0 ? Salida::Incompleto : Salida::SinConexion;
    if (!gSesion().Conectado()) return Salida::SinConexion;

    if (!o.restaurar.isEmpty()) return RestaurarArchivo(o, salida);
    if (o.simular) {
        try {
            return Simular(o.ejercicio.trimmed(), o, salida);
        } catch (const ErrorSistema& e) {
            operador().ReportarError(e, QStringLiteral("Simulacion"));
            return Salida::Incompleto;
        }
    }
    if (o.compactar && o.ejercicio.isEmpty())
        return CompactarBase(std::nullopt) ? Salida::Depurado : Salida::NoHecho;
    std::optional<EspacioServidor> antes;
    if (o.compactar && ClaseDeCompactacion(gSesion()) == ClaseCompactacion::Servidor)
        antes = MedirEspacioServidor(gSesion(), TablasDepuradas());
    Depuracion depuracion;
    depuracion.EstablecerUsuario(gUsuarioLogeado);
    depuracion.EstablecerArchivo(Archivo(o));
    const int estado = Estado(depuracion.Ejecutar(o.ejercicio).desenlace);
    const QString archivo = depuracion.RutaArchivo();
    if (!archivo.isEmpty() && QFileInfo::exists(archivo))
        std::fprintf(salida, "Archivo de depuración: %s\n", archivo.toLocal8Bit().constData());
    // A compaction that cannot be done does not change what the purge did: the status is the purge's.
    if (o.compactar && estado == Salida::Depurado) CompactarBase(antes);
    return estado;
}

int ProgramaDesatendido(int& argc, char** argv, const OpcionesDesatendido& opciones) {
    // Qt's own notices would only clutter the log.
    qInstallMessageHandler([](QtMsgType tipo, const QMessageLogContext&, const QString& texto) {
        if (tipo == QtDebugMsg || tipo == QtInfoMsg || texto.contains(QLatin1String("XDG_RUNTIME_DIR")))
            return;
        std::fprintf(stderr, "%s\n", texto.toLocal8Bit().constData());
    });
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));
    InstalarOperador(std::make_unique<OperadorDesatendido>(opciones.confirmar));
    gAvance().InstalarVista(std::make_unique<AvanceTerminal>());
    const int estado = EjecutarDesatendido(opciones);
    gSesion().Desconectar();
    return estado;
}
