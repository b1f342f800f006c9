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
class QKeyEvent;
class QTableView;
class ModeloConsulta;
class Trampa;

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
    // Reads the statement's rows into the list.
    void Leer();
    long Busqueda(long& Clave, QString& QueValor);
    short IndiceColumna(QString& Columna);

    // ---- Below: views on the dialog's state, so that tests (and the benchmark) can inspect
    // it; they drive it with real key presses and clicks. ----

    // The loading alone (Mostrar runs it before the modal display).
    void Form_Load();
    // The layout for an outer size in twips (a resize runs it with the window's size).
    void Form_Resize(double anchoTwips, double altoTwips);

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
    // The search box's pop-up menu choice (F5).
    enum class Menu : std::uint8_t { Ninguna, LlenarConValores };
    Menu OpcionMenu() const;
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

private slots:
    void CmdAceptar_Click();
    void CmdCancelar_Click();
    void CmbSearch_Change(int Index);
    void ListView1_DblClick();
    void ListView1_ColumnClick(int posicion); // 1-based column position
    void HScroll1_Change();
    void MNU_Llena_Click();

private:
    // A key pressed in a search box, or in the list.
    void CmbSearch_KeyDown(int Index, const QKeyEvent& tecla);
    void ListView1_KeyDown(const QKeyEvent& tecla);
    // What a key does in the list: codigo is a suite key code (lib_teclas.h), mayus its
    // modifiers (Mayus::Shift, ...).
    void teclaEnLista(int codigo, int mayus);
    // The quantity keys (Insert, Shift+Insert, Delete): true when the key was one of them.
    bool teclaDeCantidad(Trampa& t, int codigo, int mayus);
    // A typing key, a keypad key or Backspace goes to the active search box.
    void escribirEnBusqueda(Trampa& t, int codigo);
    // The selected row (error 91 when none) and the quantity column (error 5 when absent).
    int filaActual() const;
    int columnaCantidad();
    // Goes on with the search under way: a turn's worth, or to its end.
    void avanzarBusqueda(bool hastaElFinal);
    // Parts of the construction: the list with its model, and the two buttons.
    void crearLista();
    void crearBotones();
    // What "&Aceptar" hands back: the checked rows, or the selected row; false when a failure
    // stops it.
    bool aceptarMarcadas(Trampa& t);
    bool aceptarFila(Trampa& t);
    // Steps of the loading; false when a failure stops it.
    bool cargarFilas(Trampa& t);
    bool dimensionar(Trampa& t);

    struct Privado;
    std::unique_ptr<Privado> d_;
};
