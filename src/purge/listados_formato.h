#pragma once
// How the archived values read on paper: numbers with the Spanish separators (thousands ".",
// decimals ","), dates as dd/MM/yyyy, texts on one line, and the exact totals of the amount
// columns. Independent of the process's locale: a listing reads the same from a cron job.
#include "purge/archivo_canonico.h"

#include <cstdint>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

// How a column's values are shown, from its declared type.
struct FormatoColumna {
    enum class Clase : unsigned char {
        Texto,   // as stored, on one line
        Entero,  // ids, codes, entry numbers: digits without thousands separators
        Decimal, // Spanish separators and at least `decimales` decimals
        Fecha    // dd/MM/yyyy, and the time of day when it is not midnight
    };
    Clase clase = Clase::Texto;
    int decimales = 0;    // Decimal: the fewest decimals shown (the declared scale, 2 for money)
    bool importe = false; // an amount: decimal, numeric with decimals, money; totalled
    int escala = -1;      // the decimals the type keeps, where a float is rounded to; -1: none
};

// "numeric(18,2)" gives an amount with 2 decimals, "int" and "numeric(10,0)" whole numbers,
// "DATETIME" a date, "float" a decimal that is not totalled, "varchar(60)" a text. A bare
// "numeric" (SQLite's way of declaring amounts) is an amount with 2 decimals at least.
FormatoColumna FormatoDeTipo(const QString& tipoDeclarado);

// A number as exact decimal digits: sign, integer digits (no leading zeros, "0" at least) and
// fraction digits (no trailing zeros).
struct NumeroDecimal {
    bool negativo = false;
    std::string enteros = "0";
    std::string fraccion;
};

// The value as exact decimal digits, when it is a number: an integer, a float (its shortest
// exact digits), or a text that reads as one (blanks around it, a sign, a "." and an exponent
// allowed). False for anything else.
bool LeerNumero(const Dato& dato, NumeroDecimal& numero);

// Rounds to `decimales` fraction digits, halves away from zero (a float stored where the
// declared type keeps fewer decimals than its binary digits carry).
void Redondear(NumeroDecimal& numero, int decimales);

// The number a value shows in a column of that format: LeerNumero, and a float rounded to the
// column's scale. What the totals add up.
bool NumeroDeValor(const FormatoColumna& formato, const Dato& dato, NumeroDecimal& numero);

// Appends the number with the Spanish separators: "1.234.567,50". At least decimalesMinimos
// fraction digits; every digit the number has is kept. Without miles, no thousands separator.
void AnexarNumeroEspanol(std::string& salida, const NumeroDecimal& numero, int decimalesMinimos,
                         bool miles = true);

// Appends what a value shows in a column of that format (UTF-8, one line: control characters
// become blanks, trailing blanks go, invalid bytes show as U+FFFD). Null shows nothing; binary
// data shows as 0x and hex digits. A float in a column with a scale is rounded to it, as the
// server would store it. A value that is not what the column declares (a text in a number
// column) shows as stored.
void AnexarValor(std::string& salida, const FormatoColumna& formato, const Dato& dato);

// A "YYYY-MM-DD[ HH:MM[:SS]]" text, or a date and time with an offset ("2025-01-31T02:10:07-03:00"),
// as dd/MM/yyyy[ HH:mm]; any other text as it is. For the header's dates.
QString FechaParaListado(const QString& texto);

// The exact sum of decimal numbers, whatever their count of digits.
class SumaExacta {
public:
    void Agregar(const NumeroDecimal& numero);
    NumeroDecimal Total() const;
    qint64 Sumandos() const { return sumandos_; }

private:
    void Escalar(int escala);
    // Little-endian limbs in base 10^9 of the positive and the negative terms, times 10^escala_.
    std::vector<std::uint32_t> positivos_, negativos_;
    int escala_ = 0;
    qint64 sumandos_ = 0;
};
