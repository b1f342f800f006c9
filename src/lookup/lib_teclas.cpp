#include "lookup/lib_teclas.h"

#include <QKeyEvent>

int CodigoTecla(int k, bool teclado) {
    if (teclado) {
        if (k >= Qt::Key_0 && k <= Qt::Key_9) return Tecla::Numerico0 + (k - Qt::Key_0);
        switch (k) {
        case Qt::Key_Asterisk:
            return Tecla::Multiplicar;
        case Qt::Key_Plus:
            return Tecla::Sumar;
        case Qt::Key_Minus:
            return Tecla::Restar;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return Tecla::Decimal;
        case Qt::Key_Slash:
            return Tecla::Dividir;
        default:
            break; // the keypad's navigation keys map as the main ones
        }
    }
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return 48 + (k - Qt::Key_0);
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return 65 + (k - Qt::Key_A);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return Tecla::F1 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Backspace:
        return Tecla::Retroceso;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return Tecla::Intro;
    case Qt::Key_Escape:
        return Tecla::Escape;
    case Qt::Key_Space:
        return Tecla::Espacio;
    case Qt::Key_PageUp:
        return Tecla::RePag;
    case Qt::Key_PageDown:
        return Tecla::AvPag;
    case Qt::Key_Up:
        return Tecla::Arriba;
    case Qt::Key_Down:
        return Tecla::Abajo;
    case Qt::Key_Insert:
        return Tecla::Insertar;
    case Qt::Key_Delete:
        return Tecla::Suprimir;
    default:
        return 0;
    }
}

int CodigoTecla(const QKeyEvent* e) {
    return e ? CodigoTecla(e->key(), e->modifiers().testFlag(Qt::KeypadModifier)) : 0;
}

int EstadoMayus(Qt::KeyboardModifiers m) {
    int r = 0;
    if (m.testFlag(Qt::ShiftModifier)) r |= Mayus::Shift;
    if (m.testFlag(Qt::ControlModifier)) r |= Mayus::Ctrl;
    if (m.testFlag(Qt::AltModifier)) r |= Mayus::Alt;
    return r;
}
