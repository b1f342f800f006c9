// Whole purges of the year 2022 (cut-off 2022-12-31) on small databases.
#include "apoyo/purga.h"
#include "purge/depuracion.h"
#include "suite/globales.h"

#include <algorithm>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>

namespace {
struct FilaSI {
    QString comprobante;
    int secuencia;
    QString fecha, articulo, descripcion, unidad;
    double cantidad;
    QVariant cantidadUD, deposito, posicion, serie, lote;
    QString controladoPor;
};

class Depuracion2022 : public PruebaPurga {
protected:
    void Movimientos() {
        Sql({
            // The earlier opening balance, without depot.
            InsertarMov({.fecha = "2021-12-31",
                         .articulo = "A1",
                         .cantidad = 20,
                         .deposito = QVariant(),
                         .posicion = QVariant(),
                         .tc = "SI",
                         .comprobante = "000300000041A"}),
            InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 10}),
            InsertarMov({.fecha = "2022-06-01", .articulo = "A1", .cantidad = -3}),
            InsertarMov({.fecha = "2022-04-01", .articulo = "A1", .cantidad = 5, .deposito = 2}),
            InsertarMov({.fecha = "2022-04-02",
                         .articulo = "A2",
                         .cantidad = 4,
                         .serie = "S1",
                         .lote = "L1",
                         .cantidadUD = 2.5,
                         .descripcion = "Tornillo 'largo'"}),
            InsertarMov({.fecha = "2022-07-01", .articulo = "A3", .cantidad = 2}),
            InsertarMov({.fecha = "2022-08-01", .articulo = "A3", .cantidad = -2}),
            InsertarMov({.fecha = "2022-05-01", .articulo = "A4", .cantidad = 100, .anulado = 1}),
            InsertarMov({.fecha = "2022-09-01", .articulo = "A5", .cantidad = 6, .anulado = QVariant()}),
            InsertarMov({.fecha = "2022-12-31", .articulo = "A5", .cantidad = 1}),
            InsertarMov({.fecha = "2023-01-15", .articulo = "A1", .cantidad = 1}),
            InsertarMov({.fecha = "2023-02-01", .articulo = "A6", .cantidad = 9, .anulado = 1}),
        });
    }
    std::vector<FilaSI> FilasSI(const QString& comprobante) {
        std::vector<FilaSI> r;
        const ConexionDirecta directa(base);
        QSqlQuery q(directa.db());
        EXPECT_TRUE(
            q.exec("SELECT IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, IDUNIDAD, CANTIDAD, "
                   "CantidadUD, IdDeposito, IdPosicion, NroSerie, NroLote, ControladoPor FROM V_MV_STOCK "
                   "WHERE TC = 'SI' AND IDCOMPROBANTE = '" +
                   comprobante + "' ORDER BY SECUENCIA"));
        while (q.next())
            r.push_back({q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                         q.value(6).toDouble(), q.value(7), q.value(8), q.value(9), q.value(10), q.value(11),
                         q.value(12).toString()});
        return r;
    }
    const FilaSI* Buscar(const std::vector<FilaSI>& filas, const QString& articulo,
                         const QVariant& deposito) {
        for (const auto& f : filas)
            if (f.articulo == articulo && f.deposito.isNull() == deposito.isNull() &&
                (deposito.isNull() || f.deposito.toInt() == deposito.toInt()))
                return &f;
        return nullptr;
    }
    void Confirmar() { Guion().Responder(Respuesta::Si); }
    // Purges 2022, which must be refused before anything changes: after the question, one
    // message (returned), nothing written, the window still there.
    OperadorGuion::Aviso DepurarRechazada() {
        const qint64 filas = Contar("V_MV_STOCK"), asientos = Contar("MV_ASIENTOS");
        Confirmar();
        Depurar("2022");
        EXPECT_EQ(Guion().Avisos().size(), 2u);
        EXPECT_EQ(Contar("V_MV_STOCK"), filas);
        EXPECT_EQ(Contar("MV_ASIENTOS"), asientos);
        EXPECT_FALSE(Config("FECHAULTIMADEPURACION").isValid());
        EXPECT_FALSE(Config("DEPURACIONPENDIENTE").isValid());
        EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
        EXPECT_TRUE(SentenciasCon("INSERT ").isEmpty() && SentenciasCon("UPDATE ").isEmpty());
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);
        EXPECT_FALSE(Guion().Terminado());
        return UltimoAviso();
    }
};

bool mismosSaldos(const QList<demodb::SaldoStock>& a, const QList<demodb::SaldoStock>& b, std::string* dif) {
    if (a.size() != b.size()) {
        *dif = "groups " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        demodb::SaldoStock x = a[i], y = b[i];
        x.movimientos = y.movimientos = 0;
        if (!(x == y)) {
            *dif = (x.idArticulo + "/" + x.descripcion + ": " + QString::number(x.cantidad) + " vs " +
                    QString::number(y.cantidad) + " UD " + QString::number(x.cantidadUD) + " vs " +
                    QString::number(y.cantidadUD))
                       .toStdString();
            return false;
        }
    }
    return true;
}
} // namespace

TEST_F(Depuracion2022, CompletaDeAsientosYStock) {
    Movimientos();
    const auto antes = Saldos(QDate(2023, 12, 31));
    const auto antesPorArticulo = Saldos(QDate(2023, 12, 31), demodb::Agrupacion::ArticuloUnidadDescripcion);
    Abrir();
    // In the middle of the purge: the operating period holds the year, and the window ignores
    // its buttons and its close box.
    QString desdeDurante, hastaDurante;
    bool ignoraBotones = false;
    gSesion().AntesDeEjecutar = [&, anterior = gSesion().AntesDeEjecutar](const QString& sql) {
        anterior(sql);
        if (!sql.startsWith("INSERT INTO V_MV_STOCK") || !desdeDurante.isEmpty()) return;
        desdeDurante = Config("fechaoperdesde").toString();
        hastaDurante = Config("fechaoperhasta").toString();
        frm->CmdCAncelar->click();
        frm->CmdAceptar->click();
        const bool cerro = frm->close();
        ignoraBotones = frm->Purgando() && !cerro && !Guion().Terminado() && Guion().Avisos().size() == 1;
    };
    Confirmar();
    Depurar("2022");

    // The journal of the year is gone (the row stored with a blank too), the next year stays.
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE PERIODO = '2023'"), 2);

    // One "SI" voucher after the highest one, one row per group with its detail.
    const auto filas = FilasSI("000300000042A");
    const size_t grupos = 6;
    ASSERT_EQ(filas.size(), grupos);
    for (size_t i = 0; i < filas.size(); ++i) {
        EXPECT_EQ(filas[i].secuencia, int(i) + 1);
        EXPECT_EQ(filas[i].fecha, "2022-12-31");
        EXPECT_EQ(filas[i].controladoPor, "Depuracion");
        EXPECT_EQ(filas[i].unidad, "UN");
    }
    const FilaSI* a1 = Buscar(filas, "A1", 1);
    const FilaSI* a1sin = Buscar(filas, "A1", QVariant());
    const FilaSI* a1dep2 = Buscar(filas, "A1", 2);
    const FilaSI* a2 = Buscar(filas, "A2", 1);
    const FilaSI* a3 = Buscar(filas, "A3", 1);
    const FilaSI* a5 = Buscar(filas, "A5", 1);
    ASSERT_TRUE(a1 && a1sin && a1dep2 && a2 && a3 && a5);
    EXPECT_EQ(a1->cantidad, 7);
    EXPECT_EQ(a1sin->cantidad, 20);
    EXPECT_TRUE(a1sin->posicion.isNull());
    EXPECT_EQ(a1dep2->cantidad, 5);
    EXPECT_EQ(a3->cantidad, 0) << "a zero balance gets its row";
    EXPECT_EQ(a5->cantidad, 7) << "a Null Anulado counts as valid";
    EXPECT_EQ(a2->descripcion, "Tornillo 'largo'");
    EXPECT_EQ(a2->serie.toString(), "S1");
    EXPECT_EQ(a2->lote.toString(), "L1");
    EXPECT_EQ(a2->posicion.toString(), "P1");
    EXPECT_DOUBLE_EQ(a2->cantidadUD.toDouble(), 2.5);
    EXPECT_TRUE(a1->cantidadUD.isNull());
    EXPECT_EQ(Buscar(filas, "A4", 1), nullptr) << "annulled movements carry nothing";

    // Everything up to the cut-off is gone (annulled and the earlier voucher too); later stays.
    EXPECT_EQ(Contar("V_MV_STOCK"), qint64(grupos) + 2);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE IDCOMPROBANTE = '000300000041A'"), 0);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA > '2022-12-31'"), 2);
    std::string dif;
    EXPECT_TRUE(mismosSaldos(antes, Saldos(QDate(2023, 12, 31)), &dif)) << dif;
    EXPECT_TRUE(mismosSaldos(
        antesPorArticulo, Saldos(QDate(2023, 12, 31), demodb::Agrupacion::ArticuloUnidadDescripcion), &dif))
        << dif;

    // The purge date and the operating period.
    EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
    EXPECT_EQ(Valor("SELECT Grupo FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'").toString(),
              "DATOS");
    EXPECT_EQ(desdeDurante, "01/01/2022");
    EXPECT_EQ(hastaDurante, "31/12/2022");
    EXPECT_EQ(Config("fechaoperdesde").toString(), "01/01/2024");
    EXPECT_EQ(Config("fechaoperhasta").toString(), "31/12/2024");
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE CLAVE = ' fechaoperhasta '"), 1)
        << "the key itself is not rewritten";
    EXPECT_TRUE(ignoraBotones);

    // What the operator saw, and the end of the program.
    ASSERT_EQ(Guion().Avisos().size(), 2u);
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(UltimoAviso().estilo, 64);
    EXPECT_EQ(UltimoAviso().titulo, Textos::Aviso);
    EXPECT_TRUE(Guion().Terminado());
    EXPECT_EQ(*Guion().CodigoFin(), 0);
    EXPECT_FALSE(frm->HayError);
    EXPECT_FALSE(frm->Purgando());
    EXPECT_FALSE(frm->ImgBasura->isVisibleTo(frm.get()));
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);

    // The progress display: title, the balance query, one line per batch of two rows with its
    // last row, the deletion, closed.
    EXPECT_EQ(SentenciasCon("INSERT INTO V_MV_STOCK").size(), grupos / 2);
    const size_t lotes = grupos / 2;
    ASSERT_EQ(HastaElPrimerCierre(), 2 + lotes + 2);
    EXPECT_EQ(avance[0].tipo, "Iniciar");
    EXPECT_EQ(avance[0].linea1, "Depurando Movimientos de Stock...");
    EXPECT_EQ(avance[1].linea1, "Obteniendo Saldo Inicial a la Fecha de Depuración");
    for (size_t i = 0; i < lotes; ++i) {
        const auto& m = avance[2 + i];
        const FilaSI& ultima = filas[2 * i + 1];
        EXPECT_EQ(m.linea1, "Generando Saldo Inicial");
        EXPECT_EQ(m.valor, QString::number(ultima.secuencia));
        EXPECT_EQ(m.linea2, ultima.articulo + " " + ultima.descripcion);
    }
    EXPECT_EQ(avance[2 + lotes].linea1, "Eliminando Movimientos de Stock");
    EXPECT_EQ(avance[2 + lotes].linea2,
              "Este proceso puede demorar unos minutos, por favor sea pasciente...");
    EXPECT_EQ(avance[2 + lotes].valor, "");
    EXPECT_EQ(avance[3 + lotes].tipo, "Cerrar");
}

TEST_F(Depuracion2022, LoQueRecibiriaSQLServer) {
    const QString descripcion = QString::fromUtf8("Caño de 1\" \xF0\x9F\x98\x80 O'Brien");
    Sql({InsertarMov({.fecha = "2022-03-01",
                      .articulo = "Ñ1",
                      .cantidad = 2,
                      .posicion = "Pasillo ñ",
                      .serie = "Nº 5",
                      .lote = "L-ü",
                      .descripcion = descripcion})});
    Confirmar();
    Depurar("2022");
    ASSERT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    // The order of the statements, their locks and transactions are held to the recorded
    // statement logs (sistema.sentencias_doradas); here, what those logs cannot show.
    // Values in the text go as Unicode literals, the rows' own values are bound; the fixed
    // codes compared with key columns stay plain.
    EXPECT_EQ(
        escritas.filter("INSERT INTO V_MV_STOCK"),
        QStringList{"INSERT INTO V_MV_STOCK ( TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, "
                    "DESCRIPCION, IDUNIDAD, CANTIDAD,ControladoPor, IdDeposito, IdPosicion, NroSerie, "
                    "NroLote, CantidadUD)VALUES (N'SI',N'000100000001X',?,CONVERT(DATETIME,'20221231',112),"
                    "?,?,?,?,'Depuracion',?,?,?,?,?)"});
    EXPECT_EQ(Valor("SELECT DESCRIPCION || '|' || NroLote FROM V_MV_STOCK WHERE TC = 'SI'").toString(),
              descripcion + "|L-ü");
}

// The order of the steps (checks before the record is claimed, each archive read before its
// deletion, the record marked inside the stock's transaction and removed last) is held to the
// recorded statement logs, sistema.sentencias_doradas, which list every statement of a purge.

// The new voucher's number from what is there: nothing, earlier ones with a Null number (purged
// too), or one dated on the cut-off, which is all the deletion keeps beside the new one. A
// voucher with a Null type or number on the cut-off is a plain movement: it goes.
TEST_F(Depuracion2022, NumeracionDelComprobanteNuevo) {
    struct Caso {
        QStringList sql;
        const char* comprobante;
        std::vector<double> cantidades;
    };
    const std::vector<Caso> casos = {
        {{InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 10}),
          InsertarMov({.fecha = "2022-03-02", .articulo = "A2", .cantidad = 1})},
         "000100000001X",
         {10, 1}},
        {{InsertarMov(
              {.fecha = "2021-12-31", .articulo = "A1", .cantidad = 4, .tc = "SI", .comprobante = ""}),
          "UPDATE V_MV_STOCK SET IDCOMPROBANTE = NULL",
          InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 10})},
         "000100000001X",
         {14}},
        {{InsertarMov({.fecha = "2022-12-31", .articulo = "A1", .cantidad = 2, .tc = ""}),
          "UPDATE V_MV_STOCK SET TC = NULL, IDCOMPROBANTE = NULL",
          InsertarMov({.fecha = "2022-12-31",
                       .articulo = "A1",
                       .cantidad = 3,
                       .tc = "SI",
                       .comprobante = "000100000001X"})},
         "000100000002X",
         {5}},
    };
    PorCaso(casos, [&](const Caso& c) {
        Sql(c.sql);
        Confirmar();
        Depurar("2022");
        std::vector<double> cantidades;
        int secuencia = 0;
        for (const FilaSI& f : FilasSI(c.comprobante)) {
            EXPECT_EQ(f.secuencia, ++secuencia);
            cantidades.push_back(f.cantidad);
        }
        EXPECT_EQ(cantidades, c.cantidades);
        EXPECT_EQ(Contar("V_MV_STOCK"), qint64(c.cantidades.size()));
    });
}

TEST_F(Depuracion2022, SinTipoSINoSeTocaNadaSiHayStockQueLlevar) {
    // Known before anything changes: the purge is refused then, not after the journal went.
    Movimientos();
    Sql({"DELETE FROM V_TA_CPTE WHERE Codigo = 'SI'"});
    const qint64 filas = Contar("V_MV_STOCK");
    const auto aviso = DepurarRechazada();
    EXPECT_EQ(aviso.texto, Textos::FaltaSI);
    EXPECT_EQ(aviso.estilo, 0);
    EXPECT_EQ(aviso.titulo, "Cribanzas");
    EXPECT_TRUE(avance.empty()) << "no progress display";

    // With nothing valid to carry the type is not needed: the purge goes on and ends.
    Sql({"UPDATE V_MV_STOCK SET Anulado = 1 WHERE FECHA <= '2022-12-31'"});
    Guion().Limpiar();
    Confirmar();
    Depurar("2022");
    EXPECT_EQ(Guion().Avisos()[1].texto, Textos::FaltaSI);
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(Contar("V_MV_STOCK"), filas) << "nothing carried, nothing deleted";
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022"), 0);
    EXPECT_EQ(Config("FECHAULTIMADEPURACION").toString(), "01/01/2022");
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);
}

TEST_F(Depuracion2022, SaldosQueNoSePuedenSumarNoTocanNada) {
    // Whole quantities whose sum passes 64 bits: SQLite's SUM stops with "integer overflow".
    Movimientos();
    Sql({InsertarMov({.fecha = "2022-10-01", .articulo = "B1", .cantidad = 0}),
         InsertarMov({.fecha = "2022-10-02", .articulo = "B1", .cantidad = 0}),
         "UPDATE V_MV_STOCK SET CANTIDAD = 9000000000000000000 WHERE IDARTICULO = 'B1'"});
    const QString texto = DepurarRechazada().texto;
    EXPECT_TRUE(texto.startsWith("No se pueden sumar los saldos del stock al 31/12/2022") &&
                texto.contains("overflow") && texto.endsWith("No se modificó nada."))
        << texto.toStdString();

    // Past the bound but each balance within 64 bits: summed first, then purged.
    Sql({"UPDATE V_MV_STOCK SET CANTIDAD = 4000000000000000000, IDARTICULO = 'B' || IdMovimiento "
         "WHERE IDARTICULO = 'B1'"});
    Guion().Limpiar();
    sentencias.clear();
    Confirmar();
    Depurar("2022");
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(SentenciasCon("SUM(Cantidad) AS SALDOCANTIDAD").size(), 2) << "checked, then carried";
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND CANTIDAD = 4000000000000000000"), 2);
}

TEST_F(Depuracion2022, SinMovimientosValidosNoBorraNada) {
    Sql({InsertarMov({.fecha = "2022-05-01", .articulo = "A4", .cantidad = 100, .anulado = 1}),
         InsertarMov({.fecha = "2023-01-15", .articulo = "A1", .cantidad = 1})});
    Confirmar();
    Depurar("2022");
    ASSERT_EQ(HastaElPrimerCierre(), 3u);
    EXPECT_EQ(avance[0].tipo, "Iniciar");
    EXPECT_EQ(avance[1].tipo, "Mostrar");
    EXPECT_EQ(avance[2].tipo, "Cerrar");
    EXPECT_EQ(Contar("V_MV_STOCK"), 2);
    EXPECT_TRUE(SentenciasCon("INSERT INTO V_MV_STOCK").isEmpty());
    EXPECT_TRUE(SentenciasCon("DELETE FROM v_mv_stock").isEmpty());
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
}

TEST_F(Depuracion2022, ComprobanteSinLugarParaUnNumeroMas) {
    // A ninth digit, or a minus sign: either makes a 14-character voucher. Known before anything
    // changes, so the purge is refused then.
    PorCaso(std::vector<QString>{"000399999999Z", "0009-0000005X"}, [&](const QString& maximo) {
        Movimientos();
        Sql({InsertarMov(
            {.fecha = "2020-12-31", .articulo = "A9", .cantidad = 1, .tc = "SI", .comprobante = maximo})});
        const auto aviso = DepurarRechazada();
        EXPECT_EQ(aviso.tipo, "mensaje");
        EXPECT_EQ(aviso.estilo, 16);
        EXPECT_TRUE(aviso.texto.contains("8 dígitos") && aviso.texto.endsWith("No se modificó nada."))
            << aviso.texto.toStdString();
    });
}

TEST_F(Depuracion2022, FechaDeDepuracionExistenteSeReescribe) {
    Sql({"INSERT INTO TA_CONFIGURACION VALUES ('OTRO', ' FECHAULTIMADEPURACION ', '01/01/2019')",
         "DELETE FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = 'fechaoperhasta'",
         "UPDATE TA_CONFIGURACION SET VALOR = NULL WHERE CLAVE = 'fechaoperdesde'",
         InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 10})});
    Confirmar();
    Depurar("2022");
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE TRIM(CLAVE) = 'FECHAULTIMADEPURACION'"), 1);
    EXPECT_EQ(Valor("SELECT Grupo || '|' || CLAVE || '|' || VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = "
                    "'FECHAULTIMADEPURACION'")
                  .toString(),
              "DATOS|FECHAULTIMADEPURACION|01/01/2022");
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE TRIM(CLAVE) = 'fechaoperhasta'"), 0)
        << "a missing key is not created";
    EXPECT_EQ(Contar("TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde' AND VALOR IS NULL"), 1)
        << "a Null start goes back as Null";
}

// The success message offers "Compactar ahora" on SQLite: chosen, the database gives its free
// pages back to the disk under the progress display, and a second message says the sizes.
TEST_F(Depuracion2022, CompactarAhoraDesdeElMensajeFinal) {
    Movimientos();
    Sql({"CREATE TABLE relleno (datos blob)",
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
         "INSERT INTO relleno SELECT randomblob(1000) FROM n",
         "DROP TABLE relleno"});
    const qint64 antes = QFileInfo(base).size();
    Abrir();
    Confirmar();
    Guion().ResponderBoton(0);
    Depurar("2022");
    ASSERT_EQ(Guion().Avisos().size(), 3u);
    EXPECT_TRUE(Textos::EsExito(Guion().Avisos()[1].texto)) << Guion().Avisos()[1].texto.toStdString();
    EXPECT_EQ(Guion().Avisos()[1].elementos, QStringList{"Compactar ahora"});
    EXPECT_TRUE(UltimoAviso().texto.startsWith("La base de datos ocupaba "))
        << UltimoAviso().texto.toStdString();
    EXPECT_EQ(SentenciasCon("VACUUM").size(), 1);
    EXPECT_LT(QFileInfo(base).size() + 2000000, antes);
    EXPECT_TRUE(std::any_of(avance.begin(), avance.end(), [](const LlamadaAvance& l) {
        return l.tipo == "Iniciar" && l.linea1 == "Compactación de la base de datos";
    }));
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Completo);
    EXPECT_TRUE(Guion().Terminado());
    EXPECT_EQ(Valor("PRAGMA integrity_check").toString(), "ok");
}
