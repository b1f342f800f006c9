#pragma once
// The canonical text of the rows of a purge archive, and its SHA-256. The same definition serves
// the rows read from the database before they are deleted and the rows read back from the
// archive, so that the two digests can be compared.
//
// Canonical form (for a DBA who wants to recompute a digest by hand):
//
//   row   = field *( TAB field ) LF            (bytes: UTF-8)
//   field = "N"                                NULL
//         / "#" number                         a number
//         / "D" date                           a date
//         / "'" text                           a text, with \ TAB LF CR written \\ \t \n \r
//         / "x" hex                            binary data, two lower-case hex digits per byte
//
// - A value counts by what it is, not by how a driver typed it: an integer (INTEGER in SQLite, a
//   bit as 0 or 1) or a floating-point number (REAL) is a number; binary data (BLOB) is binary; a
//   date or date and time returned by a driver is a date.
// - A text counts as a number in a column whose declared type is numeric (int, bit, numeric(p,s),
//   decimal, money, real, float, double) when it reads as one (blanks around it, a sign, digits,
//   a "." and an exponent allowed); in a column whose declared type names a date or a time
//   (DATE, DATETIME, smalldatetime, TIMESTAMP, time) it counts as a date when it reads as
//   "YYYY-MM-DD" or "d/M/yyyy", optionally followed by a blank or "T" and HH:MM[:SS[.fff]].
//   Any other text is text, exactly as stored (trailing blanks included). The empty text is
//   "'" and stays distinct from NULL.
// - number: a whole value below 2^63 in magnitude is written with all its digits and a "-"
//   when negative ("12" for the integer 12, the double 12.0 and the text "12.00"); any other
//   value is written with the shortest digits that read back as the same IEEE double (those of
//   Python's repr), in plain notation: no exponent, no trailing zero ("12.5", "0.0000001",
//   1.5e300 as 15 and 299 zeros); -0 is "0".
// - date: YYYY-MM-DD, then, when the time of day is not midnight, a blank and HH:MM:SS, and
//   ".mmm" when it has milliseconds ("2022-12-31", "2022-12-31 23:59:59", a time alone
//   "HH:MM:SS").
//
// The digest of a table is the SHA-256 of the canonical texts of its rows, one after the other,
// in the archive's order (the source's primary key, or SQLite's rowid, or all columns), written
// as 64 lower-case hex digits. A table with no row gives the digest of the empty text.
#include <memory>
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <string>
#include <vector>

// How a column's declared type bears on the canonical form of a text stored in it.
enum class ClaseCanonica : unsigned char {
    Numero, // a numeric text counts as a number
    Fecha,  // a date text counts as a date
    Otra    // a text is text
};

// The class of a declared type ("numeric(18,2)", "DATETIME", "varchar(60)", "int identity").
ClaseCanonica ClaseDeTipo(const QString& tipoDeclarado);

// One value as the canonical form sees it: SQLite's storage class, or what a driver returned.
// Text and binary data point at bytes that someone else owns.
struct Dato {
    enum class Tipo : unsigned char {
        Nulo,
        Entero,
        Real,
        Texto,   // UTF-8
        Binario, // bytes
        Fecha    // a date a driver returned, as its text "YYYY-MM-DD[ HH:MM:SS[.mmm]]" or "HH:MM:SS"
    };
    Tipo tipo = Tipo::Nulo;
    qint64 entero = 0;
    double real = 0;
    const char* datos = nullptr;
    qsizetype largo = 0;

    static Dato Nulo() { return {}; }
    static Dato DeEntero(qint64 v) { return {Tipo::Entero, v, 0, nullptr, 0}; }
    static Dato DeReal(double v) { return {Tipo::Real, 0, v, nullptr, 0}; }
    static Dato DeTexto(const char* p, qsizetype n) { return {Tipo::Texto, 0, 0, p, n}; }
    static Dato DeBinario(const char* p, qsizetype n) { return {Tipo::Binario, 0, 0, p, n}; }
    static Dato DeFecha(const char* p, qsizetype n) { return {Tipo::Fecha, 0, 0, p, n}; }
};

// Values of a row in QVariant form, turned into Datos. The bytes of texts, dates and binary data
// live in the converter until the next call.
class ConversorDatos {
public:
    // A Null is QVariant(); bool gives 0 or 1; QDate, QDateTime and QTime give their date text;
    // QByteArray is binary; any other value its text.
    const std::vector<Dato>& Convertir(const QVariant* valores, int n);

private:
    std::vector<Dato> datos_;
    std::vector<qsizetype> desde_; // offset of each value's bytes in bytes_, or -1
    QByteArray bytes_;
};

// Appends the canonical text of one field to salida.
void AnexarCampoCanonico(std::string& salida, ClaseCanonica clase, const Dato& dato);
// The canonical text of one row (with its final LF).
QByteArray TextoCanonico(const std::vector<ClaseCanonica>& clases, const std::vector<Dato>& fila);

// The running row count and digest of one table.
class HuellaTabla {
public:
    explicit HuellaTabla(std::vector<ClaseCanonica> clases);
    ~HuellaTabla();
    HuellaTabla(const HuellaTabla&) = delete;
    HuellaTabla& operator=(const HuellaTabla&) = delete;

    void Agregar(const Dato* fila);
    qint64 Filas() const { return filas_; }
    // The digest of the rows so far, hex in lower case (more rows may follow).
    QString Sha256();
    int Columnas() const { return int(clases_.size()); }

private:
    void Volcar();
    struct Sha;
    std::vector<ClaseCanonica> clases_;
    std::unique_ptr<Sha> sha_;
    std::string pendiente_;
    qint64 filas_ = 0;
};
