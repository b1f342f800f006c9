#pragma once
// The progress display: a title, two lines and a value, shown by a pluggable view. In a program
// with windows the view is the GUI layer's small modeless window (suite/avance_ventana.h); the
// unattended mode shows progress on a terminal, tests record it.
#include <memory>
#include <QString>
#include <QVariant>

class AvanceVista {
public:
    virtual ~AvanceVista() = default;
    virtual void Iniciar(const QString& titulo) = 0;
    virtual void Mostrar(const QString& linea1, const QString& linea2, const QString& valor) = 0;
    virtual void Cerrar() = 0;
};

class Avance {
public:
    Avance();
    ~Avance();
    void Iniciar(const QString& titulo);
    // Omitted arguments are null QVariants: the line or value keeps what it showed.
    void Mostrar(const QVariant& linea1, const QVariant& linea2 = {}, const QVariant& valor = {});
    void Cerrar();
    bool Visible() const { return visible_; }
    // A statement waits for another station (the session's wait notice): shown over whatever
    // the display shows, seconds waited and the most it waits; segundos < 0 puts back what it
    // showed, or hides it when the wait opened it.
    void Esperando(int segundos, int limite);
    // Installs another view (nullptr: the default one, see suite/interfaz.h) and returns the
    // previous one.
    std::unique_ptr<AvanceVista> InstalarVista(std::unique_ptr<AvanceVista> vista);

private:
    std::unique_ptr<AvanceVista> vista_;
    bool visible_ = false;
    bool abiertoPorEspera_ = false;
    QString linea1_, linea2_, valor_;
};
