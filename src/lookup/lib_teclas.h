#pragma once
// Qt keys to the suite's key codes (Windows virtual-key codes), in one table, so that the
// lookup dialog's key handlers work on the codes the suite's procedures were written for.
#include <Qt>

class QKeyEvent;

namespace Tecla {
inline constexpr int Retroceso = 8;
inline constexpr int Intro = 13;
inline constexpr int Escape = 27;
inline constexpr int Espacio = 32;
inline constexpr int RePag = 33;
inline constexpr int AvPag = 34;
inline constexpr int Arriba = 38;
inline constexpr int Abajo = 40;
inline constexpr int Insertar = 45;
inline constexpr int Suprimir = 46;
inline constexpr int Numerico0 = 96;
inline constexpr int Numerico9 = 105;
inline constexpr int Multiplicar = 106;
inline constexpr int Sumar = 107;
inline constexpr int Restar = 109;
inline constexpr int Decimal = 110;
inline constexpr int Dividir = 111;
inline constexpr int F1 = 112;
inline constexpr int F5 = 116;
inline constexpr int F14 = 125;
inline constexpr int F24 = 135;
} // namespace Tecla

// Modifier state as the suite's handlers get it: 1 Shift, 2 Ctrl, 4 Alt, added together.
namespace Mayus {
inline constexpr int Shift = 1;
inline constexpr int Ctrl = 2;
inline constexpr int Alt = 4;
} // namespace Mayus

// The key code of a Qt key, or 0 when the key has none (punctuation, for instance).
// `teclado` tells whether the key came from the numeric keypad.
int CodigoTecla(int teclaQt, bool teclado);
int CodigoTecla(const QKeyEvent* evento);
int EstadoMayus(Qt::KeyboardModifiers modificadores);
// A key that types its own character: the space, digits, letters and the punctuation keys
// whose codes fall between them.
constexpr bool EsTeclaDeEscritura(int codigo) {
    return (codigo >= 47 && codigo <= 93) || codigo == Tecla::Espacio;
}
