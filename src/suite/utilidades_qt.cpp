// The member functions of Utilidades that touch widgets: they belong to the GUI layer.
#include "suite/utilidades.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void Utilidades::CentrarFormulario(QWidget* formulario, bool) const {
    if (!formulario) return;
    QScreen* pantalla = formulario->screen() ? formulario->screen() : QGuiApplication::primaryScreen();
    if (!pantalla) return;
    const QRect area = pantalla->availableGeometry();
    const QSize tam = formulario->frameGeometry().size();
    formulario->move(area.center() - QPoint(tam.width() / 2, tam.height() / 2));
}
