#pragma once
// Shared by the fuzz targets: turning the fuzzer's bytes into text, and stopping hard on a
// broken property so that libFuzzer keeps the input as a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <QByteArray>
#include <QString>

// Bytes as a command line or a statement arrive: UTF-8. Input that starts with FF FE is
// taken as raw UTF-16 instead, to reach lone surrogates and characters UTF-8 decoding
// would never produce.
inline QString TextoDe(const uint8_t* datos, size_t tamano) {
    if (tamano >= 2 && datos[0] == 0xFF && datos[1] == 0xFE) {
        const auto unidades = qsizetype((tamano - 2) / 2);
        return QString(reinterpret_cast<const QChar*>(datos + 2), unidades);
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(datos), qsizetype(tamano));
}

inline QByteArray BytesDe(const uint8_t* datos, size_t tamano) {
    return QByteArray(reinterpret_cast<const char*>(datos), qsizetype(tamano));
}

[[noreturn]] inline void Violacion(const char* propiedad, const QString& detalle = {}) {
    std::fprintf(stderr, "Propiedad incumplida: %s\n%s\n", propiedad, qUtf8Printable(detalle));
    std::fflush(stderr);
    std::abort();
}

#define EXIGIR(condicion, detalle)                                                                           \
    do {                                                                                                     \
        if (!(condicion)) Violacion(#condicion, detalle);                                                    \
    } while (0)
