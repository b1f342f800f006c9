#pragma once
// FrmConexion: the dialog that asks for the suite's database when the program starts without
// the suite's session line. It lists the ODBC data sources and SQLite files, takes the login,
// connects through ConectarEleccion and, when that fails, shows why and lets the operator try
// again. Enter connects, Escape cancels.
#include "startup/conexion.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class FrmConexion : public QDialog {
    Q_OBJECT
public:
    explicit FrmConexion(QWidget* parent = nullptr);
    ~FrmConexion() override;

    // The choice on screen, with the password as typed; nothing while no source is chosen.
    std::optional<EleccionConexion> Eleccion() const;
    void setVisible(bool visible) override;

    // Controls, in tab order (object names are the control names).
    QComboBox* CmbOrigen = nullptr;
    QLineEdit* txtUsuario = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* CmdConectar = nullptr;
    QPushButton* CmdCancelar = nullptr;
    QLabel* lblFallo = nullptr;

private Q_SLOTS:
    void CmdConectar_Click();
    void CmbOrigen_Activated(int indice);

private:
    // The controls in their grid, in tab order.
    void disponer(QLabel* intro);
    // The data sources and the last choice, preselected; returns the control to focus.
    QWidget* llenarOrigenes();
    // Asks for a SQLite file; true when one was chosen (it is then the current source).
    bool elegirArchivo();
    int agregarArchivo(const QString& ruta);
    void ajustarLogin();
    void mostrarFallo(const QString& texto);
    int elegidoAntes_ = -1;
};

// Makes FrmConexion the start-up's connection selector. A program with windows calls it once
// its QApplication exists.
void InstalarDialogoConexion();
