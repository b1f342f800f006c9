#pragma once
// Def_QConsulta: the lookup mask record and the masks file "consultas.vlm".
//
// The file is a run of fixed 1202-byte records with no header: Nombre (100), Tabla (100),
// Campos (500), Filtro (500) and FinLinea (2, CR LF). Texts are left-aligned, padded with
// blanks and written one byte per character in Windows-1252, so the file also reads as
// lines of text. Record n starts at byte (n - 1) * 1202; the record count is the length
// divided by 1202, and a trailing partial record is never read.
#include "suite/error.h"

#include <array>
#include <memory>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <vector>

// A fixed-length text: assigning pads with blanks or cuts to N characters. A new one holds
// N characters 0, as the suite's fixed-length strings do before anything is assigned.
template <int N> class CadenaFija {
public:
    static constexpr int Longitud = N;
    CadenaFija() : texto_(N, QChar(0)) {}
    CadenaFija(const QString& texto) { *this = texto; }
    CadenaFija& operator=(const QString& texto) {
        texto_ = texto.left(N);
        if (texto_.size() < N) texto_.append(QString(N - texto_.size(), QChar(' ')));
        return *this;
    }
    const QString& Texto() const { return texto_; }
    operator const QString&() const { return texto_; }
    bool operator==(const CadenaFija&) const = default;

private:
    QString texto_;
};

struct QConsulta {
    CadenaFija<100> Nombre;
    CadenaFija<100> Tabla;
    CadenaFija<500> Campos;
    CadenaFija<500> Filtro;
    CadenaFija<2> FinLinea;
    bool operator==(const QConsulta&) const = default;
};

namespace MascarasArchivo {
inline constexpr qint64 LongitudRegistro = 1202;
inline const QString NombreArchivo = QStringLiteral("consultas.vlm");
} // namespace MascarasArchivo

// Runtime error numbers of file access that error.h does not carry.
namespace ErroresArchivo {
inline constexpr long AccesoRuta = 75;       // path/file access error
inline constexpr long RutaNoEncontrada = 76; // path not found
} // namespace ErroresArchivo

// Windows-1252, the suite's single-byte code page. A character it cannot hold becomes "?";
// the five bytes it leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as the control
// characters of the same number and write back unchanged.
QByteArray CodificarWindows1252(const QString& texto);
QString DecodificarWindows1252(const QByteArray& bytes);

// One record as its 1202 bytes, and back (the bytes must be exactly 1202 long, or error 5).
QByteArray CodificarRegistro(const QConsulta& registro);
QConsulta DecodificarRegistro(const QByteArray& bytes);

// Reads the complete records of a masks file in order. The constructor raises the file's
// error when it cannot be opened; Siguiente gives false at the end of the file, before a
// trailing partial record, and when a read fails, so a reader always comes to an end.
class LectorMascaras {
public:
    explicit LectorMascaras(const QString& ruta);
    bool Siguiente(QConsulta& registro);
    // Whether the reading stopped on a failed read rather than at the end.
    bool FalloLectura() const { return fallo_; }
    void Cerrar() { archivo_.close(); }

private:
    QFile archivo_;
    bool fallo_ = false;
};

// Every complete record of a file; raises when the file cannot be opened.
std::vector<QConsulta> LeerMascaras(const QString& ruta);

// Whether a file that can be read is plainly not a run of 1202-byte records: a line end
// anywhere but at the end of a record (a file edited as text, with LF line ends or lines of
// other lengths), or less than one record. A torn last record or zero padding is not
// counted; a file that cannot be read is left to the reader.
bool MascarasFueraDeRegistros(const QString& ruta);

// The masks file opened for writing (created when missing, never truncated).
class EscritorMascaras {
public:
    // Raises 76 (folder missing), 70 (permission denied) or 75 (any other failure to open).
    explicit EscritorMascaras(const QString& ruta);
    // The number the next appended record takes: the length / 1202 + 1.
    qint64 SiguienteNumero() const;
    // Writes the record at its number (1-based). Raises 57 when the record cannot be written
    // whole; the partial bytes are then cut off again, as far as the file lets them.
    void Escribir(qint64 numero, const QConsulta& registro);
    void Agregar(const QConsulta& registro) { Escribir(SiguienteNumero(), registro); }
    // Raises 57 when the data cannot be flushed.
    void Cerrar();

private:
    QFile archivo_;
};

// The four default masks: Nombre, Tabla, Campos (Filtro blank).
struct MascaraPredeterminada {
    const char* Nombre;
    const char* Tabla;
    const char* Campos;
};
inline constexpr std::array<MascaraPredeterminada, 4> MascarasPredeterminadas{{
    {"ARTICULOS", "V_MA_ARTICULOS", "|DESCRIPCION|IDARTICULO|"},
    {"CLIENTES", "VT_CLIENTES", "|RAZON_SOCIAL|CODIGO|CONTACTO|"},
    {"PROVEEDORES", "VT_PROVEEDORES", "|RAZON_SOCIAL|CODIGO|"},
    {"CONTACTOS", "MA_CONTACTOS", "|Nombre_y_Apellido|Domicilio|Localidad|Telefono|"},
}};
