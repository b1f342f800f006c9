#include "suite/transaccion.h"

#include "suite/sesion.h"

#include <QtGlobal>

Transaccion::Transaccion(Sesion& sesion) : sesion_(sesion) {
    if (sesion_.EnTransaccion()) return;
    sesion_.IniciarTransaccion();
    abierta_ = true;
}

Transaccion::~Transaccion() {
    if (!abierta_) return;
    try {
        Deshacer();
    } catch (const ErrorSistema& e) {
        qWarning("%s", qUtf8Printable(e.Descripcion));
    } catch (...) {
        qWarning("No se pudo deshacer la transacción.");
    }
}

void Transaccion::Cometer() {
    if (!abierta_) return;
    sesion_.ConfirmarTransaccion();
    abierta_ = false;
}

void Transaccion::Deshacer() {
    if (!abierta_) return;
    abierta_ = false;
    // A transaction the database ended by itself (or a connection that is gone) has nothing
    // left to undo.
    if (sesion_.EnTransaccion()) sesion_.DeshacerTransaccion();
}
