#include "suite/operador.h"

#include "suite/globales.h"
#include "suite/interfaz.h"

#include <cstdio>
#include <QCoreApplication>

namespace {
// The answer of a message box that nobody answers.
Respuesta sinEleccion(int estilo) {
    switch (estilo & 0x7) {
    case 2:
        return Respuesta::Anular;
    case 3:
    case 4:
        return Respuesta::No;
    case 1:
    case 5:
        return Respuesta::Cancelar;
    default:
        return Respuesta::Aceptar;
    }
}

// A process without windows whose program installed no operator: nobody can answer, and no
// prompt may be lost. Each one goes to standard error.
class OperadorSinVentanas : public Operador {
protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override {
        escribir(titulo, texto);
        return sinEleccion(estilo);
    }
    std::optional<QString> entrada(const QString& mensaje, const QString& titulo, const QString&) override {
        escribir(titulo, mensaje);
        return std::nullopt;
    }
    int menu(const QStringList&, const QPoint&) override { return -1; }
    void terminar(int codigo) override { CerrarYSalirDelBucle(codigo); }

private:
    static void escribir(const QString& titulo, const QString& texto) {
        std::fprintf(stderr, "[%s] %s\n", titulo.toLocal8Bit().constData(),
                     QString(texto).replace(QChar('\r'), QChar('\n')).toLocal8Bit().constData());
    }
};

QString& titulo() {
    static QString t = QStringLiteral("Cribanzas");
    return t;
}
std::unique_ptr<Operador>& actual() {
    static std::unique_ptr<Operador> o;
    return o;
}
} // namespace

QString TituloAplicacion() {
    return titulo();
}
void EstablecerTituloAplicacion(const QString& t) {
    titulo() = t;
}

Respuesta Operador::MsgBox(const QString& texto, int estilo, const QString& tit) {
    return mensaje(texto, estilo, tit.isEmpty() ? TituloAplicacion() : tit);
}
Respuesta Operador::ReportarError(const ErrorSistema& error, const QString& procedimiento) {
    return reporte(error, procedimiento);
}
Respuesta Operador::reporte(const ErrorSistema& error, const QString& procedimiento) {
    QString texto = QStringLiteral("Error %1: %2").arg(error.Numero).arg(error.Descripcion);
    if (!procedimiento.isEmpty()) texto += QStringLiteral("\nProcedimiento: %1").arg(procedimiento);
    return mensaje(texto, Estilo::AnularReintentarOmitir | Estilo::Critico, TituloAplicacion());
}
std::optional<QString> Operador::InputBox(const QString& m, const QString& t, const QString& d) {
    return entrada(m, t.isEmpty() ? TituloAplicacion() : t, d);
}
int Operador::MenuEmergente(const QStringList& elementos, const QPoint& donde) {
    return menu(elementos, donde);
}
int Operador::MsgBoxConBotones(const QString& texto, const QStringList& botones, int estilo,
                               const QString& tit, const QString& carpeta) {
    return conBotones(texto, botones, estilo & ~0x7, tit.isEmpty() ? TituloAplicacion() : tit, carpeta);
}
int Operador::conBotones(const QString& texto, const QStringList&, int estilo, const QString& titulo,
                         const QString&) {
    mensaje(texto, estilo, titulo);
    return -1;
}
void Operador::Terminar(int codigo) {
    terminado_ = codigo;
    terminar(codigo);
}

Operador& operador() {
    auto& o = actual();
    if (!o) {
        const auto& porDefecto = InterfazActual().operador;
        o = porDefecto ? porDefecto() : std::make_unique<OperadorSinVentanas>();
    }
    return *o;
}

std::unique_ptr<Operador> InstalarOperador(std::unique_ptr<Operador> nuevo) {
    auto anterior = std::move(actual());
    actual() = std::move(nuevo);
    return anterior;
}

// ---- Scripted ---------------------------------------------------------------

Respuesta OperadorGuion::mensaje(const QString& texto, int estilo, const QString& tit) {
    avisos_.push_back({QStringLiteral("mensaje"), texto, tit, estilo, 0, {}, {}, {}});
    if (!respuestas_.empty()) {
        const Respuesta r = respuestas_.front();
        respuestas_.pop_front();
        return r;
    }
    return sinEleccion(estilo);
}

Respuesta OperadorGuion::reporte(const ErrorSistema& error, const QString& procedimiento) {
    avisos_.push_back({QStringLiteral("error"),
                       error.Descripcion,
                       TituloAplicacion(),
                       Estilo::AnularReintentarOmitir | Estilo::Critico,
                       error.Numero,
                       procedimiento,
                       {},
                       {}});
    if (!respuestas_.empty()) {
        const Respuesta r = respuestas_.front();
        respuestas_.pop_front();
        return r;
    }
    return Respuesta::Anular;
}

std::optional<QString> OperadorGuion::entrada(const QString& m, const QString& t, const QString& d) {
    Aviso a{QStringLiteral("entrada"), m, t, 0, 0, {}, {d}, {}};
    avisos_.push_back(a);
    if (textos_.empty()) return std::nullopt;
    std::optional<QString> r;
    r.swap(textos_.front());
    textos_.pop_front();
    return r;
}

int OperadorGuion::menu(const QStringList& elementos, const QPoint&) {
    avisos_.push_back({QStringLiteral("menu"), {}, {}, 0, 0, {}, elementos, {}});
    if (!menus_.empty()) {
        int r = menus_.front();
        menus_.pop_front();
        return r;
    }
    return -1;
}

int OperadorGuion::conBotones(const QString& texto, const QStringList& botones, int estilo,
                              const QString& tit, const QString& carpeta) {
    // Recorded as the message it is: a test of the text need not know about the buttons.
    avisos_.push_back({QStringLiteral("mensaje"), texto, tit, estilo, 0, {}, botones, carpeta});
    if (botones_.empty()) return -1;
    const int r = botones_.front();
    botones_.pop_front();
    return r;
}

void OperadorGuion::terminar(int) {}

void CerrarYSalirDelBucle(int codigo) {
    // The connection is closed at once so that nothing is left half written. The process
    // then leaves through the event loop (the caller returns at once): exit() inside a slot
    // would destroy the widgets held by statics after Qt's GUI state is gone.
    gSesion().Desconectar();
    std::fflush(stdout);
    std::fflush(stderr);
    QCoreApplication::exit(codigo);
}
