// Also: another station keeps writing stock movements while a purge runs.
//
// A purge killed with SIGKILL right before each statement that changes the database (every step
// boundary), and at a few moments spread over its work, then run again with the real program.
// Right after the kill the stock balances are unchanged at every day after the cut-off, no "SI"
// voucher is half written and the journal is whole or purged. After the rerun the database holds
// the same rows as after one uninterrupted purge of the same fixture, surrogate row ids aside:
// the same voucher, the same stock rows, the same configuration.
//
// Every run archives into a folder of its own: after the rerun, every journal row and stock
// movement the purge deleted is in exactly one verified archive, and no archive holds a row the
// database still has. Kills at the archive's boundaries are among the points: before each read
// into it, after its verification and before the commit that deletes. Then that archive is
// restored, and the database must be the very one before the purge, row ids included.
//
// Every point on the SQLite file and through the SQLite3 ODBC data source; the timed kills on
// the file, one through ODBC.
//
// CRIBANZAS_RONDAS_MUERTE sets the number of timed kills on the file (default 2); a thorough run:
//   CRIBANZAS_RONDAS_MUERTE=100 build/bin/test_interrupcion
#include "apoyo/entorno.h"
#include "apoyo/purga.h"
#include "app/desatendido.h"
#include "demodb.h"
#include "purge/archivo.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <set>
#include <thread>
#include <unistd.h>

namespace {
const QString kAnio = QStringLiteral("2022");
// The helper sends the opening balance ten rows per statement: a kill can fall between them.
constexpr int kFilasPorSentencia = 10;
constexpr int kParametrosPorSaldo = 10;
const QStringList kDias = {"2022-12-31", "2023-01-01", "2023-06-30", "2024-12-31", "2030-01-01"};
const QString kFuente = QStringLiteral("Interrupcion");

// The database the programs reach: its file, directly or through the SQLite3 ODBC data source.
struct Destino {
    Destino(const QString& archivo, bool porOdbc = false) : ruta(archivo), odbc(porOdbc) {}
    QString ruta;
    bool odbc;

    QString Linea() const { return LineaDeSuite(odbc ? kFuente : ruta); }
    // Without a display; through ODBC, with a data source of its own on this file.
    QProcessEnvironment Entorno() const {
        QProcessEnvironment e = EntornoSinPantalla();
        if (odbc) {
            const QString ini = ruta + ".odbc.ini";
            QFile f(ini);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << ini.toStdString();
            f.write(
                QString("[%1]\nDriver=SQLite3\nDatabase=%2\nTimeout=100000\n").arg(kFuente, ruta).toUtf8());
            e.insert("ODBCINI", ini);
        }
        return e;
    }
};

QString Texto(const QString& ruta, const QString& sql) {
    return ConsultarValor(ruta, sql).toString();
}

QList<demodb::SaldoStock> Saldos(const QString& ruta, const QString& dia) {
    return SinConteo(SaldosValidos(ruta, QDate::fromString(dia, Qt::ISODate)));
}

// Every stock movement in order, one text: equal texts mean an untouched table.
QString Movimientos(const QString& ruta) {
    return Texto(ruta, "SELECT group_concat(IdMovimiento || '|' || COALESCE(TC,'') || '|' || "
                       "COALESCE(IDCOMPROBANTE,'') || '|' || FECHA || '|' || COALESCE(CANTIDAD,'N'), ';') "
                       "FROM (SELECT * FROM V_MV_STOCK ORDER BY IdMovimiento)");
}

qint64 Contar(const QString& ruta, const QString& donde) {
    return ConsultarValor(ruta, "SELECT COUNT(*) FROM " + donde).toLongLong();
}

// Runs the helper (the unattended purge announcing each changing statement) and kills it: right
// at "PARADO" (stopped before that statement), or a delay after it announced the journal
// deletion. Without either it runs to the end.
struct Muerte {
    QString ultima;            // the last statement it announced
    bool terminoAntes = false; // the purge ended before the kill came
    QStringList marcas;        // everything it announced
    qint64 usPurga = 0;        // from the journal deletion to the end, when it ran to the end
};

Muerte Matar(const Destino& destino, const QString& parar, std::chrono::microseconds demora,
             const QString& carpeta) {
    QProcess p;
    p.setProcessEnvironment(destino.Entorno());
    QStringList args{"--ejercicio",         kAnio,
                     "--archivo",           carpeta,
                     "--limite-parametros", QString::number(kFilasPorSentencia * kParametrosPorSaldo)};
    if (!parar.isEmpty()) args << "--parar" << parar;
    args << destino.Linea();
    p.start(QStringLiteral(ASISTENTE_BIN), args);
    EXPECT_TRUE(p.waitForStarted());
    Muerte m;
    QElapsedTimer reloj;
    auto leer = [&](const QString& linea) {
        m.marcas << linea;
        if (linea.startsWith("SENTENCIA ")) m.ultima = linea.mid(10);
        if (linea.startsWith("FIN ")) {
            m.terminoAntes = true;
            if (reloj.isValid()) m.usPurga = reloj.nsecsElapsed() / 1000;
        }
    };
    bool matar = false;
    while (!matar) {
        if (!p.canReadLine()) {
            if (p.state() == QProcess::NotRunning) break;
            p.waitForReadyRead(20);
            continue;
        }
        const QString linea = QString::fromUtf8(p.readLine()).trimmed();
        leer(linea);
        if (linea == "SENTENCIA asientos:1") {
            reloj.start();
            if (parar.isEmpty() && demora.count() >= 0) {
                std::this_thread::sleep_for(demora);
                matar = true;
            }
        }
        if (!parar.isEmpty() && linea == "PARADO") matar = true;
    }
    if (matar && p.state() != QProcess::NotRunning) p.kill(); // SIGKILL
    if (p.state() != QProcess::NotRunning) {
        EXPECT_TRUE(p.waitForFinished(300000));
    }
    for (const QString& l : QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        leer(l);
    return m;
}

// The real program, unattended: the purge of the year to its end.
Corrida Cribanzas(const Destino& destino, const QString& carpeta) {
    return CorrerPrograma(
        CRIBANZAS_BIN,
        {"--desatendido", "--ejercicio", kAnio, "--confirmar", "--archivo", carpeta, destino.Linea()},
        destino.Entorno(), 300000);
}

// A fresh archive folder.
QString Carpeta(const QString& ruta) {
    QDir(ruta).removeRecursively();
    EXPECT_TRUE(QDir().mkpath(ruta));
    return ruta;
}

QStringList ArchivosDe(const QString& carpeta) {
    return QDir(carpeta).entryList({"*.sqlite"}, QDir::Files, QDir::Name);
}

// The ids (first column) of a table of the table's rows in the database.
std::set<qint64> Ids(const QString& ruta, const QString& sql) {
    const QString lista = ConsultarValor(ruta, "SELECT group_concat(id) FROM (" + sql + ")").toString();
    std::set<qint64> r;
    for (const QString& t : lista.split(',', Qt::SkipEmptyParts))
        r.insert(t.toLongLong());
    return r;
}

// The source ids of a table's rows over every verified archive of the folder; a row in two
// archives is counted as a duplicate.
std::set<qint64> Archivadas(const QString& carpeta, const char* tabla, int& duplicadas) {
    std::set<qint64> r;
    for (const QString& nombre : ArchivosDe(carpeta)) {
        std::unique_ptr<LectorArchivo> l;
        try {
            l = std::make_unique<LectorArchivo>(QDir(carpeta).filePath(nombre));
            l->ExigirIntegro();
        } catch (const ErrorSistema&) {
            continue; // not verified: it stands for nothing
        }
        if (!l->Tabla(QLatin1String(tabla))) continue;
        l->Recorrer(QLatin1String(tabla), [&](const Dato* fila) {
            if (!r.insert(ValorDeDato(fila[0]).toLongLong()).second) ++duplicadas;
            return true;
        });
    }
    return r;
}

// Every journal row and stock movement deleted since `original` is in exactly one verified
// archive, no archive holds a row the database still has, and the opening balances archived
// are the voucher's.
void NadaPerdido(const QString& original, const QString& ruta, const QString& carpeta,
                 const QString& comprobante) {
    int duplicadas = 0;
    const QString asientos = "SELECT IdAsiento AS id FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022";
    EXPECT_EQ(Archivadas(carpeta, kTablaAsientos, duplicadas), Ids(original, asientos));
    EXPECT_TRUE(Ids(ruta, asientos).empty());
    std::set<qint64> borrados;
    const auto quedan = Ids(ruta, "SELECT IdMovimiento AS id FROM V_MV_STOCK");
    for (qint64 id : Ids(original, "SELECT IdMovimiento AS id FROM V_MV_STOCK"))
        if (!quedan.count(id)) borrados.insert(id);
    EXPECT_FALSE(borrados.empty());
    EXPECT_EQ(Archivadas(carpeta, kTablaMovimientos, duplicadas), borrados);
    const auto si = Archivadas(carpeta, kTablaSaldoInicial, duplicadas);
    EXPECT_EQ(si,
              Ids(ruta, "SELECT IdMovimiento AS id FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" +
                            comprobante + "'"));
    EXPECT_EQ(duplicadas, 0);
}

// The folder's verified archive: there must be one (a file a killed run left before its first
// verification stands for nothing).
QString ArchivoVerificado(const QString& carpeta) {
    QStringList verificados;
    for (const QString& nombre : ArchivosDe(carpeta)) {
        try {
            LectorArchivo(QDir(carpeta).filePath(nombre)).ExigirIntegro();
            verificados << QDir(carpeta).filePath(nombre);
        } catch (const ErrorSistema&) {
        }
    }
    EXPECT_EQ(verificados.size(), 1) << verificados.join(' ').toStdString();
    return verificados.value(verificados.size() - 1);
}

// The archive gives the year back: the database is the very one before the purge, row ids and
// storage classes included.
void RestaurarYComparar(const Destino& destino, const QString& carpeta, const QStringList& exacto) {
    const Corrida r = CorrerPrograma(
        CRIBANZAS_BIN,
        {"--desatendido", "--restaurar", ArchivoVerificado(carpeta), "--confirmar", destino.Linea()},
        destino.Entorno(), 300000);
    EXPECT_EQ(r.estado, Salida::Depurado) << r.errores.toStdString() << r.salida.toStdString();
    const QStringList restaurada = VolcadoExacto(destino.ruta);
    EXPECT_TRUE(restaurada == exacto)
        << "rows that differ from the database before the purge:" << DiferenciaDeVolcados(exacto, restaurada);
}

int Rondas() {
    return qEnvironmentVariableIsSet("CRIBANZAS_RONDAS_MUERTE")
               ? qEnvironmentVariableIntValue("CRIBANZAS_RONDAS_MUERTE")
               : 2;
}

// A kill point on a route.
struct Corte {
    bool odbc = false;
    std::string momento;
};

void PrintTo(const Corte& c, std::ostream* os) {
    *os << (c.odbc ? "odbc " : "archivo ") << c.momento;
}

// The kill points: "kind:n" before that statement, "insercion:mitad"/"insercion:ultima" resolved
// from the reference run, "tiempo:i" the i-th timed kill.
std::vector<Corte> Cortes(bool odbc) {
    // lectura:1 the configuration (the file is new, nothing verified in it yet), lectura:2 the
    // journal, lectura:3 the movements, lectura:4 the opening balances; asientos:1 and
    // confirmacion:4 come after a verification, before the commit. Each single-row update has
    // its own transaction: the journal's is the third, the stock's the fourth.
    const std::vector<std::string> todos = {"marca:1",          "lectura:1", "periodo:1",   "periodo:2",
                                            "transaccion:3",    "lectura:2", "asientos:1",  "confirmacion:3",
                                            "transaccion:4",    "lectura:3", "insercion:1", "insercion:mitad",
                                            "insercion:ultima", "lectura:4", "borrado:1",   "marca:2",
                                            "confirmacion:4",   "periodo:3", "periodo:4",   "periodo:5",
                                            "marca:3"};
    std::vector<Corte> r;
    for (const std::string& m : todos)
        r.push_back({odbc, m});
    for (int i = 0, n = odbc ? 1 : Rondas(); i < n; ++i)
        r.push_back({odbc, "tiempo:" + std::to_string(i)});
    return r;
}

bool HayControladorOdbc() {
    static const bool hay = CorrerPrograma("odbcinst", {"-q", "-d"}).salida.contains("[SQLite3]");
    return hay;
}

// One uninterrupted purge of the fixture on a route.
struct Referencia {
    QStringList volcado; // the database after it, surrogate ids aside
    QString comprobante; // its opening-balance voucher
    qint64 usPurga = 0;  // from the journal deletion to the end
    int inserciones = 0; // statements of the opening balance
    int rondas = 0;      // timed kills spread over usPurga
};

class BaseInterrupcion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir->isValid());
        original = dir->filePath("original.db");
        ASSERT_TRUE(CrearDemo(original, {.asientos = 800, .movimientos = 3000}));
        for (const QString& d : kDias)
            saldosAntes.push_back(Saldos(original, d));
        stockAntes = Movimientos(original);
        exacto = VolcadoExacto(original);
        asientosAntes = Contar(original, "MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022");
        ASSERT_GT(asientosAntes, 0);
    }
    static QString Copia(const QString& nombre) { return CopiarBase(original, dir->filePath(nombre)); }
    static void TearDownTestSuite() {
        referencias.clear();
        saldosAntes.clear();
        dir.reset();
    }

    // The reference of a route, made once: one purge to the end, its statements and how long
    // its purge part lasts.
    static void PrepararReferencia(bool odbc) {
        if (referencias.count(odbc)) return;
        const Destino ref{dir->filePath(odbc ? "referencia-odbc.db" : "referencia.db"), odbc};
        ASSERT_TRUE(QFile::copy(original, ref.ruta));
        const Muerte m = Matar(ref, {}, std::chrono::microseconds(-1),
                               Carpeta(dir->filePath(odbc ? "archivos-ref-odbc" : "archivos-ref")));
        ASSERT_TRUE(m.marcas.contains("FIN 0")) << m.marcas.join('\n').toStdString();
        Referencia r;
        r.usPurga = m.usPurga;
        r.inserciones = int(m.marcas.filter("SENTENCIA insercion:").size());
        ASSERT_EQ(m.marcas.filter("SENTENCIA periodo:").size(), 5)
            << "period start and end, the purge date, then both put back";
        ASSERT_EQ(m.marcas.filter("SENTENCIA marca:").size(), 3) << "written, stock done, removed";
        ASSERT_EQ(m.marcas.filter("SENTENCIA lectura:").size(), 4) << m.marcas.join('\n').toStdString();
        ASSERT_EQ(m.marcas.filter("SENTENCIA confirmacion:").size(), 7)
            << "the journal's, the stock's and one for each of the five single-row updates";
        r.volcado = Volcado(ref.ruta);
        ASSERT_EQ(Contar(ref.ruta, "MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
        ASSERT_EQ(Contar(ref.ruta, "TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"), 0);
        r.comprobante = Texto(ref.ruta, "SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI'");
        ASSERT_NE(r.comprobante,
                  Texto(original, "SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI'"));
        const qint64 filasSI =
            Contar(ref.ruta, "V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" + r.comprobante + "'");
        ASSERT_EQ(filasSI, qint64(saldosAntes[0].size())) << "a row per group";
        ASSERT_EQ((filasSI + kFilasPorSentencia - 1) / kFilasPorSentencia, r.inserciones);
        ASSERT_GT(r.inserciones, 10);
        ASSERT_EQ(Saldos(ref.ruta, kDias[1]), saldosAntes[1]);
        r.rondas = odbc ? 1 : Rondas();
        std::cout << "[ reference ] " << (odbc ? "odbc: " : "file: ") << filasSI
                  << " opening-balance rows in " << r.inserciones << " statements, purge part "
                  << r.usPurga / 1000 << " ms\n";
        referencias[odbc] = r;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString original, stockAntes;
    static inline QStringList exacto; // the original, row ids and storage classes included
    static inline std::vector<QList<demodb::SaldoStock>> saldosAntes;
    static inline qint64 asientosAntes = 0;
    static inline std::map<bool, Referencia> referencias;
};

class Interrupcion : public BaseInterrupcion, public ::testing::WithParamInterface<Corte> {
protected:
    void SetUp() override {
        if (GetParam().odbc && !HayControladorOdbc()) GTEST_SKIP() << "no SQLite3 ODBC driver";
        ASSERT_NO_FATAL_FAILURE(PrepararReferencia(GetParam().odbc));
    }
};

TEST_P(Interrupcion, LaCorridaSiguienteTerminaLaDepuracionYElArchivoDevuelveElEjercicio) {
    const Referencia& ref = referencias.at(GetParam().odbc);
    QString momento = QString::fromStdString(GetParam().momento);
    momento.replace("insercion:mitad", QString("insercion:%1").arg(ref.inserciones / 2));
    momento.replace("insercion:ultima", QString("insercion:%1").arg(ref.inserciones));
    const Destino destino{Copia("interrumpida.db"), GetParam().odbc};
    const QString& ruta = destino.ruta;
    const QString carpeta = Carpeta(dir->filePath("archivos"));

    Muerte muerte;
    if (momento.startsWith("tiempo:")) {
        const int i = momento.mid(7).toInt();
        const qint64 tramo = std::max<qint64>(ref.usPurga, 1000) * 11 / 10;
        QRandomGenerator azar(20221231u + quint32(i));
        const qint64 us = (tramo * i + qint64(azar.bounded(quint32(tramo)))) / std::max(ref.rondas, 1);
        muerte = Matar(destino, {}, std::chrono::microseconds(us), carpeta);
        std::cout << "[ kill ] " << us << " us after the journal deletion, last announced "
                  << muerte.ultima.toStdString() << (muerte.terminoAntes ? ", ended before the kill" : "")
                  << "\n";
    } else {
        muerte = Matar(destino, momento, std::chrono::microseconds(-1), carpeta);
        ASSERT_FALSE(muerte.terminoAntes);
        ASSERT_EQ(muerte.ultima, momento);
    }

    // What the kill left: the stock all or nothing, the journal whole or purged.
    for (qsizetype i = 0; i < kDias.size(); ++i)
        EXPECT_EQ(Saldos(ruta, kDias[i]), saldosAntes[size_t(i)]) << "stock at " << kDias[i].toStdString();
    const qint64 asientos = Contar(ruta, "MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022");
    EXPECT_TRUE(asientos == asientosAntes || asientos == 0) << asientos;
    const qint64 filasSI =
        Contar(ruta, "V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" + ref.comprobante + "'");
    if (filasSI == 0) {
        EXPECT_EQ(Movimientos(ruta), stockAntes) << "stock not purged must be untouched";
    } else {
        EXPECT_EQ(filasSI, qint64(saldosAntes[0].size())) << "half a voucher";
        EXPECT_EQ(asientos, 0) << "the stock goes after the journal";
    }
    const bool conMarca = Contar(ruta, "TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'") > 0;
    if (!momento.startsWith("tiempo:")) {
        EXPECT_EQ(conMarca, momento != "marca:1")
            << "the record lives from before the first change to the end";
    }
    const bool terminada = !conMarca && asientos == 0;

    // The next purge of the year, the real program, finishes the job.
    const QStringList archivosAntes = ArchivosDe(carpeta);
    const Corrida c = Cribanzas(destino, carpeta);
    ASSERT_TRUE(c.terminada);
    EXPECT_EQ(c.estado, terminada ? Salida::NadaQueDepurar : Salida::Depurado) << c.errores.toStdString();
    NadaPerdido(original, ruta, carpeta, ref.comprobante);
    // Once its first verification is done, the purge keeps one archive to the end.
    const bool verificado = conMarca && momento != "lectura:1" && !momento.startsWith("tiempo:");
    if (verificado) {
        EXPECT_EQ(ArchivosDe(carpeta), archivosAntes) << c.errores.toStdString();
    }
    if (conMarca) {
        EXPECT_TRUE(c.errores.contains("la depuración del ejercicio 2022 quedó sin terminar"))
            << c.errores.toStdString();
    }
    const QStringList final = Volcado(ruta);
    EXPECT_EQ(final, ref.volcado) << "rows that differ from one uninterrupted purge:"
                                  << DiferenciaDeVolcados(ref.volcado, final);

    RestaurarYComparar(destino, carpeta, exacto);
}

std::string NombreCorte(const ::testing::TestParamInfo<Corte>& i) {
    std::string n = i.param.momento;
    for (char& c : n)
        if (c == ':') c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Archivo, Interrupcion, ::testing::ValuesIn(Cortes(false)), NombreCorte);
INSTANTIATE_TEST_SUITE_P(Odbc, Interrupcion, ::testing::ValuesIn(Cortes(true)), NombreCorte);
// ---- The archive's disk fills while it is written ---------------------------------------------

// A small tmpfs for the archive (needs root, as CI runs); skipped elsewhere.
class DiscoLleno : public BaseInterrupcion {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PrepararReferencia(false));
        punto = dir->filePath("tmpfs");
        montaje.emplace(punto, "size=16m");
        if (!montaje->Montado()) GTEST_SKIP() << "cannot mount a tmpfs here (not root)";
    }
    // Runs the helper held before the archive's nth read, fills the disk, and lets it go on.
    int LlenarAntes(const QString& ruta, const QString& momento) {
        QProcess p;
        p.setProcessEnvironment(EntornoSinPantalla());
        p.start(QStringLiteral(ASISTENTE_BIN),
                {"--ejercicio", kAnio, "--esperar", momento, "--archivo", punto, LineaDeSuite(ruta)});
        EXPECT_TRUE(p.waitForStarted());
        QString salida;
        while (!salida.contains("PARADO") && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(100);
            salida += QString::fromUtf8(p.readAllStandardOutput());
        }
        EXPECT_TRUE(salida.contains("PARADO")) << salida.toStdString();
        Llenar();
        p.write("\n");
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(300000));
        errores = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    }
    void Llenar() {
        const int fd = ::open(QFile::encodeName(punto + "/relleno").constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        static const char bloque[65536] = {};
        while (::write(fd, bloque, sizeof bloque) > 0) {
        }
        ::close(fd);
    }
    QString punto, errores;
    std::optional<Montaje> montaje;
};

TEST_F(DiscoLleno, SinLugarNiCarpetaSeRechazaAntesDeCambiarNada) {
    const QString ruta = Copia("sin_lugar.db");
    const QStringList antes = Volcado(ruta);
    Llenar();
    for (const QString& carpeta : {punto, punto + "/no_existe"}) {
        SCOPED_TRACE(carpeta.toStdString());
        const Corrida c = Cribanzas({ruta}, carpeta);
        EXPECT_EQ(c.estado, Salida::Rechazado) << c.errores.toStdString();
        EXPECT_TRUE(c.errores.contains(carpeta)) << "the message names the folder";
        EXPECT_TRUE(c.errores.contains("No se modificó nada.")) << c.errores.toStdString();
        const QStringList despues = Volcado(ruta);
        EXPECT_EQ(despues, antes) << DiferenciaDeVolcados(antes, despues);
    }
    EXPECT_TRUE(ArchivosDe(punto).isEmpty());
}

TEST_F(DiscoLleno, AntesDeLosAsientosNoSeBorraNada) {
    const QString ruta = Copia("lleno_asientos.db");
    const QStringList antes = Volcado(ruta);
    EXPECT_EQ(LlenarAntes(ruta, "lectura:2"), Salida::Incompleto) << errores.toStdString();
    EXPECT_TRUE(errores.contains(punto)) << "the message names the folder: " << errores.toStdString();
    EXPECT_TRUE(errores.contains("asientos")) << errores.toStdString();
    const QStringList despues = Volcado(ruta);
    EXPECT_EQ(despues, antes) << DiferenciaDeVolcados(antes, despues);
    EXPECT_TRUE(ArchivosDe(punto).isEmpty()) << "nothing was deleted: no archive stays";
}

TEST_F(DiscoLleno, DuranteElStockQuedaPendienteYSeTermina) {
    const QString ruta = Copia("lleno_stock.db");
    EXPECT_EQ(LlenarAntes(ruta, "lectura:3"), Salida::Incompleto) << errores.toStdString();
    EXPECT_EQ(Movimientos(ruta), stockAntes) << "the stock rolled back";
    EXPECT_EQ(Contar(ruta, "MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
    EXPECT_EQ(Contar(ruta, "TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"), 1) << "resumable";
    const QStringList archivos = ArchivosDe(punto);
    ASSERT_EQ(archivos.size(), 1);
    // Space again: the rerun finishes with the same archive.
    ASSERT_TRUE(QFile::remove(punto + "/relleno"));
    const Corrida c = Cribanzas({ruta}, punto);
    EXPECT_EQ(c.estado, Salida::Depurado) << c.errores.toStdString();
    EXPECT_EQ(ArchivosDe(punto), archivos);
    const Referencia& ref = referencias.at(false);
    const QStringList final = Volcado(ruta);
    EXPECT_EQ(final, ref.volcado) << DiferenciaDeVolcados(ref.volcado, final);
    NadaPerdido(original, ruta, punto, ref.comprobante);
}

// ---- Another station writing during the purge ---------------------------------------------

// The number of inserts the other station saw committed so far.
qint64 Confirmados(const QString& archivo) {
    QFile f(archivo);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().count('\n');
}

bool Esperar(const std::function<bool()>& condicion, int ms) {
    QElapsedTimer reloj;
    reloj.start();
    while (!condicion()) {
        if (reloj.elapsed() > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(OtraEstacion, InsertaMovimientosAtrasadosDuranteUnaDepuracionGrande) {
    // The purge takes the write lock before it reads the balances and keeps it to its commit:
    // the other station waits for it, the purge never fails because of it, and what the
    // station committed before is carried while what it committed after stays a movement.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ruta = dir.filePath("conta.db");
    ASSERT_TRUE(CrearDemo(ruta, {.asientos = 2000, .movimientos = 100000}));
    const auto antes = Saldos(ruta, "2030-01-01");
    const QString confirmados = dir.filePath("confirmados"), parar = dir.filePath("parar");

    QProcess estacion;
    estacion.start(QStringLiteral(ESTACION_BIN), {ruta, confirmados, parar});
    ASSERT_TRUE(estacion.waitForStarted());
    ASSERT_TRUE(Esperar([&] { return Confirmados(confirmados) >= 20; }, 60000)) << "the station writes";
    const Corrida c = Cribanzas({ruta}, Carpeta(dir.filePath("archivos")));
    const qint64 alTerminar = Confirmados(confirmados);
    // A few more after the purge, then the station stops.
    EXPECT_TRUE(Esperar([&] { return Confirmados(confirmados) >= alTerminar + 10; }, 60000));
    QFile(parar).open(QIODevice::WriteOnly);
    ASSERT_TRUE(estacion.waitForFinished(120000));
    const qint64 total = Confirmados(confirmados);

    EXPECT_EQ(c.estado, Salida::Depurado) << c.errores.toStdString();
    EXPECT_TRUE(c.errores.contains("El proceso finalizó con éxito")) << c.errores.toStdString();
    const QString deLaEstacion = "IDARTICULO = 'CONCURRENTE' AND COALESCE(Anulado,0) = 0";
    EXPECT_EQ(ConsultarValor(ruta, "SELECT SUM(CANTIDAD) FROM V_MV_STOCK WHERE " + deLaEstacion).toLongLong(),
              total)
        << "every committed insert is in the stock, once";
    EXPECT_GT(ConsultarValor(ruta, "SELECT SUM(CANTIDAD) FROM V_MV_STOCK WHERE TC = 'SI' AND " + deLaEstacion)
                  .toLongLong(),
              0)
        << "those before the purge are carried";
    EXPECT_GT(ConsultarValor(ruta, "SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'FC' AND " + deLaEstacion)
                  .toLongLong(),
              0)
        << "those after it stay movements";
    auto otras = Saldos(ruta, "2030-01-01");
    otras.removeIf([](const demodb::SaldoStock& s) { return s.idArticulo == "CONCURRENTE"; });
    EXPECT_EQ(otras, antes) << "the rest of the stock is as it was";
    std::cout << "[ station ] " << total << " inserts committed, " << alTerminar
              << " by the end of the purge\n";
}

} // namespace
