// Reading through recordsets on a SQLite file.
#include "apoyo/sesion.h"

#include <QDate>
#include <QDateTime>

namespace {

class Lectura : public PruebaSesion {
protected:
    void SetUp() override {
        PruebaSesion::SetUp();
        // A column of each kind the suite's tables use, in a table of its own.
        Sql({"CREATE TABLE LECTURA (PERIODO varchar(10) COLLATE NOCASE, descripcion nvarchar(40), "
             "\"Fecha Desde\" DATETIME, \"Fecha Hasta\" DATE, Cerrado BIT, CIERRE bit, Codigo char(13), "
             "Nota TEXT, Importe numeric(18,2), Cantidad INT, Tasa FLOAT)",
             "INSERT INTO LECTURA VALUES ('2022', 'Ejercicio 2022', '2022-01-01 00:00:00', "
             "'2022-12-31', 1, 0, "
             "'A', '', 5, 7, 1.5)",
             "INSERT INTO LECTURA VALUES ('2023', NULL, '2023-04-01 09:30:00', NULL, NULL, 1, NULL, "
             "NULL, 5.25, "
             "NULL, NULL)"});
        Conectar();
    }
};

} // namespace

TEST_F(Lectura, NuloDistintoDeTextoVacioYCamposPorNombre) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT * FROM LECTURA ORDER BY PERIODO", rs);
    ASSERT_FALSE(rs.BOF());
    EXPECT_EQ(rs["periodo"].toString(), "2022");
    EXPECT_FALSE(rs.Fields("NOTA").EsNulo());
    EXPECT_EQ(rs.Fields("Nota").Value().toString(), "");
    EXPECT_EQ(rs.Fields(" Fecha desde ").Name(), "Fecha Desde");
    rs.MoveNext();
    EXPECT_TRUE(rs.Fields("Nota").EsNulo());
    EXPECT_TRUE(rs.Fields("DESCRIPCION").EsNulo());
    try {
        (void)rs.Fields("Nota").Texto();
        FAIL() << "Texto de un Null";
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::UsoNoValidoDeNull);
        EXPECT_EQ(e.Descripcion, "Uso no válido de Null");
    }
    try {
        (void)rs.Fields("NoExiste");
        FAIL() << "campo inexistente";
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::ElementoNoEncontrado);
        EXPECT_TRUE(e.Descripcion.contains("NoExiste"));
    }
    EXPECT_THROW((void)rs.Fields(11), ErrorSistema);
    EXPECT_THROW((void)rs.Valor(-1), ErrorSistema);
}

TEST_F(Lectura, FechasNumerosYLogicos) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT * FROM LECTURA ORDER BY PERIODO", rs, Cursor::Dinamico,
                            Bloqueo::SoloLectura);
    EXPECT_EQ(rs["Fecha Hasta"], QVariant(QDate(2022, 12, 31)));
    EXPECT_EQ(rs.Fields("Fecha Hasta").Texto(), "31/12/2022");
    EXPECT_EQ(rs["Fecha Desde"], QVariant(QDateTime(QDate(2022, 1, 1), QTime(0, 0))));
    EXPECT_EQ(rs.Fields("Fecha Desde").Texto(), "01/01/2022"); // midnight shows no time
    EXPECT_EQ(rs["Importe"].typeId(), QMetaType::Double);
    EXPECT_EQ(rs.Fields("Importe").Texto(), "5");
    EXPECT_EQ(rs["Cerrado"], QVariant(true));
    EXPECT_EQ(rs.Fields("Cerrado").Texto(), "Verdadero");
    EXPECT_EQ(rs.Fields("CIERRE").Texto(), "Falso");
    EXPECT_EQ(rs.Fields("Tasa").Texto(), "1.5");
    EXPECT_EQ(rs["Cantidad"].toInt(), 7);
    rs.MoveNext();
    EXPECT_EQ(rs["Fecha Desde"], QVariant(QDateTime(QDate(2023, 4, 1), QTime(9, 30))));
    EXPECT_EQ(rs.Fields("Fecha Desde").Texto(), "01/04/2023 09:30:00");
    EXPECT_TRUE(rs["Fecha Hasta"].isNull());
    EXPECT_EQ(rs["Importe"], QVariant(5.25));
    EXPECT_TRUE(rs["Cerrado"].isNull());
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
}

TEST_F(Lectura, TextoDeFechaQueNoEsFechaQuedaComoTexto) {
    Sql({"UPDATE LECTURA SET \"Fecha Hasta\" = 'sin fecha' WHERE PERIODO = '2022'",
         "UPDATE LECTURA SET \"Fecha Hasta\" = '2023-02-30' WHERE PERIODO = '2023'"});
    Recordset rs;
    sesion_->AbrirRecordset("SELECT \"Fecha Hasta\" FROM LECTURA ORDER BY PERIODO", rs);
    EXPECT_EQ(rs.Fields(0).Texto(), "sin fecha");
    rs.MoveNext();
    EXPECT_EQ(rs.Fields(0).Texto(), "2023-02-30");
}

TEST_F(Lectura, TamanosDefinidos) {
    Recordset rs;
    sesion_->AbrirRecordset(
        "SELECT PERIODO, descripcion, Codigo, Nota, Cantidad, Tasa, \"Fecha Desde\", Cerrado, "
        "count(*) AS n, SUM(Importe) AS s FROM LECTURA GROUP BY PERIODO",
        rs);
    const std::vector<long> esperados = {10, 40, 13, 2147483647, 4, 8, 8, 2};
    for (int i = 0; i < int(esperados.size()); ++i)
        EXPECT_EQ(rs.Fields(i).DefinedSize(), esperados[size_t(i)]) << i;
    EXPECT_EQ(rs.Fields("n").DefinedSize(), 8);
    EXPECT_EQ(rs.Fields("s").DefinedSize(), 8);
    EXPECT_EQ(rs.FieldCount(), 10);
}

TEST_F(Lectura, BofYEofSinFilasYRecorrido) {
    for (int cursor : {Cursor::SoloAdelante, Cursor::Dinamico}) {
        Recordset rs;
        sesion_->AbrirRecordset("SELECT * FROM LECTURA WHERE PERIODO = 'nada'", rs, cursor);
        EXPECT_TRUE(rs.BOF());
        EXPECT_TRUE(rs.Eof());
        EXPECT_EQ(rs.FieldCount(), 11);
        EXPECT_THROW((void)rs["PERIODO"], ErrorSistema);
        EXPECT_THROW(rs.MoveNext(), ErrorSistema);

        sesion_->AbrirRecordset("SELECT PERIODO FROM LECTURA ORDER BY 1", rs, cursor);
        EXPECT_FALSE(rs.BOF());
        QStringList vistos;
        while (!rs.Eof()) {
            vistos << rs.Valor(0).toString();
            rs.MoveNext();
        }
        EXPECT_EQ(vistos, QStringList({"2022", "2023"}));
        EXPECT_FALSE(rs.BOF());
        try {
            rs.MoveNext();
            FAIL();
        } catch (const ErrorSistema& e) {
            EXPECT_EQ(e.Numero, 3021);
        }
        rs.MoveFirst();
        EXPECT_FALSE(rs.Eof());
        EXPECT_EQ(rs.Valor(0).toString(), "2022");
    }
}

TEST_F(Lectura, ReabrirSinCerrarYCerrar) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT PERIODO FROM LECTURA WHERE PERIODO = '2022'", rs);
    sesion_->AbrirRecordset("SELECT descripcion, PERIODO FROM LECTURA WHERE PERIODO = '2023'", rs);
    EXPECT_EQ(rs.FieldCount(), 2);
    EXPECT_EQ(rs["PERIODO"].toString(), "2023");
    sesion_->CerrarRecordset(rs);
    EXPECT_FALSE(rs.Abierto());
    EXPECT_THROW((void)rs.BOF(), ErrorSistema);
    sesion_->CerrarRecordset(rs); // closing twice is harmless
    // A statement that fails leaves the recordset closed and says why.
    try {
        sesion_->AbrirRecordset("SELECT * FROM NO_EXISTE", rs);
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::BaseDeDatos);
        EXPECT_TRUE(e.Descripcion.contains("NO_EXISTE")) << e.Descripcion.toStdString();
    }
    EXPECT_FALSE(rs.Abierto());
}

// Also when the recordset steps SQLite's statement itself: the rows still to come are
// handed over to Qt's reading, none skipped or repeated.
TEST_F(Lectura, FlujoLeeLoQueHabiaAlAbrirAunqueSeInserteEnLaMismaTabla) {
    for (const bool directa : {false, true}) {
        SCOPED_TRACE(directa ? "lectura directa" : "lectura de Qt");
        Sql({"DROP TABLE IF EXISTS S", "CREATE TABLE S (ID INTEGER, C numeric(18,2))"});
        QStringList filas = {"BEGIN"};
        for (int i = 1; i <= 300; ++i)
            filas << QStringLiteral("INSERT INTO S VALUES (%1, %1.5)").arg(i);
        Sql(filas << "COMMIT");
        Recordset rs, otro;
        sesion_->IniciarTransaccion();
        sesion_->AbrirRecordset("SELECT ID, SUM(C) AS T FROM S GROUP BY ID", rs);
        if (directa) {
            EXPECT_TRUE(rs.LecturaDirecta());
        }
        int n = 0;
        while (!rs.Eof()) {
            const qlonglong id = rs.Valor(0).toLongLong();
            EXPECT_EQ(id, n + 1);
            // From the fifth row on, after rows the recordset stepped itself.
            if (n >= 4) sesion_->Ejecutar(QStringLiteral("INSERT INTO S VALUES (%1, 1)").arg(id + 1000));
            if (n == 10) { // another recordset in the middle does not disturb the walk
                sesion_->AbrirRecordset("SELECT COUNT(*) FROM S", otro);
                EXPECT_EQ(otro.Valor(0).toInt(), 307);
            }
            // A column not yet read when the rest was handed over is still this row's.
            EXPECT_DOUBLE_EQ(rs.Valor(1).toDouble(), double(id) + 0.5);
            ++n;
            rs.MoveNext();
        }
        EXPECT_EQ(n, 300);
        sesion_->ConfirmarTransaccion();
        EXPECT_EQ(Valor("SELECT COUNT(*) FROM S").toInt(), 596);
    }
}

TEST_F(Lectura, FlujoVueltoAlPrincipioRelee) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT PERIODO FROM LECTURA ORDER BY 1", rs);
    rs.MoveFirst(); // already there: nothing runs
    rs.MoveNext();
    const int antes = int(sentencias_.size());
    rs.MoveFirst();
    EXPECT_EQ(int(sentencias_.size()), antes + 1);
    EXPECT_EQ(rs.Valor(0).toString(), "2022");
    // Read into memory before the end, the first row is kept.
    sesion_->AbrirRecordset("SELECT PERIODO FROM LECTURA ORDER BY 1", rs);
    sesion_->Ejecutar("UPDATE LECTURA SET Nota = 'x'");
    rs.MoveNext();
    rs.MoveFirst();
    EXPECT_EQ(rs.Valor(0).toString(), "2022");
}

TEST_F(Lectura, DesconectarCierraLosRecordsets) {
    Recordset a, b;
    sesion_->AbrirRecordset("SELECT * FROM LECTURA", a);
    sesion_->AbrirRecordset("SELECT * FROM LECTURA", b, Cursor::Dinamico);
    sesion_->Desconectar();
    EXPECT_FALSE(a.Abierto());
    EXPECT_FALSE(b.Abierto());
    EXPECT_FALSE(sesion_->Conectado());
    EXPECT_THROW(sesion_->Ejecutar("DELETE FROM LECTURA"), ErrorSistema);
    sesion_->Conectar();
    sesion_->AbrirRecordset("SELECT * FROM LECTURA", a);
    Recordset c = std::move(a);
    sesion_.reset(); // the session goes first
    EXPECT_FALSE(c.Abierto());
}
