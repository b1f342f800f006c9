#include "apoyo/proceso.h"
#include "apoyo/sql_directo.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

Corrida Correr(const QStringList& argumentos) {
    return CorrerPrograma(GENERAR_DEMO, argumentos, EntornoSinPantalla(), 60000);
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
        const Corrida s = Correr(args);
        EXPECT_EQ(s.estado, 64) << args.join(u' ');
        EXPECT_TRUE(s.errores.contains(QStringLiteral("Uso: generar_demo"))) << s.errores;
        EXPECT_FALSE(QFile::exists(ruta));
    }
    const Corrida ayuda = Correr({QStringLiteral("--help")});
    EXPECT_EQ(ayuda.estado, 0);
    EXPECT_TRUE(ayuda.salida.contains(QStringLiteral("--filas-consulta"))) << ayuda.salida;
}

TEST(GenerarDemo, WritesTheFileAndItsSummary) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("demo.db"));
    const Corrida s =
        Correr({QStringLiteral("--semilla"), QStringLiteral("5"), QStringLiteral("--movimientos"),
                QStringLiteral("300"), QStringLiteral("--asientos"), QStringLiteral("40"),
                QStringLiteral("--filas-consulta"), QStringLiteral("12"), QStringLiteral("--grupos"),
                QStringLiteral("30"), QStringLiteral("--sin-saldo-previo"),
                QStringLiteral("--tabla-consulta"), QStringLiteral("BENCH_CONSULTA:25"), ruta});
    ASSERT_EQ(s.estado, 0) << s.errores;
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
    const Corrida s = Correr({ruta});
    EXPECT_EQ(s.estado, 1);
    EXPECT_TRUE(s.errores.contains(QStringLiteral("no es una base de datos SQLite"))) << s.errores;
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("datos\n"));
}

} // namespace
