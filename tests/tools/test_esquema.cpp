#include "apoyo/sql_directo.h"
#include "demodb.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

namespace {

// Declared type of every column of a table, by name.
QMap<QString, QString> Tipos(const ConexionDirecta& base, const QString& tabla) {
    QMap<QString, QString> tipos;
    QSqlQuery q(base.db());
    EXPECT_TRUE(q.exec(QStringLiteral("SELECT name, type FROM pragma_table_info('%1')").arg(tabla)));
    while (q.next())
        tipos.insert(q.value(0).toString(), q.value(1).toString());
    return tipos;
}

class Esquema : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ruta = dir.filePath(QStringLiteral("vacia.db"));
        QString error;
        ASSERT_TRUE(demodb::CrearEsquemaVacio(ruta, &error)) << error;
    }
    QTemporaryDir dir;
    QString ruta;
};

TEST_F(Esquema, DeclaredTypesCarryDatesAndSizes) {
    ConexionDirecta base(ruta);
    const auto ejercicios = Tipos(base, QStringLiteral("MV_EJERCICIOS"));
    EXPECT_EQ(ejercicios.value(QStringLiteral("Fecha Desde")), QStringLiteral("DATE"));
    EXPECT_EQ(ejercicios.value(QStringLiteral("Fecha Hasta")), QStringLiteral("DATE"));
    EXPECT_EQ(ejercicios.value(QStringLiteral("descripcion")), QStringLiteral("varchar(50)"));
    const auto stock = Tipos(base, QStringLiteral("V_MV_STOCK"));
    EXPECT_EQ(stock.value(QStringLiteral("FECHA")), QStringLiteral("DATETIME"));
    EXPECT_EQ(stock.value(QStringLiteral("IDCOMPROBANTE")), QStringLiteral("varchar(13)"));
    EXPECT_EQ(stock.value(QStringLiteral("CANTIDAD")), QStringLiteral("numeric(18,4)"));
    EXPECT_EQ(stock.value(QStringLiteral("DESCRIPCION")), QStringLiteral("varchar(60)"));
    EXPECT_EQ(stock.size(), 16);
    EXPECT_EQ(Tipos(base, QStringLiteral("MV_ASIENTOS")).value(QStringLiteral("PERIODO")),
              QStringLiteral("varchar(10)"));
    const auto config = Tipos(base, QStringLiteral("TA_CONFIGURACION"));
    EXPECT_EQ(config.keys(), (QStringList{"CLAVE", "Grupo", "VALOR"}));
    EXPECT_EQ(config.value(QStringLiteral("VALOR")), QStringLiteral("varchar(255)"));
    EXPECT_EQ(base.numero(
                  QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('TA_CONFIGURACION') WHERE pk > 0")),
              0);
    for (const QString tabla : {"V_MA_ARTICULOS", "VT_CLIENTES", "VT_PROVEEDORES", "MA_CONTACTOS"})
        EXPECT_FALSE(Tipos(base, tabla).isEmpty()) << tabla;
}

TEST_F(Esquema, KeysCompareIgnoringCaseAndAnuladoDefaultsToZero) {
    ConexionDirecta base(ruta);
    base.ejecutar(QStringLiteral(
        "INSERT INTO TA_CONFIGURACION (Grupo, CLAVE, VALOR) VALUES ('DATOS', 'FechaOperDesde', 'x')"));
    base.ejecutar(QStringLiteral(
        "INSERT INTO TA_CONFIGURACION (Grupo, CLAVE, VALOR) VALUES ('DATOS', 'FechaOperDesde', 'y')"));
    EXPECT_EQ(
        base.numero(QStringLiteral("SELECT COUNT(*) FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'")),
        2);
    // Values are not keys: they keep their case.
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM TA_CONFIGURACION WHERE VALOR = 'X'")), 0);

    base.ejecutar(
        QStringLiteral("INSERT INTO V_TA_CPTE (Codigo, Descripcion) VALUES ('SI', 'Saldo Inicial')"));
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_TA_CPTE WHERE Codigo = 'si'")), 1);

    base.ejecutar(
        QStringLiteral("INSERT INTO V_MV_STOCK (TC, IDARTICULO, CANTIDAD) VALUES ('SI', 'abc-1', 5)"));
    EXPECT_EQ(base.numero(QStringLiteral("SELECT Anulado FROM V_MV_STOCK WHERE IDARTICULO = 'ABC-1'")), 0);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT IdMovimiento FROM V_MV_STOCK")), 1);
}

TEST_F(Esquema, EmptySchemaHasNoRowsAndEveryStatementIsListed) {
    QList<QPair<QString, qint64>> filas;
    QString error;
    ASSERT_TRUE(demodb::ContarFilas(ruta, &filas, &error)) << error;
    EXPECT_EQ(filas.size(), demodb::SentenciasTablas().size());
    for (const auto& [tabla, n] : filas)
        EXPECT_EQ(n, 0) << tabla;

    ConexionDirecta base(ruta);
    // Every table there is counted, and nothing else was made.
    EXPECT_EQ(base.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'")),
              filas.size());
    EXPECT_EQ(base.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'IX_%'")),
              demodb::SentenciasIndices().size());
}

TEST(EsquemaEnMemoria, CreatesOnAnOpenConnection) {
    ConexionDirecta base(QStringLiteral(":memory:"));
    QString error;
    ASSERT_TRUE(demodb::CrearEsquema(base.db(), &error)) << error;
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'V_MV_STOCK'")), 1);
    // A second time fails with the reason instead of half-creating anything silently.
    EXPECT_FALSE(demodb::CrearEsquema(base.db(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("already exists"))) << error;
}

TEST(Reemplazo, OnlySqliteFilesOrEmptyOnesAreReplaced) {
    QTemporaryDir dir;
    QString error;
    const QString texto = dir.filePath(QStringLiteral("notas.db"));
    {
        QFile f(texto);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("no es una base\n");
    }
    EXPECT_FALSE(demodb::CrearEsquemaVacio(texto, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no es una base de datos SQLite"))) << error;
    {
        QFile f(texto);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("no es una base\n"));
    }
    demodb::OpcionesDemo opciones;
    opciones.movimientos = 10;
    EXPECT_FALSE(demodb::CrearBaseDemo(texto, opciones, &error));
    EXPECT_FALSE(demodb::CrearTablaConsulta(texto, QStringLiteral("T"), 5, 1, &error));

    EXPECT_FALSE(demodb::CrearEsquemaVacio(dir.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("carpeta"))) << error;

    const QString vacio = dir.filePath(QStringLiteral("vacio.db"));
    {
        QFile f(vacio);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(demodb::CrearEsquemaVacio(vacio, &error)) << error;
    // A SQLite file is replaced, not added to.
    EXPECT_TRUE(demodb::CrearBaseDemo(vacio, opciones, &error)) << error;
    EXPECT_TRUE(demodb::CrearEsquemaVacio(vacio, &error)) << error;
    {
        ConexionDirecta base(vacio);
        EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK")), 0);
    }
    // Built beside the target and moved in: nothing else is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), (QStringList{"notas.db", "vacio.db"}));

    EXPECT_FALSE(demodb::CrearEsquemaVacio(dir.filePath(QStringLiteral("falta/x.db")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("falta"))) << error;
}

TEST(Conexiones, EveryFunctionRemovesItsOwn) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("demo.db"));
    const QStringList antes = QSqlDatabase::connectionNames();
    QString error;
    demodb::OpcionesDemo opciones;
    opciones.movimientos = 50;
    demodb::ResumenDemo resumen;
    ASSERT_TRUE(demodb::CrearBaseDemo(ruta, opciones, &error, &resumen)) << error;
    QList<demodb::SaldoStock> saldos;
    ASSERT_TRUE(demodb::SaldosStock(ruta, {}, &saldos, &error)) << error;
    ASSERT_FALSE(demodb::Huella(ruta, &error).isEmpty()) << error;
    ASSERT_TRUE(demodb::CrearTablaConsulta(ruta, QStringLiteral("T"), 3, 1, &error)) << error;
    EXPECT_FALSE(demodb::SaldosStock(dir.filePath(QStringLiteral("falta.db")), {}, &saldos, &error));
    EXPECT_EQ(QSqlDatabase::connectionNames(), antes);
}

} // namespace
