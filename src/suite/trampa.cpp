#include "suite/trampa.h"

#include "suite/globales.h"

#include <new>

ErrorSistema ErrorDe(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const ErrorSistema& err) {
        return err;
    } catch (const std::bad_alloc&) {
        return ErrorSistema(Errores::SinMemoria, QStringLiteral("Memoria insuficiente"));
    } catch (const std::exception& err) {
        return ErrorSistema(Errores::LlamadaNoValida, QString::fromLocal8Bit(err.what()));
    } catch (...) {
        return ErrorSistema(Errores::LlamadaNoValida, QStringLiteral("Error desconocido"));
    }
}

bool Trampa::operator()(const std::function<void()>& paso) {
    for (;;) {
        try {
            paso();
            return true;
        } catch (...) {
            ultimo_ = ErrorDe(std::current_exception());
            ++fallos_;
            const Respuesta eleccion = reporte_(ultimo_);
            if (eleccion == Respuesta::Reintentar) continue;
            return eleccion == Respuesta::Omitir;
        }
    }
}

Trampa Trampa::ConReporte(const QString& procedimiento) {
    return Trampa(
        [procedimiento](const ErrorSistema& e) { return gUtilidades().ReportarError(e, {}, procedimiento); });
}

Trampa Trampa::Silenciosa() {
    return Trampa([](const ErrorSistema&) { return Respuesta::Omitir; });
}
