#include "apoyo/sql_directo.h"
#include "demodb.h"

#include <QMap>
#include <QTemporaryDir>

namespace {

using demodb::Agrupacion;
using demodb::OpcionesSaldo;
using demodb::SaldoStock;

class Saldos : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ruta = dir.filePath(QStringLiteral("saldos.db"));
        QString error;
        ASSERT_TRUE(demodb::CrearEsquemaVacio(ruta, &error)) << error;
        ConexionDirecta base(ruta);
        // IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion, NroSerie, NroLote, DESCRIPCION, CANTIDAD, CantidadUD,
        // FECHA, Anulado
        const char* const filas[] = {
            "'A1', 'UN', 1, NULL, NULL, 'L1', 'Art uno', 10, 1, '2023-05-01', 0",
            // same group: the article code compares without case; on the cut-off day with a time
            "'a1', 'UN', 1, NULL, NULL, 'L1', 'Art uno', 2.5, NULL, '2023-12-31 18:30:00', 0",
            "'A1', 'UN', 1, NULL, NULL, 'L1', 'Art uno', 100, 0, '2023-06-01', 1",
            "'A1', 'UN', 1, NULL, NULL, 'L1', 'Art uno', 1000, 0, '2023-06-02', NULL",
            "'A1', 'UN', 1, NULL, NULL, 'L1', 'Art uno', 7, 0, '2024-01-01', 0",
            // another depot, position and lot of the same article
            "'A1', 'UN', 2, 'P1', NULL, 'L2', 'Art uno', -3, 0, '2023-01-01', 0",
            // a serial whose movements cancel out
            "'B2', 'KG', 1, NULL, 'S1', NULL, 'Art dos', 0.25, 0.125, '2022-12-31', 0",
            "'B2', 'KG', 1, NULL, 'S1', NULL, 'Art dos', -0.25, -0.125, '2023-02-01', 0",
        };
        for (const char* fila : filas)
            base.ejecutar(
                QStringLiteral(
                    "INSERT INTO V_MV_STOCK (IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion, NroSerie, "
                    "NroLote, DESCRIPCION, CANTIDAD, CantidadUD, FECHA, Anulado) VALUES (%1)")
                    .arg(QString::fromUtf8(fila)));
    }

    QList<SaldoStock> saldos(const OpcionesSaldo& opciones) {
        QList<SaldoStock> resultado;
        QString error;
        EXPECT_TRUE(demodb::SaldosStock(ruta, opciones, &resultado, &error)) << error;
        return resultado;
    }
    static OpcionesSaldo hasta(QDate dia, Agrupacion agrupacion = Agrupacion::Completa) {
        OpcionesSaldo o;
        o.hasta = dia;
        o.agrupacion = agrupacion;
        return o;
    }

    QTemporaryDir dir;
    QString ruta;
};

TEST_F(Saldos, PerGroupUpToTheWholeCutOffDay) {
    const auto s = saldos(hasta(QDate(2023, 12, 31)));
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s[0].idArticulo.compare(QStringLiteral("A1"), Qt::CaseInsensitive), 0);
    EXPECT_EQ(s[0].idDeposito, 1);
    EXPECT_EQ(s[0].idPosicion, std::nullopt);
    EXPECT_EQ(s[0].nroLote, QStringLiteral("L1"));
    EXPECT_EQ(s[0].cantidad, 12.5);
    EXPECT_EQ(s[0].cantidadUD, 1.0); // NULL counts as nothing
    EXPECT_EQ(s[0].movimientos, 2);

    EXPECT_EQ(s[1].idDeposito, 2);
    EXPECT_EQ(s[1].idPosicion, QStringLiteral("P1"));
    EXPECT_EQ(s[1].cantidad, -3.0);

    // A zero balance is still a group.
    EXPECT_EQ(s[2].idArticulo, QStringLiteral("B2"));
    EXPECT_EQ(s[2].nroSerie, QStringLiteral("S1"));
    EXPECT_EQ(s[2].nroLote, std::nullopt);
    EXPECT_EQ(s[2].cantidad, 0.0);
    EXPECT_EQ(s[2].movimientos, 2);

    // The day before leaves out the movement with a time on Dec 31.
    EXPECT_EQ(saldos(hasta(QDate(2023, 12, 30)))[0].cantidad, 10.0);
}

TEST_F(Saldos, AnnulledRowsAndOptions) {
    OpcionesSaldo conNulos = hasta(QDate(2023, 12, 31));
    conNulos.anuladoNuloValido = true;
    EXPECT_EQ(saldos(conNulos)[0].cantidad, 1012.5);
    // No limit: every valid movement.
    const auto todos = saldos({});
    ASSERT_EQ(todos.size(), 3);
    EXPECT_EQ(todos[0].cantidad, 19.5);

    const auto porArticulo = saldos(hasta(QDate(2023, 12, 31), Agrupacion::ArticuloUnidadDescripcion));
    ASSERT_EQ(porArticulo.size(), 2);
    EXPECT_EQ(porArticulo[0].cantidad, 9.5);
    EXPECT_EQ(porArticulo[0].movimientos, 3);
    EXPECT_EQ(porArticulo[0].idDeposito, std::nullopt);
    EXPECT_EQ(porArticulo[0].nroLote, std::nullopt);
    EXPECT_EQ(porArticulo[1].descripcion, QStringLiteral("Art dos"));
}

TEST_F(Saldos, FailureIsReported) {
    ConexionDirecta base(ruta);
    base.ejecutar(QStringLiteral("DROP TABLE V_MV_STOCK"));
    QList<SaldoStock> s{SaldoStock{}};
    QString error;
    EXPECT_FALSE(demodb::SaldosStock(base.db(), {}, &s, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("V_MV_STOCK"))) << error;
    EXPECT_EQ(s.size(), 1); // untouched
}

// What the balances are for: a purge that carries the stock forward as an opening balance and
// deletes the history leaves every later balance as it was, on the generated data too (times
// on Dec 31, annulled and NULL-annulled rows, an earlier opening balance).
TEST(SaldosDemo, ForwardedOpeningBalanceKeepsLaterBalances) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("demo.db"));
    ASSERT_TRUE(CrearDemo(ruta, {.movimientos = 4000, .gruposObjetivo = 300, .filasConsulta = 40}));
    QString error;
    OpcionesSaldo despues;
    despues.hasta = QDate(2025, 12, 31);
    despues.agrupacion = Agrupacion::ArticuloUnidadDescripcion;
    QList<SaldoStock> antes;
    ASSERT_TRUE(demodb::SaldosStock(ruta, despues, &antes, &error)) << error;
    {
        ConexionDirecta base(ruta);
        const qint64 filas = base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK"));
        base.ejecutar(QStringLiteral(
            "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, IDUNIDAD, "
            "CANTIDAD, ControladoPor) SELECT 'SI', '000100000002X', ROW_NUMBER() OVER (), '2022-12-31', "
            "IDARTICULO, "
            "DESCRIPCION, IDUNIDAD, SUM(CANTIDAD), 'Depuracion' FROM V_MV_STOCK WHERE FECHA < '2023-01-01' "
            "AND "
            "Anulado = 0 GROUP BY IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion, NroSerie, NroLote, "
            "DESCRIPCION"));
        // The number alone is not enough: other voucher types use it too.
        base.ejecutar(
            QStringLiteral("DELETE FROM V_MV_STOCK WHERE FECHA < '2023-01-01' AND NOT (TC = 'SI' AND "
                           "IDCOMPROBANTE = '000100000002X')"));
        ASSERT_LT(base.numero(QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK")), filas - 1000);
    }
    QList<SaldoStock> luego;
    ASSERT_TRUE(demodb::SaldosStock(ruta, despues, &luego, &error)) << error;
    ASSERT_EQ(luego.size(), antes.size());
    for (qsizetype i = 0; i < antes.size(); ++i) {
        EXPECT_EQ(luego[i].idArticulo, antes[i].idArticulo);
        EXPECT_EQ(luego[i].descripcion, antes[i].descripcion);
        EXPECT_EQ(luego[i].cantidad, antes[i].cantidad) << antes[i].idArticulo;
    }
}

} // namespace
