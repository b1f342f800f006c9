// Test helper: the unattended purge (answers: Yes to the question, Abort to every error) that
// announces on standard output each statement of the purge it is about to run, one line
// "SENTENCIA <kind> <n>", and with --parar <kind>:<n> stops for good right before that
// statement, announcing "PARADO", so that a test can kill it at that exact moment. With
// --esperar <kind>:<n> it stops there the same way until a line arrives on its standard input,
// then goes on: another station meanwhile finds the purge at that step.
//
//   asistente_purga --ejercicio N [--parar kind:n | --esperar kind:n] [--limite-parametros n]
//                   "<suite command line>"
//
// --limite-parametros lowers the session's limit of "?" per statement, so that the opening
// balance takes several statements.
//
// Kinds: pregunta (the confirmation question, asked with the purge lock held), marca (writes of
// the purge's own record in TA_CONFIGURACION), periodo (other writes to TA_CONFIGURACION),
// asientos (the journal deletion), transaccion, insercion (opening-balance rows), borrado (the
// closing deletion), confirmacion (the commit), lectura (a read of rows into the purge archive).
#include "app/desatendido.h"
#include "app/ejecutar_desatendido.h"
#include "suite/globales.h"
#include "suite/operador.h"

#include <cstdio>
#include <functional>
#include <iostream>
#include <QCoreApplication>
#include <QMap>
#include <string>
#include <thread>

namespace {
// The unattended operator, announcing the confirmation question before it answers it.
class OperadorAsistente : public OperadorDesatendido {
public:
    explicit OperadorAsistente(std::function<void(const QString&)> anunciar)
        : OperadorDesatendido(true), anunciar_(std::move(anunciar)) {}

protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override {
        if ((estilo & 7) == Estilo::SiNo) anunciar_(QStringLiteral("pregunta"));
        return OperadorDesatendido::mensaje(texto, estilo, titulo);
    }

private:
    std::function<void(const QString&)> anunciar_;
};

QString clase(const QString& sql) {
    if ((sql.startsWith(QLatin1String("UPDATE"), Qt::CaseInsensitive) ||
         sql.startsWith(QLatin1String("INSERT"), Qt::CaseInsensitive) ||
         sql.startsWith(QLatin1String("DELETE"), Qt::CaseInsensitive)) &&
        sql.contains(QLatin1String("DEPURACIONPENDIENTE")))
        return QStringLiteral("marca");
    if (sql.startsWith(QLatin1String("UPDATE TA_CONFIGURACION"), Qt::CaseInsensitive) ||
        sql.startsWith(QLatin1String("INSERT INTO TA_CONFIGURACION"), Qt::CaseInsensitive))
        return QStringLiteral("periodo");
    if (sql.startsWith(QLatin1String("DELETE FROM MV_ASIENTOS"), Qt::CaseInsensitive))
        return QStringLiteral("asientos");
    if (sql.startsWith(QLatin1String("BEGIN IMMEDIATE TRANSACTION"))) return QStringLiteral("transaccion");
    if (sql.startsWith(QLatin1String("INSERT INTO V_MV_STOCK"), Qt::CaseInsensitive))
        return QStringLiteral("insercion");
    if (sql.startsWith(QLatin1String("Delete"), Qt::CaseInsensitive) &&
        sql.contains(QLatin1String("v_mv_stock where fecha"), Qt::CaseInsensitive))
        return QStringLiteral("borrado");
    if (sql.startsWith(QLatin1String("COMMIT TRANSACTION"))) return QStringLiteral("confirmacion");
    if (sql.startsWith(QLatin1String("SELECT")) && sql.contains(QLatin1String(" ORDER BY ")) &&
        (sql.contains(QLatin1String("FROM MV_ASIENTOS")) || sql.contains(QLatin1String("FROM V_MV_STOCK")) ||
         sql.contains(QLatin1String("FROM TA_CONFIGURACION"))))
        return QStringLiteral("lectura");
    return {};
}
} // namespace

int main(int argc, char* argv[]) {
    QStringList argumentos;
    QString parar, esperar;
    int limite = 0;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--parar") && i + 1 < argc)
            parar = QString::fromLocal8Bit(argv[++i]);
        else if (a == QLatin1String("--esperar") && i + 1 < argc)
            esperar = QString::fromLocal8Bit(argv[++i]);
        else if (a == QLatin1String("--limite-parametros") && i + 1 < argc)
            limite = QString::fromLocal8Bit(argv[++i]).toInt();
        else
            argumentos << a;
    }
    OpcionesDesatendido o = AnalizarArgumentos(QStringList{"--desatendido", "--confirmar"} + argumentos);
    if (!o.error.isEmpty()) {
        std::fprintf(stderr, "asistente_purga: %s\n", o.error.toLocal8Bit().constData());
        return Salida::Uso;
    }
    QCoreApplication app(argc, argv);
    EstablecerTituloAplicacion(QStringLiteral("Cribanzas"));

    QMap<QString, int> vistas;
    const auto anunciar = [&](const QString& c) {
        const QString marca = c + QChar(':') + QString::number(++vistas[c]);
        std::printf("SENTENCIA %s\n", qPrintable(marca));
        if (marca == parar || marca == esperar) {
            std::printf("PARADO\n");
            std::fflush(stdout);
            if (marca == esperar) {
                std::string linea;
                std::getline(std::cin, linea);
            } else
                for (;;)
                    std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        std::fflush(stdout);
    };
    InstalarOperador(std::make_unique<OperadorAsistente>(anunciar));
    gSesion().setLimiteParametros(limite);
    gSesion().AntesDeEjecutar = [&](const QString& sql) {
        const QString c = clase(sql);
        if (!c.isEmpty()) anunciar(c);
    };
    const int estado = EjecutarDesatendido(o);
    gSesion().AntesDeEjecutar = nullptr;
    gSesion().Desconectar();
    std::printf("FIN %d\n", estado);
    std::fflush(stdout);
    return estado;
}
