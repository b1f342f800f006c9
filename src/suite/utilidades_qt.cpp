// The member functions of Utilidades that touch widgets: they belong to the GUI layer.
#include "suite/interfaz_qt.h"
#include "suite/utilidades.h"

#include <QWidget>

void Utilidades::CentrarFormulario(QWidget* formulario, bool) const {
    CentrarEnPantallaDelPuntero(formulario);
}
