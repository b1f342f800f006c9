// The lookup request without its dialog: what the start-up sets up in a process that may have
// no windows at all (ConsultaSearch, which shows the dialog, is in lib_clscons2.cpp).
#include "lookup/lib_clscons2.h"

#include "lookup/lib_clscons2_p.h"

Lib_ClsCons2::Lib_ClsCons2() : d_(std::make_unique<Privado>()) {
    CmpsDevueltos = NuevaColeccion();
    Valores = NuevaColeccion();
}

Lib_ClsCons2::~Lib_ClsCons2() {
    CmpsDevueltos = nullptr;
    Valores = nullptr;
}

const QString& Lib_ClsCons2::UltimoSQL() const {
    return d_->ultimoSQL;
}
