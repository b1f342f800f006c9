#pragma once
// Support for the lookup tests: a small database with the tables of the default masks,
// masks files made to measure, and a script that answers the lookup dialog when it shows.
#include "apoyo/sistema.h"
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "lookup/lib_frmcons2.h"
#include "suite/coleccion.h"

#include <functional>
#include <memory>
#include <QByteArray>
#include <QPointer>
#include <QTimer>
#include <vector>

QConsulta Mascara(const QString& nombre, const QString& tabla, const QString& campos,
                  const QString& filtro = {});
// Writes the records (a new file).
void EscribirMascaras(const QString& ruta, const std::vector<QConsulta>& registros);
QByteArray LeerBytes(const QString& ruta);
void GuardarBytes(const QString& ruta, const QByteArray& bytes);

// What the dialog held when it was shown (after its loading).
struct VistoEnDialogo {
    bool mostrado = false;
    QString SQL;
    QString CampoDevuelto;
    ColeccionRef CmpsDevueltos;
    Bandera CheckBoxes = 0;
    QString gConnString;
    QString FiltroInicial;
    QString CampoBusqueda;
    ColeccionRef Valores;
    ColeccionRef Cantidades;
    Bandera UsaCantidades = 0;
    QPointer<Lib_FrmCons2> dialogo;
};

// Answers the next lookup dialog that shows modally: records its members, runs `antes` on it
// and then cancels (CmdCancelar, or Escape), accepts (CmdAceptar) or closes its window.
// A dialog that never shows leaves Visto().mostrado false; one that is shown but not found
// within a few seconds is hidden, so that a test never hangs.
class GuionDialogo {
public:
    enum class Accion { Cancelar, Aceptar, Cerrar };
    explicit GuionDialogo(Accion accion, std::function<void(Lib_FrmCons2&)> antes = {});
    const VistoEnDialogo& Visto() const { return visto_; }

private:
    void Mirar();
    Accion accion_;
    std::function<void(Lib_FrmCons2&)> antes_;
    VistoEnDialogo visto_;
    QTimer reloj_;
    int vueltas_ = 0;
};

// A connected session on a SQLite file with the suite's tables (the demo generator's), a few
// rows in V_MA_ARTICULOS, VT_CLIENTES, VT_PROVEEDORES and MA_CONTACTOS, and a request with masks
// in use on Ruta("consultas.vlm") (not written).
class PruebaConsulta : public PruebaSistema {
protected:
    void SetUp() override;
    void TearDown() override;

    // One request answered by the script; returns what the dialog held.
    VistoEnDialogo Pedir(const QString& sql, ColeccionRef& cmps, const QString& clave, QString& campoBusqueda,
                         GuionDialogo::Accion accion = GuionDialogo::Accion::Cancelar,
                         std::function<void(Lib_FrmCons2&)> antes = {});
    // The statement a request hands over with an empty search field and no columns.
    QString Sentencia(const QString& sql);
    void MascarasPredeterminadasEn(const QString& ruta);

    std::unique_ptr<Lib_ClsCons2> c_;
    QString base_;
    QString mascaras_;
};
