#pragma once
// The error trap of the suite's procedures, stated once: each numbered step runs inside
// Trampa::operator(); on failure the reporter is asked, and its answer decides: Reintentar
// runs the step again, Omitir goes on with the next step, anything else leaves the procedure.
#include "suite/error.h"
#include "suite/operador.h"
#include <functional>
#include <QString>

class Trampa {
public:
    using Reporte = std::function<Respuesta(const ErrorSistema&)>;
    explicit Trampa(Reporte reporte) : reporte_(std::move(reporte)) {}

    // Runs one step. True: go on with the next step (done, or skipped by Omitir).
    // False: leave the procedure.
    bool operator()(const std::function<void()>& paso);

    // Whether any step failed (whatever the answer).
    bool HuboFallo() const { return fallos_ > 0; }
    int Fallos() const { return fallos_; }
    // The last failure seen.
    const ErrorSistema& UltimoError() const { return ultimo_; }

    // The usual trap: Utilidades.ReportarError with the procedure's name.
    static Trampa ConReporte(const QString& procedimiento);
    // Every failure skipped silently.
    static Trampa Silenciosa();

private:
    Reporte reporte_;
    int fallos_ = 0;
    ErrorSistema ultimo_{0, {}};
};

// Turns whatever a step threw into the suite's error (std::bad_alloc becomes error 7, ...).
ErrorSistema ErrorDe(std::exception_ptr e);
