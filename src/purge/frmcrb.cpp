#include "purge/frmcrb.h"

#include "purge/dibujos.h"
#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/interfaz_qt.h"
#include "suite/operador.h"
#include "suite/trampa.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int kTwipsPorPixel = 15;
QRect twips(int izquierda, int arriba, int ancho, int alto) {
    return {izquierda / kTwipsPorPixel, arriba / kTwipsPorPixel, ancho / kTwipsPorPixel,
            alto / kTwipsPorPixel};
}
QFont fuenteSuite(bool negrita = false) {
    QFont f;
    // The suite's font where it exists; elsewhere a condensed sans of the same height, so the
    // texts fit the window's fixed layout.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Nimbus Sans Narrow"),
                   QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    f.setPointSizeF(8.25);
    f.setStretch(QFont::SemiCondensed);
    if (negrita) f.setWeight(QFont::Bold);
    return f;
}
} // namespace

FrmCrb::FrmCrb(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    InstalarInterfazQt(); // the window's prompts are Qt dialogs, whatever program builds it
    setObjectName(QStringLiteral("FrmCrb"));
    setWindowTitle(QStringLiteral("Cribanzas"));
    setWindowIcon(QIcon(DibujarEmbudo()));
    setFixedSize(5775 / kTwipsPorPixel, 2595 / kTwipsPorPixel);
    setFont(fuenteSuite());

    txtfields = new QComboBox(this);
    txtfields->setObjectName(QStringLiteral("txtfields"));
    txtfields->setEditable(true);
    txtfields->setInsertPolicy(QComboBox::NoInsert);
    // What is validated and purged is exactly what was typed or picked: an inline completion
    // would turn "2" into the first listed year.
    txtfields->setCompleter(nullptr);
    txtfields->setGeometry(twips(3960, 1200, 1095, 315));
    txtfields->installEventFilter(this);
    txtfields->lineEdit()->installEventFilter(this);

    CmdCAncelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    CmdCAncelar->setObjectName(QStringLiteral("CmdCAncelar"));
    CmdCAncelar->setGeometry(twips(3600, 2160, 1335, 255));

    CmdAceptar = new QPushButton(QStringLiteral("&Aceptar"), this);
    CmdAceptar->setObjectName(QStringLiteral("CmdAceptar"));
    CmdAceptar->setGeometry(twips(1320, 2160, 1335, 255));

    Label1 = new QLabel(
        QStringLiteral(
            "Este proceso eliminará físicamente los registros correspondientes al Ejercicio seleccionado. "
            "El ejercicio seleccionado debe estar cerrado. Se recomienda realizar una copia de resguardo "
            "de la base de datos, y emitir los listados correspondientes del ejercicio en cuestion..."),
        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(twips(240, 120, 5415, 855));

    ImgBasura = new QLabel(this);
    ImgBasura->setObjectName(QStringLiteral("ImgBasura"));
    ImgBasura->setPixmap(DibujarBolsa());
    ImgBasura->setGeometry(twips(240, 1080, 480, 480));

    ImgTachito = new QLabel(this);
    ImgTachito->setObjectName(QStringLiteral("ImgTachito"));
    ImgTachito->setPixmap(DibujarTacho());
    ImgTachito->setGeometry(twips(240, 1320, 480, 480));

    lblDesc = new QLabel(this);
    lblDesc->setObjectName(QStringLiteral("lblDesc"));
    lblDesc->setGeometry(twips(1440, 1680, 3375, 255));

    lbln = new QLabel(QStringLiteral("Ingrese  Ejercicio a Depurar"), this);
    lbln->setObjectName(QStringLiteral("lbln"));
    lbln->setFont(fuenteSuite(true));
    lbln->setGeometry(twips(1320, 1200, 2535, 255));

    for (QLabel* l : {Label1, ImgBasura, ImgTachito, lblDesc, lbln})
        l->setFocusPolicy(Qt::NoFocus);
    setTabOrder(CmdAceptar, CmdCAncelar);
    setTabOrder(CmdCAncelar, txtfields);
    CmdAceptar->setFocus();

    // Once unloaded the window answers nothing: the event loop may still deliver what was queued.
    connect(CmdAceptar, &QPushButton::clicked, this, [this] {
        if (!purgando_ && !descargado_) CmdAceptar_Click();
    });
    connect(CmdCAncelar, &QPushButton::clicked, this, [this] {
        if (!purgando_ && !descargado_) CmdCAncelar_Click();
    });
    // Command buttons answer Enter as well as Space, as on the suite's platform.
    CmdAceptar->installEventFilter(this);
    CmdCAncelar->installEventFilter(this);
}

FrmCrb::~FrmCrb() = default;

void FrmCrb::MostrarBasura(bool visible) {
    ImgBasura->setVisible(visible);
}

void FrmCrb::MostrarDescripcion(const QString& texto) {
    lblDesc->setText(texto);
}

void FrmCrb::Form_Load() {
    Trampa trampa = Trampa::ConReporte(QStringLiteral("Form_Load"));
    Recordset rs;
    bool hayCerrados = true;
    auto continuar = [&](const std::function<void()>& paso) {
        return trampa(paso) && !operador().Terminado();
    };

    if (!continuar([&] { CentrarFormulario(this); })) return;
    if (!continuar([&] { InicioSistema(); })) return;
    if (!continuar([&] {
            if (!gSesion().Conectado())
                throw ErrorSistema(Errores::OperacionNoPermitida,
                                   QStringLiteral("No hay conexión con la base de datos"));
        }))
        return;
    if (!continuar([&] {
            gSesion().AbrirRecordset(
                QStringLiteral("SELECT * FROM MV_EJERCICIOS WHERE (CIERRE = 1) OR (CERRADO=1)"), rs,
                Cursor::Dinamico, Bloqueo::SoloLectura, -1);
        }))
        return;
    if (!continuar([&] {
            if (rs.BOF()) {
                hayCerrados = false;
                operador().MsgBox(
                    QStringLiteral("Atención, No se ha detectado ningun ejercicio cerrado... No se puede "
                                   "realizar la depuracion de ejercicios abiertos"),
                    Estilo::SoloAceptar);
            }
        }))
        return;
    if (hayCerrados) {
        if (!continuar([&] { txtfields->clear(); })) return;
        for (;;) {
            bool fin = true;
            if (!continuar([&] { fin = rs.Eof(); })) return;
            if (fin) break;
            if (!continuar([&] {
                    txtfields->addItem(
                        gUtilidades().SinNulo(rs.Fields(QStringLiteral("Periodo")).Value()).toString());
                }))
                return;
            if (!continuar([&] { rs.MoveNext(); })) return;
        }
    }
    continuar([&] { gSesion().CerrarRecordset(rs); });
    txtfields->setCurrentIndex(-1);
    txtfields->setEditText(QString());
}

bool FrmCrb::ValidarEjercicio(QComboBox* control) {
    HayError = false;
    HayError = Depuracion(this).ValidarEjercicio(control->currentText(), RsEjercicio);
    return HayError;
}

void FrmCrb::txtfields_KeyDown(short& KeyCode, short) {
    if (KeyCode != 13) return;
    // A failure inside the validation is reported under this handler's name.
    Trampa trampa = Trampa::ConReporte(QStringLiteral("txtfields_KeyDown"));
    trampa([&] { ValidarEjercicio(txtfields); });
}

void FrmCrb::AvisarDepuracionPendiente() {
    if (purgando_ || descargado_ || operador().Terminado()) return;
    std::optional<MarcaDepuracion> marca;
    bool ocupada = false;
    if (!Trampa::ConReporte(QStringLiteral("AvisarDepuracionPendiente"))([&] {
            Depuracion depuracion(this);
            marca = depuracion.LeerMarca();
            // Only tested: the purge that holds it is not unfinished, it is running.
            if (marca) ocupada = depuracion.OtraEstacionDepura();
        }) ||
        !marca)
        return;
    if (ocupada) {
        operador().MsgBox(Depuracion::TextoOcupado(marca), Estilo::Informacion,
                          QStringLiteral("Aviso al operador"));
        return;
    }
    txtfields->setEditText(QString::number(marca->ejercicio));
    CmdAceptar_Click();
}

void FrmCrb::CmdCAncelar_Click() {
    short cancelar = 0;
    Form_Unload(cancelar);
}

void FrmCrb::Form_Unload(short&) {
    descargado_ = true;
    hide();
    operador().Terminar(0);
}

void FrmCrb::closeEvent(QCloseEvent* e) {
    if (purgando_) {
        e->ignore();
        return;
    }
    e->accept();
    if (!descargado_) {
        short cancelar = 0;
        Form_Unload(cancelar);
    }
}

bool FrmCrb::eventFilter(QObject* objeto, QEvent* evento) {
    if ((objeto == CmdAceptar || objeto == CmdCAncelar) && evento->type() == QEvent::KeyPress) {
        auto* tecla = static_cast<QKeyEvent*>(evento);
        if (tecla->key() == Qt::Key_Return || tecla->key() == Qt::Key_Enter) {
            if (!tecla->isAutoRepeat()) static_cast<QPushButton*>(objeto)->click();
            return true;
        }
    }
    if ((objeto == txtfields || objeto == txtfields->lineEdit()) && evento->type() == QEvent::KeyPress) {
        auto* tecla = static_cast<QKeyEvent*>(evento);
        if (tecla->key() == Qt::Key_Return || tecla->key() == Qt::Key_Enter) {
            if (purgando_ || descargado_) return true;
            short codigo = 13;
            txtfields_KeyDown(codigo, 0);
            return true;
        }
    }
    return QWidget::eventFilter(objeto, evento);
}
