// Database faults in the middle of the work: a database another process has locked, a full
// disk, a connection lost for good, a read-only file. Each gets a clear message, Retry works
// once the cause is gone, and the books and the stock are never left wrong.
#include "apoyo/purga.h"
#include "app/desatendido.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <unistd.h>

namespace {
constexpr int kGrupos = 300;

class FallosDeBase : public PruebaPurga {
protected:
    void SetUp() override {
        PruebaPurga::SetUp();
        auto op = std::make_unique<OperadorQueLibera>();
        operador_ = op.get();
        guion_ = op.get();
        InstalarOperador(std::move(op));
        QStringList movs;
        for (int i = 0; i < kGrupos; ++i)
            movs << InsertarMov({.fecha = QString("2022-%1-15").arg(1 + i % 12, 2, 10, QChar('0')),
                                 .articulo = QString("ART%1").arg(i, 4, 10, QChar('0')),
                                 .cantidad = double(i % 7) + 0.5});
        movs << InsertarMov({.fecha = "2023-02-01", .articulo = "ART0001", .cantidad = 3});
        movs.prepend("BEGIN");
        movs << "COMMIT";
        Sql(movs);
        stockAntes = Stock();
        saldosAntes = Saldos(QDate(2023, 12, 31));
    }
    QString Stock() {
        return Valor(
                   "SELECT group_concat(IdMovimiento || '|' || COALESCE(TC,'') || '|' || "
                   "COALESCE(IDCOMPROBANTE,'') || '|' "
                   "|| FECHA || '|' || CANTIDAD, ';') FROM (SELECT * FROM V_MV_STOCK ORDER BY IdMovimiento)")
            .toString();
    }
    // Runs f before every statement the session runs from now on (after the recording hook).
    void AntesDeCada(std::function<void(const QString&)> f) {
        auto previo = gSesion().AntesDeEjecutar;
        gSesion().AntesDeEjecutar = [previo, f](const QString& sql) {
            if (previo) previo(sql);
            f(sql);
        };
    }
    // Short lock waits for this test: every statement waits up to the command time-out.
    static void EsperaCorta() { gSesion().setCommandTimeout(1); }

    // Whatever happened: the stock at every later day is the same, and the stock purge is
    // all or nothing.
    void StockSano() {
        gSesion().AntesDeEjecutar = nullptr;
        gSesion().Desconectar(); // as the end of the process does
        EXPECT_EQ(Saldos(QDate(2023, 12, 31)), saldosAntes);
        EXPECT_EQ(Saldos(QDate(2022, 12, 31)), Saldos(QDate(2022, 12, 31)));
        const qint64 si = Contar("V_MV_STOCK WHERE ControladoPor = 'Depuracion'");
        EXPECT_TRUE(si == 0 || si == kGrupos) << si;
        if (si == 0) {
            EXPECT_EQ(Stock(), stockAntes);
        }
        const qint64 asientos = Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022");
        EXPECT_TRUE(asientos == 0 || asientos == 3) << asientos;
    }
    void PeriodoRepuesto() {
        EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
        EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
    }
    bool Completa() { return !Guion().Avisos().empty() && Textos::EsExito(UltimoAviso().texto); }
    QStringList Errores() const {
        QStringList r;
        for (const auto& a : Guion().Avisos())
            if (a.tipo == "error" || a.estilo == 18) r << a.texto;
        return r;
    }

    OperadorQueLibera* operador_ = nullptr;
    QString stockAntes;
    QList<demodb::SaldoStock> saldosAntes;
};
} // namespace

// ---- Locked database ---------------------------------------------------------------------

TEST_F(FallosDeBase, BloqueadaAlConectarTerminaConCuatro) {
    OtroProceso otro(base);
    otro.Tomar("EXCLUSIVE");
    EstablecerLineaComandos(LineaDeSuite(base));
    frm = std::make_unique<FrmCrb>();
    QElapsedTimer reloj;
    reloj.start();
    frm->Form_Load();
    EXPECT_LT(reloj.elapsed(), 15000);
    EXPECT_EQ(Guion().CodigoFin(), std::optional<int>(4));
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_TRUE(UltimoAviso().texto.startsWith("No se pudo conectar con la base de datos"))
        << UltimoAviso().texto.toStdString();
    EXPECT_TRUE(UltimoAviso().texto.contains("locked")) << UltimoAviso().texto.toStdString();
    otro.Soltar();
    EXPECT_EQ(Stock(), stockAntes);
}

TEST_F(FallosDeBase, BloqueadaAlListarLosEjerciciosReintentar) {
    OtroProceso otro(base);
    EstablecerLineaComandos(LineaDeSuite(base));
    bool tomado = false;
    // The start-up sets its own time-out once connected: the short one goes in after it.
    gSesion().AntesDeEjecutar = [&](const QString& sql) {
        if (sql.contains("FROM MV_EJERCICIOS WHERE (CIERRE") && !tomado) {
            EsperaCorta();
            tomado = true;
            otro.Tomar("EXCLUSIVE");
        }
    };
    operador_->alPrimerError = [&] { otro.Soltar(); };
    Guion().Responder(Respuesta::Reintentar);
    frm = std::make_unique<FrmCrb>();
    frm->Form_Load();
    ASSERT_FALSE(Guion().Terminado());
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(Guion().Avisos()[0].tipo, "error");
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "Form_Load");
    EXPECT_TRUE(Guion().Avisos()[0].texto.contains("locked")) << Guion().Avisos()[0].texto.toStdString();
    EXPECT_EQ(frm->txtfields->count(), 3) << "the list is there after Retry";
}

// ---- Disk full (SQLite's page limit on the session's connection) ---------------------------

TEST_F(FallosDeBase, DiscoLlenoEnLaDepuracionDeStock) {
    PorCaso(std::vector<Respuesta>{Respuesta::Anular, Respuesta::Omitir, Respuesta::Reintentar},
            [&](Respuesta respuesta) {
                Abrir();
                bool lleno = false;
                AntesDeCada([&](const QString& sql) {
                    if (lleno || !sql.startsWith("INSERT INTO V_MV_STOCK")) return;
                    lleno = true;
                    QSqlQuery q(gSesion().Base());
                    ASSERT_TRUE(q.exec("PRAGMA page_count") && q.next());
                    const int paginas = q.value(0).toInt();
                    q.finish();
                    QSqlQuery(gSesion().Base()).exec(QString("PRAGMA max_page_count = %1").arg(paginas));
                });
                // With Retry the operator makes room first: too late, SQLite ended the transaction
                // when the disk filled up, so the stock purge ends all the same, with nothing of it kept.
                if (respuesta == Respuesta::Reintentar)
                    operador_->alPrimerError = [] {
                        QSqlQuery(gSesion().Base()).exec("PRAGMA max_page_count = 1073741823");
                    };
                Guion().Responder(Respuesta::Si);
                Guion().Responder(respuesta);
                for (int i = 0; i < kGrupos; ++i)
                    Guion().Responder(Respuesta::Omitir);
                Depurar("2022");
                ASSERT_FALSE(Errores().isEmpty());
                EXPECT_TRUE(Errores()[0].contains("full")) << Errores()[0].toStdString();
                EXPECT_TRUE(UltimoAviso().texto.startsWith(
                    "Se depuraron los asientos del ejercicio, pero NO los movimientos de stock."))
                    << UltimoAviso().texto.toStdString();
                EXPECT_TRUE(UltimoAviso().texto.contains("database or disk is full"));
                StockSano();
                EXPECT_EQ(Stock(), stockAntes);
                EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
                PeriodoRepuesto();
            });
}

// ---- The connection lost for good from one statement on -----------------------------------

namespace {
struct Punto {
    QString contiene;
    int ocurrencia;
};
void PrintTo(const Punto& p, std::ostream* os) {
    *os << p.contiene.toStdString() << " #" << p.ocurrencia;
}
} // namespace

TEST_F(FallosDeBase, ConexionPerdidaDesdeUnaSentencia) {
    const std::vector<Punto> puntos = {{"SELECT valor FROM TA_CONFIGURACION", 1},
                                       {"UPDATE TA_CONFIGURACION", 2},
                                       {"DELETE FROM MV_ASIENTOS", 1},
                                       {"BEGIN IMMEDIATE TRANSACTION", 1}, // a single-row update's
                                       {"BEGIN IMMEDIATE TRANSACTION", 3}, // the journal's
                                       {"INSERT INTO V_MV_STOCK", 1},
                                       {"INSERT INTO V_MV_STOCK", kGrupos / 2},
                                       {"from v_mv_stock where fecha", 1},
                                       {"COMMIT TRANSACTION", 3},
                                       {"'FECHAULTIMADEPURACION'", 1},
                                       {"UPDATE TA_CONFIGURACION", 4}};
    PorCaso(puntos, [&](const Punto& p) {
        Abrir();
        int vistas = 0;
        bool caida = false;
        AntesDeCada([&](const QString& sql) {
            if (!caida && sql.contains(p.contiene, Qt::CaseInsensitive) && ++vistas == p.ocurrencia)
                caida = true;
            if (caida)
                throw ErrorSistema(Errores::TransaccionPerdida,
                                   "Se perdió la conexión con el servidor de base de datos.");
        });
        Guion().Responder(Respuesta::Si);
        for (int i = 0; i < 10; ++i)
            Guion().Responder(Respuesta::Reintentar); // retried in vain, then Abort
        Depurar("2022");
        EXPECT_TRUE(caida);
        EXPECT_TRUE(Guion().Terminado());
        EXPECT_FALSE(Completa());
        ASSERT_FALSE(Errores().isEmpty());
        // At the commit the session says what it knows: the transaction is gone.
        EXPECT_TRUE(Errores()[0].contains(p.contiene == "COMMIT TRANSACTION"
                                              ? "No se pudo confirmar la transacción"
                                              : "Se perdió la conexión"))
            << Errores().join("\n").toStdString();
        EXPECT_NE(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);
        StockSano();
    });
}

// ---- A read-only database file --------------------------------------------------------------

TEST(BaseDeSoloLectura, NoEscribeNadaYLoDice) {
    // Root writes through file permissions: the program then runs as "nobody".
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ruta = dir.filePath("conta.db");
    ASSERT_TRUE(CrearDemo(ruta, {.asientos = 100, .movimientos = 400}));
    const QString linea = "@DbName=" + ruta + ";";
    auto correr = [&](const QStringList& args, bool comoNadie) {
        return CorrerPrograma(CRIBANZAS_BIN, args, EntornoSinPantalla(), 120000, [&](QProcess& p) {
            if (comoNadie)
                p.setChildProcessModifier([] {
                    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
                });
        });
    };
    // Once as ourselves, so that the masks file of the program's folder exists.
    ASSERT_EQ(correr({"--desatendido", "--ejercicio", "2022", "--simular", linea}, false).estado, 0);
    QString error;
    const QByteArray antes = demodb::Huella(ruta, &error);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                          QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    QFile::setPermissions(ruta, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const bool root = geteuid() == 0;
    if (root) {
        // "nobody" must be able to reach the program through every folder above it.
        for (QFileInfo i(QStringLiteral(CRIBANZAS_BIN)); !i.isRoot(); i = QFileInfo(i.absolutePath()))
            if (!(i.permissions() & QFile::ExeOther)) {
                QFile::setPermissions(ruta, QFile::ReadOwner | QFile::WriteOwner);
                GTEST_SKIP() << "the program is not reachable by nobody: " << i.filePath().toStdString();
            }
    }

    const auto simulacion = correr({"--desatendido", "--ejercicio", "2022", "--simular", linea}, root);
    ASSERT_NE(simulacion.estado, 99) << "could not become nobody";
    EXPECT_EQ(simulacion.estado, Salida::Depurado)
        << "a dry run only reads: " << simulacion.errores.toStdString();
    const auto purga = correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea}, root);
    EXPECT_EQ(purga.estado, Salida::Incompleto) << purga.errores.toStdString();
    // The folder is read-only too: the purge stops at its lock file, before reading anything.
    EXPECT_TRUE(purga.errores.contains("archivo de bloqueo de la depuración " + ruta + ".lock") &&
                purga.errores.contains("No se modificó nada."))
        << purga.errores.toStdString();
    EXPECT_FALSE(purga.errores.contains("El proceso finalizó con éxito"));
    QFile::setPermissions(ruta, QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(demodb::Huella(ruta, &error), antes) << "nothing written";
}
