#pragma once
// Lib_FrmCons2: the lookup dialog. The request (Lib_ClsCons2) writes the hand-over members,
// shows the dialog modally with Mostrar(), reads Valores, Cantidades and ValorDevuelto,
// then unloads it with Descargar().
#include "coleccion.h"

#include <QDialog>
#include <QString>
#include <QVariant>
#include <memory>

class Lib_FrmCons2 : public QDialog {
    Q_OBJECT
public:
    explicit Lib_FrmCons2(QWidget* parent = nullptr);
    ~Lib_FrmCons2() override;

    // Hand-over members, in the order the dialog declares them.
    QString SQL;
    QString CampoDevuelto;
    ColeccionRef CmpsDevueltos;
    Bandera CheckBoxes = Falso;
    QString gConnString;
    QVariant ValorDevuelto; // invalid QVariant: empty (unset)
    QString FiltroInicial;
    QString CampoBusqueda;
    ColeccionRef Valores;
    ColeccionRef Cantidades;
    Bandera UsaCantidades = Falso;

    // Loads (Form_Load) and shows the dialog modally; returns when it is hidden or closed.
    void Mostrar();
    // The unload step (Form_Unload): clears the list.
    void Descargar();

    void Encolumnar();
    void Leer(long& Cdesde, short& Cuantas);
    long Busqueda(long& Clave, QString& QueValor);
    short IndiceColumna(QString& Columna);

private:
    struct Privado;
    std::unique_ptr<Privado> d_;
};
