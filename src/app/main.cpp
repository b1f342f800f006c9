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
    // The unattended mode needs no display: it runs before any QApplication exists.
    if (opciones.desatendido) return ProgramaDesatendido(argc, argv, opciones);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));

    EstablecerLineaComandos(opciones.linea);
    FrmCrb ventana;
    ventana.Form_Load();
    if (operador().Terminado()) return *operador().CodigoFin();
    ventana.show();
    return app.exec();
}
