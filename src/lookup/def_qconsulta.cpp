#include "lookup/def_qconsulta.h"

#include <algorithm>
#include <QDir>
#include <QFileInfo>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; 0 marks the five undefined bytes,
// which map to the control character of the same number.
constexpr std::array<char16_t, 32> Tabla1252{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char ByteDe(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return char(u);
    if (u >= 0x80 && u <= 0x9F && Tabla1252[u - 0x80] == 0) return char(u);
    for (int i = 0; i < 32; ++i)
        if (Tabla1252[i] != 0 && Tabla1252[i] == u) return char(0x80 + i);
    return '?';
}

QChar CaracterDe(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F && Tabla1252[b - 0x80] != 0) return QChar(Tabla1252[b - 0x80]);
    return QChar(char16_t(b));
}

ErrorSistema ErrorEscritura(const QFile& archivo) {
    return ErrorSistema(Errores::ErrorEntradaSalida,
                        QStringLiteral("Error de E/S en el dispositivo (%1): %2")
                            .arg(QDir::toNativeSeparators(archivo.fileName()), archivo.errorString()));
}

template <int N> void Cortar(const QByteArray& bytes, int desde, CadenaFija<N>& campo) {
    campo = DecodificarWindows1252(bytes.mid(desde, N));
}

} // namespace

QByteArray CodificarWindows1252(const QString& texto) {
    QByteArray r;
    r.reserve(texto.size());
    for (QChar c : texto)
        r.append(ByteDe(c));
    return r;
}

QString DecodificarWindows1252(const QByteArray& bytes) {
    QString r;
    r.reserve(bytes.size());
    for (char b : bytes)
        r.append(CaracterDe(static_cast<unsigned char>(b)));
    return r;
}

QByteArray CodificarRegistro(const QConsulta& registro) {
    QByteArray r;
    r.reserve(MascarasArchivo::LongitudRegistro);
    r += CodificarWindows1252(registro.Nombre);
    r += CodificarWindows1252(registro.Tabla);
    r += CodificarWindows1252(registro.Campos);
    r += CodificarWindows1252(registro.Filtro);
    r += CodificarWindows1252(registro.FinLinea);
    return r;
}

QConsulta DecodificarRegistro(const QByteArray& bytes) {
    if (bytes.size() != MascarasArchivo::LongitudRegistro)
        throw ErrorSistema(Errores::LlamadaNoValida,
                           QStringLiteral("Longitud de registro incorrecta: %1 bytes").arg(bytes.size()));
    QConsulta r;
    Cortar(bytes, 0, r.Nombre);
    Cortar(bytes, 100, r.Tabla);
    Cortar(bytes, 200, r.Campos);
    Cortar(bytes, 700, r.Filtro);
    Cortar(bytes, 1200, r.FinLinea);
    return r;
}

LectorMascaras::LectorMascaras(const QString& ruta) : archivo_(ruta) {
    if (!archivo_.open(QIODevice::ReadOnly)) {
        const long numero = archivo_.error() == QFileDevice::PermissionsError ? Errores::PermisoDenegado
                            : QFileInfo::exists(ruta)                         ? ErroresArchivo::AccesoRuta
                                                                              : Errores::ArchivoNoEncontrado;
        throw ErrorSistema(numero, QStringLiteral("No se puede abrir %1: %2")
                                       .arg(QDir::toNativeSeparators(ruta), archivo_.errorString()));
    }
}

bool LectorMascaras::Siguiente(QConsulta& registro) {
    if (!archivo_.isOpen() || fallo_) return false;
    const QByteArray bytes = archivo_.read(MascarasArchivo::LongitudRegistro);
    if (bytes.size() != MascarasArchivo::LongitudRegistro) {
        // A short read is the end (a trailing partial record); nothing at all with data
        // still ahead is a failed read.
        if (bytes.isEmpty() && !archivo_.atEnd()) fallo_ = true;
        if (archivo_.error() != QFileDevice::NoError) fallo_ = true;
        archivo_.close();
        return false;
    }
    registro = DecodificarRegistro(bytes);
    return true;
}

std::vector<QConsulta> LeerMascaras(const QString& ruta) {
    std::vector<QConsulta> r;
    LectorMascaras lector(ruta);
    QConsulta registro;
    while (lector.Siguiente(registro))
        r.push_back(registro);
    return r;
}

bool MascarasFueraDeRegistros(const QString& ruta) {
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) return false;
    // A masks file holds a few records; a huge one is not read through here. Asking for the
    // file's size, not the limit: the read allocates all that it is asked for.
    const QByteArray bytes = archivo.read(std::min(archivo.size(), qint64(1) << 24));
    if (archivo.error() != QFileDevice::NoError) return false;
    const qint64 largo = MascarasArchivo::LongitudRegistro;
    if (!bytes.isEmpty() && bytes.size() < largo) return true;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if ((c == '\n' && i % largo != largo - 1) || (c == '\r' && i % largo != largo - 2)) return true;
    }
    return false;
}

EscritorMascaras::EscritorMascaras(const QString& ruta) : archivo_(ruta) {
    const QFileInfo info(ruta);
    if (ruta.isEmpty() || !info.absoluteDir().exists())
        throw ErrorSistema(
            ErroresArchivo::RutaNoEncontrada,
            QStringLiteral("No se ha encontrado la ruta de acceso: %1").arg(QDir::toNativeSeparators(ruta)));
    // Unbuffered, so that a failed write shows at once and not at some later flush.
    if (!archivo_.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        const long numero = archivo_.error() == QFileDevice::PermissionsError ? Errores::PermisoDenegado
                                                                              : ErroresArchivo::AccesoRuta;
        throw ErrorSistema(numero, QStringLiteral("Error de acceso a la ruta o el archivo %1: %2")
                                       .arg(QDir::toNativeSeparators(ruta), archivo_.errorString()));
    }
}

qint64 EscritorMascaras::SiguienteNumero() const {
    return archivo_.size() / MascarasArchivo::LongitudRegistro + 1;
}

void EscritorMascaras::Escribir(qint64 numero, const QConsulta& registro) {
    if (numero < 1)
        throw ErrorSistema(Errores::LlamadaNoValida,
                           QStringLiteral("Número de registro incorrecto: %1").arg(numero));
    const QByteArray bytes = CodificarRegistro(registro);
    const qint64 longitudAntes = archivo_.size();
    if (!archivo_.seek((numero - 1) * MascarasArchivo::LongitudRegistro)) throw ErrorEscritura(archivo_);
    const qint64 escritos = archivo_.write(bytes);
    if (escritos != bytes.size()) {
        const ErrorSistema error = ErrorEscritura(archivo_);
        if (archivo_.size() > longitudAntes) archivo_.resize(longitudAntes);
        throw error;
    }
}

void EscritorMascaras::Cerrar() {
    if (!archivo_.isOpen()) return;
    const bool ok = archivo_.flush();
    archivo_.close();
    if (!ok) throw ErrorEscritura(archivo_);
}
