// The unattended purge and dry run, run as the administrator runs them: the real program.
#include "apoyo.h"
#include "demodb.h"
#include "desatendido.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {
struct Corrida {
    int estado = -1;
    QString salida;
    QString errores;
};

Corrida Correr(const QStringList& argumentos, const QString& plataforma = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!plataforma.isEmpty()) env.insert(QStringLiteral("QT_QPA_PLATFORM"), plataforma);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CRIBANZAS_BIN), argumentos);
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

long Numero(const QString& texto, const QString& patron) {
    const auto m = QRegularExpression(patron).match(texto);
    EXPECT_TRUE(m.hasMatch()) << patron.toStdString() << " in\n" << texto.toStdString();
    return m.captured(1).toLong();
}

class Desatendido : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        base = dir_.filePath("conta.db");
        demodb::OpcionesDemo o;
        o.movimientos = 3000;
        o.asientos = 800;
        QString error;
        ASSERT_TRUE(demodb::CrearBaseDemo(base, o, &error)) << error.toStdString();
        linea = QString("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=admin;@Caja=1;").arg(base);
    }
    QByteArray Huella() {
        QString error;
        return demodb::Huella(base, &error);
    }
    QTemporaryDir dir_;
    QString base, linea;
};
} // namespace

TEST(OpcionesDesatendido, ErroresDeUso) {
    EXPECT_FALSE(AnalizarArgumentos({"--desatendido", "--ejercicio", "2022", "x"}).error.isEmpty())
        << "a purge must be asked with --confirmar";
    EXPECT_FALSE(AnalizarArgumentos({"--desatendido", "--confirmar", "x"}).error.isEmpty())
        << "no --ejercicio";
    EXPECT_FALSE(AnalizarArgumentos({"--desatendido", "--ejercicio"}).error.isEmpty());
    EXPECT_FALSE(AnalizarArgumentos({"--desatendido", "--ejercicio", "2022", "--confirmar", "--rapido"})
                     .error.isEmpty());
    const auto o =
        AnalizarArgumentos({"--desatendido", "@DbName=a.db;", "--ejercicio=2022", "@Caja=1;", "--confirmar"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_EQ(o.ejercicio, "2022");
    EXPECT_TRUE(o.confirmar);
    EXPECT_EQ(o.linea, "@DbName=a.db; @Caja=1;") << "options are taken out before the suite's keys are read";
    // Without --desatendido every argument is the window's session line, options included.
    const auto ventana = AnalizarArgumentos({"@DbName=a.db;@Password=", "--x;", "--simular"});
    EXPECT_TRUE(ventana.error.isEmpty()) << ventana.error.toStdString();
    EXPECT_FALSE(ventana.desatendido || ventana.simular);
    EXPECT_EQ(ventana.linea, "@DbName=a.db;@Password= --x; --simular");
}

TEST_F(Desatendido, SinConfirmarNoDepura) {
    const QByteArray antes = Huella();
    const auto c = Correr({"--desatendido", "--ejercicio", "2022", linea});
    EXPECT_EQ(c.estado, Salida::Uso);
    EXPECT_TRUE(c.errores.contains("--confirmar"));
    EXPECT_EQ(Huella(), antes);
    EXPECT_EQ(
        Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", "--sin-preguntar", linea}).estado,
        Salida::Uso);
}

TEST_F(Desatendido, SimularNoEscribeYAnunciaLoQueHaceLaDepuracion) {
    const QByteArray antes = Huella();
    const auto s = Correr({"--desatendido", "--ejercicio", "2022", "--simular", linea});
    ASSERT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    EXPECT_EQ(Huella(), antes) << "a dry run writes nothing";
    const long asientos = Numero(s.salida, "Asientos a eliminar: (\\d+)");
    const long renglones = Numero(s.salida, "Renglones de saldo inicial: (\\d+)");
    const long borrados = Numero(s.salida, "Movimientos de stock a eliminar: (\\d+)");
    const QString comprobante =
        QRegularExpression("Comprobante de saldo inicial: SI (\\S+)").match(s.salida).captured(1);
    EXPECT_TRUE(s.salida.contains("Período operativo que se restaura: 01/01/2025 a 31/12/2025"))
        << s.salida.toStdString();

    const long asientosAntes = ConsultarValor(base, "SELECT COUNT(*) FROM MV_ASIENTOS").toLongLong();
    const long stockAntes = ConsultarValor(base, "SELECT COUNT(*) FROM V_MV_STOCK").toLongLong();
    const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea});
    ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
    EXPECT_TRUE(d.errores.contains("[Aviso al operador] El proceso finalizó con éxito!!!"))
        << d.errores.toStdString();
    EXPECT_EQ(asientosAntes - ConsultarValor(base, "SELECT COUNT(*) FROM MV_ASIENTOS").toLongLong(),
              asientos);
    EXPECT_EQ(ConsultarValor(
                  base, QString("SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '%1'")
                            .arg(comprobante))
                  .toLongLong(),
              renglones);
    EXPECT_EQ(stockAntes - ConsultarValor(base, "SELECT COUNT(*) FROM V_MV_STOCK").toLongLong(),
              borrados - renglones);
}

TEST_F(Desatendido, SinPlataformaGraficaYConLaClaveDelPeriodoEntreBlancos) {
    // No GUI platform is needed, and the dry run reads the period to put back as the purge does.
    EjecutarSql(base,
                {"UPDATE TA_CONFIGURACION SET CLAVE = ' fechaoperhasta ' WHERE CLAVE = 'fechaoperhasta'"});
    const auto s = Correr({"--desatendido", "--ejercicio", "2022", "--simular", linea}, "noexiste");
    ASSERT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    EXPECT_TRUE(s.salida.contains("Período operativo que se restaura: 01/01/2025 a 31/12/2025"))
        << s.salida.toStdString();
    const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea}, "noexiste");
    ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
    EXPECT_EQ(ConsultarValor(base, "SELECT VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = 'fechaoperhasta'")
                  .toString(),
              "31/12/2025");
}

TEST_F(Desatendido, EstadosDeSalida) {
    EXPECT_EQ(Correr({"--desatendido", "--ejercicio", "2025", "--confirmar", linea}).estado,
              Salida::Rechazado)
        << "an open year";
    EXPECT_EQ(Correr({"--desatendido", "--ejercicio", "1990", "--confirmar", linea}).estado,
              Salida::Rechazado);
    EXPECT_EQ(
        Correr({"--desatendido", "--ejercicio", "2022; DROP TABLE MV_ASIENTOS", "--confirmar", linea}).estado,
        Salida::Rechazado);
    EXPECT_EQ(Correr({"--desatendido", "--ejercicio", "2020", "--confirmar", linea}).estado,
              Salida::NadaQueDepurar)
        << "a year already purged";
    const auto sin = Correr(
        {"--desatendido", "--ejercicio", "2022", "--simular", "@DbName=" + dir_.filePath("otra.db") + ";"});
    EXPECT_EQ(sin.estado, Salida::SinConexion);
    EXPECT_TRUE(sin.errores.contains("otra.db")) << sin.errores.toStdString();
}

TEST_F(Desatendido, FalloEnElStockTerminaConTresYElStockIntacto) {
    EjecutarSql(base, {"CREATE TRIGGER falla_si BEFORE INSERT ON V_MV_STOCK WHEN NEW.TC = 'SI' "
                       "BEGIN SELECT RAISE(ABORT, 'disco lleno simulado'); END"});
    const QVariant stockAntes =
        ConsultarValor(base, "SELECT group_concat(IdMovimiento || ':' || CANTIDAD) FROM V_MV_STOCK");
    const auto c = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea});
    EXPECT_EQ(c.estado, Salida::Incompleto) << c.errores.toStdString();
    EXPECT_TRUE(c.errores.contains("disco lleno simulado")) << c.errores.toStdString();
    EXPECT_FALSE(c.errores.contains("El proceso finalizó con éxito")) << c.errores.toStdString();
    EXPECT_EQ(ConsultarValor(base, "SELECT group_concat(IdMovimiento || ':' || CANTIDAD) FROM V_MV_STOCK"),
              stockAntes);
    EXPECT_EQ(
        ConsultarValor(base, "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'").toString(),
        "01/01/2025")
        << "the operating period is put back";
}
