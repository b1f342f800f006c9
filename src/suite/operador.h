#pragma once
// The one seam between the system and the operator: every modal prompt (message box,
// error report, input box, pop-up menu) and the end of the process go through it.
// The GUI layer's OperadorQt (suite/operador_qt.h) shows real dialogs; tests install
// OperadorGuion, which records every prompt and answers from a queue; the unattended mode
// installs its own.
#include "suite/error.h"
#include <deque>
#include <memory>
#include <optional>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <vector>

// Message-box styles (the standard numbers).
namespace Estilo {
inline constexpr int SoloAceptar = 0;
inline constexpr int AnularReintentarOmitir = 2;
inline constexpr int SiNo = 4;
inline constexpr int Critico = 16;
inline constexpr int Informacion = 64;
} // namespace Estilo
// The operator's answers, with the standard numbers (callers of ReportarError keep them).
enum class Respuesta : int {
    Aceptar = 1,
    Cancelar = 2,
    Anular = 3,
    Reintentar = 4,
    Omitir = 5,
    Si = 6,
    No = 7,
};

// The application title shown by message boxes that have no title of their own.
QString TituloAplicacion();
void EstablecerTituloAplicacion(const QString& titulo);

class Operador {
public:
    virtual ~Operador() = default;

    // A message box; an empty title shows the application title. Returns the answer.
    Respuesta MsgBox(const QString& texto, int estilo = Estilo::SoloAceptar, const QString& titulo = {});
    // The error report of Utilidades.ReportarError: Abort, Retry, Ignore.
    Respuesta ReportarError(const ErrorSistema& error, const QString& procedimiento);
    // The input box: the typed text on OK (which may be empty), nothing on Cancel.
    std::optional<QString> InputBox(const QString& mensaje, const QString& titulo, const QString& porDefecto);
    // A pop-up menu at a screen position: the index of the chosen item, or -1 when closed
    // without a choice. A "-" item is a separator.
    int MenuEmergente(const QStringList& elementos, const QPoint& donde);
    // A message box with the caller's buttons after "Aceptar", which is the default and the
    // answer of the close box: the index in `botones` of the one pressed, or -1 for "Aceptar".
    // With a folder, an "Abrir carpeta" button opens it with the desktop's handler and leaves the
    // box open. An operator that cannot ask shows the message and answers -1.
    int MsgBoxConBotones(const QString& texto, const QStringList& botones, int estilo = Estilo::Informacion,
                         const QString& titulo = {}, const QString& carpeta = {});
    // The end of the process with an exit status. Every implementation records it and
    // returns; the caller returns at once. The Qt one closes the database and ends the event
    // loop with that status (before the loop runs, main reads CodigoFin).
    void Terminar(int codigo);
    bool Terminado() const { return terminado_.has_value(); }
    std::optional<int> CodigoFin() const { return terminado_; }

protected:
    virtual Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) = 0;
    // By default a critical Abort/Retry/Ignore box with the error's number, text and procedure.
    virtual Respuesta reporte(const ErrorSistema& error, const QString& procedimiento);
    virtual std::optional<QString> entrada(const QString& mensaje, const QString& titulo,
                                           const QString& porDefecto) = 0;
    virtual int menu(const QStringList& elementos, const QPoint& donde) = 0;
    virtual void terminar(int codigo) = 0;
    // By default the plain message box, with no choice.
    virtual int conBotones(const QString& texto, const QStringList& botones, int estilo,
                           const QString& titulo, const QString& carpeta);

private:
    std::optional<int> terminado_;
};

// Scripted operator for tests: records every prompt and answers from a queue.
// Without a queued answer: OK for plain boxes, No for Yes/No, Abort for Abort/Retry/Ignore
// and for error reports, Cancel for input boxes, no choice for menus.
class OperadorGuion : public Operador {
public:
    struct Aviso {
        QString tipo; // "mensaje", "error", "entrada", "menu"
        QString texto;
        QString titulo; // effective title
        int estilo = 0;
        long numero = 0;       // error reports: the error number
        QString procedimiento; // error reports: the procedure name
        QStringList elementos; // menus; a message's own buttons
        QString carpeta;       // a message's folder to open
    };
    void Responder(Respuesta respuesta) { respuestas_.push_back(respuesta); }
    // OK on the next input box with that text (empty text included), or Cancel.
    void ResponderTexto(const QString& texto) { textos_.push_back(texto); }
    void ResponderCancelar() { textos_.push_back(std::nullopt); }
    void ResponderMenu(int indice) { menus_.push_back(indice); }
    // The button of the next message with buttons of its own (-1: "Aceptar", the default).
    void ResponderBoton(int indice) { botones_.push_back(indice); }
    const std::vector<Aviso>& Avisos() const { return avisos_; }
    void Limpiar() { avisos_.clear(); }
    int PendientesDeRespuesta() const { return static_cast<int>(respuestas_.size()); }

protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override;
    Respuesta reporte(const ErrorSistema& error, const QString& procedimiento) override;
    std::optional<QString> entrada(const QString& mensaje, const QString& titulo,
                                   const QString& porDefecto) override;
    int menu(const QStringList& elementos, const QPoint& donde) override;
    void terminar(int codigo) override;
    int conBotones(const QString& texto, const QStringList& botones, int estilo, const QString& titulo,
                   const QString& carpeta) override;

private:
    std::vector<Aviso> avisos_;
    std::deque<int> botones_;
    std::deque<Respuesta> respuestas_;
    std::deque<std::optional<QString>> textos_;
    std::deque<int> menus_;
};

// The process-wide operator. Until one is installed, the installed interface's default
// (suite/interfaz.h: Qt's dialogs in a program with windows), or else one that writes each
// prompt to standard error and gives the scripted operator's answers without a queue.
Operador& operador();
// Installs another operator and returns the previous one (tests put it back).
std::unique_ptr<Operador> InstalarOperador(std::unique_ptr<Operador> nuevo);

// Terminar in a program with an event loop: closes the suite's connection and ends the loop
// with that status.
void CerrarYSalirDelBucle(int codigo);
