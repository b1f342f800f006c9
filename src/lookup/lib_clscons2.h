#pragma once
// Lib_ClsCons2: the suite's lookup request. A caller sets the options, calls ConsultaSearch
// with a table name (or a SELECT statement) and reads the results when it returns:
//
//     Lib_ClsCons2 consulta;
//     consulta.gUsarMascarasConsultas = Verdadero;
//     consulta.gRutaMascaraConsultas = carpeta + "consultas.vlm";
//     ColeccionRef campos = NuevaColeccion();
//     campos->Add("CODIGO");
//     QString campoBusqueda;
//     consulta.ConsultaSearch("VT_CLIENTES", campos, QString(), campoBusqueda);
//     if (!consulta.Valores) { /* cancelled */ }
//
// The dialog lists its rows through the suite's session (gSesion), which the caller opens.
// Everything runs on the GUI thread; ConsultaSearch returns when the dialog is closed.
#include "suite/coleccion.h"

#include <memory>
#include <QString>
#include <QVariant>

class Trampa;

class Lib_ClsCons2 {
public:
    // Class_Initialize: CmpsDevueltos and Valores are new, empty collections.
    Lib_ClsCons2();
    // Class_Terminate: CmpsDevueltos and Valores go back to nothing.
    ~Lib_ClsCons2();
    Lib_ClsCons2(const Lib_ClsCons2&) = delete;
    Lib_ClsCons2& operator=(const Lib_ClsCons2&) = delete;

    // A collection a caller may fill and pass as ConsultaSearch's second argument.
    ColeccionRef CmpsDevueltos;
    // Results of the last request. Valores is nothing after a cancelled one.
    ColeccionRef Valores;
    ColeccionRef Cantidades;
    // Check-box mode; back to false after every request.
    Bandera Checks = Falso;
    // The single returned value; an invalid QVariant is "empty (unset)".
    QVariant ValorDevuelto;
    QString gConnString;
    QString gRutaMascaraConsultas;
    // When set (not 0) the first argument of ConsultaSearch names a mask.
    Bandera gUsarMascarasConsultas = Falso;
    // Quantity column and quantities; kept from one request to the next.
    Bandera UsaCantidades = Falso;
    // Header text of the returned column; back to empty text after every request.
    QString CampoDevuelto;

    // Shows the lookup modally and copies the results back. SQL: with masks in use the Tabla
    // of a mask, otherwise (or when no mask matches) the statement itself. CmpsDevueltos:
    // the columns wanted back in Valores, or nothing; it is emptied and set to nothing.
    // Clave: initial search text. CampoBusqueda: the search field; when it is exactly empty
    // and a mask is used, it receives the mask's first column. Nothing is reported: a step
    // that fails is skipped.
    void ConsultaSearch(QString SQL, ColeccionRef& CmpsDevueltos, const QString& Clave,
                        QString& CampoBusqueda);

    // The statement handed to the dialog by the last request (empty text before the first).
    const QString& UltimoSQL() const;

private:
    struct Privado; // Mascara, UtilidadesConsulta and the dialog of the request in course
    std::unique_ptr<Privado> d_;
    // Replaces the statement with the one the table's mask gives, when there is one.
    void aplicarMascara(Trampa& paso, QString& copia, QString& CampoBusqueda);
};
