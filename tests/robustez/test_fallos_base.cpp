// Database faults outside the purge's own steps: a database another process has locked, a
// read-only file. Each gets a clear message, Retry works once the cause is gone, and nothing is
// written. (A full disk during the purge is a row of the purge's failure table.)
#include "apoyo/purga.h"
#include "app/desatendido.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace {
class FallosDeBase : public PruebaPurga {
protected:
    void SetUp() override {
        PruebaPurga::SetUp();
        auto op = std::make_unique<OperadorQueLibera>();
        operador_ = op.get();
        guion_ = op.get();
        InstalarOperador(std::move(op));
    }
    QByteArray Huella() {
        QString error;
        return demodb::Huella(base, &error);
    }
    OperadorQueLibera* operador_ = nullptr;
};
} // namespace

// ---- Locked database ---------------------------------------------------------------------

TEST_F(FallosDeBase, BloqueadaAlConectarTerminaConCuatro) {
    const QByteArray antes = Huella();
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
    EXPECT_EQ(Huella(), antes);
}

TEST_F(FallosDeBase, BloqueadaAlListarLosEjerciciosReintentar) {
    OtroProceso otro(base);
    EstablecerLineaComandos(LineaDeSuite(base));
    bool tomado = false;
    // The start-up sets its own time-out once connected: the short one goes in after it.
    gSesion().AntesDeEjecutar = [&](const QString& sql) {
        if (sql.contains("FROM MV_EJERCICIOS WHERE (CIERRE") && !tomado) {
            gSesion().setCommandTimeout(1); // a short wait for the lock
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
