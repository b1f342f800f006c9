#pragma once
// Lib_FrmCons2: the lookup dialog. The request (Lib_ClsCons2) writes the hand-over members,
// shows the dialog modally with Mostrar(), reads Valores, Cantidades and ValorDevuelto,
// then unloads it with Descargar().
#include "lookup/lib_disposicion.h"
#include "suite/coleccion.h"

#include <cstdint>
#include <memory>
#include <QDialog>
#include <QString>
#include <QVariant>

class QComboBox;
class QTableView;
class ModeloConsulta;

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

    // ---- Below: the dialog's event handlers and views on its state, public so that tests
    // (and the benchmark) can drive and inspect the dialog without the modal loop. ----

    // The loading alone (Mostrar runs it before the modal display).
    void Form_Load();
    // The layout for an outer size in twips (a real resize runs it with the window's size).
    void Form_Resize(double anchoTwips, double altoTwips);
    void CmdAceptar_Click();
    void CmdCancelar_Click();
    void CmbSearch_Change(short Index);
    void CmbSearch_KeyDown(short Index, short KeyCode, short Shift);
    // KeyCode is a suite key code (see lib_teclas.h); Shift 1 Shift, 2 Ctrl, 4 Alt.
    void ListView1_KeyDown(short KeyCode, short Shift);
    void ListView1_DblClick();
    void ListView1_ColumnClick(int posicion); // 1-based column position
    void HScroll1_Change();
    void MNU_Llena_Click();

    // Geometry of the controls in twips, as the loading and the layout computed it.
    struct Medidas {
        Disposicion controles;
        double Width = 0;         // the dialog's outer width
        double MaximoHScroll = 0; // the scroll bar's maximum: how far the columns stick out
        std::vector<RectTwips> cajas;
        std::vector<double> anchosColumnas;
    };
    const Medidas& MedidasTwips() const;

    ModeloConsulta* Modelo() const;
    QTableView* Lista() const;
    int CantidadCajas() const;
    QComboBox* CajaBusqueda(int indice) const;
    short BusquedaActiva() const;
    QString OpcionMenu() const;
    // The selected row's view position (0-based), or -1; selecting by position.
    int FilaSeleccionada() const;
    void SeleccionarFila(int fila);
    // A search box's search still under way (done in slices between events on a large list),
    // and the size of those slices: rows a step and milliseconds a turn of the event loop.
    bool BusquedaPendiente() const;
    void BusquedaPorPartes(std::uint32_t filas, int milisegundos);
    // Sort state of the list: the 0-based column and 0 ascending / 1 descending.
    int SortKey() const;
    int SortOrder() const;

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;
    void reject() override;
    void closeEvent(QCloseEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void showEvent(QShowEvent* evento) override;

private:
    // Goes on with the search under way: a turn's worth, or to its end.
    void avanzarBusqueda(bool hastaElFinal);

    struct Privado;
    std::unique_ptr<Privado> d_;
};
