// A whole purge through an ODBC data source (the SQLite3 ODBC driver), as the suite reaches
// its database in production.
#include "apoyo/purga.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include "apoyo/sql_directo.h"
#include <QFile>

namespace {
class PurgaOdbc : public PruebaPurga {
protected:
    void SetUp() override {
        MantenerControladorOdbc();
        PruebaPurga::SetUp();
        ini = Ruta("odbc.ini");
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString("[CribanzasPurga]\nDriver=SQLite3\nDatabase=%1\nTimeout=3000\n").arg(base).toUtf8());
        f.close();
        entorno.Fijar("ODBCINI", ini.toLocal8Bit());
    }
    void TearDown() override {
        PruebaPurga::TearDown();
        entorno.Restaurar();
    }
    QString ini;
    EntornoFijado entorno;
};
} // namespace

TEST_F(PurgaOdbc, CompletaPorLaFuenteDeDatos) {
    Sql({InsertarMov({.fecha = "2021-12-31",
                      .articulo = "A1",
                      .cantidad = 20,
                      .tc = "SI",
                      .comprobante = "000300000041A"}),
         InsertarMov(
             {.fecha = "2022-03-01", .articulo = "A1", .cantidad = -4, .lote = "L1", .cantidadUD = 1.5}),
         InsertarMov({.fecha = "2022-05-01", .articulo = "A2", .cantidad = 3}),
         // Written as a literal, this text broke the statement in the driver; bound, it goes in.
         InsertarMov({.fecha = "2022-05-02",
                      .articulo = "A3",
                      .cantidad = 2,
                      .descripcion = QString::fromUtf8("Caja \xF0\x9F\x93\xA6 'grande'")}),
         InsertarMov({.fecha = "2022-06-01", .articulo = "A2", .cantidad = 9, .anulado = 1}),
         InsertarMov({.fecha = "2023-01-02", .articulo = "A2", .cantidad = 1})});
    const auto antes = Saldos(QDate(2023, 12, 31));

    EstablecerLineaComandos(
        "@Server=;@DbName=CribanzasPurga;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;");
    gAvance().InstalarVista(std::make_unique<VistaGrabada>(&avance));
    frm = std::make_unique<FrmCrb>();
    frm->Form_Load();
    ASSERT_TRUE(gSesion().Conectado()) << (Guion().Avisos().empty() ? "" : UltimoAviso().texto.toStdString());
    ASSERT_TRUE(gSesion().CadenaConexion().contains("DSN=CribanzasPurga"))
        << gSesion().CadenaConexion().toStdString();
    Guion().Limpiar();
    Guion().Responder(Respuesta::Si);
    Depurar("2022");

    // What the purge changes through this route, statement by statement, is held by the recorded
    // log of an unattended ODBC run (sistema.sentencias_doradas); here, the window's run and
    // what the driver carries: the balances, a 4-byte character, a decimal.
    ASSERT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_TRUE(Guion().Terminado());
    EXPECT_EQ(Valor("SELECT DESCRIPCION FROM V_MV_STOCK WHERE TC = 'SI' AND IDARTICULO = 'A3'").toString(),
              QString::fromUtf8("Caja \xF0\x9F\x93\xA6 'grande'"));
    EXPECT_EQ(Valor("SELECT CantidadUD FROM V_MV_STOCK WHERE NroLote = 'L1'").toDouble(), 1.5);
    auto despues = Saldos(QDate(2023, 12, 31));
    EXPECT_EQ(SinConteo(despues), SinConteo(antes));
}
