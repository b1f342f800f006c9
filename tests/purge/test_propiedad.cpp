// Over random movements: for every group, the stock at any day after the cut-off is the same
// before and after the purge; and the rows it writes are the same however many go in one
// statement.
#include "apoyo/purga.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <random>

namespace {
class Propiedad : public PruebaPurga, public ::testing::WithParamInterface<unsigned> {};

QVariant unoDe(std::mt19937& azar, std::initializer_list<QVariant> valores) {
    std::uniform_int_distribution<size_t> d(0, valores.size() - 1);
    return *(valores.begin() + d(azar));
}

// A day of 2021 to 2023; one date in five on the edges of the cut-off (Dec 31, 2022), where a
// comparison one step off shows.
QString fechaAlAzar(std::mt19937& azar) {
    if (std::uniform_int_distribution<int>(0, 4)(azar) == 0)
        return unoDe(azar,
                     {"2022-12-30", "2022-12-31", "2022-12-31 00:00:00", "2022-12-31 23:59:59", "2023-01-01"})
            .toString();
    return QDate(2021, 1, 1)
        .addDays(std::uniform_int_distribution<int>(0, 3 * 365 - 1)(azar))
        .toString("yyyy-MM-dd");
}

// Every stock row, every column with the type SQLite stored it as.
QString filasDelStock(const QString& ruta) {
    QString r;
    const ConexionDirecta base(ruta);
    QSqlQuery q(base.db());
    EXPECT_TRUE(q.exec("SELECT * FROM V_MV_STOCK ORDER BY IdMovimiento"));
    while (q.next()) {
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            r += v.isNull() ? QString("NULL")
                            : QString("%1:%2").arg(v.typeName(), v.typeId() == QMetaType::Double
                                                                     ? QString::number(v.toDouble(), 'g', 17)
                                                                     : v.toString());
            r += '|';
        }
        r += '\n';
    }
    return r;
}
} // namespace

TEST_P(Propiedad, ElSaldoPosteriorAlCorteNoCambia) {
    std::mt19937 azar(GetParam());
    std::uniform_int_distribution<int> octavos(-80, 160);
    std::uniform_int_distribution<int> cuantos(20, 400);
    QStringList inserciones;
    const int n = cuantos(azar);
    for (int i = 0; i < n; ++i) {
        Mov m;
        m.fecha = fechaAlAzar(azar);
        m.articulo = unoDe(azar, {"A1", "A2", "A3", "B1"}).toString();
        m.unidad = unoDe(azar, {"UN", "KG"}).toString();
        m.cantidad = octavos(azar) / 8.0;
        m.anulado = unoDe(azar, {0, 0, 0, 0, 1, QVariant()});
        m.deposito = unoDe(azar, {1, 2, QVariant()});
        m.posicion = unoDe(azar, {"P1", "P2", QVariant()});
        m.serie = unoDe(azar, {QVariant(), QVariant(), "S1"});
        m.lote = unoDe(azar, {QVariant(), "L1", "L2"});
        m.cantidadUD = unoDe(azar, {QVariant(), 0.5, -1.25, 3});
        m.descripcion = unoDe(azar, {"Uno", "Dos", QVariant()});
        m.tc = unoDe(azar, {"FC", "FC", "RM", "SI"}).toString();
        m.comprobante = unoDe(azar, {"000100000001X", "000200000017B", "000100000009A"}).toString();
        inserciones << InsertarMov(m);
    }
    Sql(inserciones);
    const QList<QDate> dias = {QDate(2022, 12, 31), QDate(2023, 1, 1), QDate(2023, 6, 30),
                               QDate(2023, 12, 31), QDate(2030, 1, 1)};
    std::vector<QList<demodb::SaldoStock>> antes;
    for (const QDate& d : dias)
        antes.push_back(SinConteo(Saldos(d)));
    const qint64 posteriores = Contar("V_MV_STOCK WHERE FECHA > '2022-12-31'");
    // Groups up to the cut-off's first instant (a time on Dec 31 is after it).
    const qint64 grupos =
        Valor("SELECT COUNT(*) FROM (SELECT 1 FROM V_MV_STOCK WHERE FECHA <= '2022-12-31' AND "
              "COALESCE(Anulado,0) = 0 GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, "
              "NroSerie, NroLote, Descripcion)")
            .toLongLong();

    Guion().Responder(Respuesta::Si);
    Depurar("2022");
    ASSERT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();

    for (size_t i = 0; i < size_t(dias.size()); ++i) {
        SCOPED_TRACE(dias[qsizetype(i)].toString(Qt::ISODate).toStdString());
        EXPECT_EQ(SinConteo(Saldos(dias[qsizetype(i)])), antes[i]);
    }
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA > '2022-12-31'"), posteriores);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA <= '2022-12-31'"), grupos)
        << "up to the cut-off only the new voucher's rows stay, one per group";
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA <= '2022-12-31' AND ControladoPor <> 'Depuracion'"), 0);
}

TEST_P(Propiedad, LasFilasNoDependenDelTamanoDelLote) {
    std::mt19937 azar(GetParam());
    std::uniform_int_distribution<int> dia(0, 2 * 365 - 1);
    std::uniform_int_distribution<int> centesimos(-5000, 20000);
    QStringList inserciones;
    for (int i = 0; i < 300; ++i) {
        Mov m;
        m.fecha = QDate(2021, 6, 1).addDays(dia(azar)).toString("yyyy-MM-dd");
        m.articulo = QString("A%1").arg(azar() % 40);
        m.cantidad = centesimos(azar) / 100.0;
        m.anulado = unoDe(azar, {0, 0, 0, 1, QVariant()});
        m.deposito = unoDe(azar, {1, 2, QVariant(), "D9"});
        m.posicion = unoDe(azar, {"P1", QVariant(), 7});
        m.serie = unoDe(azar, {QVariant(), "S1", 2.5});
        m.lote = unoDe(azar, {QVariant(), "L1", "O'Brien ñ"});
        m.cantidadUD = unoDe(azar, {QVariant(), 0.1, -1.25, 3});
        m.descripcion = unoDe(azar, {"Uno", "Dos, \"tres\"", QVariant(), ""});
        inserciones << InsertarMov(m);
    }
    Sql(inserciones);
    const QString original = Ruta("original.db");
    ASSERT_TRUE(QFile::copy(base, original));
    const qint64 grupos = Valor("SELECT COUNT(*) FROM (SELECT 1 FROM V_MV_STOCK WHERE FECHA <= "
                                "'2022-12-31' AND COALESCE(Anulado,0) = 0 GROUP BY IDArticulo, IDUnidad, "
                                "IdDeposito, IdPosicion, NroSerie, NroLote, Descripcion)")
                              .toLongLong();
    ASSERT_GT(grupos, 20);

    // The back end's own batches (all the rows in one), a row per statement, seven per statement.
    QString referencia;
    for (int limite : {0, 10, 70}) {
        SCOPED_TRACE(limite);
        if (limite > 0) {
            PruebaPurga::TearDown();
            PruebaSistema::SetUp();
            avance.clear();
            base = Ruta(QString("limite%1.db").arg(limite));
            ASSERT_TRUE(QFile::copy(original, base));
        }
        limiteParametros = limite;
        Guion().Responder(Respuesta::Si);
        Depurar("2022");
        ASSERT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
        const qint64 porSentencia = limite == 0 ? grupos : limite / 10;
        EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), (grupos + porSentencia - 1) / porSentencia);
        const QString filas = filasDelStock(base);
        if (limite == 0)
            referencia = filas;
        else
            EXPECT_EQ(filas, referencia);
    }
}

INSTANTIATE_TEST_SUITE_P(Semillas, Propiedad, ::testing::Values(1u, 2u, 3u, 17u, 2024u, 99991u));
