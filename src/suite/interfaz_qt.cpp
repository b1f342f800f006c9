#include "suite/interfaz_qt.h"

#include "suite/avance_ventana.h"
#include "suite/interfaz.h"
#include "suite/operador_qt.h"

#include <algorithm>
#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace {
// Widgets need a QApplication: under a bare QCoreApplication there is nothing to show.
bool hayVentanas() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}
} // namespace

void InstalarInterfazQt() {
    if (HayInterfaz()) return;
    Interfaz qt;
    qt.operador = [] { return std::make_unique<OperadorQt>(); };
    qt.vistaAvance = []() -> std::unique_ptr<AvanceVista> {
        if (hayVentanas()) return NuevaVentanaDeAvance();
        return nullptr;
    };
    qt.indicarOcupado = [](bool ocupado) {
        if (!hayVentanas()) return;
        if (ocupado)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            while (QApplication::overrideCursor())
                QApplication::restoreOverrideCursor();
    };
    InstalarInterfaz(std::move(qt));
}

void CentrarFormulario(QWidget* ventana) {
    if (!ventana) return;
    QScreen* pantalla = QGuiApplication::screenAt(QCursor::pos());
    if (!pantalla) pantalla = ventana->screen() ? ventana->screen() : QGuiApplication::primaryScreen();
    if (!pantalla) return;
    // Before it is mapped a window knows nothing of its frame: its own once shown, else a shown
    // window's, else a title bar of the style's height.
    auto marcoDe = [](const QWidget* w) {
        const QRect f = w->frameGeometry(), g = w->geometry();
        return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                        f.bottom() - g.bottom());
    };
    QMargins marco(1, ventana->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, ventana), 1, 1);
    if (ventana->isVisible() && ventana->frameGeometry() != ventana->geometry()) {
        marco = marcoDe(ventana);
    } else {
        for (const QWidget* w : QApplication::topLevelWidgets())
            if (w != ventana && w->isVisible() && w->frameGeometry() != w->geometry()) {
                marco = marcoDe(w);
                break;
            }
    }
    const QRect area = pantalla->availableGeometry();
    const QSize cliente = ventana->size();
    const QSize total = cliente.grownBy(marco);
    QPoint esquina(area.left() + (area.width() - total.width()) / 2,
                   area.top() + (area.height() - total.height()) / 2);
    // Never off the screen's top-left: the title bar must stay reachable.
    esquina.setX(std::max(esquina.x(), area.left()));
    esquina.setY(std::max(esquina.y(), area.top()));
    // The client area's geometry: before the window is mapped a position given with move() may
    // be taken as the client's or the frame's, depending on the window system.
    ventana->setGeometry(QRect(esquina + QPoint(marco.left(), marco.top()), cliente));
}
