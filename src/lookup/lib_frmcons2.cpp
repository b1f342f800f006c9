#include "lookup/lib_frmcons2.h"

#include "lookup/lib_modeloconsulta.h"
#include "lookup/lib_teclas.h"
#include "lookup/lib_textoconsulta.h"
#include "suite/globales.h"
#include "suite/interfaz_qt.h"
#include "suite/operador.h"
#include "suite/recordset.h"
#include "suite/trampa.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <QAbstractListModel>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

namespace {
const QString Cantidad = QStringLiteral("**Cantidad**");
const QString ProcCarga = QStringLiteral("FORM_LOAD");

int px(double twips) {
    return int(std::lround(twips / TwipsPorPixel));
}

void aplicar(QWidget* w, const RectTwips& r) {
    if (w) w->setGeometry(px(r.Left), px(r.Top), std::max(0, px(r.Width)), std::max(0, px(r.Height)));
}

[[noreturn]] void sinObjeto() {
    throw ErrorSistema(Errores::ObjetoNoEstablecido,
                       QStringLiteral("Variable de objeto o de bloque With no establecida"));
}
[[noreturn]] void fueraDeLimites() {
    throw ErrorSistema(Errores::LlamadaNoValida,
                       QStringLiteral("Llamada a procedimiento o argumento no válido"));
}

// A step run fast; only a failure goes through the trap (which reports that failure and then
// retries or skips as the operator chooses).
template <typename F> bool paso(Trampa& trampa, F&& f) {
    try {
        f();
        return true;
    } catch (...) {
        std::exception_ptr e = std::current_exception();
        return trampa([&] {
            if (e) {
                std::exception_ptr primero = e;
                e = nullptr;
                std::rethrow_exception(primero);
            }
            f();
        });
    }
}

// A step of the reading. A failure is reported in a modal loop that repaints the list, so the
// loading's thread is waited for first.
template <typename F> bool pasoCarga(Trampa& trampa, ModeloConsulta& modelo, F&& f) {
    return paso(trampa, [&] {
        try {
            f();
        } catch (...) {
            modelo.EsperarCarga();
            throw;
        }
    });
}

// The designed properties every element of the search boxes takes.
// alCambiar gets the box's Index when its text changes or an entry is chosen.
void prepararCaja(Lib_FrmCons2* dialogo, QComboBox* c, const std::function<void(int)>& alCambiar) {
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    c->setMaxVisibleItems(12);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (auto* v = qobject_cast<QListView*>(c->view())) v->setUniformItemSizes(true);
    c->installEventFilter(dialogo);
    const int indice = c->property("Index").toInt();
    QObject::connect(c, &QComboBox::editTextChanged, dialogo, [alCambiar, indice] { alCambiar(indice); });
    QObject::connect(c, &QComboBox::activated, dialogo, [alCambiar, indice] { alCambiar(indice); });
}

// The values of one column in the order of the list when the drop-down was filled.
class ModeloValores : public QAbstractListModel {
public:
    ModeloValores(const ModeloConsulta* filas, int columna, QObject* padre)
        : QAbstractListModel(padre), filas_(filas), columna_(columna) {
        const int n = filas->rowCount();
        almacenadas_.reserve(std::size_t(n));
        for (int i = 0; i < n; ++i)
            almacenadas_.push_back(filas->FilaAlmacenada(i));
    }
    int rowCount(const QModelIndex& p = {}) const override {
        return p.isValid() ? 0 : int(almacenadas_.size());
    }
    QVariant data(const QModelIndex& i, int rol) const override {
        if (!i.isValid() || i.row() >= int(almacenadas_.size())) return {};
        if (rol != Qt::DisplayRole && rol != Qt::EditRole) return {};
        return filas_->TextoAlmacenado(columna_, almacenadas_[std::size_t(i.row())]);
    }

private:
    const ModeloConsulta* filas_;
    int columna_;
    std::vector<int> almacenadas_;
};
} // namespace

struct Lib_FrmCons2::Privado {
    QWidget* picFields = nullptr;
    std::vector<QComboBox*> CmbSearch;
    QTableView* ListView1 = nullptr;
    ModeloConsulta* modelo = nullptr;
    QScrollBar* HScroll1 = nullptr;
    QFrame* Frame1 = nullptr;
    QPushButton* CmdAceptar = nullptr;
    QPushButton* CmdCancelar = nullptr;

    std::unique_ptr<Recordset> rsConsulta;
    Lib_FrmCons2::Menu OpcionMenu = Lib_FrmCons2::Menu::Ninguna;
    short BusquedaActiva = 0;
    int SortKey = 0;
    int SortOrder = 0;

    Medidas medidas;

    // The search typed last, while it is done a slice at a time between the events, so that
    // the next key replaces it instead of waiting for it.
    std::optional<ModeloConsulta::Busqueda> pendiente;
    QTimer* seguirBuscando = nullptr;
    std::uint32_t filasPorPaso = 1u << 16;
    int msPorTurno = 8;

    // Each search box over its column, wherever the list's columns now stand (scrolled or
    // resized), 50 twips narrower than it.
    void colocarCajas() {
        const QHeaderView* cabecera = ListView1->horizontalHeader();
        const std::size_t n =
            std::min({medidas.cajas.size(), CmbSearch.size(), std::size_t(cabecera->count())});
        for (std::size_t i = 0; i < n; ++i) {
            RectTwips& r = medidas.cajas[i];
            r.Left = cabecera->sectionViewportPosition(int(i)) * TwipsPorPixel;
            r.Width = cabecera->sectionSize(int(i)) * TwipsPorPixel - 50;
            aplicar(CmbSearch[i], r);
        }
    }
    // The scroll bar's range: what the columns stick out of the list, nothing when they fit.
    void ajustarBarra() {
        const QScrollBar* propia = ListView1->horizontalScrollBar();
        medidas.MaximoHScroll = propia->maximum() * TwipsPorPixel;
        HScroll1->setRange(0, int(medidas.MaximoHScroll));
        HScroll1->setEnabled(HScroll1->maximum() > 0);
        HScroll1->setPageStep(std::max(150, int(propia->pageStep() * TwipsPorPixel)));
    }
    // The list scrolled sideways (by the bar or by itself): the boxes and the bar follow.
    void seguirLista() {
        {
            const QSignalBlocker bloqueo(HScroll1);
            HScroll1->setValue(int(ListView1->horizontalScrollBar()->value() * TwipsPorPixel));
        }
        colocarCajas();
    }
};

Lib_FrmCons2::Lib_FrmCons2(QWidget* parent) : QDialog(parent), d_(std::make_unique<Privado>()) {
    InstalarInterfazQt(); // a screen that links the component gets Qt dialogs without asking
    setObjectName(QStringLiteral("Lib_FrmCons2"));
    setWindowTitle(QStringLiteral("Consulta..."));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    resize(px(7245), px(4410));

    auto& d = *d_;
    d.picFields = new QWidget(this);
    d.picFields->setObjectName(QStringLiteral("picFields"));

    auto* caja = new QComboBox(d.picFields);
    caja->setObjectName(QStringLiteral("CmbSearch"));
    caja->setProperty("Index", 0);
    d.CmbSearch.push_back(caja);

    crearLista();

    d.HScroll1 = new QScrollBar(Qt::Horizontal, this);
    d.HScroll1->setObjectName(QStringLiteral("HScroll1"));
    d.HScroll1->setTracking(false); // the strip moves when the value changes, not while dragging
    d.HScroll1->setRange(0, 0);
    d.HScroll1->setSingleStep(150);
    d.HScroll1->setPageStep(1500);
    connect(d.HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });

    d.seguirBuscando = new QTimer(this);
    d.seguirBuscando->setSingleShot(true);
    d.seguirBuscando->setInterval(0);
    connect(d.seguirBuscando, &QTimer::timeout, this, [this] { avanzarBusqueda(false); });

    crearBotones();

    // Designed geometry of the search box (element 0) and the other controls.
    aplicar(caja, {0, 0, 1815, 315});
    auto& m = d.medidas;
    aplicar(d.picFields, m.controles.picFields);
    aplicar(d.ListView1, m.controles.ListView1);
    aplicar(d.HScroll1, m.controles.HScroll1);
    aplicar(d.Frame1, m.controles.Frame1);
    m.Width = 7245;

    prepararCaja(this, caja, [this](int i) { CmbSearch_Change(i); });
    setTabOrder(caja, d.ListView1);
    setTabOrder(d.ListView1, d.CmdAceptar);
    setTabOrder(d.CmdAceptar, d.CmdCancelar);
    caja->setFocus();
}

void Lib_FrmCons2::crearLista() {
    auto& d = *d_;
    d.ListView1 = new QTableView(d.picFields);
    d.ListView1->setObjectName(QStringLiteral("ListView1"));
    d.modelo = new ModeloConsulta(d.ListView1);
    d.ListView1->setModel(d.modelo);
    d.ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    d.ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    d.ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers); // label edits are always undone
    d.ListView1->setShowGrid(false);
    d.ListView1->setWordWrap(false);
    d.ListView1->setTabKeyNavigation(false);
    d.ListView1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    d.ListView1->verticalHeader()->hide();
    d.ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    d.ListView1->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    d.ListView1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    d.ListView1->horizontalHeader()->setSectionsClickable(true);
    d.ListView1->horizontalHeader()->setHighlightSections(false);
    d.ListView1->horizontalHeader()->setStretchLastSection(false);
    d.ListView1->horizontalHeader()->setMinimumSectionSize(0);
    d.ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(d.ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int logico) { ListView1_ColumnClick(logico + 1); });
    // The list scrolls sideways inside the dialog, through HScroll1 only, and the search boxes
    // move with its columns: the list never slides away from them.
    d.ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(d.ListView1->horizontalScrollBar(), &QScrollBar::rangeChanged, this,
            [this] { d_->ajustarBarra(); });
    connect(d.ListView1->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { d_->seguirLista(); });
    connect(d.ListView1->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this] { d_->colocarCajas(); });
    d.ListView1->installEventFilter(this);
    d.ListView1->viewport()->installEventFilter(this);
}

void Lib_FrmCons2::crearBotones() {
    auto& d = *d_;
    d.Frame1 = new QFrame(this);
    d.Frame1->setObjectName(QStringLiteral("Frame1"));
    d.Frame1->setFrameShape(QFrame::NoFrame);
    d.CmdAceptar = new QPushButton(QStringLiteral("&Aceptar"), d.Frame1);
    d.CmdAceptar->setObjectName(QStringLiteral("CmdAceptar"));
    d.CmdAceptar->setDefault(true);
    d.CmdCancelar = new QPushButton(QStringLiteral("&Cancelar"), d.Frame1);
    d.CmdCancelar->setObjectName(QStringLiteral("CmdCancelar"));
    // Enter on a focused button does what that button does; anywhere else it accepts.
    d.CmdAceptar->setAutoDefault(true);
    d.CmdCancelar->setAutoDefault(true);
    aplicar(d.CmdAceptar, {120, 0, 1695, 255});
    aplicar(d.CmdCancelar, {3000, 0, 1695, 255});
    connect(d.CmdAceptar, &QPushButton::clicked, this, [this] { CmdAceptar_Click(); });
    connect(d.CmdCancelar, &QPushButton::clicked, this, [this] { CmdCancelar_Click(); });
}

Lib_FrmCons2::~Lib_FrmCons2() = default;

// ---- loading -------------------------------------------------------------------------------

void Lib_FrmCons2::Mostrar() {
    Form_Load();
    exec();
}

void Lib_FrmCons2::Form_Load() {
    auto& d = *d_;
    Trampa t = Trampa::ConReporte(ProcCarga);
    if (!cargarFilas(t) || !dimensionar(t)) return;
    if (!t([&] { d.modelo->Ordenar(d.SortKey, d.SortOrder ? Qt::DescendingOrder : Qt::AscendingOrder); }))
        return;
    if (!t([&] { CentrarFormulario(this); })) return;
    // The first row is selected, as the empty search selects it, so that Enter, Down and the
    // quantity keys act on a row from the start; an initial text may select another below.
    SeleccionarFila(0);
    if (!t([&] {
            if (!FiltroInicial.trimmed().isEmpty()) {
                if (d.CmbSearch.empty()) fueraDeLimites();
                d.CmbSearch[0]->setEditText(FiltroInicial);
                avanzarBusqueda(true); // the dialog opens on its row
            }
        }))
        return;
    // The rows are in the list: the statement's recordset goes.
    if (!t([&] {
            if (!d.rsConsulta) sinObjeto();
            gSesion().CerrarRecordset(*d.rsConsulta);
            d.rsConsulta.reset();
        }))
        return;
}

bool Lib_FrmCons2::cargarFilas(Trampa& t) {
    auto& d = *d_;
    return t([&] {
               Valores = NuevaColeccion();
               Cantidades = NuevaColeccion();
           }) &&
           t([&] { d.modelo->Limpiar(); }) && t([&] {
               if (!d.rsConsulta) d.rsConsulta = std::make_unique<Recordset>();
               gSesion().AbrirRecordset(SQL, *d.rsConsulta, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
           }) &&
           t([&] { d.modelo->MostrarMarcas(CheckBoxes != 0); }) && t([&] { Encolumnar(); }) &&
           t([&] { Leer(); });
}

bool Lib_FrmCons2::dimensionar(Trampa& t) {
    auto& d = *d_;
    // The search boxes under their columns (the quantity column has none), and the widths of
    // the list, its frame, the scroll bar and the dialog that follow from the columns.
    int n = 0;
    if (!t([&] { n = d.modelo->columnCount() - (UsaCantidades ? 1 : 0); })) return false;
    std::vector<double> izquierdas, anchos;
    const auto* cabecera = d.ListView1->horizontalHeader();
    for (int i = 0; i < d.modelo->columnCount(); ++i) {
        izquierdas.push_back(cabecera->sectionPosition(i) * TwipsPorPixel);
        anchos.push_back(cabecera->sectionSize(i) * TwipsPorPixel);
    }
    QScreen* pantalla = screen() ? screen() : QGuiApplication::primaryScreen();
    const double anchoPantalla = (pantalla ? pantalla->geometry().width() : 1024) * TwipsPorPixel;
    const AnchosCarga a = CalcularAnchos(izquierdas, anchos, UsaCantidades != 0, anchoPantalla);
    auto& m = d.medidas;
    m.anchosColumnas = anchos;
    if (!t([&] {
            m.cajas.clear();
            for (int i = 0; i < n; ++i) {
                if (i >= int(d.CmbSearch.size())) fueraDeLimites();
                RectTwips r{a.cajas[std::size_t(i)].Left, 0, a.cajas[std::size_t(i)].Width, 315};
                if (r.Width < 0)
                    throw ErrorSistema(Errores::ValorDePropiedadNoValido,
                                       QStringLiteral("Valor de propiedad no válido"));
                m.cajas.push_back(r);
                aplicar(d.CmbSearch[std::size_t(i)], r);
            }
        }))
        return false;
    if (!t([&] { m.controles.ListView1.Width = a.anchoLista; })) return false;
    if (!t([&] { m.controles.picFields.Width = a.anchoPicFields; })) return false;
    if (!t([&] { m.controles.HScroll1.Width = a.anchoHScroll; })) return false;
    aplicar(d.picFields, m.controles.picFields);
    aplicar(d.ListView1, m.controles.ListView1);
    aplicar(d.HScroll1, m.controles.HScroll1);
    // The range follows the list from now on, on every resize and column change.
    if (!t([&] { d.ajustarBarra(); })) return false;
    return t([&] {
        m.Width = a.anchoDialogo;
        const int marco = frameGeometry().width() - geometry().width();
        resize(std::max(1, px(a.anchoDialogo) - std::max(0, marco)), height());
    });
}

void Lib_FrmCons2::Encolumnar() {
    auto& d = *d_;
    try {
        d.modelo->QuitarColumnas();
        if (!d.rsConsulta) sinObjeto();
        Recordset& rs = *d.rsConsulta;
        const int campos = rs.FieldCount();
        const QFontMetrics medida(font());
        // The last column added: as wide as its "X"s, and never narrower than its header
        // text (a number column of four "X" would cut "CODIGO").
        QHeaderView* cabecera = d.ListView1->horizontalHeader();
        auto anchoColumna = [&](int anchoPx) {
            const int columna = d.modelo->columnCount() - 1;
            cabecera->resizeSection(columna, std::max(anchoPx, cabecera->sectionSizeHint(columna)));
        };
        for (int i = 0; i < campos; ++i) {
            Campo campo = rs.Fields(i);
            long s = campo.DefinedSize();
            QComboBox* caja = nullptr;
            if (i != 0) {
                if (i < int(d.CmbSearch.size()))
                    throw ErrorSistema(Errores::ObjetoYaCargado, QStringLiteral("El objeto ya está cargado"));
                caja = new QComboBox(d.picFields);
                caja->setObjectName(QStringLiteral("CmbSearch"));
                caja->setProperty("Index", i);
                caja->setGeometry(d.CmbSearch[0]->geometry());
                caja->setFont(d.CmbSearch[0]->font());
                prepararCaja(this, caja, [this](int indice) { CmbSearch_Change(indice); });
                d.CmbSearch.push_back(caja);
            } else {
                caja = d.CmbSearch[0];
            }
            caja->setVisible(true);
            caja->setToolTip(campo.Name());
            if (s >= 1000) s = 1000;
            d.modelo->AgregarColumna(campo.Name());
            anchoColumna(medida.horizontalAdvance(QString(int(std::max(0L, s)), QChar('X'))));
        }
        if (UsaCantidades) {
            d.modelo->AgregarColumna(Cantidad, true);
            anchoColumna(medida.horizontalAdvance(QString(10, QChar('X'))));
        }
        // Tab goes through the boxes from left to right, then the list and the buttons.
        QWidget* anterior = d.CmbSearch[0];
        for (QComboBox* c : d.CmbSearch) {
            if (c != anterior) QWidget::setTabOrder(anterior, c);
            anterior = c;
        }
        QWidget::setTabOrder(anterior, d.ListView1);
        QWidget::setTabOrder(d.ListView1, d.CmdAceptar);
        QWidget::setTabOrder(d.CmdAceptar, d.CmdCancelar);
    } catch (...) {
        const ErrorSistema e = ErrorDe(std::current_exception());
        operador().MsgBox(e.Descripcion, Estilo::SoloAceptar);
    }
}

void Lib_FrmCons2::Leer() {
    auto& d = *d_;
    Trampa t = Trampa::ConReporte(ProcCarga);
    ModeloConsulta& modelo = *d.modelo;
    // The rows come out of the loading sorted as the list is.
    struct Carga {
        ModeloConsulta& m;
        Carga(ModeloConsulta& mm, int columna, Qt::SortOrder orden) : m(mm) {
            m.IniciarCarga(columna, orden);
        }
        ~Carga() { m.TerminarCarga(); }
    } carga(modelo, d.SortKey, d.SortOrder ? Qt::DescendingOrder : Qt::AscendingOrder);

    if (!d.rsConsulta) {
        // The loading made it a new recordset; without one nothing can be read.
        paso(t, [] { sinObjeto(); });
        return;
    }
    Recordset& rs = *d.rsConsulta;
    bool vacio = true;
    if (!pasoCarga(t, modelo, [&] { vacio = rs.BOF(); })) return;
    if (vacio) return;

    int campos = 0;
    if (!pasoCarga(t, modelo, [&] { campos = rs.FieldCount(); })) return;
    const std::size_t n = std::size_t(std::max(campos, 0));
    std::vector<QString> convertidos(n), formateados(n);
    std::vector<QStringView> celdas(n);
    std::vector<ValorCelda> valores(n);
    const Utilidades& util = gUtilidades();
    // On SQLite the texts are read from the statement in place, with no value built for them.
    rs.LecturaDirecta();
    // A field's text as SinNulo gives it (Null: empty text); a plain text is read in place.
    auto texto = [&](int k) -> QStringView {
        QStringView vista;
        valores[std::size_t(k)] = {};
        switch (rs.CeldaTexto(k, vista)) {
        case Recordset::Celda::Nula:
            return {};
        case Recordset::Celda::Texto:
            return vista;
        case Recordset::Celda::Otra:
            break;
        }
        // Numbers and dates are shown as text (the field's standard text, as SinNulo of its
        // Texto gives it for a value that is not Null) and sorted by value.
        const QVariant& v = rs.Valor(k);
        valores[std::size_t(k)] = ValorDeCampo(v);
        QString& convertido = convertidos[std::size_t(k)];
        convertido = TextoEstandar(v);
        return convertido;
    };
    auto agregar = [&] {
        for (int k = 0; k < campos; ++k) {
            if (k == 0) {
                celdas[0] = texto(0).trimmed();
            } else {
                // The field's text is lent without a reference of its own (no count to keep
                // up a million times): it lives until the next row, and the cell is copied
                // before that.
                const QStringView campo = texto(k);
                QString& formateado = formateados[std::size_t(k)];
                formateado = util.FormatearValor(QString::fromRawData(campo.constData(), campo.size()));
                celdas[std::size_t(k)] = formateado;
            }
        }
        modelo.AgregarFila(celdas.data(), campos, valores.data());
    };
    for (;;) {
        bool fin = false;
        if (!pasoCarga(t, modelo, [&] { fin = rs.Eof(); })) return;
        if (fin) break;
        if (!pasoCarga(t, modelo, agregar)) return;
        if (!pasoCarga(t, modelo, [&] { rs.MoveNext(); })) return;
    }
    pasoCarga(t, modelo, [&] { modelo.CompletarCarga(); });
}

// ---- layout --------------------------------------------------------------------------------

void Lib_FrmCons2::Form_Resize(double ancho, double alto) {
    auto& d = *d_;
    auto& c = d.medidas.controles;
    Redimensionar(c, ancho, alto);
    aplicar(d.picFields, c.picFields);
    aplicar(d.ListView1, c.ListView1);
    aplicar(d.HScroll1, c.HScroll1);
    aplicar(d.Frame1, c.Frame1);
    d.HScroll1->raise();
    d.Frame1->raise();
}

void Lib_FrmCons2::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    const QSize marco = frameGeometry().size() - geometry().size();
    const int ancho = width() + std::max(0, marco.width());
    const int alto = height() + std::max(0, marco.height());
    d_->medidas.Width = ancho * TwipsPorPixel;
    Form_Resize(ancho * TwipsPorPixel, alto * TwipsPorPixel);
}

void Lib_FrmCons2::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!d_->CmbSearch.empty() && !focusWidget()) d_->CmbSearch[0]->setFocus();
}

// ---- searching -----------------------------------------------------------------------------

long Lib_FrmCons2::Busqueda(long& Clave, QString& QueValor) {
    const ModeloConsulta& m = *d_->modelo;
    const int columna = Clave <= 0 ? 0 : int(Clave);
    if (columna >= m.columnCount()) return 0;
    const int fila = m.Buscar(columna, QueValor);
    return fila < 0 ? 0 : fila + 1;
}

short Lib_FrmCons2::IndiceColumna(QString& Columna) {
    const ModeloConsulta& m = *d_->modelo;
    const QString buscada = Columna.trimmed();
    const int n = m.columnCount();
    for (int i = 0; i < n; ++i)
        if (m.Encabezado(i).trimmed().compare(buscada, Qt::CaseInsensitive) == 0) return short(i + 1);
    return 0;
}

void Lib_FrmCons2::CmbSearch_Change(int Index) {
    auto& d = *d_;
    if (Index < 0 || Index >= short(d.CmbSearch.size())) return;
    // Failures are skipped: each step on its own.
    QString t;
    long c = 0;
    try {
        t = d.CmbSearch[std::size_t(Index)]->currentText().trimmed();
    } catch (...) {
    }
    try {
        c = gUtilidades().ValorEntero(QString::number(Index));
    } catch (...) {
    }
    // What Busqueda(c, t) finds, in slices: the search of the key before is dropped.
    d.pendiente.reset();
    d.seguirBuscando->stop();
    try {
        const int columna = c <= 0 ? 0 : int(c);
        if (columna >= d.modelo->columnCount()) return;
        d.pendiente = d.modelo->IniciarBusqueda(columna, t);
    } catch (...) {
        return;
    }
    avanzarBusqueda(false);
}

void Lib_FrmCons2::avanzarBusqueda(bool hastaElFinal) {
    auto& d = *d_;
    if (!d.pendiente) return;
    QElapsedTimer reloj;
    reloj.start();
    int p = 0;
    try {
        for (;;) {
            if (d.modelo->AvanzarBusqueda(*d.pendiente, hastaElFinal ? 0xFFFFFFFFu : d.filasPorPaso)) break;
            if (!hastaElFinal && reloj.elapsed() >= d.msPorTurno) {
                // The rest after the events waiting now (the next key among them).
                d.seguirBuscando->start();
                return;
            }
        }
        p = d.pendiente->resultado + 1;
    } catch (...) {
    }
    d.pendiente.reset();
    if (p != 0) SeleccionarFila(p - 1);
}

bool Lib_FrmCons2::BusquedaPendiente() const {
    return d_->pendiente.has_value();
}

void Lib_FrmCons2::BusquedaPorPartes(std::uint32_t filas, int milisegundos) {
    d_->filasPorPaso = std::max<std::uint32_t>(1, filas);
    d_->msPorTurno = std::max(0, milisegundos);
}

void Lib_FrmCons2::CmbSearch_KeyDown(int Index, const QKeyEvent& tecla) {
    auto& d = *d_;
    if (Index < 0 || Index >= int(d.CmbSearch.size())) return;
    const int KeyCode = CodigoTecla(&tecla);
    if (KeyCode == Tecla::F5) {
        d.OpcionMenu = Menu::Ninguna;
        const int eleccion = operador().MenuEmergente(
            {QStringLiteral("Llenar Con Posibles Valores"), QStringLiteral("-"), QStringLiteral("Cancelar")},
            QCursor::pos());
        if (eleccion == 0) MNU_Llena_Click();
        if (d.OpcionMenu == Menu::LlenarConValores) {
            QComboBox* caja = d.CmbSearch[std::size_t(Index)];
            const QString texto = caja->currentText();
            const QSignalBlocker bloqueo(caja);
            caja->setModel(new ModeloValores(d.modelo, Index, caja)); // the box drops its old list
            caja->setCurrentIndex(-1);
            caja->setEditText(texto);
        }
    } else if (KeyCode == Tecla::Abajo || KeyCode == Tecla::Arriba || KeyCode == Tecla::AvPag ||
               KeyCode == Tecla::RePag) {
        teclaEnLista(KeyCode, 0);
        d.ListView1->setFocus();
    }
}

void Lib_FrmCons2::ListView1_ColumnClick(int posicion) {
    auto& d = *d_;
    if (posicion < 1 || posicion > d.modelo->columnCount()) return;
    avanzarBusqueda(true); // the row just searched for keeps the selection through the sort
    d.SortKey = posicion - 1;
    d.SortOrder = d.SortOrder == 0 ? 1 : 0;
    d.modelo->Ordenar(d.SortKey, d.SortOrder ? Qt::DescendingOrder : Qt::AscendingOrder);
    const int fila = FilaSeleccionada();
    if (fila >= 0) d.ListView1->scrollTo(d.modelo->index(fila, std::max(0, d.ListView1->columnAt(0))));
}

void Lib_FrmCons2::HScroll1_Change() {
    auto& d = *d_;
    d.ListView1->horizontalScrollBar()->setValue(px(d.HScroll1->value()));
    d.colocarCajas();
}

void Lib_FrmCons2::MNU_Llena_Click() {
    d_->OpcionMenu = Menu::LlenarConValores;
}

// ---- the list's keys -----------------------------------------------------------------------

void Lib_FrmCons2::ListView1_KeyDown(const QKeyEvent& tecla) {
    teclaEnLista(CodigoTecla(&tecla), EstadoMayus(tecla.modifiers()));
}

void Lib_FrmCons2::teclaEnLista(int codigo, int mayus) {
    auto& d = *d_;
    Trampa t = Trampa::ConReporte(QStringLiteral("ListView1_KeyDown"));
    // The keys act on the row of the whole text typed so far.
    avanzarBusqueda(true);

    if (codigo == Tecla::Intro) {
        CmdAceptar_Click();
        return;
    }
    if (codigo == Tecla::Escape) return;
    if (UsaCantidades == Verdadero && teclaDeCantidad(t, codigo, mayus)) return;
    if (codigo == Tecla::Espacio && d.modelo->MarcasVisibles()) {
        // With check boxes, Space ticks or unticks the current row instead of typing ahead.
        const int f = FilaSeleccionada();
        if (f >= 0) d.modelo->Marcar(f, !d.modelo->Marcada(f));
        return;
    }
    escribirEnBusqueda(t, codigo);
}

int Lib_FrmCons2::filaActual() const {
    const int f = FilaSeleccionada();
    if (f < 0) sinObjeto();
    return f;
}

int Lib_FrmCons2::columnaCantidad() {
    QString nombre = Cantidad;
    const int p = IndiceColumna(nombre);
    if (p < 1) fueraDeLimites();
    return p - 1;
}

bool Lib_FrmCons2::teclaDeCantidad(Trampa& t, int codigo, int mayus) {
    auto& d = *d_;
    if (codigo == Tecla::Insertar && mayus == Mayus::Shift) {
        QString actual;
        if (!t([&] { actual = d.modelo->Texto(filaActual(), columnaCantidad()); })) return true;
        std::optional<QString> respuesta;
        if (!t([&] {
                respuesta = operador().InputBox(QStringLiteral("Ingrese la Cantidad del Articulo..."),
                                                QStringLiteral("Carga de Datos"), actual);
            }))
            return true;
        // Cancel leaves the quantity and the check mark as they were; OK on an empty box is
        // a quantity of zero.
        if (!respuesta) return true;
        if (!t([&] {
                const double v = ValorCantidad(*respuesta);
                d.modelo->EstablecerTexto(filaActual(), columnaCantidad(),
                                          v == 0 ? CantidadCero() : FormatoCantidad(v, 2));
            }))
            return true;
        t([&] { d.modelo->Marcar(filaActual(), true); });
        return true;
    }
    if (codigo == Tecla::Insertar && mayus == 0) {
        if (!t([&] {
                const int f = filaActual(), c = columnaCantidad();
                d.modelo->EstablecerTexto(f, c, FormatoCantidad(ValorCantidad(d.modelo->Texto(f, c)) + 1, 1));
            }))
            return true;
        t([&] { d.modelo->Marcar(filaActual(), true); });
        return true;
    }
    if (codigo == Tecla::Suprimir && mayus == 0) {
        if (!t([&] {
                const int f = filaActual(), c = columnaCantidad();
                d.modelo->EstablecerTexto(f, c, FormatoCantidad(ValorCantidad(d.modelo->Texto(f, c)) - 1, 1));
            }))
            return true;
        t([&] {
            const int f = filaActual(), c = columnaCantidad();
            if (ValorCantidad(d.modelo->Texto(f, c)) <= 0) {
                d.modelo->Marcar(f, false);
                d.modelo->EstablecerTexto(f, c, CantidadCero());
            }
        });
        return true;
    }
    return false;
}

void Lib_FrmCons2::escribirEnBusqueda(Trampa& t, int codigo) {
    auto& d = *d_;
    // Type-ahead into the active search box.
    std::optional<QString> agregado;
    bool borrar = false;
    if (EsTeclaDeEscritura(codigo)) {
        agregado = QString(QChar(codigo));
    } else if (codigo >= Tecla::Numerico0 && codigo <= Tecla::Numerico9) {
        agregado = QString(QChar('0' + (codigo - Tecla::Numerico0)));
    } else if (codigo >= Tecla::Multiplicar && codigo <= Tecla::Dividir) {
        static const char operadores[] = "*+,-./";
        agregado = QString(QChar(operadores[codigo - Tecla::Multiplicar]));
    } else if (codigo == Tecla::Retroceso) {
        borrar = true;
    } else if (!(codigo >= Tecla::F1 && codigo <= Tecla::F14)) {
        return;
    }
    t([&] {
        if (d.BusquedaActiva < 0 || d.BusquedaActiva >= short(d.CmbSearch.size())) fueraDeLimites();
        QComboBox* caja = d.CmbSearch[std::size_t(d.BusquedaActiva)];
        if (agregado)
            caja->setEditText(caja->currentText() + *agregado);
        else if (borrar)
            caja->setEditText(
                caja->currentText().chopped(std::min<qsizetype>(1, caja->currentText().size())));
        caja->setFocus();
    });
}

void Lib_FrmCons2::ListView1_DblClick() {
    CmdAceptar_Click();
}

// ---- accept, cancel, unload ----------------------------------------------------------------

namespace {
// The text of a cell of the list (p = 1-based column position).
QString textoDeCelda(const ModeloConsulta& modelo, int fila, int p) {
    if (fila < 0 || fila >= modelo.rowCount()) sinObjeto();
    if (p < 1 || p > modelo.columnCount()) fueraDeLimites();
    return modelo.Texto(fila, p - 1);
}

void agregarA(const ColeccionRef& c, const QString& v) {
    if (!c) sinObjeto();
    c->Add(v);
}
} // namespace

void Lib_FrmCons2::CmdAceptar_Click() {
    // Enter right after typing accepts the row of the whole text.
    avanzarBusqueda(true);
    Trampa t = Trampa::ConReporte(QStringLiteral("CmdAceptar_Click"));
    if (CheckBoxes ? !aceptarMarcadas(t) : !aceptarFila(t)) return;
    done(QDialog::Accepted);
}

bool Lib_FrmCons2::aceptarMarcadas(Trampa& t) {
    const ModeloConsulta& modelo = *d_->modelo;
    if (!t([&] {
            if (CampoDevuelto.isEmpty()) {
                if (modelo.columnCount() < 1) fueraDeLimites();
                CampoDevuelto = modelo.Encabezado(0);
            }
        }))
        return false;
    int filas = 0;
    if (!t([&] { filas = modelo.rowCount(); })) return false;
    QString trabajo;
    for (int i = 0; i < filas; ++i) {
        bool marcada = false;
        if (!t([&] { marcada = modelo.Marcada(i); })) return false;
        if (!marcada) continue;
        if (!t([&] { trabajo = textoDeCelda(modelo, i, IndiceColumna(CampoDevuelto)); })) return false;
        if (!t([&] { agregarA(Valores, trabajo); })) return false;
        if (UsaCantidades) {
            QString nombre = Cantidad;
            if (!t([&] { agregarA(Cantidades, textoDeCelda(modelo, i, IndiceColumna(nombre))); }))
                return false;
        }
    }
    return true;
}

bool Lib_FrmCons2::aceptarFila(Trampa& t) {
    const ModeloConsulta& modelo = *d_->modelo;
    const int fila = FilaSeleccionada();
    if (fila < 0) return true;
    // The value read last stays for the next column that is not in the list.
    QString trabajo;
    if (CmpsDevueltos) {
        int cuantos = 0;
        if (!t([&] { cuantos = CmpsDevueltos->Count(); })) return false;
        for (int k = 1; k <= cuantos; ++k) {
            if (!t([&] {
                    QString nombre = CmpsDevueltos->Item(k);
                    const int p = IndiceColumna(nombre);
                    if (p >= 1) trabajo = textoDeCelda(modelo, fila, p);
                }))
                return false;
            if (!t([&] { agregarA(Valores, trabajo); })) return false;
        }
    }
    if (!t([&] {
            if (!CampoDevuelto.trimmed().isEmpty()) {
                const int p = IndiceColumna(CampoDevuelto);
                if (p >= 1) trabajo = textoDeCelda(modelo, fila, p);
            }
        }))
        return false;
    if (!t([&] { ValorDevuelto = trabajo; })) return false;
    if (UsaCantidades) {
        QString nombre = Cantidad;
        if (!t([&] { agregarA(Cantidades, textoDeCelda(modelo, fila, IndiceColumna(nombre))); }))
            return false;
    }
    return true;
}

void Lib_FrmCons2::CmdCancelar_Click() {
    d_->pendiente.reset();
    d_->seguirBuscando->stop();
    ValorDevuelto = QString(QLatin1String(""));
    CmpsDevueltos.reset();
    Valores.reset();
    QDialog::done(QDialog::Rejected);
}

void Lib_FrmCons2::Descargar() {
    d_->pendiente.reset();
    d_->seguirBuscando->stop();
    try {
        d_->modelo->Limpiar();
    } catch (...) {
        const ErrorSistema e = ErrorDe(std::current_exception());
        operador().MsgBox(e.Descripcion, Estilo::Critico, QStringLiteral("Aviso al Operador"));
    }
}

void Lib_FrmCons2::reject() {
    // Escape reaches the cancel operation as the dialog's cancel button.
    CmdCancelar_Click();
}

void Lib_FrmCons2::closeEvent(QCloseEvent* e) {
    // Closing the window unloads the dialog; it is not a cancel.
    Descargar();
    QDialog::done(QDialog::Rejected);
    e->accept();
}

// ---- events --------------------------------------------------------------------------------

bool Lib_FrmCons2::eventFilter(QObject* objeto, QEvent* evento) {
    auto& d = *d_;
    if (objeto == d.ListView1 && evento->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(evento);
        const int codigo = CodigoTecla(k);
        if (codigo == 0) return false;
        ListView1_KeyDown(*k);
        // Enter has been accepted here (the default button must not accept again); the keys
        // typed ahead belong to the search box, not to the list's own search.
        const bool delante = EsTeclaDeEscritura(codigo) ||
                             (codigo >= Tecla::Numerico0 && codigo <= Tecla::F14) ||
                             codigo == Tecla::Retroceso;
        return codigo == Tecla::Intro || delante;
    }
    if (objeto == d.ListView1->viewport() && evento->type() == QEvent::MouseButtonDblClick) {
        ListView1_DblClick();
        return true;
    }
    if (auto* caja = qobject_cast<QComboBox*>(objeto)) {
        const short indice = short(caja->property("Index").toInt());
        if (evento->type() == QEvent::FocusIn) {
            d.BusquedaActiva = indice;
        } else if (evento->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(evento);
            const int codigo = CodigoTecla(k);
            CmbSearch_KeyDown(indice, *k);
            // Moving to the list leaves the box's entries alone.
            return codigo == Tecla::Abajo || codigo == Tecla::Arriba || codigo == Tecla::AvPag ||
                   codigo == Tecla::RePag || codigo == Tecla::F5;
        }
    }
    return QDialog::eventFilter(objeto, evento);
}

// ---- views on the state --------------------------------------------------------------------

const Lib_FrmCons2::Medidas& Lib_FrmCons2::MedidasTwips() const {
    return d_->medidas;
}
ModeloConsulta* Lib_FrmCons2::Modelo() const {
    return d_->modelo;
}
QTableView* Lib_FrmCons2::Lista() const {
    return d_->ListView1;
}
int Lib_FrmCons2::CantidadCajas() const {
    return int(d_->CmbSearch.size());
}
QComboBox* Lib_FrmCons2::CajaBusqueda(int i) const {
    return i >= 0 && i < int(d_->CmbSearch.size()) ? d_->CmbSearch[std::size_t(i)] : nullptr;
}
short Lib_FrmCons2::BusquedaActiva() const {
    return d_->BusquedaActiva;
}
Lib_FrmCons2::Menu Lib_FrmCons2::OpcionMenu() const {
    return d_->OpcionMenu;
}
int Lib_FrmCons2::SortKey() const {
    return d_->SortKey;
}
int Lib_FrmCons2::SortOrder() const {
    return d_->SortOrder;
}

int Lib_FrmCons2::FilaSeleccionada() const {
    const auto* sel = d_->ListView1->selectionModel();
    if (!sel) return -1;
    const QModelIndexList filas = sel->selectedRows();
    return filas.isEmpty() ? -1 : filas.first().row();
}

void Lib_FrmCons2::SeleccionarFila(int fila) {
    auto& d = *d_;
    if (fila < 0 || fila >= d.modelo->rowCount()) return;
    const int columna = std::max(0, d.ListView1->columnAt(0));
    const QModelIndex i = d.modelo->index(fila, columna);
    d.ListView1->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
    d.ListView1->scrollTo(i, QAbstractItemView::EnsureVisible);
}
