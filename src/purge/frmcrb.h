#pragma once
// FrmCrb: the purge window "Cribanzas", the start-up object of the program.
#include "purge/depuracion.h"
#include "suite/recordset.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

class FrmCrb : public QWidget, private VistaDepuracion {
    Q_OBJECT
public:
    explicit FrmCrb(QWidget* parent = nullptr);
    ~FrmCrb() override;

    // The load handler: places the window, runs the start-up, lists the closed years.
    // The caller shows the window afterwards unless the process has ended.
    void Form_Load();
    // Validates the year whose code is the control's text; returns (and sets) HayError.
    bool ValidarEjercicio(QComboBox* control);
    void txtfields_KeyDown(short& KeyCode, short Shift);
    void CmdAceptar_Click();
    void CmdCAncelar_Click();
    void Form_Unload(short& Cancel);
    // Once the window shows: when a purge was left unfinished, says so and offers to finish
    // it; the operator's Yes runs it as "&Aceptar" does, with its year in the year box.
    void AvisarDepuracionPendiente();

    // True while a purge runs: the buttons do nothing and the close box does not close.
    bool Purgando() const { return purgando_; }

    // How the last click of "&Aceptar" ended.
    using Desenlace = ::Desenlace;
    Desenlace UltimoDesenlace = Desenlace::Ninguno;
    QString MotivoIncompleto;

    // Window-level variables.
    bool HayError = false;
    Recordset RsEjercicio;

    // Controls, in creation order (object names are the control names).
    QComboBox* txtfields = nullptr;
    QPushButton* CmdCAncelar = nullptr;
    QPushButton* CmdAceptar = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* ImgBasura = nullptr;
    QLabel* ImgTachito = nullptr;
    QLabel* lblDesc = nullptr;
    QLabel* lbln = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    // What the purge shows in the window: the year's description and ImgBasura.
    void MostrarDescripcion(const QString& texto) override;
    void MostrarBasura(bool visible) override;

    bool purgando_ = false;
    bool descargado_ = false;
};
