#include "suite/operador_qt.h"

#include "suite/interfaz_qt.h"

#include <algorithm>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWindow>

namespace {
// Keys that reach a box this soon after it appears were typed before the operator could read
// it (a double Enter on the button that asked the question): they answer nothing.
constexpr int kTeclasAnticipadasMs = 300;

// A message box as wide as its longest line, as the suite's platform sizes them: QMessageBox
// wraps anything wider than 500 pixels, which breaks the suite's lines (padded with blanks to
// centre under each other). Only a line wider than the screen wraps; nothing is narrower than
// its title. It ignores the keys typed ahead of it.
//
// It is sized and placed at the centre of the pointer's screen once, before it is mapped, and
// never resized to QMessageBox's own wrapping afterwards. QDialog would first place it from a
// provisional size; the window system's late answer to that first request could then overwrite
// the final position, and the next resize sent the box there (off centre, once at 0,0).
class CajaMensaje : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    void setVisible(bool visible) override {
        if (visible && !isVisible()) {
            ajustar();
            CentrarFormulario(this);
            colocada_ = size();
        }
        QMessageBox::setVisible(visible);
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::LayoutRequest) return QMessageBox::event(e);
        // QMessageBox would resize itself to its own wrapping here: this box keeps its size.
        const bool r = QDialog::event(e);
        ajustar();
        return r;
    }
    void showEvent(QShowEvent* e) override {
        QMessageBox::showEvent(e); // sizes it its own way
        ajustar();
        if (size() != colocada_) CentrarFormulario(this); // still before it is mapped
        // Counted from the first exposure; from now where none comes.
        aLaVista_.start();
        expuesta_ = false;
        if (QWindow* w = windowHandle()) w->installEventFilter(this);
        qApp->installEventFilter(this);
    }
    void hideEvent(QHideEvent* e) override {
        qApp->removeEventFilter(this);
        QMessageBox::hideEvent(e);
    }
    bool eventFilter(QObject* objeto, QEvent* e) override {
        if (objeto == windowHandle() && e->type() == QEvent::Expose && !expuesta_ &&
            windowHandle()->isExposed()) {
            expuesta_ = true;
            aLaVista_.start();
        }
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease &&
            e->type() != QEvent::ShortcutOverride)
            return QMessageBox::eventFilter(objeto, e);
        auto* destino = qobject_cast<QWidget*>(objeto);
        if (!destino || (destino != this && !isAncestorOf(destino)))
            return QMessageBox::eventFilter(objeto, e);
        if (aLaVista_.elapsed() >= kTeclasAnticipadasMs) return QMessageBox::eventFilter(objeto, e);
        // Accepting the override keeps a button's mnemonic from firing; the key itself goes.
        e->accept();
        return true;
    }

private:
    void ajustar() {
        auto* etiqueta = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (!etiqueta || !layout()) return;
        const QScreen* pantalla = screen() ? screen() : QGuiApplication::primaryScreen();
        const int maximo = pantalla ? pantalla->availableGeometry().width() : 1024;
        etiqueta->setWordWrap(false);
        layout()->activate();
        int ancho = std::max(layout()->totalMinimumSize().width(), anchoDelTitulo());
        if (ancho > maximo) {
            etiqueta->setWordWrap(true);
            ancho = maximo;
        }
        const int alto = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(ancho)
                                                       : layout()->totalMinimumSize().height();
        setFixedSize(ancho, alto);
        QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);
    }
    // The window manager draws the title in a bold font, beside the window's icon and its
    // buttons: room for both.
    int anchoDelTitulo() const {
        QFont negrita = font();
        negrita.setBold(true);
        return QFontMetrics(negrita).horizontalAdvance(windowTitle()) * 5 / 4 + 110;
    }
    QSize colocada_;
    QElapsedTimer aLaVista_;
    bool expuesta_ = false;
};

// The window a box belongs to: the active one, unless it is hidden or a passing tool window (the
// progress display, which closes right before the final message); else the visible main window.
// A box owned by a window on its way out may never be managed by the window manager.
QWidget* ventanaDeLaCaja() {
    auto apta = [](const QWidget* w) {
        return w && w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog);
    };
    if (QWidget* activa = QApplication::activeWindow(); apta(activa)) return activa;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (apta(w)) return w;
    return nullptr;
}

} // namespace

namespace {
void prepararCaja(QMessageBox& box, const QString& texto, int estilo, const QString& tit) {
    box.setWindowTitle(tit);
    box.setText(QString(texto).replace(QChar('\r'), QChar('\n')));
    const int icono = estilo & 0x70;
    if (icono == Estilo::Critico)
        box.setIcon(QMessageBox::Critical);
    else if (icono == 32)
        box.setIcon(QMessageBox::Question);
    else if (icono == 48)
        box.setIcon(QMessageBox::Warning);
    else if (icono == Estilo::Informacion)
        box.setIcon(QMessageBox::Information);
}
} // namespace

int OperadorQt::conBotones(const QString& texto, const QStringList& botones, int estilo, const QString& tit,
                           const QString& carpeta) {
    CajaMensaje box(ventanaDeLaCaja());
    prepararCaja(box, texto, estilo, tit);
    QPushButton* aceptar = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    std::vector<QPushButton*> propios;
    for (const QString& b : botones)
        propios.push_back(box.addButton(b, QMessageBox::ActionRole));
    if (!carpeta.isEmpty()) {
        QPushButton* abrir = box.addButton(QStringLiteral("Abrir carpeta"), QMessageBox::HelpRole);
        // Opening the folder does not answer the box: the box's own handling of the click goes.
        QObject::disconnect(abrir, &QAbstractButton::clicked, nullptr, nullptr);
        QObject::connect(abrir, &QPushButton::clicked, &box,
                         [carpeta] { QDesktopServices::openUrl(QUrl::fromLocalFile(carpeta)); });
    }
    box.setDefaultButton(aceptar);
    box.setEscapeButton(aceptar);
    box.exec();
    for (size_t i = 0; i < propios.size(); ++i)
        if (box.clickedButton() == propios[i]) return int(i);
    return -1;
}

Respuesta OperadorQt::mensaje(const QString& texto, int estilo, const QString& tit) {
    CajaMensaje box(ventanaDeLaCaja());
    prepararCaja(box, texto, estilo, tit);
    struct Boton {
        QString texto;
        Respuesta respuesta;
        QMessageBox::ButtonRole rol;
    };
    using R = Respuesta;
    std::vector<Boton> botones;
    switch (estilo & 0x7) {
    case 1:
        botones = {{"Aceptar", R::Aceptar, QMessageBox::AcceptRole},
                   {"Cancelar", R::Cancelar, QMessageBox::RejectRole}};
        break;
    case 2:
        botones = {{"&Anular", R::Anular, QMessageBox::RejectRole},
                   {"&Reintentar", R::Reintentar, QMessageBox::AcceptRole},
                   {"&Omitir", R::Omitir, QMessageBox::ActionRole}};
        break;
    case 3:
        botones = {{"&Sí", R::Si, QMessageBox::YesRole},
                   {"&No", R::No, QMessageBox::NoRole},
                   {"Cancelar", R::Cancelar, QMessageBox::RejectRole}};
        break;
    case 4:
        botones = {{"&Sí", R::Si, QMessageBox::YesRole}, {"&No", R::No, QMessageBox::NoRole}};
        break;
    case 5:
        botones = {{"&Reintentar", R::Reintentar, QMessageBox::AcceptRole},
                   {"Cancelar", R::Cancelar, QMessageBox::RejectRole}};
        break;
    default:
        botones = {{"Aceptar", R::Aceptar, QMessageBox::AcceptRole}};
        break;
    }
    std::vector<QPushButton*> creados;
    for (const auto& b : botones)
        creados.push_back(box.addButton(b.texto, b.rol));
    box.setDefaultButton(creados.front());
    if (botones.size() == 1) box.setEscapeButton(creados.front());
    box.exec();
    for (size_t i = 0; i < creados.size(); ++i)
        if (box.clickedButton() == creados[i]) return botones[i].respuesta;
    // Closed without a button: the answer that leaves things as they are.
    if (botones.size() == 1) return R::Aceptar;
    if ((estilo & 0x7) == 2) return R::Anular;
    return (estilo & 0x7) == 4 ? R::No : R::Cancelar;
}

std::optional<QString> OperadorQt::entrada(const QString& m, const QString& t, const QString& d) {
    bool ok = false;
    QString r = QInputDialog::getText(ventanaDeLaCaja(), t, m, QLineEdit::Normal, d, &ok);
    if (!ok) return std::nullopt;
    return r;
}

int OperadorQt::menu(const QStringList& elementos, const QPoint& donde) {
    QMenu m;
    std::vector<QAction*> acciones;
    for (const auto& e : elementos)
        acciones.push_back(e == "-" ? m.addSeparator() : m.addAction(e));
    QAction* elegida = m.exec(donde);
    for (size_t i = 0; i < acciones.size(); ++i)
        if (acciones[i] == elegida && elementos[int(i)] != "-") return int(i);
    return -1;
}

void OperadorQt::terminar(int codigo) {
    CerrarYSalirDelBucle(codigo);
}
