#include "apoyo/sql_directo.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct Salida {
    int codigo = -1;
    QString salida;
    QString errores;
};

Salida Correr(const QStringList& argumentos) {
    QProcess p;
    p.start(QStringLiteral(GENERAR_DEMO), argumentos);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(GenerarDemo, UsageErrorsExit64WithTheUsage) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("x.db"));
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("--movimientos"), QStringLiteral("mil"), ruta},
          QStringList{QStringLiteral("--movimientos"), QStringLiteral("-5"), ruta},
          QStringList{QStringLiteral("--grupos"), QStringLiteral("99999999999"), ruta},
          QStringList{QStringLiteral("--semilla"), QStringLiteral("x"), ruta},
          QStringList{QStringLiteral("--otra"), ruta}, QStringList{ruta, ruta},
          QStringList{QStringLiteral("--tabla-consulta"), QStringLiteral("T"), ruta},
          QStringList{QStringLiteral("--movimientos")}}) {
        const Salida s = Correr(args);
        EXPECT_EQ(s.codigo, 64) << args.join(u' ');
        EXPECT_TRUE(s.errores.contains(QStringLiteral("Uso: generar_demo"))) << s.errores;
        EXPECT_FALSE(QFile::exists(ruta));
    }
    const Salida ayuda = Correr({QStringLiteral("--help")});
    EXPECT_EQ(ayuda.codigo, 0);
    EXPECT_TRUE(ayuda.salida.contains(QStringLiteral("--filas-consulta"))) << ayuda.salida;
}

TEST(GenerarDemo, WritesTheFileAndItsSummary) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("demo.db"));
    const Salida s =
        Correr({QStringLiteral("--semilla"), QStringLiteral("5"), QStringLiteral("--movimientos"),
                QStringLiteral("300"), QStringLiteral("--asientos"), QStringLiteral("40"),
                QStringLiteral("--filas-consulta"), QStringLiteral("12"), QStringLiteral("--grupos"),
                QStringLiteral("30"), QStringLiteral("--sin-saldo-previo"),
                QStringLiteral("--tabla-consulta"), QStringLiteral("BENCH_CONSULTA:25"), ruta});
    ASSERT_EQ(s.codigo, 0) << s.errores;
    EXPECT_TRUE(s.salida.contains(QRegularExpression(QStringLiteral("V_MV_STOCK +300\n")))) << s.salida;
    EXPECT_TRUE(s.salida.contains(QRegularExpression(QStringLiteral("BENCH_CONSULTA +25\n")))) << s.salida;
    EXPECT_TRUE(s.salida.contains(QStringLiteral("Grupos de saldo de stock: 30"))) << s.salida;
    ConexionDirecta base(ruta);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM MV_ASIENTOS")), 40);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM VT_CLIENTES")), 12);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI'")), 0);
}

TEST(GenerarDemo, LeavesOtherFilesAlone) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("importante.txt"));
    {
        QFile f(ruta);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("datos\n");
    }
    const Salida s = Correr({ruta});
    EXPECT_EQ(s.codigo, 1);
    EXPECT_TRUE(s.errores.contains(QStringLiteral("no es una base de datos SQLite"))) << s.errores;
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("datos\n"));
}

} // namespace
