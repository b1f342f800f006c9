// A purge left unfinished: its record read back, the window's offer to finish it, the refusal of
// any other year meanwhile, and a record that cannot be trusted.
#include "apoyo/purga.h"
#include "purge/depuracion.h"
#include "purge/marca_depuracion.h"

#include <QComboBox>

namespace {
const QString kComprobante = QStringLiteral("000100000004X");
constexpr int kGrupos = 5;

class Reanudacion : public PruebaPurga {
protected:
    void SetUp() override {
        PruebaPurga::SetUp();
        Sql(MovimientosDeMuestra());
    }
    // What a purge of 2022 killed after its journal deletion leaves: its record, the period on the
    // year's dates, the journal gone, the stock untouched.
    void Interrumpida() {
        Sql({"INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', "
             "'2022;A;10:01/01/2024;10:31/12/2024')",
             "UPDATE TA_CONFIGURACION SET VALOR = '01/01/2022' WHERE CLAVE = 'fechaoperdesde'",
             "UPDATE TA_CONFIGURACION SET VALOR = '31/12/2022' WHERE TRIM(CLAVE) = 'fechaoperhasta'",
             "DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"});
    }
    qint64 Marcas() { return Contar("TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'"); }
    // Statements that changed something.
    QStringList Escrituras() const {
        return SentenciasCon("UPDATE ") + SentenciasCon("INSERT ") + SentenciasCon("DELETE ");
    }
    // The end of one uninterrupted purge of 2022.
    void Terminada() {
        EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
        EXPECT_EQ(Contar("V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" + kComprobante + "'"), kGrupos);
        EXPECT_EQ(Contar("V_MV_STOCK"), kGrupos + 1);
        EXPECT_EQ(Valor("SELECT SUM(CANTIDAD) FROM V_MV_STOCK WHERE TC = 'SI'").toDouble(), 30.5);
        EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
        EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
        EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
        EXPECT_EQ(Marcas(), 0);
        EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);
        EXPECT_TRUE(Guion().Terminado());
    }
};
} // namespace

TEST(MarcaDeDepuracion, SeLeeComoSeEscribeYLoIlegibleSeRechaza) {
    using F = MarcaDepuracion::Fase;
    const DuenoDepuracion dueno{"00000000000000ab", "31/01/2025 10:15:02", "PC;07", "Ñandú 🦤;"};
    const MarcaDepuracion marcas[] = {
        {2022, F::Asientos, QVariant("01/01/2024"), QVariant("31/12/2024"), {}, {}, {}, {}},
        {1999, F::StockHecho, std::nullopt, QVariant(), dueno, {}, {}, {}},
        {7, F::Asientos, QVariant(";2:ab;-;N"), QVariant(""), DuenoDepuracion{"1", "x", "", ""}, {}, {}, {}},
        {2147483647, F::StockHecho, QVariant("Ñandú 🦤 "), std::nullopt, {}, {}, {}, {}},
        {2022,
         F::Asientos,
         QVariant("01/01/2024"),
         QVariant(),
         dueno,
         "depuracion-conta-2022-20250131-101502.sqlite",
         "PC;08",
         {}},
    };
    for (const auto& m : marcas) {
        const QString t = m.Codificar();
        SCOPED_TRACE(t.toStdString());
        const MarcaDepuracion l = MarcaDepuracion::Decodificar(t);
        EXPECT_EQ(l.ejercicio, m.ejercicio);
        EXPECT_EQ(l.fase, m.fase);
        EXPECT_EQ(l.desde, m.desde);
        EXPECT_EQ(l.hasta, m.hasta);
        EXPECT_EQ(l.dueno, m.dueno);
        EXPECT_EQ(l.archivo, m.archivo);
        EXPECT_EQ(l.equipoArchivo, m.equipoArchivo);
        EXPECT_EQ(l.leido, t);
    }
    EXPECT_EQ(marcas[0].Codificar(), "2022;A;10:01/01/2024;10:31/12/2024") << "as written before owners";
    EXPECT_EQ(marcas[1].Codificar(),
              "1999;S;-;N;00000000000000ab;31/01/2025 10:15:02;5:PC;07;9:Ñandú 🦤;");
    // Station and user give way to the column's width; the period and the run do not.
    MarcaDepuracion larga = marcas[0];
    larga.dueno =
        DuenoDepuracion{"00000000000000ab", "31/01/2025 10:15:02", QString(200, 'E'), QString(200, 'U')};
    const QString t = larga.Codificar();
    EXPECT_LE(t.size(), MarcaDepuracion::kLargoMaximo);
    EXPECT_GE(t.size(), MarcaDepuracion::kLargoMaximo - 4);
    const MarcaDepuracion l = MarcaDepuracion::Decodificar(t);
    EXPECT_EQ(l.desde, larga.desde);
    EXPECT_EQ(l.dueno->corrida, "00000000000000ab");
    EXPECT_TRUE(QString(200, 'E').startsWith(l.dueno->equipo) && l.dueno->equipo.size() > 80);
    EXPECT_TRUE(QString(200, 'U').startsWith(l.dueno->usuario) && l.dueno->usuario.size() > 80);
    // With the archive's name, which stays whole while the three names give way.
    larga.archivo = "depuracion-" + QString(60, 'b') + "-2022-20250131-101502-2.sqlite";
    larga.equipoArchivo = QString(200, 'S');
    const MarcaDepuracion conArchivo = MarcaDepuracion::Decodificar(larga.Codificar());
    EXPECT_LE(larga.Codificar().size(), MarcaDepuracion::kLargoMaximo);
    EXPECT_EQ(conArchivo.archivo, larga.archivo);
    EXPECT_TRUE(QString(200, 'S').startsWith(conArchivo.equipoArchivo) &&
                conArchivo.equipoArchivo.size() > 10);
    EXPECT_NE(DuenoDepuracion::Nuevo("a", "b").corrida, DuenoDepuracion::Nuevo("a", "b").corrida);
    for (const QVariant& v :
         {QVariant(), QVariant(""), QVariant("2022"), QVariant("2022;A"), QVariant("2022;A;-"),
          QVariant("2022;B;-;-"), QVariant("x;A;-;-"), QVariant(" 2022;A;-;-"), QVariant("-1;A;-;-"),
          QVariant("99999999999;A;-;-"), QVariant("2022;A;-;-;"), QVariant("2022;A;5:abc;-"),
          QVariant("2022;A;3:abc;-;x"), QVariant("2022;A;abc;-"), QVariant("2022;A;2:ab-"),
          QVariant("2022;A;-;-;ab;hoy;1:x"), QVariant("2022;A;-;-;ab;hoy;-;1:u"),
          QVariant("2022;A;-;-;;hoy;1:x;1:u"), QVariant("2022;A;-;-;ab;hoy;1:x;1:u;")}) {
        SCOPED_TRACE(v.toString().toStdString());
        try {
            MarcaDepuracion::Decodificar(v);
            ADD_FAILURE() << "accepted";
        } catch (const ErrorSistema& e) {
            EXPECT_TRUE(e.Descripcion.contains("no es válida")) << e.Descripcion.toStdString();
        }
    }
}

TEST_F(Reanudacion, LaVentanaAlAbrirseOfreceTerminarla) {
    Interrumpida();
    Abrir();
    // No: nothing changes and the window stays, with the year in its box.
    frm->AvisarDepuracionPendiente();
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_TRUE(UltimoAviso().texto.startsWith(
        Depuracion::TextoPendiente(2022) + "\r\rLo que falta se guardará en un archivo de depuración nuevo:"))
        << UltimoAviso().texto.toStdString();
    EXPECT_TRUE(UltimoAviso().texto.contains("la depuración del ejercicio 2022 quedó sin terminar"));
    EXPECT_EQ(UltimoAviso().estilo, 68);
    EXPECT_EQ(UltimoAviso().titulo, Textos::Aviso);
    EXPECT_TRUE(Escrituras().isEmpty()) << Escrituras().join('\n').toStdString();
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(frm->txtfields->currentText(), "2022");
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::NoConfirmado);

    // Yes: the same purge finishes it, though the year has no journal entries left, and puts
    // back the period its record kept (the rows hold the year's dates by now).
    Guion().Limpiar();
    Guion().Responder(Respuesta::Si);
    frm->AvisarDepuracionPendiente();
    EXPECT_TRUE(Guion().Avisos().front().texto.startsWith(Depuracion::TextoPendiente(2022)));
    Terminada();
    EXPECT_EQ(*Guion().CodigoFin(), 0);
}

TEST_F(Reanudacion, OtroEjercicioEsperaYUnaMarcaIlegibleNoCambiaNada) {
    Interrumpida();
    Sql({"INSERT INTO MV_ASIENTOS (PERIODO, NROASIENTO) VALUES ('2021', 1)"});
    Guion().Responder(Respuesta::Si);
    Depurar("2021");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(UltimoAviso().texto, "No se puede depurar el ejercicio 2021: la depuración del ejercicio 2022 "
                                   "quedó sin terminar.\rTermine primero la depuración del ejercicio 2022.");
    EXPECT_EQ(UltimoAviso().estilo, 16);
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);
    EXPECT_TRUE(frm->HayError);

    // A record that cannot be read back safely stops every purge with a clear report.
    for (const QString& arreglo :
         {QString("UPDATE TA_CONFIGURACION SET VALOR = '2022;A;10:01/01/2024' WHERE CLAVE = "
                  "'DEPURACIONPENDIENTE'"),
          QString("INSERT INTO TA_CONFIGURACION VALUES ('DATOS', ' DEPURACIONPENDIENTE', '2021;A;-;-')")}) {
        SCOPED_TRACE(arreglo.toStdString());
        Sql({arreglo});
        for (const QString codigo : {"2022", "2021"}) {
            Guion().Limpiar();
            Depurar(codigo);
            ASSERT_FALSE(Guion().Avisos().empty());
            EXPECT_EQ(UltimoAviso().tipo, "error");
            EXPECT_EQ(UltimoAviso().procedimiento, "CmdAceptar_Click");
            EXPECT_TRUE(UltimoAviso().texto.contains("DEPURACIONPENDIENTE"))
                << UltimoAviso().texto.toStdString();
            EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Fallo);
        }
        Guion().Limpiar();
        frm->AvisarDepuracionPendiente();
        ASSERT_EQ(Guion().Avisos().size(), 1u);
        EXPECT_EQ(UltimoAviso().tipo, "error");
    }
    EXPECT_TRUE(Escrituras().isEmpty()) << Escrituras().join('\n').toStdString();
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2022");
}

// (Abandoned before anything lasting changed, no record stays: the failure table's DiarioAnulado.)
TEST_F(Reanudacion, UnaFallaTrasElDiarioDejaLaDepuracionPendiente) {
    // The stock purge abandoned after the journal went: the record stays, the message says so,
    // and the next run of the program finishes the purge.
    fallas.push_back({"INSERT INTO V_MV_STOCK"});
    Guion().Responder(Respuesta::Si);
    Guion().Responder(Respuesta::Anular);
    Depurar("2022");
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Incompleto);
    EXPECT_TRUE(UltimoAviso().texto.contains(
        "La depuración del ejercicio 2022 queda pendiente: vuelva a ejecutarla para terminarla.\rArchivo de "
        "depuración: "))
        << UltimoAviso().texto.toStdString();
    EXPECT_TRUE(Config("DEPURACIONPENDIENTE").toString().startsWith("2022;A;10:01/01/2024;10:31/12/2024;"));
    EXPECT_EQ(Contar("V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '" + kComprobante + "'"), 0);

    Reabrir();
    Guion().Responder(Respuesta::Si);
    frm->AvisarDepuracionPendiente();
    EXPECT_TRUE(Guion().Avisos().front().texto.startsWith(Depuracion::TextoPendiente(2022)));
    Terminada();
}

TEST_F(Reanudacion, SimulacionConElStockYaHecho) {
    // Abandoned after the stock committed: the dry run of the rerun carries nothing again, reads
    // no balance, writes nothing; the rerun itself then finishes with the stock carried once.
    fallas.push_back({"= 'FECHAULTIMADEPURACION'"});
    Guion().Responder(Respuesta::Si);
    Guion().Responder(Respuesta::Anular);
    Depurar("2022");
    ASSERT_TRUE(Config("DEPURACIONPENDIENTE").toString().startsWith("2022;S;"));
    Reabrir();
    const Simulacion s = Depuracion().Simular("2022");
    EXPECT_EQ(s.desenlace, Desenlace::Completo);
    ASSERT_TRUE(s.pendiente.has_value());
    EXPECT_EQ(s.pendiente->fase, MarcaDepuracion::Fase::StockHecho);
    EXPECT_EQ(s.renglones, 0);
    EXPECT_EQ(s.validos, 0);
    EXPECT_TRUE(SentenciasCon("SALDOCANTIDAD").isEmpty());
    EXPECT_TRUE(Escrituras().isEmpty()) << Escrituras().join('\n').toStdString();
    Guion().Responder(Respuesta::Si);
    frm->AvisarDepuracionPendiente();
    Terminada();
}
