// cribanzas: purges one closed fiscal year from the suite's database.
#include "app/desatendido.h"
#include "app/ejecutar_desatendido.h"
#include "purge/frmcrb.h"
#include "startup/frmconexion.h"
#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/interfaz_qt.h"
#include "suite/operador.h"
#include "suite/traducciones.h"

#include <cstdio>
#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QStringList argumentos;
    for (int i = 1; i < argc; ++i)
        argumentos << QString::fromLocal8Bit(argv[i]);
    const OpcionesDesatendido opciones = AnalizarArgumentos(argumentos);
    if (opciones.ayuda) return std::fputs(TextoDeUso().toLocal8Bit().constData(), stdout) < 0;
    if (!opciones.error.isEmpty()) {
        std::fprintf(stderr, "cribanzas: %s\n\n%s", opciones.error.toLocal8Bit().constData(),
                     TextoDeUso().toLocal8Bit().constData());
        return Salida::Uso;
    }
    // The unattended mode needs no display: it runs before any QApplication exists.
    if (opciones.desatendido) return ProgramaDesatendido(argc, argv, opciones);

    QApplication app(argc, argv);
    InstalarInterfazQt();
    InstalarDialogoConexion();
    CargarTraduccionesQt();
    QApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));
    // The components' statics hold widgets (the progress window): they go, on every way out,
    // while the application object still lives.
    struct AlSalir {
        ~AlSalir() {
            ReiniciarComponentes();
            ReiniciarModGlobal();
        }
    } alSalir;

    EstablecerLineaComandos(opciones.linea);
    FrmCrb ventana;
    ventana.Form_Load();
    if (operador().Terminado()) return *operador().CodigoFin();
    ventana.show();
    // An unfinished purge is offered as soon as the window shows.
    QTimer::singleShot(0, &ventana, &FrmCrb::AvisarDepuracionPendiente);
    // Every way out (Cancelar, the close box, the end of a purge) ends the loop through the
    // operator with its status.
    const int estado = app.exec();
    return operador().Terminado() ? *operador().CodigoFin() : estado;
}
