#pragma once
// The unattended purge: options taken from the command line, an operator that answers from
// them and writes every message to standard error, and progress on a terminal.
#include "suite/avance.h"
#include "suite/operador.h"

#include <cstdio>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

// Exit statuses of the unattended mode.
namespace Salida {
inline constexpr int Depurado = 0;
inline constexpr int Rechazado = 1;
inline constexpr int NadaQueDepurar = 2;
inline constexpr int Incompleto = 3;
inline constexpr int SinConexion = 4;
inline constexpr int NoHecho = 5; // --listados-de or a --compactar on its own could not be done
inline constexpr int Uso = 64;
} // namespace Salida

struct OpcionesDesatendido {
    bool ayuda = false; // --help or -h: the usage text, nothing else
    bool desatendido = false;
    bool simular = false;
    bool confirmar = false;
    QString ejercicio;
    QString restaurar;          // the archive to restore (empty: a purge)
    QString registroSentencias; // where every statement sent is appended (empty: nowhere)
    QString carpetaArchivo;     // --archivo: the purge archive's folder (empty: INI key or default)
    bool sinArchivo = false;    // --sin-archivo: the purge writes no archive
    QString listadosDe;         // an archive whose listings are printed (nothing else is done)
    QString carpetaListados;    // where the listings go (empty: beside the archive)
    bool compactar = false;     // after the purge, or on its own without --ejercicio
    QString linea;              // the suite's command line: what is left once the options are taken out
    QString error;              // a usage error, when not empty
};

// Takes the options out of the program's arguments (without the program itself). Unless the
// first argument is "--desatendido", nothing is an option: every argument is the session line
// (a password split by the shell may hold "--desatendido" in its middle). With it, options are
// recognised only as whole arguments, and any other argument starting with "--" is a usage
// error. "--help" or "-h" alone, or right after "--desatendido", asks for the usage text.
OpcionesDesatendido AnalizarArgumentos(const QStringList& argumentos);
QString TextoDeUso();

class OperadorDesatendido : public Operador {
public:
    explicit OperadorDesatendido(bool confirmar, FILE* salida = stderr)
        : confirmar_(confirmar), salida_(salida) {}
    // Whether the confirmation question was asked (and so the purge started).
    bool SeConfirmo() const { return preguntas_ > 0 && confirmar_; }

protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override;
    Respuesta reporte(const ErrorSistema& error, const QString& procedimiento) override;
    std::optional<QString> entrada(const QString& mensaje, const QString& titulo,
                                   const QString& porDefecto) override;
    int menu(const QStringList& elementos, const QPoint& donde) override;
    void terminar(int codigo) override;

private:
    void escribir(const QString& titulo, const QString& texto);
    bool confirmar_;
    FILE* salida_;
    int preguntas_ = 0;
};

// Progress on standard error: one line updated in place on a terminal, plain lines otherwise
// (a new line when the first line changes, and at most one every two seconds in between).
class AvanceTerminal : public AvanceVista {
public:
    explicit AvanceTerminal(FILE* salida = stderr);
    void Iniciar(const QString& titulo) override;
    void Mostrar(const QString& linea1, const QString& linea2, const QString& valor) override;
    void Cerrar() override;

private:
    FILE* salida_;
    bool terminal_;
    bool enLinea_ = false;
    QString ultimaLinea1_;
    QString omitida_; // the last line left out by the throttle, written before the next phase
    QElapsedTimer reloj_;
};
