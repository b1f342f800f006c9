#pragma once
// Process-wide settings a test changes for its own run and puts back afterwards.
#include <optional>
#include <QByteArray>
#include <QLocale>
#include <QString>
#include <utility>
#include <vector>

// Environment variables set for a test. Restaurar, or the end of the object, puts back what
// each one held before (unset when it was unset).
class EntornoFijado {
public:
    EntornoFijado() = default;
    EntornoFijado(const EntornoFijado&) = delete;
    EntornoFijado& operator=(const EntornoFijado&) = delete;
    ~EntornoFijado() { Restaurar(); }

    void Fijar(const char* nombre, const QByteArray& valor);
    void Restaurar();

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> antes_;
};

// The default locale, for as long as the object lives.
class ConLocale {
public:
    explicit ConLocale(const QLocale& l) : anterior_(QLocale()) { QLocale::setDefault(l); }
    ~ConLocale() { QLocale::setDefault(anterior_); }
    ConLocale(const ConLocale&) = delete;
    ConLocale& operator=(const ConLocale&) = delete;

private:
    QLocale anterior_;
};

// A small tmpfs over a folder (made if missing) for as long as the object lives. Only root can
// mount, as CI runs: Montado() says whether it took.
class Montaje {
public:
    Montaje(const QString& carpeta, const char* opciones, unsigned long banderas = 0);
    ~Montaje();
    Montaje(const Montaje&) = delete;
    Montaje& operator=(const Montaje&) = delete;
    bool Montado() const { return montado_; }

private:
    QByteArray carpeta_;
    bool montado_ = false;
};
