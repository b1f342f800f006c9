#include "suite/avance_ventana.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace {
// The progress window. Repaints at most every 50 ms; a pending change is shown by a
// single-shot timer, so the last texts always reach the screen.
class AvanceVentana : public AvanceVista {
public:
    void Iniciar(const QString& titulo) override {
        if (!ventana_) crear();
        ventana_->setWindowTitle(titulo);
        linea1_->clear();
        linea2_->clear();
        valor_->clear();
        // Over the window that runs the process, and kept above it (a window of its own), for as
        // long as the process runs.
        QWidget* duenio = ventanaDuenia();
        if (duenio && ventana_->parentWidget() != duenio) ventana_->setParent(duenio, kBanderas);
        ventana_->adjustSize();
        if (duenio) {
            const QRect marco = duenio->frameGeometry();
            ventana_->move(marco.center() - QPoint(ventana_->width() / 2, ventana_->height() / 2));
        }
        ventana_->show();
        ventana_->raise();
        // The long query that follows runs without yielding: the window is drawn now, not after it.
        QElapsedTimer espera;
        espera.start();
        while (ventana_ && ventana_->windowHandle() && !ventana_->windowHandle()->isExposed() &&
               espera.elapsed() < 250)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        reloj_.invalidate(); // the first texts show at once
    }
    void Mostrar(const QString& l1, const QString& l2, const QString& v) override {
        if (!ventana_) crear();
        p1_ = l1;
        p2_ = l2;
        pv_ = v;
        if (!reloj_.isValid() || reloj_.elapsed() >= 50)
            pintar();
        else if (!temporizador_->isActive())
            temporizador_->start(50);
    }
    void Cerrar() override {
        if (!ventana_) return;
        temporizador_->stop();
        ventana_->hide();
    }
    ~AvanceVentana() override { delete ventana_.data(); }

private:
    // It never takes the keyboard: the operator's window keeps it.
    static constexpr Qt::WindowFlags kBanderas =
        Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowDoesNotAcceptFocus;

    // The active window, or else the one visible window of the process.
    QWidget* ventanaDuenia() const {
        QWidget* activa = QApplication::activeWindow();
        if (activa && activa != ventana_) return activa;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != ventana_ && w->isVisible() && w->isWindow() && !w->isModal()) return w;
        return nullptr;
    }
    void crear() {
        ventana_ = new QWidget(nullptr, kBanderas);
        ventana_->setAttribute(Qt::WA_ShowWithoutActivating);
        ventana_->setObjectName(QStringLiteral("Avance"));
        ventana_->setMinimumWidth(420);
        auto* lay = new QVBoxLayout(ventana_);
        linea1_ = new QLabel(ventana_);
        linea2_ = new QLabel(ventana_);
        linea2_->setWordWrap(true);
        valor_ = new QLabel(ventana_);
        linea1_->setObjectName(QStringLiteral("lblLinea1"));
        linea2_->setObjectName(QStringLiteral("lblLinea2"));
        valor_->setObjectName(QStringLiteral("lblValor"));
        lay->addWidget(linea1_);
        lay->addWidget(linea2_);
        lay->addWidget(valor_);
        temporizador_ = new QTimer(ventana_);
        temporizador_->setSingleShot(true);
        QObject::connect(temporizador_, &QTimer::timeout, ventana_, [this] { pintar(); });
    }
    void pintar() {
        if (!ventana_) return;
        linea1_->setText(p1_);
        linea2_->setText(p2_);
        valor_->setText(pv_);
        // At once: between two rows the purge yields only briefly, and not at all while its
        // queries run.
        if (ventana_->isVisible()) ventana_->repaint();
        reloj_.start();
    }
    QPointer<QWidget> ventana_;
    QLabel* linea1_ = nullptr;
    QLabel* linea2_ = nullptr;
    QLabel* valor_ = nullptr;
    QTimer* temporizador_ = nullptr;
    QElapsedTimer reloj_;
    QString p1_, p2_, pv_;
};
} // namespace

std::unique_ptr<AvanceVista> NuevaVentanaDeAvance() {
    return std::make_unique<AvanceVentana>();
}
