// Failures injected into chosen statements of the purge, with each answer of both traps, and
// what the database holds afterwards.
#include "apoyo/purga.h"
#include "suite/globales.h"

#include <QComboBox>
#include <QLabel>

namespace {
constexpr int kGrupos = 5;
constexpr int kLotes = 3; // two rows per statement

class Fallos : public PruebaPurga {
protected:
    void SetUp() override {
        PruebaPurga::SetUp();
        Sql({
            InsertarMov({.fecha = "2021-12-31",
                         .articulo = "A1",
                         .cantidad = 20,
                         .tc = "SI",
                         .comprobante = "000100000003X"}),
            InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = -4}),
            InsertarMov({.fecha = "2022-03-01", .articulo = "A2", .cantidad = 8, .lote = "L7"}),
            InsertarMov({.fecha = "2022-04-01", .articulo = "A2", .cantidad = 1, .lote = "L8"}),
            InsertarMov({.fecha = "2022-05-01", .articulo = "A3", .cantidad = 2.5, .cantidadUD = 10}),
            InsertarMov({.fecha = "2022-06-01", .articulo = "A4", .cantidad = 3, .deposito = 4}),
            InsertarMov({.fecha = "2022-07-01", .articulo = "A4", .cantidad = 50, .anulado = 1}),
            InsertarMov({.fecha = "2023-03-01", .articulo = "A1", .cantidad = 1}),
        });
        stockAntes = Stock();
    }
    // Every row of V_MV_STOCK, in order: equal texts mean an untouched table.
    QString Stock() {
        return Valor("SELECT group_concat(IdMovimiento || '|' || COALESCE(TC, '') || '|' || "
                     "COALESCE(IDCOMPROBANTE, '') "
                     "|| '|' || SECUENCIA || '|' || FECHA || '|' || IDARTICULO || '|' || CANTIDAD || '|' || "
                     "COALESCE(NroLote, '') || '|' || COALESCE(Anulado, 'N'), ';') FROM (SELECT * FROM "
                     "V_MV_STOCK "
                     "ORDER BY IdMovimiento)")
            .toString();
    }
    void Fallar(const QString& contiene, int ocurrencia = 1, int veces = 1, bool perder = false) {
        fallas.push_back({contiene, ocurrencia, veces, perder});
    }
    void Responder(std::initializer_list<Respuesta> respuestas) {
        for (Respuesta r : respuestas)
            Guion().Responder(r);
    }
    std::vector<OperadorGuion::Aviso> Errores() const {
        std::vector<OperadorGuion::Aviso> r;
        for (const auto& a : Guion().Avisos())
            if (a.tipo == "error") r.push_back(a);
        return r;
    }
    qint64 FilasSI() { return Contar("V_MV_STOCK WHERE IDCOMPROBANTE = '000100000004X'"); }
    void PeriodoRepuesto() {
        EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
        EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
    }
    // The journal and the year are done, the stock exactly as before, and the last message says so.
    void StockIntactoConAviso(const QString& motivo) {
        EXPECT_EQ(Stock(), stockAntes);
        EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
        EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
        PeriodoRepuesto();
        EXPECT_TRUE(frm->HayError);
        EXPECT_EQ(UltimoAviso().tipo, "mensaje");
        EXPECT_TRUE(
            UltimoAviso().texto.startsWith("Se depuraron los asientos del ejercicio, pero NO los movimientos "
                                           "de stock."))
            << UltimoAviso().texto.toStdString();
        EXPECT_TRUE(UltimoAviso().texto.contains(motivo)) << UltimoAviso().texto.toStdString();
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Incompleto);
        EXPECT_TRUE(Guion().Terminado());
        EXPECT_FALSE(gSesion().EnTransaccion());
    }
    void StockCompleto() {
        EXPECT_EQ(FilasSI(), kGrupos);
        EXPECT_EQ(Contar("V_MV_STOCK"), kGrupos + 1);
        EXPECT_EQ(Valor("SELECT SUM(CANTIDAD) FROM V_MV_STOCK WHERE TC = 'SI'").toDouble(), 30.5);
        EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);
        EXPECT_TRUE(Guion().Terminado());
    }
    QString stockAntes;
};

QString cajaDeError(int n) {
    return QString("Se ha producido el siguiente error:Falla simulada #%1").arg(n);
}
} // namespace

// ---- The journal purge's own box -------------------------------------------------------

TEST_F(Fallos, DiarioReintentar) {
    Fallar("DELETE FROM MV_ASIENTOS");
    Responder({Respuesta::Si, Respuesta::Reintentar});
    Depurar("2022");
    ASSERT_EQ(Guion().Avisos().size(), 3u);
    EXPECT_EQ(Guion().Avisos()[1].texto, cajaDeError(1) + " No se eliminó ningún asiento.");
    EXPECT_EQ(Guion().Avisos()[1].estilo, 18);
    EXPECT_EQ(Guion().Avisos()[1].titulo, Textos::Aviso);
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
    StockCompleto();
    PeriodoRepuesto();
}

TEST_F(Fallos, DiarioOmitirSigueConElPasoSiguiente) {
    Fallar("DELETE FROM MV_ASIENTOS");
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 3);
    EXPECT_EQ(FilasSI(), kGrupos);
    EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
    PeriodoRepuesto();
    // The journal is still there: the last message says so instead of claiming success.
    EXPECT_EQ(UltimoAviso().estilo, 16);
    EXPECT_TRUE(UltimoAviso().texto.startsWith("Se depuraron los movimientos de stock, pero NO los asientos"))
        << UltimoAviso().texto.toStdString();
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Incompleto);
    EXPECT_TRUE(Guion().Terminado());
}

TEST_F(Fallos, DiarioOmitirUnPasoDeDatosLoDiceAlFinal) {
    // 12, 13 and 14 ignored: everything else is done, and the last message names what is not.
    // The third UPDATE of the configuration is the stock's own mark, inside its transaction.
    const struct {
        const char* sentencia;
        int ocurrencia;
        const char* aviso;
    } casos[] = {
        {"= 'FECHAULTIMADEPURACION'", 1, "No se registró la fecha de la última depuración"},
        {"UPDATE TA_CONFIGURACION", 4, "fechaoperdesde quedó en 01/01/2022 y debe volver a 01/01/2024"},
        {"UPDATE TA_CONFIGURACION", 5, "fechaoperhasta quedó en 31/12/2022 y debe volver a 31/12/2024"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.aviso);
        TearDown();
        SetUp();
        Fallar(c.sentencia, c.ocurrencia);
        Responder({Respuesta::Si, Respuesta::Omitir});
        Depurar("2022");
        EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
        EXPECT_EQ(FilasSI(), kGrupos);
        EXPECT_FALSE(Textos::EsExito(UltimoAviso().texto));
        EXPECT_EQ(UltimoAviso().estilo, 16);
        EXPECT_TRUE(UltimoAviso().texto.contains(c.aviso)) << UltimoAviso().texto.toStdString();
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Incompleto);
    }
}

TEST_F(Fallos, DiarioOmitirSinElEjercicioTerminaComoAnular) {
    // The year's row and dates are what the rest of the purge works with: Ignore cannot go on.
    for (const char* falla : {"FROM MV_EJERCICIOS WHERE CAST", "Fecha Hasta"}) {
        SCOPED_TRACE(falla);
        TearDown();
        SetUp();
        if (QString(falla) == "Fecha Hasta")
            Sql({"UPDATE MV_EJERCICIOS SET \"Fecha Hasta\" = NULL WHERE PERIODO = 2022"});
        else
            Fallar(falla);
        Responder({Respuesta::Si, Respuesta::Omitir});
        Depurar("2022");
        EXPECT_TRUE(SentenciasCon("UPDATE").isEmpty());
        EXPECT_TRUE(SentenciasCon("DELETE").isEmpty());
        EXPECT_EQ(Stock(), stockAntes);
        PeriodoRepuesto();
        EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
        EXPECT_EQ(Guion().Avisos().size(), 2u) << "no message after the error box";
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Fallo);
    }
}

TEST_F(Fallos, DiarioAnularAlRegistrarLaFechaReponeElPeriodo) {
    Fallar("= 'FECHAULTIMADEPURACION'");
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
    EXPECT_EQ(FilasSI(), kGrupos);
    EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
    PeriodoRepuesto();
    EXPECT_EQ(UltimoAviso().texto, cajaDeError(1)) << "no message after an abandoned purge";
    EXPECT_TRUE(frm->ImgBasura->isVisibleTo(frm.get()));
    EXPECT_TRUE(Guion().Terminado());
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Fallo);
}

TEST_F(Fallos, DiarioAnularAlBorrarAsientos) {
    Fallar("DELETE FROM MV_ASIENTOS");
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 3);
    EXPECT_EQ(Stock(), stockAntes);
    EXPECT_EQ(SentenciasCon("BEGIN").size(), 5) << "the journal's and the period's single-row updates' (two "
                                                   "set, two put back); the stock purge never "
                                                   "started";
    EXPECT_EQ(SentenciasCon("ROLLBACK").size(), 1);
    EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
    PeriodoRepuesto();
    EXPECT_TRUE(Guion().Terminado());
}

TEST_F(Fallos, DiarioAnularAlReponerElInicioAunReponeElFin) {
    Fallar("UPDATE TA_CONFIGURACION", 4); // 7, 8 and the stock's mark pass; 13 fails
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    ASSERT_EQ(Guion().Avisos().size(), 2u);
    EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2022");
    EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
    EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
    EXPECT_TRUE(Guion().Terminado());
}

TEST_F(Fallos, DiarioAnularConUnaFallaAlReponer) {
    // Abort at the journal deletion; putting the start back fails once and is retried.
    Fallar("DELETE FROM MV_ASIENTOS");
    Fallar("UPDATE TA_CONFIGURACION", 3);
    Responder({Respuesta::Si, Respuesta::Anular, Respuesta::Reintentar});
    Depurar("2022");
    ASSERT_EQ(Guion().Avisos().size(), 3u);
    EXPECT_EQ(Guion().Avisos()[2].estilo, 18);
    PeriodoRepuesto();
}

TEST_F(Fallos, PeriodoIlegibleNoCambiaNada) {
    Fallar("CLAVE = 'fechaoperdesde'", 1, 0);
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    EXPECT_EQ(Guion().Avisos()[1].texto, cajaDeError(1));
    EXPECT_TRUE(SentenciasCon("UPDATE").isEmpty());
    EXPECT_TRUE(SentenciasCon("DELETE").isEmpty());
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 3);
    EXPECT_EQ(Stock(), stockAntes);
    PeriodoRepuesto();
    EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
    EXPECT_TRUE(Guion().Terminado());
}

// ---- The stock purge's trap ------------------------------------------------------------

TEST_F(Fallos, StockReintentarCompleta) {
    Fallar("INSERT INTO V_MV_STOCK", 2);
    Responder({Respuesta::Si, Respuesta::Reintentar});
    Depurar("2022");
    const auto errores = Errores();
    ASSERT_EQ(errores.size(), 1u);
    EXPECT_TRUE(errores[0].procedimiento.isEmpty()) << "the stock purge names no procedure";
    EXPECT_EQ(errores[0].numero, Errores::BaseDeDatos);
    // The report names the batch's rows and its first article (groups come A1, A2, A2, A3, A4).
    EXPECT_TRUE(errores[0].texto.contains(
        "Falla simulada #1\rSaldo inicial, renglones 3 a 4, desde el artículo A2 Artículo A2."))
        << errores[0].texto.toStdString();
    EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), kLotes + 1);
    EXPECT_EQ(
        Valor(
            "SELECT group_concat(SECUENCIA) FROM (SELECT SECUENCIA FROM V_MV_STOCK WHERE TC = 'SI' ORDER BY "
            "SECUENCIA)")
            .toString(),
        "1,2,3,4,5");
    EXPECT_TRUE(frm->HayError);
    StockCompleto();
}

TEST_F(Fallos, StockOmitirUnaInsercionDeshaceTodo) {
    Fallar("INSERT INTO V_MV_STOCK", 2);
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    // The flow goes on (the other batches and the deletion run), then nothing of it stays.
    EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), kLotes);
    EXPECT_EQ(SentenciasCon("delete from v_mv_stock where fecha").size(), 1);
    EXPECT_EQ(SentenciasCon("COMMIT TRANSACTION").size(), 5)
        << "the journal's and the period's single-row updates' (two set, two put back)";
    StockIntactoConAviso("Falla simulada #1");
    // The progress display was closed by the trap and the batch's progress still followed.
    bool cerradoTrasLaFalla = false;
    for (size_t i = 0; i + 1 < avance.size(); ++i)
        if (avance[i].tipo == "Cerrar" && avance[i + 1].linea1 == "Generando Saldo Inicial" &&
            avance[i + 1].valor == "4")
            cerradoTrasLaFalla = true;
    EXPECT_TRUE(cerradoTrasLaFalla);
}

TEST_F(Fallos, StockDeshacerQueFallaSeDice) {
    Fallar("INSERT INTO V_MV_STOCK", 2);
    Fallar("ROLLBACK TRANSACTION");
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    EXPECT_EQ(SentenciasCon("COMMIT TRANSACTION").size(), 3)
        << "the journal's and the two single-row updates that set the period";
    EXPECT_EQ(SentenciasCon("ROLLBACK TRANSACTION").size(), 1);
    // The insertion's failure, and then the rollback's.
    EXPECT_EQ(UltimoAviso().texto.count("Falla simulada #1"), 2) << UltimoAviso().texto.toStdString();
}

TEST_F(Fallos, StockElOperadorVeCadaFalla) {
    Fallar("INSERT INTO V_MV_STOCK", 1, 0);
    Guion().Responder(Respuesta::Si);
    for (int i = 0; i < kLotes; ++i)
        Guion().Responder(Respuesta::Omitir);
    Depurar("2022");
    EXPECT_EQ(Errores().size(), size_t(kLotes));
    StockIntactoConAviso("Falla simulada #1");
}

TEST_F(Fallos, StockAnularUnaInsercion) {
    Fallar("INSERT INTO V_MV_STOCK", 3);
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), 3);
    EXPECT_TRUE(SentenciasCon("delete from v_mv_stock where fecha").isEmpty());
    EXPECT_EQ(avance.back().tipo, "Cerrar");
    StockIntactoConAviso("Falla simulada #1");
}

TEST_F(Fallos, StockBorradoOmitido) {
    Fallar("delete from v_mv_stock where fecha");
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    StockIntactoConAviso("Falla simulada #1");
}

TEST_F(Fallos, StockBorradoReintentado) {
    Fallar("delete from v_mv_stock where fecha");
    Responder({Respuesta::Si, Respuesta::Reintentar});
    Depurar("2022");
    StockCompleto();
}

TEST_F(Fallos, StockConfirmacionReintentada) {
    Fallar("COMMIT TRANSACTION", 4); // the period's two single-row updates, then the journal's
    Responder({Respuesta::Si, Respuesta::Reintentar});
    Depurar("2022");
    StockCompleto();
}

TEST_F(Fallos, StockConfirmacionAnulada) {
    Fallar("COMMIT TRANSACTION", 4); // the period's two single-row updates, then the journal's
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    StockIntactoConAviso("Falla simulada #1");
}

TEST_F(Fallos, StockTipoIlegibleNoSeTomaComoFaltante) {
    // Read by the stock purge itself (the second read; the first one is the checks').
    Fallar("FROM V_TA_CPTE", 2);
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    for (const auto& a : Guion().Avisos())
        EXPECT_NE(a.texto, Textos::FaltaSI);
    StockIntactoConAviso("Falla simulada #1");
}

TEST_F(Fallos, ComprobacionIlegibleNoCambiaNada) {
    // The checks made before anything changes cannot be done: the purge does not start.
    Fallar("FROM V_TA_CPTE");
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    for (const auto& a : Guion().Avisos())
        EXPECT_NE(a.texto, Textos::FaltaSI);
    EXPECT_EQ(UltimoAviso().texto, cajaDeError(1));
    EXPECT_EQ(Stock(), stockAntes);
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 3);
    EXPECT_FALSE(Config("DEPURACIONPENDIENTE").isValid());
    PeriodoRepuesto();
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Fallo);
}

TEST_F(Fallos, FallaDePantallaOmitidaNoAfectaAlStock) {
    int llamadas = 0;
    falloMostrar = [&] { return ++llamadas == 3; };
    Responder({Respuesta::Si, Respuesta::Omitir});
    Depurar("2022");
    ASSERT_EQ(Errores().size(), 1u);
    EXPECT_EQ(Errores()[0].numero, Errores::ErrorEntradaSalida);
    EXPECT_TRUE(frm->HayError);
    StockCompleto();
}

TEST_F(Fallos, FallaDePantallaAnuladaDeshaceElStock) {
    int llamadas = 0;
    falloMostrar = [&] { return ++llamadas == 3; };
    Responder({Respuesta::Si, Respuesta::Anular});
    Depurar("2022");
    StockIntactoConAviso("Falla de pantalla");
}

TEST_F(Fallos, TransaccionPerdidaTerminaPorElCaminoDeError) {
    // The statement fails and the database drops the transaction (a deadlock victim): the
    // session says so at once, and the purge ends whatever the answer.
    for (Respuesta respuesta : {Respuesta::Reintentar, Respuesta::Omitir, Respuesta::Anular}) {
        SCOPED_TRACE(int(respuesta));
        TearDown();
        SetUp();
        fallas.push_back({"INSERT INTO V_MV_STOCK", 3, 1, true, Errores::TransaccionPerdida});
        Responder({Respuesta::Si, respuesta});
        Depurar("2022");
        const auto errores = Errores();
        ASSERT_EQ(errores.size(), 1u);
        EXPECT_EQ(errores[0].numero, Errores::TransaccionPerdida);
        EXPECT_TRUE(errores[0].texto.contains("canceló la transacción"));
        EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), 3);
        StockIntactoConAviso("transacción");
    }
}

TEST_F(Fallos, TransaccionPerdidaDescubiertaEnLaSentenciaSiguiente) {
    for (Respuesta respuesta : {Respuesta::Reintentar, Respuesta::Omitir}) {
        SCOPED_TRACE(int(respuesta));
        TearDown();
        SetUp();
        Fallar("INSERT INTO V_MV_STOCK", 3, 1, true);
        Responder({Respuesta::Si, respuesta});
        Depurar("2022");
        const auto errores = Errores();
        ASSERT_EQ(errores.size(), 2u);
        EXPECT_EQ(errores[1].numero, Errores::TransaccionPerdida);
        StockIntactoConAviso("transacción");
    }
}
