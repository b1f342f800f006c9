#include "suite/globales.h"

#include <memory>
#include <QCoreApplication>
#include <QSqlDatabase>

namespace {
struct Componentes {
    std::unique_ptr<Utilidades> utilidades;
    std::unique_ptr<Sesion> sesion;
    std::unique_ptr<ArchivoIni> ini;
    std::unique_ptr<Equipo> equipo;
    std::unique_ptr<Avance> avance;
    std::unique_ptr<Auxiliar> auxiliar;
};
Componentes& componentes() {
    // Qt SQL's connection registry must outlive the components (a session closes its
    // connection when destroyed at exit): touching it first makes it be destroyed last.
    static const bool registro = (QSqlDatabase::connectionNames(), true);
    Q_UNUSED(registro);
    static Componentes c;
    return c;
}
template <typename T> T& primerUso(std::unique_ptr<T>& p) {
    if (!p) p = std::make_unique<T>();
    return *p;
}
QString& carpeta() {
    static QString c;
    return c;
}
} // namespace

Utilidades& gUtilidades() {
    return primerUso(componentes().utilidades);
}
Sesion& gSesion() {
    auto& s = componentes().sesion;
    if (!s) {
        s = std::make_unique<Sesion>();
        // A long wait for another station shows in the progress display.
        s->AvisoDeEspera = [](int segundos, int limite) { gAvance().Esperando(segundos, limite); };
    }
    return *s;
}
ArchivoIni& gArchivoIni() {
    return primerUso(componentes().ini);
}
Equipo& gEquipo() {
    return primerUso(componentes().equipo);
}
Avance& gAvance() {
    return primerUso(componentes().avance);
}
Auxiliar& gAuxiliar() {
    return primerUso(componentes().auxiliar);
}

void ReiniciarComponentes() {
    auto& c = componentes();
    c.avance.reset();
    c.sesion.reset();
    c.utilidades.reset();
    c.ini.reset();
    c.equipo.reset();
    c.auxiliar.reset();
}

QString CarpetaAplicacion() {
    if (!carpeta().isEmpty()) return carpeta();
    return QCoreApplication::applicationDirPath();
}
void EstablecerCarpetaAplicacion(const QString& c) {
    carpeta() = c;
}
