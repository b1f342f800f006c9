// The purge lock and the owner of the purge's record, inside one process: another station is
// another connection holding the lock file. While it holds the lock the purge, its dry run and the
// window's opening check are refused without writing, naming the holder once its record exists;
// once it died its record is taken over and finished. With no lock at all (a data source that has
// none) the record is the only guard: claimed once, and changed or removed only by its owner.
#include "apoyo/purga.h"
#include "purge/cerrojo_depuracion.h"
#include "purge/depuracion.h"
#include "suite/globales.h"

namespace {
// The record of another station's purge, after its Yes.
const QString kOtra =
    QStringLiteral("2022;A;10:01/01/2024;10:31/12/2024;00000000000000ab;31/01/2025 10:15:02;5:PC-07;4:juan");
const QString kDueno =
    QStringLiteral("Otra estación está depurando el ejercicio 2022.\rLa inició el usuario juan "
                   "en la estación PC-07, el 31/01/2025 10:15:02.\r");

class Cerrojo : public PruebaPurga {
protected:
    void SetUp() override {
        PruebaPurga::SetUp();
        Sql({InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 4}),
             InsertarMov({.fecha = "2023-03-01", .articulo = "A1", .cantidad = 1})});
    }
    void TearDown() override {
        CerrojoDepuracion::ForzarVia(std::nullopt);
        PruebaPurga::TearDown();
    }
    QStringList Escrituras() const {
        return SentenciasCon("UPDATE ") + SentenciasCon("INSERT ") + SentenciasCon("DELETE ");
    }
    QString Marca() { return Config("DEPURACIONPENDIENTE").toString(); }
    // Nothing of the purge happened.
    void Intacta() {
        EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 3);
        EXPECT_EQ(Contar("V_MV_STOCK"), 2);
        EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
        EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
        EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
    }
    // Runs `accion` once, right before the first statement that contains all of `partes`.
    void Antes(const QStringList& partes, std::function<void()> accion) {
        auto anterior = gSesion().AntesDeEjecutar;
        gSesion().AntesDeEjecutar = [=, hecho = false](const QString& sql) mutable {
            bool todas = true;
            for (const QString& p : partes)
                todas = todas && sql.contains(p, Qt::CaseInsensitive);
            if (todas && !hecho) {
                hecho = true;
                accion();
            }
            anterior(sql);
        };
    }
};
} // namespace

TEST_F(Cerrojo, OtraEstacionLoTieneYDespuesMuere) {
    Abrir();
    Sesion otra;
    otra.setDbName(base);
    otra.Conectar();
    auto suyo = std::make_unique<CerrojoDepuracion>(otra);
    ASSERT_EQ(suyo->Tomar(), CerrojoDepuracion::Estado::Propio);

    // At its question, before any record: refused, saying only that, and only the record read.
    Depurar("2022");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(UltimoAviso().texto, Depuracion::TextoOcupado(std::nullopt));
    EXPECT_TRUE(UltimoAviso().texto.contains("todavía no la confirmó"));
    EXPECT_EQ(UltimoAviso().estilo, 16);
    EXPECT_EQ(UltimoAviso().titulo, Textos::Aviso);
    EXPECT_EQ(
        escritas,
        QStringList{"SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'DEPURACIONPENDIENTE'"});
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);
    EXPECT_FALSE(Guion().Terminado());

    // After its Yes: the purge, the dry run and the window's opening check name the holder; none
    // says the purge was left unfinished, none offers to finish it.
    Sql({"INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', '" + kOtra + "')"});
    Guion().Limpiar();
    Depurar("2022");
    Depuracion().Simular("2022");
    frm->AvisarDepuracionPendiente();
    ASSERT_EQ(Guion().Avisos().size(), 3u);
    for (const auto& a : Guion().Avisos()) {
        EXPECT_TRUE(a.texto.startsWith(kDueno)) << a.texto.toStdString();
        EXPECT_NE(a.estilo & 4, 4) << "no question";
    }
    EXPECT_TRUE(Escrituras().isEmpty()) << Escrituras().join('\n').toStdString();
    EXPECT_EQ(Marca(), kOtra);
    Intacta();

    // It died: its lock went with it. The window offers to finish its purge, takes its record over
    // (only if it still holds what was read) and finishes.
    suyo.reset();
    otra.Desconectar();
    Guion().Limpiar();
    Guion().Responder(Respuesta::Si);
    frm->AvisarDepuracionPendiente();
    EXPECT_TRUE(Guion().Avisos().front().texto.startsWith(Depuracion::TextoPendiente(2022)));
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    const QStringList tomas = SentenciasCon("UPDATE TA_CONFIGURACION SET VALOR");
    ASSERT_FALSE(tomas.isEmpty());
    EXPECT_TRUE(tomas.first().endsWith("AND VALOR = '" + kOtra + "'")) << tomas.first().toStdString();
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"), 0);
    EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
}

TEST_F(Cerrojo, SinCerrojoLaMarcaEsSoloDeQuienLaReclamo) {
    CerrojoDepuracion::ForzarVia(CerrojoDepuracion::Via::Ninguna);
    auto otraReclama = [&] {
        Sql({"INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', '" + kOtra + "')"});
    };
    auto otraLaCambia = [&] {
        Sql({"UPDATE TA_CONFIGURACION SET VALOR = '" + kOtra + "' WHERE CLAVE = 'DEPURACIONPENDIENTE'"});
    };

    // Another station claims the record between this one's question and its claim: the claim
    // changes nothing, and this purge stops before its first change, naming that station.
    Abrir();
    Antes({"INSERT INTO TA_CONFIGURACION", "DEPURACIONPENDIENTE"}, otraReclama);
    Guion().Responder(Respuesta::Si);
    Depurar("2022");
    EXPECT_TRUE(UltimoAviso().texto.startsWith(kDueno)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);
    EXPECT_EQ(Marca(), kOtra);
    Intacta();

    // Its record replaced after the claim, then the purge abandoned at the journal: the removal
    // of its own record finds none, and the other's stays.
    Sql({"DELETE FROM TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"});
    Reabrir();
    Antes({"BEGIN IMMEDIATE TRANSACTION"}, otraLaCambia);
    fallas.push_back({.contiene = "DELETE FROM MV_ASIENTOS"});
    Guion().Responder(Respuesta::Si);
    Guion().Responder(Respuesta::Anular);
    Depurar("2022");
    EXPECT_EQ(SentenciasCon("DELETE FROM TA_CONFIGURACION").size(), 1);
    EXPECT_EQ(Marca(), kOtra);
    Intacta();

    // Replaced before the journal went: the "stock done" mark finds it is not its own, and the
    // stock rolls back.
    Sql({"DELETE FROM TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"});
    Reabrir();
    Antes({"BEGIN IMMEDIATE TRANSACTION"}, otraLaCambia);
    Guion().Responder(Respuesta::Si);
    Depurar("2022");
    EXPECT_EQ(Marca(), kOtra);
    EXPECT_EQ(Contar("V_MV_STOCK"), 2) << "the stock as it was";
    EXPECT_TRUE(UltimoAviso().texto.contains("NO los movimientos de stock"))
        << UltimoAviso().texto.toStdString();
}
