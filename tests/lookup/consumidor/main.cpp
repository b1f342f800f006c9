// Links the installed component and runs one request without a display: with no window
// system the dialog cannot be made, every dialog step is skipped and the request returns.
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "lookup/lib_frmcons2.h"
#include "suite/globales.h"
#include "suite/operador.h"

#include <cstdio>
#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Lib_ClsCons2 consulta;
    consulta.Checks = Verdadero;
    ColeccionRef campos = NuevaColeccion();
    campos->Add(QStringLiteral("CODIGO"));
    ColeccionRef retenida = campos;
    QString campoBusqueda;
    consulta.ConsultaSearch(QStringLiteral("SELECT 1"), campos, QString(), campoBusqueda);
    const bool bien = consulta.UltimoSQL() == QLatin1String("SELECT 1") && !campos &&
                      retenida->Count() == 0 && consulta.Checks == Falso &&
                      CodificarRegistro(QConsulta()).size() == 1202 && !gSesion().Conectado() &&
                      !operador().Terminado();
    std::puts(bien ? "consumidor: bien" : "consumidor: MAL");
    return bien ? 0 : 1;
}
