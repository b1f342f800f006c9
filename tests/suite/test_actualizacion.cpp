// Updatable recordsets write back exactly the row they read, or nothing.
#include "apoyo/sesion.h"

namespace {

class Actualizacion : public PruebaSesion {
protected:
    void SetUp() override {
        PruebaSesion::SetUp();
        Sql(demodb::SentenciasTablas());
        Sql({"BEGIN", "INSERT INTO TA_CONFIGURACION VALUES ('OPER', 'fechaoperdesde', '01/01/2023')",
             "INSERT INTO TA_CONFIGURACION VALUES ('OPER', ' fechaoperhasta  ', '31/12/2023')",
             "INSERT INTO TA_CONFIGURACION VALUES ('OPER', 'fechaoperhasta', '31/12/2023')",
             "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'FECHAULTIMADEPURACION', '01/01/2023')",
             "INSERT INTO TA_CONFIGURACION VALUES ('X', 'doble', NULL)",
             "INSERT INTO TA_CONFIGURACION VALUES ('X', 'doble', NULL)", "COMMIT"});
        Conectar();
    }
    QStringList Tabla() {
        QStringList r;
        Recordset rs;
        Sesion otra;
        otra.setDbName(ruta_);
        otra.Conectar();
        otra.AbrirRecordset("SELECT Grupo, Clave, Valor FROM TA_CONFIGURACION ORDER BY rowid", rs);
        for (; !rs.Eof(); rs.MoveNext())
            r << QStringLiteral("%1|%2|%3")
                     .arg(rs.Valor(0).toString(), rs.Valor(1).toString(),
                          rs.Valor(2).isNull() ? QStringLiteral("NULL") : rs.Valor(2).toString());
        return r;
    }
    void Abrir(Recordset& rs, const char* sql) {
        sesion_->AbrirRecordset(QString::fromUtf8(sql), rs, Cursor::Dinamico, Bloqueo::Optimista);
    }
};

} // namespace

TEST_F(Actualizacion, SoloLaFilaLeidaAunqueOtraTengaElMismoValor) {
    const QStringList antes = Tabla();
    Recordset rs;
    Abrir(rs, "SELECT valor FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'");
    ASSERT_FALSE(rs.BOF());
    rs.Fields("Valor").setValue("01/01/2022");
    EXPECT_EQ(rs["valor"].toString(), "01/01/2022"); // the staged value reads back
    rs.Update();
    QStringList despues = antes;
    despues[0] = "OPER|fechaoperdesde|01/01/2022";
    EXPECT_EQ(Tabla(), despues); // FECHAULTIMADEPURACION held the same value and stays
    // The last write is the update, committed with the count that found its row.
    ASSERT_GE(sentencias_.size(), 2);
    EXPECT_TRUE(sentencias_[sentencias_.size() - 2].startsWith("UPDATE TA_CONFIGURACION SET"))
        << sentencias_.join('\n').toStdString();
    EXPECT_EQ(sentencias_.last(), "COMMIT TRANSACTION");
}

TEST_F(Actualizacion, TablaYCondicionLeidasComoLasLeeElMotor) {
    // Quotes inside comments and quoted names, and keywords inside literals, are not the statement's.
    const QStringList antes = Tabla();
    Recordset rs;
    Abrir(rs, "SELECT valor -- it's the period\n/* FROM X WHERE */ FROM [TA_CONFIGURACION] WHERE CLAVE = "
              "N'fechaoperdesde' AND Grupo <> 'x ORDER BY y' ORDER BY Clave;");
    ASSERT_FALSE(rs.BOF());
    rs.Fields("Valor").setValue("01/01/2022");
    rs.Update();
    QStringList despues = antes;
    despues[0] = "OPER|fechaoperdesde|01/01/2022";
    EXPECT_EQ(Tabla(), despues);
}

TEST_F(Actualizacion, ClaveConBlancosNoTocaLaOtraFila) {
    Recordset rs;
    Abrir(rs, "SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'fechaoperhasta'");
    ASSERT_FALSE(rs.BOF());
    rs.Fields("Valor").setValue("31/12/2022");
    rs.Update();
    const QStringList t = Tabla();
    EXPECT_EQ(t[1], "OPER| fechaoperhasta  |31/12/2022");
    EXPECT_EQ(t[2], "OPER|fechaoperhasta|31/12/2023");
    rs.MoveNext();
    rs.Fields("Clave").setValue("fechaoperhasta");
    rs.Fields("Valor").setValue("30/06/2022");
    rs.Update();
    EXPECT_EQ(Tabla()[2], "OPER|fechaoperhasta|30/06/2022");
    EXPECT_EQ(Tabla()[1], "OPER| fechaoperhasta  |31/12/2022");
}

TEST_F(Actualizacion, FilaRepetidaOBorradaFallaSinCambiarNada) {
    const QStringList antes = Tabla();
    Recordset rs;
    Abrir(rs, "SELECT * FROM TA_CONFIGURACION WHERE CLAVE = 'doble'");
    // The error Update raises; none: number 0.
    auto error = [&rs] {
        try {
            rs.Update();
        } catch (const ErrorSistema& e) {
            return e;
        }
        return ErrorSistema(0, QString());
    };
    rs.Fields("Valor").setValue("uno");
    const ErrorSistema repetida = error();
    EXPECT_EQ(repetida.Numero, Errores::FilaNoEncontrada);
    EXPECT_TRUE(repetida.Descripcion.contains("no es única")) << repetida.Descripcion.toStdString();
    EXPECT_EQ(Tabla(), antes);
    rs.Close();

    Abrir(rs, "SELECT valor FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'");
    Sql({"DELETE FROM TA_CONFIGURACION WHERE Clave = 'fechaoperdesde'"});
    rs.Fields("valor").setValue("x");
    const ErrorSistema borrada = error();
    EXPECT_EQ(borrada.Numero, Errores::FilaNoEncontrada);
    EXPECT_TRUE(borrada.Descripcion.startsWith("No se encontró la fila para actualizar"))
        << borrada.Descripcion.toStdString();
    QStringList esperado = antes;
    esperado.removeAt(0);
    EXPECT_EQ(Tabla(), esperado);

    // Changed by someone else after the read: also not found, and the other change stays.
    Abrir(rs, "SELECT * FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'");
    Sql({"UPDATE TA_CONFIGURACION SET Valor = 'ajeno' WHERE Clave = 'FECHAULTIMADEPURACION'"});
    rs.Fields("Valor").setValue("mio");
    EXPECT_EQ(error().Numero, Errores::FilaNoEncontrada);
    EXPECT_EQ(Valor("SELECT Valor FROM TA_CONFIGURACION WHERE Clave = 'FECHAULTIMADEPURACION'").toString(),
              "ajeno");
}

TEST_F(Actualizacion, AgregarFila) {
    Recordset rs;
    Abrir(rs, "SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'NUEVA'");
    ASSERT_TRUE(rs.BOF());
    rs.AddNew();
    rs.Fields("Grupo").setValue("DATOS");
    rs.Fields("Clave").setValue("NUEVA");
    rs.Fields("Valor").setValue("O'Higgins");
    rs.Update();
    EXPECT_FALSE(rs.BOF());
    EXPECT_EQ(rs["Valor"].toString(), "O'Higgins");
    rs.Close();
    EXPECT_EQ(Tabla().last(), "DATOS|NUEVA|O'Higgins");
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM TA_CONFIGURACION").toInt(), 7);
}

TEST_F(Actualizacion, PorClavePrimariaYCierreSinUpdate) {
    Sql({"CREATE TABLE P (ID INTEGER PRIMARY KEY, Nombre varchar(20), Fecha DATETIME)",
         "INSERT INTO P VALUES (1, 'a', '2023-01-01 00:00:00')",
         "INSERT INTO P VALUES (2, 'a', '2023-01-01 00:00:00')"});
    Recordset rs;
    Abrir(rs, "SELECT * FROM P WHERE Nombre = 'a' ORDER BY ID DESC");
    Sql({"UPDATE P SET Nombre = 'b' WHERE ID = 2"}); // the key still finds it
    rs.Fields("Fecha").setValue("2023-12-31");
    rs.Update();
    EXPECT_EQ(rs["Fecha"], QVariant(QDate(2023, 12, 31)));
    EXPECT_EQ(Valor("SELECT Fecha FROM P WHERE ID = 2").toString(), "2023-12-31");
    EXPECT_EQ(Valor("SELECT Fecha FROM P WHERE ID = 1").toString(), "2023-01-01 00:00:00");
    rs.MoveNext();
    rs.Fields("Nombre").setValue("nunca");
    rs.Close(); // pending change dropped
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM P WHERE Nombre = 'nunca'").toInt(), 0);
}

TEST_F(Actualizacion, SoloLecturaNoAdmiteCambios) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT * FROM TA_CONFIGURACION", rs);
    EXPECT_THROW(rs.Fields("Valor").setValue("x"), ErrorSistema);
    EXPECT_THROW(rs.AddNew(), ErrorSistema);
    Recordset conJoin;
    sesion_->AbrirRecordset("SELECT a.Valor FROM TA_CONFIGURACION a, TA_CONFIGURACION b", conJoin,
                            Cursor::Dinamico, Bloqueo::Optimista);
    conJoin.Fields(0).setValue("x");
    EXPECT_THROW(conJoin.Update(), ErrorSistema);
}
