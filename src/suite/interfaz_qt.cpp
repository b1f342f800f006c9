#include "suite/interfaz_qt.h"

#include "suite/avance_ventana.h"
#include "suite/interfaz.h"
#include "suite/operador_qt.h"

#include <QApplication>

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
