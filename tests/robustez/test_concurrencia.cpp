// One purge at a time. Two real purges of the same year on one database: started together (a few
// microseconds apart), or the first one held at each step boundary while the second runs. Exactly
// one purges; the other is refused with status 1 and writes nothing, and the database ends as
// after one uninterrupted purge: period, voucher, purge date, no record left. On the SQLite file,
// through the SQLite3 ODBC data source, and across the two routes.
//
// CRIBANZAS_PARES sets the number of pairs started together on the file (default 20).
#include "apoyo/proceso.h"
#include "apoyo/sql_directo.h"
#include "app/desatendido.h"
#include "demodb.h"

#include <chrono>
#include <iostream>
#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <thread>

namespace {
const QString kAnio = QStringLiteral("2022");
const QString kSinConfirmar =
    QStringLiteral("Otra estación tiene abierta la depuración de ejercicios y todavía no la confirmó.");

// The holder named from its record: year, user and station, and when it started.
QRegularExpression Dueno() {
    return QRegularExpression(
        QStringLiteral("Otra estación está depurando el ejercicio 2022\\.\\n  La inició el usuario ana en la "
                       "estación %1, el \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\\.")
            .arg(QRegularExpression::escape(QHostInfo::localHostName())));
}

QStringList Purga(const QString& linea, const QString& modo = QStringLiteral("--confirmar")) {
    return {"--desatendido", "--ejercicio", kAnio, modo, linea};
}

class Concurrencia : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir->isValid());
        original = dir->filePath("original.db");
        ASSERT_TRUE(CrearDemo(original, {.asientos = 600, .movimientos = 4000}));
        const QString ref = dir->filePath("referencia.db");
        ASSERT_TRUE(QFile::copy(original, ref));
        const Corrida c = CorrerPrograma(CRIBANZAS_BIN, Purga(LineaDeSuite(ref)));
        ASSERT_EQ(c.estado, Salida::Depurado) << c.errores.toStdString();
        referencia = Volcado(ref);
        std::cout << "[ reference ] one purge in " << c.ms << " ms\n";
    }
    static void TearDownTestSuite() { dir.reset(); }

    static QString Copia(const QString& nombre) { return CopiarBase(original, dir->filePath(nombre)); }

    // A SQLite3 ODBC data source on a file, for the processes given this environment.
    static QProcessEnvironment ConFuente(const QString& ruta) {
        const QString ini = dir->filePath("odbc.ini");
        QFile f(ini);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Concurrencia]\nDriver=SQLite3\nDatabase=%1\nTimeout=100000\n")
                    .arg(ruta)
                    .toUtf8());
        QProcessEnvironment e = EntornoSinPantalla();
        e.insert("ODBCINI", ini);
        return e;
    }

    // Two purges started `us` microseconds apart, each on its own route; both run to their end.
    // Returns their corridas in starting order.
    static std::pair<Corrida, Corrida> Par(const QStringList& a, const QStringList& b, int us,
                                           const QProcessEnvironment& entorno) {
        QProcess pa, pb;
        for (QProcess* p : {&pa, &pb})
            p->setProcessEnvironment(entorno);
        pa.start(CRIBANZAS_BIN, a);
        std::this_thread::sleep_for(std::chrono::microseconds(us));
        pb.start(CRIBANZAS_BIN, b);
        auto fin = [](QProcess& p) {
            Corrida c;
            c.terminada = p.waitForFinished(120000);
            if (!c.terminada) p.kill();
            p.waitForFinished();
            if (c.terminada && p.exitStatus() == QProcess::NormalExit) c.estado = p.exitCode();
            c.salida = QString::fromLocal8Bit(p.readAllStandardOutput());
            c.errores = QString::fromLocal8Bit(p.readAllStandardError());
            return c;
        };
        Corrida ca = fin(pa);
        return {ca, fin(pb)};
    }

    // Exactly one of the two purged; the other was refused by the lock (1) or came once it was
    // over (2). Returns whether it was refused.
    static bool UnaSola(const Corrida& a, const Corrida& b) {
        const bool primera = a.estado == Salida::Depurado;
        const Corrida& otra = primera ? b : a;
        EXPECT_TRUE(primera || b.estado == Salida::Depurado)
            << "none purged: " << a.estado << " " << b.estado << "\n"
            << a.errores.toStdString() << "\n"
            << b.errores.toStdString();
        EXPECT_TRUE(otra.estado == Salida::Rechazado || otra.estado == Salida::NadaQueDepurar)
            << otra.estado << ": " << otra.errores.toStdString();
        if (otra.estado == Salida::Rechazado) {
            EXPECT_TRUE(otra.errores.contains("Otra estación")) << otra.errores.toStdString();
            EXPECT_FALSE(otra.errores.contains("quedó sin terminar")) << otra.errores.toStdString();
        }
        return otra.estado == Salida::Rechazado;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString original;
    static inline QStringList referencia;
};

TEST_F(Concurrencia, ParesQueEmpiezanJuntosEnElArchivo) {
    const int pares =
        qEnvironmentVariableIsSet("CRIBANZAS_PARES") ? qEnvironmentVariableIntValue("CRIBANZAS_PARES") : 20;
    QRandomGenerator azar(20221231u);
    int rechazadas = 0;
    for (int i = 0; i < pares; ++i) {
        SCOPED_TRACE(i);
        const QString ruta = Copia("par.db");
        const auto [a, b] = Par(Purga(LineaDeSuite(ruta)), Purga(LineaDeSuite(ruta)), int(azar.bounded(2000)),
                                EntornoSinPantalla());
        rechazadas += UnaSola(a, b);
        const QStringList final = Volcado(ruta);
        ASSERT_EQ(final, referencia) << "rows that differ from one purge:"
                                     << DiferenciaDeVolcados(referencia, final);
    }
    std::cout << "[ pairs ] " << pares << " pairs, " << rechazadas << " refused by the lock, "
              << pares - rechazadas << " came after the end\n";
}

TEST_F(Concurrencia, ParesPorLaFuenteOdbcYEntreLasDosRutas) {
    const Corrida drivers = CorrerPrograma("odbcinst", {"-q", "-d"});
    if (!drivers.salida.contains("[SQLite3]")) GTEST_SKIP() << "no SQLite3 ODBC driver";
    const QString ruta = dir->filePath("odbc.db");
    const QProcessEnvironment entorno = ConFuente(ruta);
    const QString fuente = LineaDeSuite("Concurrencia");
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Copia("odbc.db");
        // The last pair mixes the routes: both find the same lock file.
        const QString otra = i == 2 ? LineaDeSuite(ruta) : fuente;
        const auto [a, b] = Par(Purga(fuente), Purga(otra), 1000 * i, entorno);
        UnaSola(a, b);
        const QStringList final = Volcado(ruta);
        EXPECT_EQ(final, referencia) << DiferenciaDeVolcados(referencia, final);
    }
}

// The first purge is the test helper held before a step; meanwhile the second runs to its end.
class Retenida : public Concurrencia, public ::testing::WithParamInterface<std::string> {};

TEST_P(Retenida, LaOtraEsRechazadaSinEscribir) {
    const QString paso = QString::fromStdString(GetParam());
    const bool odbc = paso.startsWith("odbc/");
    const QString momento = odbc ? paso.mid(5) : paso;
    const QString ruta = Copia("retenida.db");
    QProcessEnvironment entorno = EntornoSinPantalla();
    QString primera = LineaDeSuite(ruta);
    if (odbc) {
        const Corrida drivers = CorrerPrograma("odbcinst", {"-q", "-d"});
        if (!drivers.salida.contains("[SQLite3]")) GTEST_SKIP() << "no SQLite3 ODBC driver";
        entorno = ConFuente(ruta);
        primera = LineaDeSuite("Concurrencia");
    }

    QProcess a;
    a.setProcessEnvironment(entorno);
    a.start(ASISTENTE_BIN, {"--ejercicio", kAnio, "--esperar", momento, primera});
    ASSERT_TRUE(a.waitForStarted());
    QStringList anuncios;
    while (!anuncios.contains("PARADO")) {
        if (!a.canReadLine() && !a.waitForReadyRead(60000)) break;
        while (a.canReadLine())
            anuncios << QString::fromUtf8(a.readLine()).trimmed();
    }
    ASSERT_TRUE(anuncios.contains("PARADO")) << anuncios.join('\n').toStdString();
    const QStringList durante = Volcado(ruta);

    // The other station: the purge and its dry run, each refused, naming the holder once its
    // record exists. Only the start-up's reads and the record are read, and nothing written.
    const bool conMarca = momento != "pregunta:1" && momento != "marca:1";
    for (const QString modo : {"--confirmar", "--simular"}) {
        SCOPED_TRACE(modo.toStdString());
        const QString registro = dir->filePath("sentencias.log");
        QFile::remove(registro);
        const Corrida b =
            CorrerPrograma(CRIBANZAS_BIN, {"--desatendido", "--ejercicio", kAnio, modo,
                                           "--registro-sentencias", registro, LineaDeSuite(ruta)});
        EXPECT_EQ(b.estado, Salida::Rechazado) << b.errores.toStdString();
        if (conMarca)
            EXPECT_TRUE(b.errores.contains(Dueno())) << b.errores.toStdString();
        else
            EXPECT_TRUE(b.errores.contains(kSinConfirmar)) << b.errores.toStdString();
        EXPECT_FALSE(b.errores.contains("quedó sin terminar")) << b.errores.toStdString();
        QFile f(registro);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList otras;
        for (const QString& l : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
            const QString sentencia = l.section('\t', 1, 1);
            // The start-up's: whether the database is the suite's, and its settings.
            if (!sentencia.startsWith("SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = '") &&
                !sentencia.endsWith(" WHERE 1 = 0"))
                otras << sentencia;
        }
        EXPECT_EQ(otras, QStringList{"SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = "
                                     "'DEPURACIONPENDIENTE'"})
            << otras.join('\n').toStdString();
        EXPECT_EQ(Volcado(ruta), durante);
    }

    a.write("\n");
    a.closeWriteChannel();
    ASSERT_TRUE(a.waitForFinished(120000));
    const QString resto = QString::fromUtf8(a.readAllStandardOutput());
    EXPECT_TRUE(resto.contains("FIN 0")) << resto.toStdString() << a.readAllStandardError().toStdString();
    const QStringList final = Volcado(ruta);
    EXPECT_EQ(final, referencia) << DiferenciaDeVolcados(referencia, final);
}

INSTANTIATE_TEST_SUITE_P(Pasos, Retenida,
                         ::testing::Values("pregunta:1", "marca:1", "periodo:1", "periodo:2", "asientos:1",
                                           "transaccion:1", "insercion:1", "borrado:1", "marca:2",
                                           "confirmacion:1", "periodo:3", "periodo:5", "marca:3",
                                           "odbc/asientos:1"),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string n = i.param;
                             for (char& c : n)
                                 if (c == ':' || c == '/') c = '_';
                             return n;
                         });
} // namespace
