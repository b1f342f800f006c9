// The confirm button of the purge window: the purge runs, the window shows how it ended.
#include "purge/compactacion.h"
#include "purge/depuracion.h"
#include "purge/frmcrb.h"
#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/trampa.h"

#include <QComboBox>
#include <QScopedValueRollback>

void FrmCrb::CmdAceptar_Click() {
    UltimoDesenlace = Desenlace::Fallo;
    MotivoIncompleto.clear();
    ResultadoDepuracion r;
    {
        // The window's buttons and close box stay idle while the purge runs.
        const QScopedValueRollback enCurso(purgando_, true);
        Depuracion depuracion(this);
        depuracion.EstablecerUsuario(gUsuarioLogeado);
        // The success message offers what is the program's to do after a purge.
        OfertaCompactacion oferta(gSesion());
        depuracion.OfrecerAlTerminar(&oferta);
        r = depuracion.Ejecutar(txtfields->currentText());
    }
    UltimoDesenlace = r.desenlace;
    MotivoIncompleto = r.motivo;
    if (r.hayError) HayError = *r.hayError;
    if (r.desenlace == Desenlace::Rechazado) txtfields->setFocus();
    if (!r.depuracionIniciada) return;
    // One run purges at most one year: the window unloads, which ends the program.
    Trampa::ConReporte(QStringLiteral("CmdAceptar_Click"))([&] {
        short cancelar = 0;
        Form_Unload(cancelar);
    });
}
