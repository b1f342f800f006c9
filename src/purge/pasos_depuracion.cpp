#include "purge/pasos_depuracion.h"

#include "suite/operador.h"

Accion AccionPorRespuesta(ClasePaso clase, Respuesta respuesta, bool recuperable) {
    if (!recuperable) return Accion::Salir;
    if (respuesta == Respuesta::Reintentar) return Accion::Reintentar;
    if (respuesta == Respuesta::Omitir && clase != ClasePaso::Esencial) return Accion::Seguir;
    return Accion::Salir;
}

PasosDepuracion::PasosDepuracion(Pregunta pregunta)
    : pregunta_(std::move(pregunta)), trampa_([this](const ErrorSistema& e) {
          const Accion accion = AccionPorRespuesta(clase_, pregunta_(e), recuperable_);
          if (accion == Accion::Reintentar) return Respuesta::Reintentar;
          if (accion == Accion::Seguir) ultimoOmitido_ = true;
          if (accion == Accion::Seguir && clase_ == ClasePaso::Prescindible) return Respuesta::Omitir;
          if (!fallo_ || !recuperable_) motivo_ = e.Descripcion;
          fallo_ = true;
          return accion == Accion::Seguir ? Respuesta::Omitir : Respuesta::Anular;
      }) {}

bool PasosDepuracion::operator()(ClasePaso clase, const std::function<void()>& paso) {
    clase_ = clase;
    ultimoOmitido_ = false;
    return trampa_(paso);
}
