#pragma once
// What a lookup request keeps between its steps.
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "suite/utilidades.h"

#include <memory>
#include <QString>

struct Lib_ClsCons2::Privado {
    QConsulta Mascara;
    std::unique_ptr<Utilidades> utilidades;
    QString ultimoSQL;
    QString avisadoMascaras; // the masks file already said to be no file of records

    Utilidades& UtilidadesConsulta() {
        if (!utilidades) utilidades = std::make_unique<Utilidades>();
        return *utilidades;
    }
};
