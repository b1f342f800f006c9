// Over random movements: for every group, the stock at any day after the cut-off is the same
// before and after the purge.
#include "apoyo_purga.h"

#include <random>

namespace {
class Propiedad : public PruebaPurga, public ::testing::WithParamInterface<unsigned> {};

QVariant unoDe(std::mt19937& azar, std::initializer_list<QVariant> valores) {
    std::uniform_int_distribution<size_t> d(0, valores.size() - 1);
    return *(valores.begin() + d(azar));
}

QList<demodb::SaldoStock> sinConteo(QList<demodb::SaldoStock> saldos) {
    for (auto& s : saldos)
        s.movimientos = 0;
    return saldos;
}
} // namespace

TEST_P(Propiedad, ElSaldoPosteriorAlCorteNoCambia) {
    std::mt19937 azar(GetParam());
    std::uniform_int_distribution<int> dia(0, 3 * 365 - 1);
    std::uniform_int_distribution<int> octavos(-80, 160);
    std::uniform_int_distribution<int> cuantos(20, 400);
    QStringList inserciones;
    const int n = cuantos(azar);
    for (int i = 0; i < n; ++i) {
        Mov m;
        m.fecha = QDate(2021, 1, 1).addDays(dia(azar)).toString("yyyy-MM-dd");
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
        antes.push_back(sinConteo(Saldos(d)));
    const qint64 posteriores = Contar("V_MV_STOCK WHERE FECHA > '2022-12-31'");

    Guion().Responder(Respuesta::Si);
    Depurar("2022");
    ASSERT_EQ(UltimoAviso().texto, Textos::Exito);

    for (size_t i = 0; i < size_t(dias.size()); ++i) {
        SCOPED_TRACE(dias[qsizetype(i)].toString(Qt::ISODate).toStdString());
        EXPECT_EQ(sinConteo(Saldos(dias[qsizetype(i)])), antes[i]);
    }
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA > '2022-12-31'"), posteriores);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA <= '2022-12-31'"), qint64(antes[0].size()))
        << "up to the cut-off only the new voucher's rows stay, one per group";
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA <= '2022-12-31' AND ControladoPor <> 'Depuracion'"), 0);
}

INSTANTIATE_TEST_SUITE_P(Semillas, Propiedad, ::testing::Values(1u, 2u, 3u, 17u, 2024u, 99991u));
