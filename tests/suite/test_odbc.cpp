// The ODBC route end to end, against SQLite's ODBC driver through a temporary data source.
#include "apoyo/entorno.h"
#include "apoyo/sesion.h"

#include "apoyo/sql_directo.h"
#include <clocale>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

namespace {

// One data source and one database path for the whole run: the driver manager caches the
// odbc.ini it read while its libraries stay loaded.
const QTemporaryDir& carpetaOdbc() {
    static const QTemporaryDir dir;
    return dir;
}

class Odbc : public PruebaSesion {
protected:
    void SetUp() override {
        MantenerControladorOdbc();
        PruebaSesion::SetUp();
        ASSERT_TRUE(carpetaOdbc().isValid());
        ruta_ = carpetaOdbc().filePath("odbc.db");
        QFile::remove(ruta_);
        Sql(demodb::SentenciasTablas());
        Sql({"BEGIN",
             "INSERT INTO MV_EJERCICIOS (PERIODO, descripcion, \"Fecha Desde\", \"Fecha Hasta\", Cerrado) "
             "VALUES (2023, 'Ejercicio 2023', '2023-01-01', '2023-12-31', 1)",
             "INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES ('2023', 10.5)",
             "INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES (' 2023', 4)",
             "INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES ('2024', 1)",
             "INSERT INTO TA_CONFIGURACION VALUES ('OPER', 'fechaoperdesde', '01/01/2024')",
             "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'otra', '01/01/2024')", "COMMIT"});
        ini_ = carpetaOdbc().filePath("odbc.ini");
        QFile f(ini_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[PRUEBA_CRIBANZAS]\nDriver=SQLite3\nDatabase=%1\nTimeout=3000\n")
                    .arg(ruta_)
                    .toUtf8());
        f.close();
        entorno_.Fijar("ODBCINI", ini_.toUtf8());
        sesion_ = std::make_unique<Sesion>();
        sesion_->setDbName("PRUEBA_CRIBANZAS");
        sesion_->setUsuario("");
        sesion_->setCommandTimeout(360);
        sesion_->Conectar();
        ASSERT_TRUE(sesion_->Conectado())
            << (guion_->Avisos().empty() ? "" : guion_->Avisos()[0].texto.toStdString());
        sesion_->AntesDeEjecutar = [this](const QString& s) { sentencias_ << s; };
    }
    void TearDown() override {
        PruebaSesion::TearDown();
        entorno_.Restaurar();
    }
    QString ini_;
    EntornoFijado entorno_;
};

} // namespace

TEST_F(Odbc, ReconoceSQLiteYTraduce) {
    EXPECT_TRUE(sesion_->EsSQLite());
    EXPECT_EQ(sesion_->CadenaConexion(), "DSN=PRUEBA_CRIBANZAS;UID=;PWD=");
    Recordset rs;
    sesion_->AbrirRecordset(
        "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023", rs);
    EXPECT_EQ(sentencias_.last(),
              "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2023");
    EXPECT_EQ(rs["registros"].toInt(), 2);
    sesion_->Ejecutar("DELETE MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023");
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM MV_ASIENTOS").toInt(), 1);
}

TEST_F(Odbc, FechasTamanosYNumeros) {
    Recordset rs;
    // There is no CIERRE_ANUAL column: the driver's own text reaches the caller.
    try {
        sesion_->AbrirRecordset("SELECT * FROM MV_EJERCICIOS WHERE (CIERRE_ANUAL = 1) OR (CERRADO=1)", rs);
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::BaseDeDatos);
        EXPECT_TRUE(e.Descripcion.contains("CIERRE")) << e.Descripcion.toStdString();
    }
    sesion_->AbrirRecordset("SELECT * FROM MV_EJERCICIOS WHERE CERRADO=1", rs, Cursor::Dinamico);
    ASSERT_FALSE(rs.BOF());
    EXPECT_EQ(rs["Fecha Desde"], QVariant(QDate(2023, 1, 1)));
    EXPECT_EQ(rs.Fields("Fecha Desde").Texto(), "01/01/2023");
    EXPECT_EQ(rs.Fields("Fecha Hasta").Texto(), "31/12/2023");
    EXPECT_EQ(rs.Fields("descripcion").DefinedSize(), 50);
    EXPECT_EQ(rs.Fields("descripcion").Texto(), "Ejercicio 2023");
    sesion_->AbrirRecordset("SELECT SUM(DEBE) AS S FROM MV_ASIENTOS", rs);
    EXPECT_EQ(sesion_->ValorSQL(rs.Fields("S").Value(), "@"), QVariant("15.5"));
    // The driver types a computed column from its first row (4): the 10.5 after it stays whole.
    sesion_->AbrirRecordset("SELECT PERIODO, SUM(DEBE) AS S FROM MV_ASIENTOS GROUP BY PERIODO ORDER BY 1",
                            rs);
    rs.MoveNext();
    EXPECT_EQ(rs["S"], QVariant(10.5));
}

TEST_F(Odbc, TextoNoAsciiConCualquierLocale) {
    // A connection opened under C, as a cron job runs: what it writes and reads keeps its letters.
    const QByteArray antes = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C");
    Sesion s;
    s.setDbName("PRUEBA_CRIBANZAS");
    s.Conectar();
    setlocale(LC_CTYPE, antes.constData());
    ASSERT_TRUE(s.Conectado());
    s.Ejecutar("INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES ('Caño Ñandú', 1)");
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM MV_ASIENTOS WHERE PERIODO = 'Caño Ñandú'").toInt(), 1);
    Recordset rs;
    s.AbrirRecordset("SELECT PERIODO FROM MV_ASIENTOS WHERE DEBE = 1 ORDER BY 1 DESC", rs);
    EXPECT_EQ(rs["PERIODO"], QVariant("Caño Ñandú"));
}

TEST_F(Odbc, ParametrosGuardanLoMismoQueLosLiterales) {
    ParametrosComoLiterales();
}

TEST_F(Odbc, ActualizarAgregarYTransacciones) {
    Recordset rs;
    sesion_->AbrirRecordset("SELECT valor FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'", rs,
                            Cursor::Dinamico, Bloqueo::Optimista);
    rs.Fields("valor").setValue("01/01/2023");
    rs.Update();
    EXPECT_EQ(Valor("SELECT Valor FROM TA_CONFIGURACION WHERE Clave = 'fechaoperdesde'").toString(),
              "01/01/2023");
    EXPECT_EQ(Valor("SELECT Valor FROM TA_CONFIGURACION WHERE Clave = 'otra'").toString(), "01/01/2024");
    sesion_->AbrirRecordset(
        "SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'FECHAULTIMADEPURACION'", rs,
        Cursor::Dinamico, Bloqueo::Optimista);
    ASSERT_TRUE(rs.BOF());
    rs.AddNew();
    rs.Fields("Grupo").setValue("DATOS");
    rs.Fields("Clave").setValue("FECHAULTIMADEPURACION");
    rs.Fields("Valor").setValue("01/01/2023");
    rs.Update();
    rs.Close();
    EXPECT_EQ(Valor("SELECT Grupo FROM TA_CONFIGURACION WHERE Clave = 'FECHAULTIMADEPURACION'").toString(),
              "DATOS");

    sesion_->IniciarTransaccion();
    sesion_->Ejecutar("INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES ('2030', 1)");
    sesion_->DeshacerTransaccion();
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM MV_ASIENTOS WHERE PERIODO = '2030'").toInt(), 0);

    // Walking a balance while inserting, all in one transaction.
    sesion_->AbrirRecordset("SELECT PERIODO, SUM(DEBE) AS S FROM MV_ASIENTOS GROUP BY PERIODO", rs);
    sesion_->IniciarTransaccion();
    int n = 0;
    for (; !rs.Eof(); rs.MoveNext(), ++n)
        sesion_->Ejecutar("INSERT INTO MV_ASIENTOS (PERIODO, DEBE) VALUES (" +
                          sesion_->ValorSQL(rs["PERIODO"], "'").toString() + ", " +
                          sesion_->ValorSQL(rs["S"], "@").toString() + ")");
    sesion_->ConfirmarTransaccion();
    EXPECT_EQ(n, 3);
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM MV_ASIENTOS").toInt(), 6);
}

TEST_F(Odbc, TransaccionTomaLaEscrituraAlEmpezar) {
    // The driver starts its own deferred transactions when autocommit is off: the session
    // leaves autocommit on and sends BEGIN IMMEDIATE itself. The wait is the source's Timeout.
    TransaccionDeEscritura(*sesion_, ruta_);
}
