// The unattended purge and dry run, run as the administrator runs them: the real program.
#include "apoyo/entorno.h"
#include "apoyo/proceso.h"
#include "apoyo/sql_directo.h"
#include "app/desatendido.h"
#include "app/registro_sentencias.h"
#include "demodb.h"
#include "purge/archivo.h"
#include "suite/ubicaciones.h"

#include <pwd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The unattended mode needs no GUI platform: by default the program gets none at all.
Corrida Correr(const QStringList& argumentos, const QString& plataforma = {}) {
    QProcessEnvironment entorno = EntornoSinPantalla();
    entorno.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!plataforma.isEmpty()) entorno.insert(QStringLiteral("QT_QPA_PLATFORM"), plataforma);
    return CorrerPrograma(CRIBANZAS_BIN, argumentos, entorno);
}

long Numero(const QString& texto, const QString& patron) {
    const auto m = QRegularExpression(patron).match(texto);
    EXPECT_TRUE(m.hasMatch()) << patron.toStdString() << " in\n" << texto.toStdString();
    return m.captured(1).toLong();
}

QStringList Lineas(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

class Desatendido : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        base = dir_.filePath("conta.db");
        ASSERT_TRUE(CrearDemo(base, {.asientos = 800, .movimientos = 3000}));
        linea = LineaDeSuite(base);
    }
    QByteArray Huella() {
        QString error;
        return demodb::Huella(base, &error);
    }
    qint64 Contar(const QString& desde) {
        return ConsultarValor(base, "SELECT COUNT(*) FROM " + desde).toLongLong();
    }
    // The VALOR of a configuration key, matched trimmed.
    QString Config(const QString& clave) {
        return ConsultarValor(base, "SELECT VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = '" + clave + "'")
            .toString();
    }
    QTemporaryDir dir_;
    QString base, linea;
};
} // namespace

TEST(OpcionesDesatendido, ErroresDeUso) {
    // Refused: a purge without --confirmar, no year, an unknown option, a restore with extra
    // words, without its archive or with a year, a statement log without its file.
    for (const QStringList& a :
         {QStringList{"--desatendido", "--ejercicio", "2022", "x"},
          {"--desatendido", "--confirmar", "x"},
          {"--desatendido", "--ejercicio"},
          {"--desatendido", "--ejercicio", "2022", "--confirmar", "--rapido"},
          {"--desatendido", "--restaurar", "a.sqlite", "x"},
          {"--desatendido", "--restaurar"},
          {"--desatendido", "--restaurar=a.sqlite", "--ejercicio", "2022", "--confirmar"},
          {"--desatendido", "--ejercicio", "1", "--simular", "--registro-sentencias"}})
        EXPECT_FALSE(AnalizarArgumentos(a).error.isEmpty()) << a.join(' ').toStdString();
    const auto o =
        AnalizarArgumentos({"--desatendido", "@DbName=a.db;", "--ejercicio=2022", "@Caja=1;", "--confirmar"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_EQ(o.ejercicio, "2022");
    EXPECT_TRUE(o.confirmar);
    EXPECT_EQ(o.linea, "@DbName=a.db; @Caja=1;") << "options are taken out before the suite's keys are read";
    const auto r =
        AnalizarArgumentos({"--desatendido", "--restaurar", "a b.sqlite", "--simular", "@DbName=a.db;"});
    EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
    EXPECT_EQ(r.restaurar, "a b.sqlite");
    EXPECT_EQ(r.linea, "@DbName=a.db;");
    // Without --desatendido every argument is the window's session line, options included.
    const auto ventana = AnalizarArgumentos({"@DbName=a.db;@Password=", "--x;", "--simular"});
    EXPECT_TRUE(ventana.error.isEmpty()) << ventana.error.toStdString();
    EXPECT_FALSE(ventana.desatendido || ventana.simular);
    EXPECT_EQ(ventana.linea, "@DbName=a.db;@Password= --x; --simular");
    // Only as the first argument: a password with blanks split by the shell may hold it.
    const auto partida = AnalizarArgumentos(
        {"@DbName=a.db;@Password=a", "--desatendido", "--ejercicio", "2022", "--confirmar", "b;"});
    EXPECT_FALSE(partida.desatendido || partida.confirmar);
    EXPECT_EQ(partida.linea, "@DbName=a.db;@Password=a --desatendido --ejercicio 2022 --confirmar b;");
    // The usage text: alone, or right after --desatendido; anywhere else it is session text.
    for (const QStringList& a :
         {QStringList{"--help"}, QStringList{"-h"}, QStringList{"--desatendido", "--help"},
          QStringList{"--desatendido", "-h", "--ejercicio", "2022"}})
        EXPECT_TRUE(AnalizarArgumentos(a).ayuda) << a.join(' ').toStdString();
    EXPECT_FALSE(AnalizarArgumentos({"@DbName=a.db;", "--help"}).ayuda);
    EXPECT_FALSE(AnalizarArgumentos({"--desatendido", "--ejercicio", "2022", "--help"}).ayuda);
    EXPECT_EQ(
        AnalizarArgumentos({"--desatendido", "--ejercicio", "1", "--simular", "--registro-sentencias=r.log"})
            .registroSentencias,
        "r.log");
}

TEST(OpcionesDesatendido, AyudaSinPantalla) {
    QProcessEnvironment entorno = EntornoSinPantalla();
    entorno.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const QStringList& a : {QStringList{"--help"}, QStringList{"--desatendido", "-h"}}) {
        const auto c = CorrerPrograma(CRIBANZAS_BIN, a, entorno);
        EXPECT_EQ(c.estado, 0) << c.errores.toStdString();
        EXPECT_TRUE(c.salida.startsWith("Uso:\n  cribanzas")) << c.salida.toStdString();
        EXPECT_TRUE(c.errores.isEmpty()) << c.errores.toStdString();
    }
}

TEST(AvanceTerminal, UnRegistroTerminaConLaCuentaFinal) {
    // Written to a file, not a terminal: lines are throttled, but each phase's last figure and
    // the final one are kept.
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        AvanceTerminal avance(f);
        avance.Iniciar("Depurando");
        for (int i = 1; i <= 500; ++i)
            avance.Mostrar("Generando Saldo Inicial", "A1", QString::number(i));
        avance.Mostrar("Eliminando Movimientos", "", "");
        for (int i = 1; i <= 300; ++i)
            avance.Mostrar("Otra fase", "", QString::number(i));
        avance.Cerrar();
    }
    std::rewind(f);
    QFile leido;
    ASSERT_TRUE(leido.open(f, QIODevice::ReadOnly));
    const QStringList lineas = QString::fromLocal8Bit(leido.readAll()).split('\n', Qt::SkipEmptyParts);
    leido.close();
    std::fclose(f);
    EXPECT_EQ(lineas, QStringList({"Depurando", "Generando Saldo Inicial | A1 | 1",
                                   "Generando Saldo Inicial | A1 | 500", "Eliminando Movimientos",
                                   "Otra fase | 1", "Otra fase | 300"}));
}

TEST(RegistroSentencias, UnaLineaPorSentenciaSiempre) {
    EXPECT_EQ(RegistroSentencias::Campo("a\\b\nc\td\re\x01 ñ"), "a\\\\b\\nc\\td\\re\\x01 ñ");
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

// With no GUI platform at all, and the period's key between blanks: the dry run reads the period
// to put back as the purge does.
TEST_F(Desatendido, SimularNoEscribeYAnunciaLoQueHaceLaDepuracion) {
    EjecutarSql(base,
                {"UPDATE TA_CONFIGURACION SET CLAVE = ' fechaoperhasta ' WHERE CLAVE = 'fechaoperhasta'"});
    const QByteArray antes = Huella();
    const auto s = Correr({"--desatendido", "--ejercicio", "2022", "--simular", linea}, "noexiste");
    ASSERT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    EXPECT_EQ(Huella(), antes) << "a dry run writes nothing";
    const long asientos = Numero(s.salida, "Asientos a eliminar: (\\d+)");
    const long renglones = Numero(s.salida, "Renglones de saldo inicial: (\\d+)");
    const long borrados = Numero(s.salida, "Movimientos de stock a eliminar: (\\d+)");
    const QString comprobante =
        QRegularExpression("Comprobante de saldo inicial: SI (\\S+)").match(s.salida).captured(1);
    EXPECT_TRUE(s.salida.contains("Período operativo que se restaura: 01/01/2025 a 31/12/2025"))
        << s.salida.toStdString();

    const long asientosAntes = Contar("MV_ASIENTOS"), stockAntes = Contar("V_MV_STOCK");
    const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea}, "noexiste");
    ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
    EXPECT_EQ(Config("fechaoperhasta"), "31/12/2025");
    EXPECT_TRUE(d.errores.contains("[Aviso al operador] El proceso finalizó con éxito!!!"))
        << d.errores.toStdString();
    EXPECT_EQ(asientosAntes - Contar("MV_ASIENTOS"), asientos);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" + comprobante + "'"), renglones);
    EXPECT_EQ(stockAntes - Contar("V_MV_STOCK"), borrados - renglones);
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
    // Its dry run says what the purge says, and announces no work.
    const auto s = Correr({"--desatendido", "--ejercicio", "2020", "--simular", linea});
    EXPECT_EQ(s.estado, Salida::NadaQueDepurar);
    EXPECT_TRUE(
        s.errores.contains("No se han encontrado datos para depurar, el ejercicio ya ha sido depurado!!!!"))
        << s.errores.toStdString();
    EXPECT_TRUE(s.salida.contains("Nada que depurar")) << s.salida.toStdString();
    EXPECT_FALSE(s.salida.contains("Comprobante") || s.salida.contains("Movimientos de stock a eliminar"))
        << s.salida.toStdString();
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
    const QString registro = dir_.filePath("sentencias.log");
    const auto c = Correr(
        {"--desatendido", "--ejercicio", "2022", "--confirmar", "--registro-sentencias", registro, linea});
    // The log shows the failing insert with the database's error, then the rollback.
    const QStringList lineas = Lineas(registro);
    const auto fallo =
        lineas.indexOf(QRegularExpression(".*\tINSERT INTO V_MV_STOCK .*\terror: .*disco lleno simulado.*"));
    ASSERT_GE(fallo, 0);
    EXPECT_TRUE(lineas.value(fallo + 1).endsWith("\tROLLBACK TRANSACTION\tok"))
        << lineas.value(fallo + 1).toStdString();
    EXPECT_EQ(c.estado, Salida::Incompleto) << c.errores.toStdString();
    EXPECT_TRUE(c.errores.contains("disco lleno simulado")) << c.errores.toStdString();
    EXPECT_FALSE(c.errores.contains("El proceso finalizó con éxito")) << c.errores.toStdString();
    EXPECT_EQ(ConsultarValor(base, "SELECT group_concat(IdMovimiento || ':' || CANTIDAD) FROM V_MV_STOCK"),
              stockAntes);
    EXPECT_EQ(Config("fechaoperdesde"), "01/01/2025") << "the operating period is put back";
}

TEST_F(Desatendido, RegistroDeSentenciasParaElAdministrador) {
    // A description with a line break, a tab and a backslash.
    EjecutarSql(base, {"UPDATE V_MV_STOCK SET DESCRIPCION = 'Caño' || char(10) || 'de 1\"' || char(9) || "
                       "'a\\b' WHERE IdMovimiento = (SELECT MIN(IdMovimiento) FROM V_MV_STOCK WHERE FECHA "
                       "<= '2022-12-31' AND Anulado = 0)"});
    const QString registro = dir_.filePath("sentencias.log");
    const auto s = Correr(
        {"--desatendido", "--ejercicio", "2022", "--simular", "--registro-sentencias", registro, linea});
    ASSERT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    const QStringList simulacro = Lineas(registro);
    ASSERT_FALSE(simulacro.isEmpty());
    const auto d = Correr(
        {"--desatendido", "--ejercicio", "2022", "--confirmar", "--registro-sentencias", registro, linea});
    ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();

    // Appended: the dry run's lines first. Each line: time, statement, outcome.
    const QStringList lineas = Lineas(registro);
    ASSERT_GT(lineas.size(), simulacro.size());
    EXPECT_EQ(lineas.mid(0, simulacro.size()), simulacro) << "appended";
    QStringList sentencias;
    for (const QString& l : lineas) {
        const QStringList campos = l.split('\t');
        ASSERT_EQ(campos.size(), 3) << l.toStdString();
        const QDateTime hora = QDateTime::fromString(campos[0], Qt::ISODateWithMs);
        EXPECT_TRUE(hora.isValid() && campos[0].contains(QRegularExpression(
                                          "T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}([+-]\\d\\d:\\d\\d|Z)$")))
            << campos[0].toStdString();
        EXPECT_TRUE(QRegularExpression("^(ok|filas: \\d+|error: .*)$").match(campos[2]).hasMatch())
            << campos[2].toStdString();
        sentencias << campos[1] + " => " + campos[2];
    }
    const QStringList purga = sentencias.mid(simulacro.size());
    // Which statements, in which order, with which outcomes, is held to the recorded logs
    // (sistema.sentencias_doradas); here, the log's own form.
    EXPECT_EQ(purga.filter("INSERT INTO V_MV_STOCK").filter("N'Caño\\nde 1\"\\ta\\\\b'").size(), 1)
        << "line break, tab and backslash escaped";

    // A log that cannot be opened stops everything before the first statement.
    const QByteArray antes = Huella();
    const auto m = Correr({"--desatendido", "--ejercicio", "2022", "--simular", "--registro-sentencias",
                           dir_.filePath("no/existe/sentencias.log"), linea});
    EXPECT_EQ(m.estado, Salida::Uso);
    EXPECT_TRUE(m.errores.contains("registro de sentencias")) << m.errores.toStdString();
    EXPECT_EQ(Huella(), antes);
}

TEST_F(Desatendido, DepuracionPendiente) {
    // A purge of 2022 killed after its journal deletion.
    EjecutarSql(base, {"INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', "
                       "'2022;A;10:01/01/2025;10:31/12/2025')",
                       "UPDATE TA_CONFIGURACION SET VALOR = '01/01/2022' WHERE CLAVE = 'fechaoperdesde'",
                       "UPDATE TA_CONFIGURACION SET VALOR = '31/12/2022' WHERE CLAVE = 'fechaoperhasta'",
                       "DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"});
    const QByteArray antes = Huella();
    // Another year waits, in a dry run too, and the message names the unfinished one.
    for (const char* modo : {"--simular", "--confirmar"}) {
        const auto c = Correr({"--desatendido", "--ejercicio", "2020", modo, linea});
        EXPECT_EQ(c.estado, Salida::Rechazado) << modo;
        EXPECT_TRUE(
            c.errores.contains("No se puede depurar el ejercicio 2020: la depuración del ejercicio 2022 "
                               "quedó sin terminar."))
            << c.errores.toStdString();
    }
    // The dry run of 2022 says what is left, and the period that goes back is the record's.
    const auto s = Correr({"--desatendido", "--ejercicio", "2022", "--simular", linea});
    EXPECT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    EXPECT_TRUE(s.salida.contains("quedó sin terminar: se terminaría (falta depurar el stock)"))
        << s.salida.toStdString();
    EXPECT_TRUE(s.salida.contains("Asientos a eliminar: 0"));
    EXPECT_TRUE(s.salida.contains("Período operativo que se restaura: 01/01/2025 a 31/12/2025"))
        << s.salida.toStdString();
    EXPECT_EQ(Huella(), antes);

    const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea});
    EXPECT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"), 0);
    EXPECT_EQ(Config("fechaoperdesde"), "01/01/2025");
}

// With no --archivo, the INI key CarpetaArchivo (in the station's section) chooses the archive's
// folder. One that cannot take the file refuses the purge before anything changes, naming the
// folder: a file where the folder should be, a folder that is not there, a read-only one. One
// that can gets the archive, and the user's data folder gets nothing.
TEST_F(Desatendido, CarpetaDelArchivoDesdeElIni) {
    EntornoFijado entorno;
    entorno.Fijar("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
    entorno.Fijar(VariableCarpetaSistema, QFile::encodeName(dir_.filePath("sistema")));
    entorno.Fijar("XDG_DATA_HOME", QFile::encodeName(dir_.filePath("datos")));
    const passwd* pw = getpwuid(geteuid());
    const QString seccion = QSysInfo::machineHostName().toUpper() + "|" +
                            QString::fromLocal8Bit(pw ? pw->pw_name : qgetenv("USER").constData()).toUpper();
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("config/cribanzas")));
    auto elegir = [&](const QString& carpeta) {
        QFile ini(dir_.filePath("config/cribanzas/CN000pr.INI"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(
            QString("[General]\nFlatToolbars=0\n[%1]\nCarpetaArchivo=%2\n").arg(seccion, carpeta).toUtf8());
    };

    const QString archivoEnSuLugar = dir_.filePath("es_un_archivo");
    {
        QFile f(archivoEnSuLugar);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QStringList malas = {archivoEnSuLugar, dir_.filePath("no_existe/archivos")};
    // Permissions do not stop root (as CI runs): a read-only mount does.
    const QString soloLectura = dir_.filePath("solo_lectura");
    const Montaje montaje(soloLectura, "size=1m", MS_RDONLY);
    if (geteuid() != 0) ::chmod(QFile::encodeName(soloLectura).constData(), 0555);
    if (montaje.Montado() || geteuid() != 0) malas << soloLectura;

    const QByteArray antes = Huella();
    for (const QString& carpeta : malas) {
        SCOPED_TRACE(carpeta.toStdString());
        elegir(carpeta);
        const auto c = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea});
        EXPECT_EQ(c.estado, Salida::Rechazado) << c.errores.toStdString();
        EXPECT_TRUE(c.errores.contains(carpeta))
            << "the message names the folder: " << c.errores.toStdString();
        EXPECT_TRUE(c.errores.contains("No se modificó nada.")) << c.errores.toStdString();
        EXPECT_EQ(Huella(), antes);
    }

    const QString elegida = dir_.filePath("archivos de la caja");
    ASSERT_TRUE(QDir().mkpath(elegida));
    elegir(elegida);
    const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea});
    ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
    const QStringList archivos = QDir(elegida).entryList({"*.sqlite"}, QDir::Files);
    ASSERT_EQ(archivos.size(), 1) << d.errores.toStdString();
    EXPECT_TRUE((d.salida + d.errores).contains(QDir(elegida).filePath(archivos[0])))
        << "the purge names it: " << d.salida.toStdString() << d.errores.toStdString();
    EXPECT_NO_THROW(LectorArchivo(QDir(elegida).filePath(archivos[0])).ExigirIntegro());
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("datos/cribanzas"))) << "nothing in the default folder";
}

// The listings printed again from an archive, as an administrator asks for them later: the
// PDFs' paths on standard output, their text as a reader sees it; a bad archive or folder is
// told in Spanish with status 5 and leaves no PDF behind.
TEST_F(Desatendido, ListadosDeUnArchivo) {
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    ASSERT_FALSE(pdftotext.isEmpty()) << "scripts/dependencias.sh installs poppler-utils";
    const QString archivo = dir_.filePath("depuracion-conta-2022 bis.sqlite");
    {
        auto e = EscritorArchivo::Crear(archivo, {{"programa", "prueba"},
                                                  {"base", "conta.db"},
                                                  {"ejercicio", "2022"},
                                                  {"fecha_desde", "01/01/2022"},
                                                  {"fecha_hasta", "31/12/2022"},
                                                  {"fecha_corte", "31/12/2022"},
                                                  {"operador", "Núñez"},
                                                  {"inicio", "2025-01-31T02:10:07-03:00"}});
        e->AbrirTabla(kTablaAsientos, "MV_ASIENTOS", "IdAsiento",
                      {{"IdAsiento", "integer"}, {"NROASIENTO", "int"}, {"DEBE", "numeric(18,2)"}});
        const QVariant fila[] = {qlonglong(1), qlonglong(1), QStringLiteral("1234.50")};
        e->Agregar(fila);
        e->Verificar();
        e->AbrirTabla(
            kTablaSaldoInicial, "V_MV_STOCK", "IdMovimiento",
            {{"IdMovimiento", "integer"}, {"IDARTICULO", "varchar(20)"}, {"CANTIDAD", "numeric(18,4)"}});
        const QVariant saldo[] = {qlonglong(7), QStringLiteral("TORNILLO"), 3.5};
        e->Agregar(saldo);
        e->Verificar();
    }
    const auto c = Correr({"--desatendido", "--listados-de", archivo});
    ASSERT_EQ(c.estado, 0) << c.errores.toStdString();
    const QStringList rutas = c.salida.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rutas.size(), 2) << c.salida.toStdString();
    const QStringList titulos = {"Libro Diario 2022", "Existencias al 31/12/2022"};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(QFileInfo(rutas[i]).absolutePath(), dir_.path()) << "beside the archive";
        const Corrida t = CorrerPrograma(pdftotext, {rutas[i], "-"});
        EXPECT_TRUE(t.salida.contains(titulos[i])) << t.salida.toStdString();
    }
    EXPECT_EQ(Correr({"--desatendido", "--listados-de", archivo, "--confirmar"}).estado, Salida::Uso);

    // Elsewhere; then a folder that is not there, and a file that is not an archive: nothing
    // printed, the cause named.
    const QString carpeta = dir_.filePath("listados");
    ASSERT_TRUE(QDir().mkpath(carpeta));
    const auto otra = Correr({"--desatendido", "--listados-de=" + archivo, "--listados", carpeta});
    EXPECT_EQ(otra.estado, 0) << otra.errores.toStdString();
    EXPECT_EQ(QDir(carpeta).entryList(QDir::Files).size(), 2) << otra.salida.toStdString();
    const auto sinCarpeta =
        Correr({"--desatendido", "--listados-de", archivo, "--listados", carpeta + "/no"});
    EXPECT_EQ(sinCarpeta.estado, Salida::NoHecho);
    EXPECT_TRUE(sinCarpeta.errores.contains(carpeta + "/no/depuracion-conta-2022 bis-libro-diario.pdf: la "
                                                      "carpeta no existe"))
        << sinCarpeta.errores.toStdString();
    EXPECT_EQ(Correr({"--desatendido", "--listados-de", dir_.filePath("no.sqlite")}).estado, Salida::NoHecho);
    const QString malo = dir_.filePath("malo.sqlite");
    {
        QFile f(malo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("no es un archivo de depuración");
    }
    const auto m = Correr({"--desatendido", "--listados-de", malo, "--listados", carpeta});
    EXPECT_EQ(m.estado, Salida::NoHecho);
    EXPECT_TRUE(m.errores.contains("no se pudieron emitir los listados de " + malo))
        << m.errores.toStdString();
    EXPECT_TRUE(m.salida.isEmpty());
    EXPECT_EQ(QDir(carpeta).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// --compactar after a purge gives the purged rows' pages back to the disk, keeps every row, and
// says the sizes; on its own it only compacts.
TEST_F(Desatendido, CompactarTrasDepurar) {
    const qint64 antes = QFileInfo(base).size();
    const auto c = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", "--compactar", linea});
    ASSERT_EQ(c.estado, Salida::Depurado) << c.errores.toStdString();
    EXPECT_TRUE(c.errores.contains("El proceso finalizó con éxito")) << c.errores.toStdString();
    EXPECT_TRUE(c.errores.contains("[Compactación] La base de datos ocupaba ")) << c.errores.toStdString();
    const qint64 despues = QFileInfo(base).size();
    EXPECT_LT(despues, antes);
    const QByteArray huella = Huella();
    EXPECT_EQ(ConsultarValor(base, "PRAGMA integrity_check").toString(), "ok");
    const auto sola = Correr({"--desatendido", "--compactar", linea});
    EXPECT_EQ(sola.estado, Salida::Depurado) << sola.errores.toStdString();
    EXPECT_TRUE(sola.errores.contains("la compactación no liberó espacio")) << sola.errores.toStdString();
    EXPECT_EQ(Huella(), huella);
    EXPECT_EQ(Correr({"--desatendido", "--compactar", "--simular", "--ejercicio", "2022", linea}).estado,
              Salida::Uso);
}
