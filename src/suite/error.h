#pragma once
// The one exception type of the suite: every database or runtime failure reaches
// the procedures' error traps as an ErrorSistema with a number and a description.
#include <QString>
#include <stdexcept>

struct ErrorSistema : std::runtime_error {
    ErrorSistema(long numero, const QString& descripcion)
        : std::runtime_error(descripcion.toStdString()), Numero(numero), Descripcion(descripcion) {}
    long Numero;
    QString Descripcion;
};

// Error numbers used by the system (those of the runtime the suite was written for).
namespace Errores {
inline constexpr long LlamadaNoValida = 5;              // invalid procedure call or argument
inline constexpr long Desbordamiento = 6;               // overflow
inline constexpr long SinMemoria = 7;                   // out of memory
inline constexpr long TiposNoCoinciden = 13;            // type mismatch
inline constexpr long UsoNoValidoDeNull = 94;           // invalid use of Null
inline constexpr long ObjetoNoEstablecido = 91;         // object variable not set (no row selected)
inline constexpr long ValorDePropiedadNoValido = 380;   // invalid property value (a size below zero)
inline constexpr long ObjetoYaCargado = 360;            // object already loaded (a control loaded twice)
inline constexpr long ArchivoNoEncontrado = 53;         // file not found
inline constexpr long ErrorEntradaSalida = 57;          // device I/O error
inline constexpr long PermisoDenegado = 70;             // permission denied
inline constexpr long ElementoNoEncontrado = 3265;      // item not found in the collection (field name)
inline constexpr long OperacionNoPermitida = 3219;      // operation not allowed in this context
inline constexpr long BaseDeDatos = -2147217900;        // error raised by the database provider
inline constexpr long FilaNoEncontrada = -2147217864;   // row cannot be located for updating
inline constexpr long TransaccionPerdida = -2147168242; // the database ended the transaction itself
} // namespace Errores
