#pragma once
// Text helpers of the lookup list: the Spanish key shared by searching and sorting, and the
// quantity texts.
#include <cstddef>
#include <cstdint>
#include <QString>
#include <QStringView>
#include <string>

// The Spanish key of a cell, as bytes compared one by one: surrounding blanks removed, case
// and accents ignored (a letter counts as its base letter), "ñ" a letter of its own between
// "n" and "o". Sorting orders rows by it and searching compares its beginning, so the rows
// that start with a search text stay together in the sort column. Each character gives its
// own bytes, never a prefix of another character's: the key of a text that starts with q
// starts with the key of q. ASCII and Latin-1 text takes a fast path; anything else is
// composed (NFC) first, so "n" followed by a combining tilde is an "ñ" too.
void ClaveUtf8(const char* texto, std::size_t n, std::string& salida);
std::string Clave(QStringView texto);

// Whether the key of a cell (UTF-8 bytes) starts with a search key; compared character by
// character, so that most cells are decided on their first byte. Gives exactly
// EmpiezaCon(ClaveUtf8(cell), buscado); `auxiliar` is scratch space for the general path.
bool EmpiezaConClave(const char* texto, std::size_t n, const std::string& buscado, std::string& auxiliar);

// `cuantos` runs of eight bytes of the cell's key from byte `desde` (big-endian, zero-padded)
// and the key's length, read straight from a plain ASCII cell. False for any other cell,
// which needs ClaveUtf8.
bool TrozoClaveRapido(const char* texto, std::size_t n, std::size_t desde, std::uint64_t* trozos, int cuantos,
                      std::size_t& longitud);

// Whether a cell's key starts with a search key.
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
