// Also: another station keeps writing stock movements while a purge runs.
//
// Purges killed with SIGKILL at many moments (before chosen statements, and at times spread
// over the journal deletion, the opening-balance inserts and the closing deletion). After each
// kill the database must hold the same stock at every day after the cut-off, no half-written
// "SI" voucher, the journal whole or purged; and the tool started again on it must either
// purge what is left or say the year is purged, never doubling the stock.
//
// CRIBANZAS_RONDAS_MUERTE sets the number of time-based kills (default 4); a thorough run:
//   CRIBANZAS_RONDAS_MUERTE=200 build/bin/test_interrupcion
#include "apoyo/sistema.h"
#include "app/desatendido.h"
#include "demodb.h"
#include "purge/depuracion.h"

#include <chrono>
#include <functional>
#include <iostream>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <thread>

namespace {
const QString kAnio = QStringLiteral("2022");
// The helper sends the opening balance ten rows per statement: a kill can fall between them.
constexpr int kFilasPorSentencia = 10;
constexpr int kParametrosPorSaldo = 10;
const QStringList kDias = {"2022-12-31", "2023-01-01", "2023-06-30", "2024-12-31", "2030-01-01"};

QString LineaDe(const QString& ruta) {
    return QStringLiteral("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=admin;@Caja=1;")
        .arg(ruta);
}

QProcessEnvironment Entorno() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

QList<demodb::SaldoStock> Saldos(const QString& ruta, const QString& dia) {
    demodb::OpcionesSaldo o;
    o.hasta = QDate::fromString(dia, Qt::ISODate);
    o.anuladoNuloValido = true; // the purge carries movements with a Null Anulado as valid
    QList<demodb::SaldoStock> r;
    QString error;
    EXPECT_TRUE(demodb::SaldosStock(ruta, o, &r, &error)) << error.toStdString();
    for (auto& s : r)
        s.movimientos = 0;
    return r;
}

// What a database holds, as far as a purge of 2022 can change it.
struct Estado {
    std::vector<QList<demodb::SaldoStock>> saldos; // one per day of kDias
    qint64 asientosAnio = 0, asientosOtros = 0;
    qint64 filasSI = 0;    // rows of the new opening-balance voucher
    qint64 restoCorte = 0; // other movements dated up to the cut-off
    QString stock;         // every stock row, for "untouched"
    QString desde, hasta, ultimaDepuracion;
};

Estado Leer(const QString& ruta, const QString& comprobante) {
    Estado e;
    // The first connection rolls back what a killed process left in its journal.
    e.asientosAnio =
        ConsultarValor(ruta, "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022")
            .toLongLong();
    e.asientosOtros =
        ConsultarValor(ruta, "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) <> 2022")
            .toLongLong();
    for (const QString& d : kDias)
        e.saldos.push_back(Saldos(ruta, d));
    e.filasSI = ConsultarValor(
                    ruta, QString("SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '%1'")
                              .arg(comprobante))
                    .toLongLong();
    e.restoCorte =
        ConsultarValor(ruta, QString("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= '2022-12-31' AND "
                                     "NOT (TC = 'SI' AND IDCOMPROBANTE = '%1')")
                                 .arg(comprobante))
            .toLongLong();
    e.stock =
        ConsultarValor(
            ruta,
            "SELECT group_concat(IdMovimiento || '|' || COALESCE(TC,'') || '|' || COALESCE(IDCOMPROBANTE,'') "
            "|| '|' || FECHA || '|' || COALESCE(CANTIDAD,'N'), ';') FROM (SELECT * FROM V_MV_STOCK ORDER BY "
            "IdMovimiento)")
            .toString();
    e.desde =
        ConsultarValor(ruta, "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'").toString();
    e.hasta = ConsultarValor(ruta, "SELECT VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = 'fechaoperhasta'")
                  .toString();
    e.ultimaDepuracion =
        ConsultarValor(ruta, "SELECT VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = 'FECHAULTIMADEPURACION'")
            .toString();
    return e;
}

struct Corrida {
    int estado = -1;
    QString errores;
};

Corrida Cribanzas(const QString& ruta) {
    QProcess p;
    p.setProcessEnvironment(Entorno());
    p.start(QStringLiteral(CRIBANZAS_BIN),
            {"--desatendido", "--ejercicio", kAnio, "--confirmar", LineaDe(ruta)});
    EXPECT_TRUE(p.waitForFinished(300000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// Runs the helper and kills it: right at "PARADO" (stopped before that statement), or a delay
// after it announced the journal deletion. Returns the last statement it announced.
struct Muerte {
    QString ultima;
    bool terminoAntes = false; // the purge ended before the kill came
};

Muerte Matar(const QString& ruta, const QString& parar, std::chrono::microseconds demora,
             QStringList* marcas = nullptr, qint64* usPurga = nullptr) {
    QProcess p;
    p.setProcessEnvironment(Entorno());
    QStringList args{"--ejercicio", kAnio, "--limite-parametros",
                     QString::number(kFilasPorSentencia * kParametrosPorSaldo)};
    if (!parar.isEmpty()) args << "--parar" << parar;
    args << LineaDe(ruta);
    p.start(QStringLiteral(ASISTENTE_BIN), args);
    EXPECT_TRUE(p.waitForStarted());
    Muerte m;
    QElapsedTimer reloj;
    bool matar = false;
    while (!matar) {
        if (!p.canReadLine()) {
            if (p.state() == QProcess::NotRunning) break;
            p.waitForReadyRead(20);
            continue;
        }
        const QString linea = QString::fromUtf8(p.readLine()).trimmed();
        if (marcas) *marcas << linea;
        if (linea.startsWith("SENTENCIA ")) m.ultima = linea.mid(10);
        if (linea.startsWith("FIN ")) {
            m.terminoAntes = true;
            if (usPurga && reloj.isValid()) *usPurga = reloj.nsecsElapsed() / 1000;
        }
        if (parar.isEmpty() && linea == "SENTENCIA asientos:1") {
            reloj.start();
            if (demora.count() >= 0 && !usPurga) {
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
    // What it announced before dying.
    for (const QString& l : QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        if (marcas) *marcas << l;
        if (l.startsWith("SENTENCIA ")) m.ultima = l.mid(10);
        if (l.startsWith("FIN ")) m.terminoAntes = true;
    }
    return m;
}

class Interrupcion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir->isValid());
        original = dir->filePath("original.db");
        demodb::OpcionesDemo o;
        o.movimientos = 3000;
        o.asientos = 800;
        QString error;
        ASSERT_TRUE(demodb::CrearBaseDemo(original, o, &error)) << error.toStdString();
        comprobante = Depuracion::SiguienteComprobante(
            ConsultarValor(original, "SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI'"));
        antes = std::make_unique<Estado>(Leer(original, comprobante));
        // One purge to the end: the reference, its statements and how long the purge part lasts.
        const QString ref = dir->filePath("referencia.db");
        ASSERT_TRUE(QFile::copy(original, ref));
        QStringList marcas;
        Matar(ref, {}, std::chrono::microseconds(0), &marcas, &usPurga);
        ASSERT_TRUE(marcas.contains("FIN 0")) << marcas.join('\n').toStdString();
        inserciones = int(marcas.filter("SENTENCIA insercion:").size());
        periodos = int(marcas.filter("SENTENCIA periodo:").size());
        despues = std::make_unique<Estado>(Leer(ref, comprobante));
        ASSERT_EQ(despues->asientosAnio, 0);
        ASSERT_GT(antes->asientosAnio, 0);
        ASSERT_GT(inserciones, 10);
        filasSI = despues->filasSI;
        ASSERT_EQ(filasSI, qint64(despues->saldos[0].size())) << "a row per group";
        ASSERT_EQ((filasSI + kFilasPorSentencia - 1) / kFilasPorSentencia, inserciones);
        ASSERT_EQ(despues->restoCorte, 0);
        ASSERT_EQ(despues->saldos, antes->saldos);
        std::cout << "[ reference ] " << filasSI << " opening-balance rows in " << inserciones
                  << " statements, " << periodos << " configuration writes, purge part " << usPurga / 1000
                  << " ms\n";
    }
    static void TearDownTestSuite() {
        antes.reset();
        despues.reset();
        dir.reset();
    }

    // The checks after a kill, then the tool run again, then the checks again.
    void Verificar(const QString& ruta, const QString& momento) {
        SCOPED_TRACE(momento.toStdString());
        const Estado e = Leer(ruta, comprobante);
        for (size_t i = 0; i < e.saldos.size(); ++i)
            EXPECT_EQ(e.saldos[i], antes->saldos[i]) << "stock at " << kDias[qsizetype(i)].toStdString();
        EXPECT_EQ(e.asientosOtros, antes->asientosOtros);
        EXPECT_TRUE(e.asientosAnio == antes->asientosAnio || e.asientosAnio == 0) << e.asientosAnio;
        EXPECT_TRUE(e.filasSI == 0 || e.filasSI == filasSI) << "half a voucher: " << e.filasSI;
        if (e.filasSI == 0) {
            EXPECT_EQ(e.stock, antes->stock) << "stock not purged must be untouched";
        } else {
            EXPECT_EQ(e.restoCorte, 0);
            EXPECT_EQ(e.asientosAnio, 0) << "the stock goes after the journal";
        }
        const bool periodoOriginal = e.desde == antes->desde && e.hasta == antes->hasta;
        const bool periodoDelAnio = e.desde == "01/01/2022" && e.hasta == "31/12/2022";
        const bool soloDesde = e.desde == "01/01/2022" && e.hasta == antes->hasta; // killed between 7 and 8
        const bool soloHasta = e.desde == antes->desde && e.hasta == "31/12/2022"; // killed between 13 and 14
        EXPECT_TRUE(periodoOriginal || periodoDelAnio || soloDesde || soloHasta)
            << e.desde.toStdString() << " " << e.hasta.toStdString();
        EXPECT_TRUE(e.ultimaDepuracion == antes->ultimaDepuracion || e.ultimaDepuracion == "01/01/2022");
        if (e.ultimaDepuracion == "01/01/2022") {
            EXPECT_EQ(e.filasSI, filasSI);
        }

        const Corrida c = Cribanzas(ruta);
        const Estado r = Leer(ruta, comprobante);
        for (size_t i = 0; i < r.saldos.size(); ++i)
            EXPECT_EQ(r.saldos[i], antes->saldos[i])
                << "stock at " << kDias[qsizetype(i)].toStdString() << " after the rerun";
        if (e.asientosAnio > 0) {
            EXPECT_EQ(c.estado, Salida::Depurado) << c.errores.toStdString();
            EXPECT_EQ(r.filasSI, filasSI);
            EXPECT_EQ(r.restoCorte, 0);
            EXPECT_EQ(r.asientosAnio, 0);
            EXPECT_EQ(r.ultimaDepuracion, "01/01/2022");
        } else {
            EXPECT_EQ(c.estado, Salida::NadaQueDepurar) << c.errores.toStdString();
            EXPECT_TRUE(c.errores.contains("el ejercicio ya ha sido depurado")) << c.errores.toStdString();
            EXPECT_EQ(r.stock, e.stock) << "nothing to purge: nothing written";
        }
        // What the rerun does to the operating period: it puts back what it found.
        EXPECT_EQ(r.desde, e.desde);
        EXPECT_EQ(r.hasta, e.hasta);
        const char* estadoStock = e.filasSI ? "purged" : "untouched";
        std::cout << "[ kill ] " << momento.toStdString() << ": journal "
                  << (e.asientosAnio ? "whole" : "purged") << ", stock " << estadoStock << ", period "
                  << (periodoOriginal  ? "original"
                      : periodoDelAnio ? "year's"
                      : soloDesde      ? "start changed"
                                       : "end changed")
                  << ", last purge date " << (e.ultimaDepuracion == "01/01/2022" ? "recorded" : "old")
                  << "; rerun status " << c.estado << "\n";
    }

    QString Copia(const QString& nombre) {
        const QString ruta = dir->filePath(nombre + ".db");
        QFile::remove(ruta);
        QFile::remove(ruta + "-journal");
        EXPECT_TRUE(QFile::copy(original, ruta));
        return ruta;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString original, comprobante;
    static inline std::unique_ptr<Estado> antes, despues;
    static inline int inserciones = 0, periodos = 0;
    static inline qint64 filasSI = 0;
    static inline qint64 usPurga = 0;
};

// Killed right before a chosen statement: every step boundary of the purge.
TEST_F(Interrupcion, AntesDeCadaPaso) {
    ASSERT_EQ(periodos, 5) << "period start and end, the purge date, then both put back";
    const QStringList momentos = {"periodo:1",
                                  "periodo:2",
                                  "asientos:1",
                                  "transaccion:1",
                                  "insercion:1",
                                  QString("insercion:%1").arg(inserciones / 2),
                                  QString("insercion:%1").arg(inserciones),
                                  "borrado:1",
                                  "confirmacion:1",
                                  "periodo:3",
                                  "periodo:4",
                                  "periodo:5"};
    for (const QString& m : momentos) {
        const QString ruta = Copia("paso");
        const Muerte muerte = Matar(ruta, m, std::chrono::microseconds(-1));
        ASSERT_FALSE(muerte.terminoAntes) << m.toStdString();
        ASSERT_EQ(muerte.ultima, m);
        Verificar(ruta, "before " + m);
        if (HasFatalFailure()) return;
    }
}

// Killed at times spread over the purge part (journal deletion to the end), so some kills land
// inside a statement: the large deletion, the commit.
TEST_F(Interrupcion, EnMomentosRepartidos) {
    const int rondas = qEnvironmentVariableIsSet("CRIBANZAS_RONDAS_MUERTE")
                           ? qEnvironmentVariableIntValue("CRIBANZAS_RONDAS_MUERTE")
                           : 4;
    QRandomGenerator azar(20221231u);
    const qint64 tramo = std::max<qint64>(usPurga, 1000) * 11 / 10;
    for (int i = 0; i < rondas; ++i) {
        const qint64 us = (tramo * i + qint64(azar.bounded(quint32(tramo)))) / std::max(rondas, 1);
        const QString ruta = Copia("tiempo");
        const Muerte muerte = Matar(ruta, {}, std::chrono::microseconds(us));
        Verificar(ruta, QString("%1 us after the journal deletion started (last announced: %2%3)")
                            .arg(us)
                            .arg(muerte.ultima, muerte.terminoAntes ? ", ended before the kill" : ""));
        if (HasFatalFailure()) return;
    }
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
    demodb::OpcionesDemo o;
    o.movimientos = 100000;
    o.asientos = 2000;
    QString error;
    ASSERT_TRUE(demodb::CrearBaseDemo(ruta, o, &error)) << error.toStdString();
    const auto antes = Saldos(ruta, "2030-01-01");
    const QString confirmados = dir.filePath("confirmados"), parar = dir.filePath("parar");

    QProcess estacion;
    estacion.start(QStringLiteral(ESTACION_BIN), {ruta, confirmados, parar});
    ASSERT_TRUE(estacion.waitForStarted());
    ASSERT_TRUE(Esperar([&] { return Confirmados(confirmados) >= 20; }, 60000)) << "the station writes";
    const Corrida c = Cribanzas(ruta);
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
