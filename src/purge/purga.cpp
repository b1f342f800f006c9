// The confirm button of the purge window: the purge runs, the window shows how it ended.
#include "purge/depuracion.h"
#include "purge/frmcrb.h"
#include "suite/trampa.h"

#include <QComboBox>

namespace {
// Keeps the window's buttons and close box idle while the purge runs.
class PurgaEnCurso {
public:
    explicit PurgaEnCurso(bool& bandera) : bandera_(bandera), anterior_(bandera) { bandera_ = true; }
    ~PurgaEnCurso() { bandera_ = anterior_; }
    PurgaEnCurso(const PurgaEnCurso&) = delete;
    PurgaEnCurso& operator=(const PurgaEnCurso&) = delete;

private:
    bool& bandera_;
    bool anterior_;
};
} // namespace

void FrmCrb::CmdAceptar_Click() {
    UltimoDesenlace = Desenlace::Fallo;
    MotivoIncompleto.clear();
    ResultadoDepuracion r;
    {
        PurgaEnCurso enCurso(purgando_);
        r = Depuracion(this).Ejecutar(txtfields->currentText());
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
