#pragma once
// What the purge does when one of its steps fails, stated once for every kind of step. Each
// step runs inside a Trampa; the operator's answer to the failure (Abort, Retry or Ignore)
// is turned here into what happens next.
#include "suite/trampa.h"

#include <functional>
#include <QString>

enum class ClasePaso {
    Prescindible, // the display, or a value nothing later needs: Ignore goes on with no harm
    Datos,        // a change to the database: Ignore goes on, and the step stays undone
    Esencial,     // a value the rest needs: Ignore ends the procedure like Abort
};

enum class Accion { Reintentar, Seguir, Salir };

// What an answer does to a failing step of a kind. A step that cannot succeed again (the
// database dropped the transaction it belonged to) leaves whatever the answer.
Accion AccionPorRespuesta(ClasePaso clase, Respuesta respuesta, bool recuperable = true);

class PasosDepuracion {
public:
    // Asks the operator about a failure and returns the answer (Respuesta::Anular, ...).
    using Pregunta = std::function<Respuesta(const ErrorSistema&)>;
    explicit PasosDepuracion(Pregunta pregunta);

    // Runs one step. True: go on with the next step (done, or ignored).
    bool operator()(ClasePaso clase, const std::function<void()>& paso);

    // Called from inside a failing step: that failure cannot be retried or ignored.
    void Irrecuperable() { recuperable_ = false; }
    // Whether the last step run was ignored after a failure.
    bool UltimoOmitido() const { return ultimoOmitido_; }
    // Whether any step failed and was left undone (Prescindible steps ignored do not count).
    bool HuboFallo() const { return fallo_; }
    // The text of the first such failure, or of the failure that could not be recovered.
    const QString& Motivo() const { return motivo_; }

private:
    Pregunta pregunta_;
    Trampa trampa_;
    ClasePaso clase_ = ClasePaso::Prescindible;
    bool recuperable_ = true;
    bool ultimoOmitido_ = false;
    bool fallo_ = false;
    QString motivo_;
};
