#pragma once
// Support for the lookup dialog's tests: a SQLite session and a dialog loaded on a statement,
// shown without its modal loop so that keys and clicks can be sent to it.
#include "apoyo/sistema.h"
#include "lookup/lib_frmcons2.h"

#include <functional>
#include <memory>
#include <QComboBox>
#include <QStringList>
#include <QTableView>

class PruebaDialogo : public PruebaSistema {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the tables (statements) and connects the session to the file.
    void Base(const QStringList& sentencias);
    // The usual rows: ARTICULOS(NOMBRE varchar(20), CODIGO varchar(8), RUBRO varchar(12)).
    void BaseArticulos();
    // A dialog loaded on the statement and shown (not modally); `antes` sets its members.
    Lib_FrmCons2& Abrir(const QString& sql, const std::function<void(Lib_FrmCons2&)>& antes = {});

    // The first-column texts of the list, in the current order.
    QStringList Columna(int columna = 0) const;
    QString Seleccionado(int columna = 0) const;
    QComboBox* Caja(int i) const { return d_->CajaBusqueda(i); }
    QTableView* Lista() const { return d_->Lista(); }
    // Types into a search box as the operator would.
    void Teclear(int caja, const QString& texto);
    void LimpiarCaja(int caja);

    QString base_;
    std::unique_ptr<Lib_FrmCons2> d_;
};

// Clicks the dialog's Aceptar button, and a column's header (0-based), as the operator would.
void Aceptar(Lib_FrmCons2& d);
void ClicEnEncabezado(Lib_FrmCons2& d, int columna);

// Runs `mientras` on the dialog once its modal display has started.
void AlMostrarse(std::function<void(Lib_FrmCons2&)> mientras);
