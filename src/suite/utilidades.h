#pragma once
// The suite's general utilities.
#include "suite/error.h"
#include "suite/operador.h"
#include <QChar>
#include <QDate>
#include <QString>
#include <QVariant>

// The number at the start of a text, as the suite reads numeric texts: blanks are skipped
// wherever they stand, then an optional sign, digits, an optional "." with more digits and
// an optional exponent; reading stops at the first character that cannot continue the
// number. A text that does not start with a number reads as 0. "." is the only decimal point.
double Val(const QString& texto);

// Whether a value holds a whole number, or any number, as such (a text that reads as a number
// does not count): how a value read from the database is written back or bound.
bool EsValorEntero(const QVariant& valor);
bool EsValorNumerico(const QVariant& valor);

// The standard text conversion of a date: dd/MM/yyyy with ASCII digits, the form the suite's
// stations read, whatever the process locale (a cron job's, an English desktop's) says. The
// database is shared: a date written in any other form would be misread by the others.
QString FormatoFechaCorta();
// A date text in that form, with one or two digits for day and month ("1/1/2022" and
// "01/01/2022"), or in ISO form ("2022-01-01", a time after it ignored); invalid otherwise.
QDate LeerFechaCorta(const QString& texto);

class Utilidades {
public:
    double ValorNumero(const QString& texto) const; // blank gives 0; rounded to 4 decimals
    long ValorEntero(const QString& texto) const;
    // The value (or the field's value), never Null: Null gives an empty text.
    QVariant SinNulo(const QVariant& valor) const;
    QString QuitarCaracteres(const QString& texto, QChar c1, QChar c2 = QChar(), QChar c3 = QChar()) const;
    QString Reemplazar(const QString& texto, const QString& buscar, const QString& reemplazo) const;
    // Busy indication (the wait cursor in a program with windows) on and off.
    void IndicarOcupado(bool ocupado) const;
    // The display text of a value in a list cell: the text unchanged.
    QString FormatearValor(const QString& texto) const { return texto; }
    // An unambiguous T-SQL date expression for a date text that LeerFechaCorta reads, usable
    // right after "<=": CONVERT(DATETIME,'yyyymmdd',112). Any other text raises error 13.
    QString FechaSQL(const QString& fecha) const;
    // Shows the error with the procedure name (through the operator seam) and returns Anular,
    // Reintentar or Omitir.
    Respuesta ReportarError(const ErrorSistema& error, const QVariant& omitido = {},
                            const QString& procedimiento = {}) const;
    // The folder ending in the path separator, so that a file name can be appended.
    QString CompletarRuta(const QString& carpeta) const;
};
