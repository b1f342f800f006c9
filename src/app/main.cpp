// cribanzas: purges one closed fiscal year from the suite's database.
#include "frmcrb.h"
#include "modglobal.h"
#include "operador.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cribanzas"));
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));
    EstablecerLineaComandos(QApplication::arguments().mid(1).join(QChar(' ')));

    FrmCrb ventana;
    ventana.Form_Load();
    if (operador().Terminado()) return *operador().CodigoFin();
    ventana.show();
    return app.exec();
}
