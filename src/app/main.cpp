// cribanzas: purges one closed fiscal year from the suite's database.
#include "desatendido.h"
#include "ejecutar_desatendido.h"
#include "frmcrb.h"
#include "globales.h"
#include "modglobal.h"
#include "operador.h"

#include <cstdio>
#include <QApplication>

int main(int argc, char* argv[]) {
    QStringList argumentos;
    for (int i = 1; i < argc; ++i)
        argumentos << QString::fromLocal8Bit(argv[i]);
    const OpcionesDesatendido opciones = AnalizarArgumentos(argumentos);
    if (!opciones.error.isEmpty()) {
        std::fprintf(stderr, "cribanzas: %s\n\n%s", opciones.error.toLocal8Bit().constData(),
                     TextoDeUso().toLocal8Bit().constData());
        return Salida::Uso;
    }
    // The unattended mode needs no display; Qt's own notices about it would only clutter the log.
    if (opciones.desatendido) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType tipo, const QMessageLogContext&, const QString& texto) {
            if (tipo == QtDebugMsg || tipo == QtInfoMsg || texto.contains(QLatin1String("XDG_RUNTIME_DIR")))
                return;
            std::fprintf(stderr, "%s\n", texto.toLocal8Bit().constData());
        });
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));

    if (opciones.desatendido) {
        InstalarOperador(std::make_unique<OperadorDesatendido>(opciones.confirmar));
        gAvance().InstalarVista(std::make_unique<AvanceTerminal>());
        const int estado = EjecutarDesatendido(opciones);
        gSesion().Desconectar();
        return estado;
    }

    EstablecerLineaComandos(opciones.linea);
    FrmCrb ventana;
    ventana.Form_Load();
    if (operador().Terminado()) return *operador().CodigoFin();
    ventana.show();
    return app.exec();
}
