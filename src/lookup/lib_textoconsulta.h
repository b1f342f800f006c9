#pragma once
// Text helpers of the lookup list: the case folding shared by searching and sorting, and the
// quantity texts.
#include <cstddef>
#include <cstdint>
#include <QString>
#include <QStringView>
#include <string>

// The cell as searching and sorting see it: surrounding blanks removed, case folded
// (QString::trimmed and QString::toCaseFolded), as UTF-8. Plain ASCII and Latin-1 letters
// take a fast path; anything else goes through QString.
void PlegarUtf8(const char* texto, std::size_t n, std::string& salida);
std::string Plegar(QStringView texto);

// Whether the folded form of a cell (UTF-8 bytes) starts with a folded search text, compared
// code point by code point so that most cells are decided on their first byte. Gives exactly
// EmpiezaCon(PlegarUtf8(cell), buscado); `auxiliar` is scratch space for the general path.
bool EmpiezaConPlegado(const char* texto, std::size_t n, const std::string& buscado, std::string& auxiliar);

// `cuantos` runs of eight bytes of the folded cell from byte `desde` (big-endian, zero-padded)
// and its folded length, read straight from the cell for ASCII and Latin-1 text. False when
// the cell needs the general path (PlegarUtf8).
bool TrozoPlegadoRapido(const char* texto, std::size_t n, std::size_t desde, std::uint64_t* trozos,
                        int cuantos, std::size_t& longitud);

// Whether a folded cell starts with a folded search text.
inline bool EmpiezaCon(const std::string& celda, const std::string& buscado) {
    return celda.size() >= buscado.size() && celda.compare(0, buscado.size(), buscado) == 0;
}

// Numeric value of a quantity text: the suite's Val(), also taking the regional decimal
// separator for ".", so that "2,50" reads as 2.5 under a "," locale.
double ValorCantidad(const QString& texto);

// A quantity written with a fixed number of decimals (the "########0.0" and "########0.00"
// patterns), rounded half away from zero, with the regional decimal separator.
QString FormatoCantidad(double valor, int decimales);

// The text a quantity is reset to.
inline QString CantidadCero() {
    return QStringLiteral("0.00");
}
