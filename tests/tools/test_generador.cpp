#include "apoyo/sql_directo.h"
#include "demodb.h"

#include <QTemporaryDir>

namespace {

class Generador : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString crear(const demodb::OpcionesDemo& opciones, const QString& nombre = QStringLiteral("demo.db"),
                  demodb::ResumenDemo* resumen = nullptr) {
        const QString ruta = dir.filePath(nombre);
        QString error;
        EXPECT_TRUE(demodb::CrearBaseDemo(ruta, opciones, &error, resumen)) << error;
        return ruta;
    }
    QByteArray huella(const QString& ruta) {
        QString error;
        const QByteArray h = demodb::Huella(ruta, &error);
        EXPECT_FALSE(h.isEmpty()) << error;
        return h;
    }
    QTemporaryDir dir;
};

TEST_F(Generador, SameSeedSameFileOtherSeedOtherFile) {
    demodb::OpcionesDemo opciones;
    opciones.movimientos = 3000;
    opciones.asientos = 500;
    opciones.filasConsulta = 50;
    const QByteArray primera = huella(crear(opciones, QStringLiteral("a.db")));
    EXPECT_EQ(huella(crear(opciones, QStringLiteral("b.db"))), primera);
    opciones.semilla = 2;
    EXPECT_NE(huella(crear(opciones, QStringLiteral("c.db"))), primera);
}

TEST_F(Generador, TablesDoNotDependOnTheSizesOfOthers) {
    demodb::OpcionesDemo opciones;
    opciones.filasConsulta = 30;
    opciones.movimientos = 100;
    ConexionDirecta chica(crear(opciones, QStringLiteral("chica.db")));
    opciones.movimientos = 4000;
    opciones.asientos = 10;
    ConexionDirecta grande(crear(opciones, QStringLiteral("grande.db")));
    const QString articulos =
        QStringLiteral("SELECT group_concat(IDARTICULO || DESCRIPCION || SUSPENDIDO, '|') "
                       "FROM V_MA_ARTICULOS");
    EXPECT_EQ(chica.valor(articulos), grande.valor(articulos));
    const QString clientes =
        QStringLiteral("SELECT group_concat(RAZON_SOCIAL || DOMICILIO, '|') FROM VT_CLIENTES");
    EXPECT_EQ(chica.valor(clientes), grande.valor(clientes));
}

TEST_F(Generador, CountsFollowTheOptions) {
    demodb::OpcionesDemo opciones;
    opciones.asientos = 777;
    opciones.movimientos = 1234;
    opciones.gruposObjetivo = 100;
    opciones.filasConsulta = 40;
    demodb::ResumenDemo resumen;
    ConexionDirecta base(crear(opciones, QStringLiteral("demo.db"), &resumen));
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM MV_ASIENTOS")), 777);
    EXPECT_EQ(
        base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE ControladoPor <> 'Depuracion'")),
        1234);
    // The earlier opening balance: one row for each of 20 articles that hold stock.
    EXPECT_EQ(resumen.gruposSaldoPrevio, 20);
    EXPECT_EQ(
        base.numero(QStringLiteral("SELECT COUNT(DISTINCT IDARTICULO) FROM V_MV_STOCK WHERE TC = 'SI' AND "
                                   "IDARTICULO IN (SELECT IDARTICULO FROM V_MV_STOCK WHERE TC <> 'SI')")),
        20);
    for (const QString tabla : {"V_MA_ARTICULOS", "VT_CLIENTES", "VT_PROVEEDORES", "MA_CONTACTOS"})
        EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM ") + tabla), 40) << tabla;
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM MV_EJERCICIOS")), 6); // 2020..2025
    EXPECT_EQ(resumen.grupos, 100);
    qint64 total = 0;
    for (const auto& [tabla, n] : resumen.filasPorTabla)
        if (tabla == QLatin1String("V_MV_STOCK")) total = n;
    EXPECT_EQ(total, base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK")));
}

TEST_F(Generador, FiscalYearsCoverEveryClosingCase) {
    ConexionDirecta base(crear({}));
    auto anio = [&](const QString& condicion) {
        return base
            .valor(QStringLiteral("SELECT group_concat(PERIODO) FROM MV_EJERCICIOS WHERE ") + condicion)
            .toString();
    };
    EXPECT_EQ(anio(QStringLiteral("Cerrado = 1")), QStringLiteral("2020,2021,2022"));
    EXPECT_EQ(anio(QStringLiteral("Cerrado IS NULL AND CIERRE = 1")), QStringLiteral("2023"));
    EXPECT_EQ(anio(QStringLiteral("Cerrado = 0 AND CIERRE = 1")), QStringLiteral("2024"));
    EXPECT_EQ(anio(QStringLiteral("Cerrado = 0 AND CIERRE = 0")), QStringLiteral("2025"));
    EXPECT_EQ(anio(QStringLiteral(
                  "\"Fecha Desde\" <> PERIODO || '-01-01' OR \"Fecha Hasta\" <> PERIODO || '-12-31'")),
              QString());
    // The year of the earlier purge has no journal left; every other year has some, and a few
    // rows keep a blank after the year.
    EXPECT_EQ(
        base.valor(QStringLiteral("SELECT group_concat(p) FROM (SELECT DISTINCT CAST(PERIODO AS INTEGER) p "
                                  "FROM MV_ASIENTOS ORDER BY p)"))
            .toString(),
        QStringLiteral("2021,2022,2023,2024,2025"));
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(*) FROM MV_ASIENTOS WHERE PERIODO LIKE '% '")), 0);
    // Every journal entry balances.
    EXPECT_EQ(base.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM (SELECT 1 FROM MV_ASIENTOS GROUP BY "
                  "CAST(PERIODO AS INTEGER), NROASIENTO HAVING ROUND(SUM(DEBE) - SUM(HABER), 2) "
                  "<> 0)")),
              0);
}

TEST_F(Generador, ConfigurationAndVoucherTypes) {
    ConexionDirecta base(crear({}));
    for (const QString clave :
         {"fechaoperdesde", "fechaoperhasta", "FECHAULTIMADEPURACION", "MostrarStockenConsultas",
          "TituloClientes", "TituloProveedores", "EXIGECLAVECONSULTALIKEARTICULOS", "UsaConsultaLike",
          "CantidadDecimales", "UsaMultilesMonedas", "CFondo", "CLetra", "ModuloOrdenDeTrabajo"})
        EXPECT_EQ(base.numero(
                      QStringLiteral("SELECT COUNT(*) FROM TA_CONFIGURACION WHERE CLAVE = '%1'").arg(clave)),
                  1)
            << clave;
    EXPECT_EQ(base.valor(
                  QStringLiteral("SELECT Grupo FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")),
              QStringLiteral("DATOS"));
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_TA_CPTE WHERE Codigo = 'SI'")), 1);
    EXPECT_EQ(base.valor(QStringLiteral("SELECT DISTINCT IDCOMPROBANTE FROM V_MV_STOCK WHERE TC = 'SI'")),
              QStringLiteral("000100000001X"));
    // Every type a movement uses is listed.
    EXPECT_EQ(base.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM V_MV_STOCK WHERE TC NOT IN (SELECT Codigo FROM V_TA_CPTE)")),
              0);

    demodb::OpcionesDemo opciones;
    opciones.conTipoSI = false;
    opciones.conSaldoInicialPrevio = false;
    ConexionDirecta sin(crear(opciones, QStringLiteral("sin.db")));
    EXPECT_EQ(sin.numero(QStringLiteral("SELECT COUNT(*) FROM V_TA_CPTE WHERE Codigo = 'SI'")), 0);
    EXPECT_EQ(sin.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI'")), 0);
    EXPECT_EQ(sin.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")),
              0);
    EXPECT_EQ(sin.valor(QStringLiteral("SELECT MIN(PERIODO) FROM MV_EJERCICIOS")).toInt(), 2021);
}

TEST_F(Generador, StockHasTheAwkwardCases) {
    demodb::OpcionesDemo opciones;
    opciones.movimientos = 400; // small: the forced cases must be there anyway
    opciones.gruposObjetivo = 60;
    opciones.filasConsulta = 20;
    ConexionDirecta base(crear(opciones));
    auto cuantos = [&](const QString& condicion) {
        return base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE ") + condicion);
    };
    for (int anio = 2021; anio <= 2025; ++anio)
        EXPECT_GT(cuantos(QStringLiteral("FECHA LIKE '%1-12-31 __:__:__'").arg(anio)), 0) << anio;
    EXPECT_GT(cuantos(QStringLiteral("Anulado = 1")), 0);
    EXPECT_GT(cuantos(QStringLiteral("Anulado IS NULL")), 0);
    EXPECT_GT(cuantos(QStringLiteral("FECHA > '2025-01-01'")), 0);
    EXPECT_GT(cuantos(QStringLiteral("NroLote IS NOT NULL")), 0);
    EXPECT_GT(cuantos(QStringLiteral("NroSerie IS NOT NULL")), 0);
    EXPECT_GT(cuantos(QStringLiteral("IdPosicion IS NOT NULL")), 0);
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(DISTINCT IdDeposito) FROM V_MV_STOCK")), 1);
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(DISTINCT IDUNIDAD) FROM V_MV_STOCK")), 1);
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(DISTINCT TC) FROM V_MV_STOCK")), 4);
    // Only the canonical text forms of a date.
    EXPECT_EQ(cuantos(QStringLiteral(
                  "NOT (FECHA GLOB '[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]' OR FECHA GLOB "
                  "'[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]')")),
              0);
    EXPECT_EQ(cuantos(QStringLiteral("length(IDCOMPROBANTE) <> 13")), 0);
    // A voucher keeps one type, date and state on all its lines, numbered from 1.
    EXPECT_EQ(base.numero(QStringLiteral(
                  "SELECT COUNT(*) FROM (SELECT 1 FROM V_MV_STOCK GROUP BY TC, IDCOMPROBANTE "
                  "HAVING COUNT(DISTINCT FECHA) > 1 OR MIN(SECUENCIA) <> 1 "
                  "OR MAX(SECUENCIA) <> COUNT(*) OR COUNT(DISTINCT IFNULL(Anulado, -1)) > 1)")),
              0);
    // Quantities are multiples of 1/8, so sums compare exactly.
    EXPECT_EQ(cuantos(QStringLiteral("CANTIDAD * 8 <> CAST(CANTIDAD * 8 AS INTEGER) OR "
                                     "CantidadUD * 8 <> CAST(CantidadUD * 8 AS INTEGER)")),
              0);
    // Texts the purge's statements must quote.
    EXPECT_GT(cuantos(QStringLiteral("DESCRIPCION LIKE '%''%' OR DESCRIPCION LIKE '%\"%'")), 0);
}

TEST_F(Generador, LookupTablesSpeakSpanish) {
    ConexionDirecta base(crear({}));
    EXPECT_GT(
        base.numero(QStringLiteral("SELECT COUNT(*) FROM VT_CLIENTES WHERE RAZON_SOCIAL LIKE '%ñ%' OR "
                                   "RAZON_SOCIAL LIKE '%á%' OR RAZON_SOCIAL LIKE '%é%' OR RAZON_SOCIAL LIKE "
                                   "'%í%' OR RAZON_SOCIAL LIKE '%ó%' OR RAZON_SOCIAL LIKE '%ú%'")),
        0);
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(*) FROM MA_CONTACTOS WHERE Domicilio LIKE '%''%'")),
              0);
    for (const QString tabla : {"VT_CLIENTES", "VT_PROVEEDORES"}) {
        EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE Dada_De_Baja = 1").arg(tabla)), 0)
            << tabla;
        EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE Dada_De_Baja = 0").arg(tabla)), 0)
            << tabla;
    }
    EXPECT_GT(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MA_ARTICULOS WHERE SUSPENDIDO = 1")), 0);
    // Lengths stay within the declared sizes.
    EXPECT_EQ(
        base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MA_ARTICULOS WHERE length(DESCRIPCION) > 60 OR "
                                   "length(IDARTICULO) > 20")),
        0);
    EXPECT_EQ(base.numero(
                  QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE length(DESCRIPCION) > 60 OR "
                                 "length(NroSerie) > 30 OR length(NroLote) > 30 OR length(IdPosicion) > 10")),
              0);
}

TEST_F(Generador, GroupCountIsTheTarget) {
    struct Caso {
        int movimientos, grupos, articulos, esperados;
        bool saldoPrevio;
    };
    // Plenty of articles; a few articles that must take the groups as lots; more groups than
    // movements; the default of one group per ten movements; an earlier opening balance adding
    // one per cent.
    for (const Caso& c :
         {Caso{20000, 2000, 300, 2000, false}, Caso{3000, 700, 3, 700, false}, Caso{50, 500, 10, 50, false},
          Caso{5000, 0, 200, 500, false}, Caso{30000, 3000, 3000, 3030, true}}) {
        demodb::OpcionesDemo opciones;
        opciones.movimientos = c.movimientos;
        opciones.gruposObjetivo = c.grupos;
        opciones.filasConsulta = c.articulos;
        opciones.conSaldoInicialPrevio = c.saldoPrevio;
        demodb::ResumenDemo resumen;
        const QString ruta = crear(opciones, QStringLiteral("g%1.db").arg(c.grupos), &resumen);
        EXPECT_EQ(resumen.grupos + resumen.gruposSaldoPrevio, c.esperados);
        // Every group already has a valid movement at the end of the first year.
        QList<demodb::SaldoStock> saldos;
        QString error;
        demodb::OpcionesSaldo hasta;
        hasta.hasta = QDate(2021, 12, 31);
        ASSERT_TRUE(demodb::SaldosStock(ruta, hasta, &saldos, &error)) << error;
        EXPECT_EQ(saldos.size(), c.esperados) << c.movimientos << " movimientos, " << c.grupos << " grupos";
        ASSERT_TRUE(demodb::SaldosStock(ruta, {}, &saldos, &error)) << error;
        EXPECT_EQ(saldos.size(), c.esperados);
    }
}

TEST_F(Generador, RefusesBadOptions) {
    QString error;
    demodb::OpcionesDemo opciones;
    opciones.movimientos = -1;
    EXPECT_FALSE(demodb::CrearBaseDemo(dir.filePath(QStringLiteral("x.db")), opciones, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("movimientos"))) << error;
    opciones = {};
    opciones.primerEjercicio = 2026;
    EXPECT_FALSE(demodb::CrearBaseDemo(dir.filePath(QStringLiteral("x.db")), opciones, &error));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("x.db"))));
}

TEST_F(Generador, LookupBenchmarkTable) {
    const QString ruta = crear({});
    QString error;
    ASSERT_TRUE(demodb::CrearTablaConsulta(ruta, QStringLiteral("BENCH_CONSULTA"), 5000, 7, &error)) << error;
    ConexionDirecta base(ruta);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(DISTINCT CODIGO) FROM BENCH_CONSULTA")), 5000);
    EXPECT_LT(base.numero(QStringLiteral("SELECT COUNT(DISTINCT RUBRO) FROM BENCH_CONSULTA")), 50);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('BENCH_CONSULTA')")), 4);
    const QVariant primera =
        base.valor(QStringLiteral("SELECT group_concat(DESCRIPCION) FROM BENCH_CONSULTA"));
    // Replaced in place, the rest of the file untouched.
    const qint64 stock = base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK"));
    ASSERT_TRUE(demodb::CrearTablaConsulta(ruta, QStringLiteral("BENCH_CONSULTA"), 5000, 7, &error)) << error;
    EXPECT_EQ(base.valor(QStringLiteral("SELECT group_concat(DESCRIPCION) FROM BENCH_CONSULTA")), primera);
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK")), stock);
    ASSERT_TRUE(demodb::CrearTablaConsulta(ruta, QStringLiteral("BENCH_CONSULTA"), 10, 8, &error)) << error;
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM BENCH_CONSULTA")), 10);

    EXPECT_FALSE(demodb::CrearTablaConsulta(ruta, QStringLiteral("X; DROP TABLE V_MV_STOCK"), 1, 1, &error));
    EXPECT_EQ(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK")), stock);
}

} // namespace
