// The session: connection, key look-ups, literals, statements and transactions.
#include "apoyo/codigos.h"
#include "apoyo/entorno.h"
#include "apoyo/sesion.h"
#include "suite/transaccion.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <thread>

namespace {

class Consultas : public PruebaSesion {
protected:
    void SetUp() override {
        PruebaSesion::SetUp();
        Sql(demodb::SentenciasTablas());
        Sql({"CREATE TABLE x (a INT)",
             "INSERT INTO MV_EJERCICIOS (PERIODO, descripcion, \"Fecha Desde\", Cerrado) VALUES (2023, "
             "'Ejercicio 2023', '2023-01-01', 1)",
             "INSERT INTO MV_EJERCICIOS (PERIODO, descripcion, \"Fecha Desde\", Cerrado) VALUES (2024, NULL, "
             "NULL, 0)",
             "INSERT INTO V_TA_CPTE (Codigo) VALUES ('SI')",
             "INSERT INTO V_TA_CPTE (Codigo) VALUES ('O''K')"});
        Conectar();
    }
};

} // namespace

TEST_F(Consultas, ExisteConClaveEntera) {
    Recordset rs;
    EXPECT_TRUE(sesion_->Existe("MV_EJERCICIOS", " 2023 ", "PERIODO", &rs, TipoClave::Entero, ""));
    ASSERT_TRUE(rs.Abierto());
    EXPECT_EQ(rs["Cerrado"], QVariant(true));
    EXPECT_EQ(sentencias_.last(), "SELECT * FROM MV_EJERCICIOS WHERE PERIODO = 2023");
    EXPECT_FALSE(sesion_->Existe("MV_EJERCICIOS", "1999", "PERIODO", &rs, TipoClave::Entero, ""));
    EXPECT_TRUE(rs.BOF());
    EXPECT_TRUE(
        sesion_->Existe("MV_EJERCICIOS", "2024", "PERIODO", nullptr, TipoClave::Entero, "Cerrado = 0"));
    EXPECT_EQ(sentencias_.last(), "SELECT * FROM MV_EJERCICIOS WHERE PERIODO = 2024 AND (Cerrado = 0)");

    // Keys that are not plain whole numbers run nothing at all.
    sentencias_.clear();
    for (const QString clave : {"", "  "})
        EXPECT_FALSE(sesion_->Existe("MV_EJERCICIOS", clave, "PERIODO", &rs, TipoClave::Entero, ""));
    for (const QString& clave : kCodigosHostiles)
        EXPECT_TRUE(kCodigosConSigno.contains(clave) ||
                    !sesion_->Existe("MV_EJERCICIOS", clave, "PERIODO", &rs, TipoClave::Entero, ""))
            << clave.toStdString();
    EXPECT_TRUE(sentencias_.isEmpty()) << sentencias_.join(" | ").toStdString();
    EXPECT_EQ(sesion_->ValorCampo("MV_EJERCICIOS", "1; DROP TABLE x", "descripcion", "PERIODO",
                                  TipoClave::Entero, ""),
              QVariant(QString()));
    EXPECT_TRUE(sentencias_.isEmpty());
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0); // the table is still there
}

TEST_F(Consultas, ExisteConClaveDeTexto) {
    EXPECT_TRUE(sesion_->Existe("V_TA_CPTE", "SI", "Codigo", nullptr, TipoClave::Texto, ""));
    EXPECT_EQ(sentencias_.last(), "SELECT * FROM V_TA_CPTE WHERE Codigo = 'SI'");
    EXPECT_TRUE(sesion_->Existe("V_TA_CPTE", "O'K", "Codigo", nullptr, TipoClave::Texto, ""));
    EXPECT_EQ(sentencias_.last(), "SELECT * FROM V_TA_CPTE WHERE Codigo = 'O''K'");
    EXPECT_FALSE(sesion_->Existe("V_TA_CPTE", "x' OR '1'='1", "Codigo", nullptr, TipoClave::Texto, ""));
    // Only a key beyond ASCII is a Unicode literal: a plain one keeps SQL Server's index seek.
    QString escrita;
    sesion_->Observador = [&](const SentenciaSesion& s) { escrita = s.sql; };
    EXPECT_FALSE(sesion_->Existe("V_TA_CPTE", "Ñ'1", "Codigo", nullptr, TipoClave::Texto, ""));
    EXPECT_EQ(escrita, "SELECT * FROM V_TA_CPTE WHERE Codigo = N'Ñ''1'");
    EXPECT_TRUE(sesion_->Existe("V_TA_CPTE", "SI", "Codigo", nullptr, TipoClave::Texto, ""));
    EXPECT_EQ(escrita, "SELECT * FROM V_TA_CPTE WHERE Codigo = 'SI'");
}

TEST_F(Consultas, ValorCampoComoTexto) {
    EXPECT_EQ(sesion_->ValorCampo("MV_EJERCICIOS", "2023", "descripcion", "PERIODO", TipoClave::Entero, ""),
              QVariant("Ejercicio 2023"));
    EXPECT_EQ(sesion_->ValorCampo("MV_EJERCICIOS", "2023", "fecha desde", "PERIODO", TipoClave::Entero, ""),
              QVariant("01/01/2023"));
    EXPECT_EQ(sesion_->ValorCampo("MV_EJERCICIOS", "2024", "descripcion", "PERIODO", TipoClave::Entero, ""),
              QVariant(QString()));
    EXPECT_EQ(sesion_->ValorCampo("MV_EJERCICIOS", "1999", "descripcion", "PERIODO", TipoClave::Entero, ""),
              QVariant(QString()));
    EXPECT_THROW(sesion_->ValorCampo("MV_EJERCICIOS", "2023", "nada", "PERIODO", TipoClave::Entero, ""),
                 ErrorSistema);
}

TEST_F(Consultas, ValorSQL) {
    const Sesion& s = *sesion_;
    EXPECT_EQ(s.ValorSQL("SI", "'"), QVariant("N'SI'"));
    EXPECT_EQ(s.ValorSQL("O'Higgins ''", "'"), QVariant("N'O''Higgins '''''"));
    EXPECT_EQ(s.ValorSQL(QString(), "'"), QVariant("N''"));
    EXPECT_EQ(s.ValorSQL(QVariant(), "'"), QVariant("NULL"));
    EXPECT_EQ(s.ValorSQL(QVariant(), "@"), QVariant("NULL"));
    EXPECT_EQ(s.ValorSQL(QDate(2023, 12, 31), "'"), QVariant("N'31/12/2023'"));
    EXPECT_EQ(s.ValorSQL(12.5, "@"), QVariant("12.5"));
    EXPECT_EQ(s.ValorSQL(-3.0, "@"), QVariant("-3"));
    EXPECT_EQ(s.ValorSQL(0.0, "@"), QVariant("0"));
    EXPECT_EQ(s.ValorSQL(-0.0, "@"), QVariant("0"));
    EXPECT_EQ(s.ValorSQL(0.1 + 0.2, "@"), QVariant("0.30000000000000004"));
    EXPECT_EQ(s.ValorSQL(1e20, "@"), QVariant("100000000000000000000"));
    EXPECT_EQ(s.ValorSQL(0.00001, "@"), QVariant("0.00001"));
    EXPECT_EQ(s.ValorSQL(qlonglong(1234567890123), "@"), QVariant("1234567890123"));
    EXPECT_EQ(s.ValorSQL(" 12.50 ", "@"), QVariant("12.50"));
    EXPECT_THROW(s.ValorSQL("12,5", "@"), ErrorSistema);
    EXPECT_THROW(s.ValorSQL("1; DROP TABLE x", "@"), ErrorSistema);

    // A field's value as it comes from a recordset.
    Recordset rs;
    sesion_->Ejecutar("CREATE TABLE N (C numeric(18,2))");
    sesion_->Ejecutar("INSERT INTO N VALUES (7)");
    sesion_->AbrirRecordset("SELECT SUM(C) AS S, C FROM N", rs);
    EXPECT_EQ(s.ValorSQL(rs.Fields("S").Value(), "@"), QVariant("7"));
    EXPECT_EQ(s.ValorSQL(rs.Fields("C").Value(), "@"), QVariant("7"));
}

TEST_F(Consultas, ParametrosGuardanLoMismoQueLosLiterales) {
    ParametrosComoLiterales();
}

TEST_F(Consultas, GanchoVeCadaSentenciaYPuedeFallar) {
    Recordset rs;
    sentencias_.clear();
    sesion_->AbrirRecordset("SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = 2023", rs,
                            Cursor::Dinamico, Bloqueo::Optimista);
    rs.Fields("descripcion").setValue("nueva");
    rs.Update();
    rs.AddNew();
    rs.Fields("PERIODO").setValue("2025");
    rs.Update();
    sesion_->Existe("MV_EJERCICIOS", "2023", "PERIODO", nullptr, TipoClave::Entero, "");
    sesion_->ValorCampo("MV_EJERCICIOS", "2023", "PERIODO", "PERIODO", TipoClave::Entero, "");
    sesion_->IniciarTransaccion();
    sesion_->Ejecutar("DELETE MV_EJERCICIOS WHERE PERIODO = '2025'");
    sesion_->ConfirmarTransaccion();
    ASSERT_EQ(sentencias_.size(), 11) << sentencias_.join("\n").toStdString();
    EXPECT_EQ(sentencias_[0], "SELECT * FROM MV_EJERCICIOS WHERE CAST(PERIODO AS INTEGER) = 2023");
    // The update counts and writes its row in a transaction of its own.
    EXPECT_EQ(sentencias_[1], "BEGIN IMMEDIATE TRANSACTION");
    EXPECT_TRUE(sentencias_[2].startsWith("SELECT COUNT(*) FROM MV_EJERCICIOS WHERE"));
    EXPECT_TRUE(sentencias_[3].startsWith("UPDATE MV_EJERCICIOS SET"));
    EXPECT_EQ(sentencias_[4], "COMMIT TRANSACTION");
    EXPECT_TRUE(sentencias_[5].startsWith("INSERT INTO MV_EJERCICIOS"));
    EXPECT_EQ(sentencias_[8], "BEGIN IMMEDIATE TRANSACTION");
    EXPECT_EQ(sentencias_[9], "DELETE FROM MV_EJERCICIOS WHERE PERIODO = '2025'");
    EXPECT_EQ(sentencias_[10], "COMMIT TRANSACTION");

    sesion_->AntesDeEjecutar = [](const QString& sql) {
        if (sql.startsWith("UPDATE")) throw ErrorSistema(Errores::BaseDeDatos, "falla simulada");
    };
    rs.Fields("descripcion").setValue("otra");
    EXPECT_THROW(rs.Update(), ErrorSistema);
    EXPECT_EQ(Valor("SELECT descripcion FROM MV_EJERCICIOS WHERE PERIODO = '2023'").toString(), "nueva");
}

TEST_F(Consultas, ElObservadorVeLaSentenciaEscritaLaEnviadaYSuDesenlace) {
    std::vector<SentenciaSesion> vistas;
    sesion_->Observador = [&](const SentenciaSesion& s) {
        vistas.push_back(s);
        if (!s.hecha && s.sql.contains("NO_VA")) throw ErrorSistema(Errores::BaseDeDatos, "falla simulada");
    };
    Recordset rs;
    sesion_->AbrirRecordset("SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = 2023", rs,
                            Cursor::Dinamico, Bloqueo::Optimista);
    rs.Fields("descripcion").setValue("Ñandú 'Ejercicio'");
    rs.Update();
    sesion_->IniciarTransaccion();
    sesion_->Ejecutar("DELETE MV_EJERCICIOS WHERE PERIODO = N'2024'");
    sesion_->ConfirmarTransaccion();
    EXPECT_THROW(sesion_->Ejecutar("INSERT INTO NO_HAY VALUES (1)"), ErrorSistema);
    EXPECT_THROW(sesion_->Ejecutar("DELETE x WHERE a = 1 -- NO_VA"), ErrorSistema);

    // Each statement that went is seen twice, before and after; the refused one only before.
    ASSERT_EQ(vistas.size(), 19u);
    for (size_t i = 0; i < 18; i += 2) {
        EXPECT_FALSE(vistas[i].hecha);
        EXPECT_TRUE(vistas[i + 1].hecha);
        EXPECT_EQ(vistas[i].sql, vistas[i + 1].sql);
        EXPECT_EQ(vistas[i].enviada, vistas[i + 1].enviada);
    }
    EXPECT_EQ(vistas[1].sql, "SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = 2023");
    EXPECT_EQ(vistas[1].enviada, "SELECT * FROM MV_EJERCICIOS WHERE CAST(PERIODO AS INTEGER) = 2023");
    EXPECT_EQ(vistas[1].filas, -1);
    EXPECT_FALSE(vistas[1].error);
    // The row's update: counted, then written with bound values a reader can see, in a
    // transaction of its own.
    EXPECT_EQ(vistas[3].sql, "BEGIN TRANSACTION");
    EXPECT_TRUE(vistas[5].sql.startsWith("SELECT COUNT(*) FROM MV_EJERCICIOS"));
    EXPECT_TRUE(vistas[7].sql.startsWith("UPDATE MV_EJERCICIOS SET"));
    EXPECT_EQ(vistas[7].filas, 1);
    EXPECT_EQ(vistas[9].sql, "COMMIT TRANSACTION");
    const QString escrita = SentenciaConValores(vistas[7].sql, vistas[7].valores);
    EXPECT_TRUE(escrita.contains("= N'Ñandú ''Ejercicio'''")) << escrita.toStdString();
    EXPECT_FALSE(escrita.contains('?')) << escrita.toStdString();
    EXPECT_EQ(vistas[11].sql, "BEGIN TRANSACTION");
    EXPECT_EQ(vistas[11].enviada, "BEGIN IMMEDIATE TRANSACTION");
    EXPECT_EQ(vistas[13].sql, "DELETE MV_EJERCICIOS WHERE PERIODO = N'2024'");
    EXPECT_EQ(vistas[13].enviada, "DELETE FROM MV_EJERCICIOS WHERE PERIODO = '2024'");
    EXPECT_EQ(vistas[13].filas, 1);
    EXPECT_EQ(vistas[15].sql, "COMMIT TRANSACTION");
    ASSERT_TRUE(vistas[17].error);
    EXPECT_TRUE(vistas[17].error->contains("no such table: NO_HAY")) << vistas[17].error->toStdString();
    EXPECT_FALSE(vistas[18].hecha);
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0);
}

TEST_F(Consultas, TextoUnicodeIdaYVueltaPorLaTraduccion) {
    // Ñ, accents, a character beyond 16 bits and a quote: written as N'...' for SQL Server,
    // sent to SQLite as a plain literal, read back the same.
    const QString texto = QString::fromUtf8("Ñandú café pingüino \xF0\x9F\x98\x80 O'Brien");
    const QString literal = sesion_->ValorSQL(texto, "'").toString();
    EXPECT_TRUE(literal.startsWith("N'")) << literal.toStdString();
    sesion_->Ejecutar("CREATE TABLE U (T nvarchar(60))");
    sesion_->Ejecutar("INSERT INTO U VALUES (" + literal + ")");
    EXPECT_EQ(sentencias_.last(), "INSERT INTO U VALUES ('" + QString(texto).replace("'", "''") + "')");
    Recordset rs;
    sesion_->AbrirRecordset("SELECT T FROM U WHERE T = " + literal, rs);
    ASSERT_FALSE(rs.BOF());
    EXPECT_EQ(rs["T"].toString(), texto);
}

TEST_F(Consultas, TransaccionTomaLaEscrituraAlEmpezar) {
    TransaccionDeEscritura(*sesion_, ruta_);
}

TEST_F(Consultas, ErroresDeSentenciaLlevanElTextoDelMotor) {
    try {
        sesion_->Ejecutar("INSERT INTO NO_HAY VALUES (1)");
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::BaseDeDatos);
        EXPECT_TRUE(e.Descripcion.startsWith("No se pudo ejecutar la sentencia: "))
            << e.Descripcion.toStdString();
        EXPECT_TRUE(e.Descripcion.contains("no such table: NO_HAY")) << e.Descripcion.toStdString();
    }
    EXPECT_THROW(sesion_->Ejecutar("DELETE FROM x; DROP TABLE x"), ErrorSistema);
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0);
}

TEST_F(Consultas, TransaccionDeshechaYPerdida) {
    sesion_->IniciarTransaccion();
    EXPECT_TRUE(sesion_->EnTransaccion());
    sesion_->Ejecutar("INSERT INTO x VALUES (1)");
    sesion_->DeshacerTransaccion();
    EXPECT_FALSE(sesion_->EnTransaccion());
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0);
    EXPECT_THROW(sesion_->ConfirmarTransaccion(), ErrorSistema);

    // The database ends the transaction by itself: nothing after it runs, and the commit
    // does not report success.
    sesion_->IniciarTransaccion();
    sesion_->Ejecutar("INSERT INTO x VALUES (2)");
    sesion_->Ejecutar("ROLLBACK");
    try {
        sesion_->Ejecutar("INSERT INTO x VALUES (3)");
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::TransaccionPerdida);
    }
    try {
        sesion_->ConfirmarTransaccion();
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::TransaccionPerdida);
    }
    EXPECT_FALSE(sesion_->EnTransaccion());
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0);
    sesion_->Ejecutar("INSERT INTO x VALUES (4)"); // the session works again
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 1);
}

TEST_F(Consultas, GuardaDeTransaccion) {
    // Left by an error: nothing stays.
    try {
        Transaccion t(*sesion_);
        sesion_->Ejecutar("INSERT INTO x VALUES (1)");
        throw ErrorSistema(Errores::BaseDeDatos, "simulada");
    } catch (const ErrorSistema&) {
    }
    EXPECT_FALSE(sesion_->EnTransaccion());
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 0);
    {
        Transaccion t(*sesion_);
        sesion_->Ejecutar("INSERT INTO x VALUES (2)");
        t.Cometer();
        EXPECT_FALSE(t.Abierta());
    }
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 1);

    // Inside a transaction already open, the guard leaves its end to its owner.
    sesion_->IniciarTransaccion();
    {
        Transaccion t(*sesion_);
        sesion_->Ejecutar("INSERT INTO x VALUES (3)");
    }
    EXPECT_TRUE(sesion_->EnTransaccion());
    sesion_->ConfirmarTransaccion();
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM x").toInt(), 2);

    // A rollback that fails is told, not swallowed; the transaction ends all the same.
    Transaccion t(*sesion_);
    sesion_->Ejecutar("INSERT INTO x VALUES (4)");
    sesion_->AntesDeEjecutar = [](const QString& sql) {
        if (sql.startsWith("ROLLBACK")) throw ErrorSistema(Errores::BaseDeDatos, "rollback rechazado");
    };
    try {
        t.Deshacer();
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Descripcion, "rollback rechazado");
    }
    EXPECT_FALSE(t.Abierta());
    EXPECT_FALSE(sesion_->EnTransaccion());
    sesion_->AntesDeEjecutar = nullptr;
    sesion_->Ejecutar("INSERT INTO x VALUES (5)"); // on its own, for good
    EXPECT_EQ(Valor("SELECT group_concat(a) FROM x").toString(), "2,3,5");
}

TEST_F(Consultas, EsperaAOtroEscritorSinDejarPasarOtraSentencia) {
    // Another program writes for 600 ms, in a thread of its own.
    std::atomic<bool> tomado{false};
    std::thread otro([&] {
        const ConexionDirecta otra(ruta_);
        QSqlQuery q(otra.db());
        EXPECT_TRUE(q.exec("BEGIN IMMEDIATE"));
        tomado = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        q.exec("COMMIT");
    });
    while (!tomado)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Meanwhile timers fire (windows paint), and a statement started from one is refused.
    int disparos = 0;
    std::optional<QString> rechazo;
    QTimer reloj;
    reloj.setInterval(50);
    QObject::connect(&reloj, &QTimer::timeout, [&] {
        if (++disparos > 1) return;
        try {
            sesion_->Ejecutar("INSERT INTO x VALUES (2)");
        } catch (const ErrorSistema& e) {
            rechazo = e.Descripcion;
        }
    });
    reloj.start();
    sesion_->setCommandTimeout(10);
    QElapsedTimer t;
    t.start();
    EXPECT_NO_THROW(sesion_->Ejecutar("INSERT INTO x VALUES (1)")) << "outside a transaction too";
    EXPECT_GE(t.elapsed(), 400);
    otro.join();
    reloj.stop();
    EXPECT_GE(disparos, 3);
    ASSERT_TRUE(rechazo.has_value());
    EXPECT_TRUE(rechazo->contains("esperando a otra estación")) << rechazo->toStdString();
    EXPECT_EQ(Valor("SELECT group_concat(a) FROM x").toString(), "1");

    // A lock held beyond the command time-out: the statement fails after it, not before.
    const ConexionDirecta otra(ruta_);
    ASSERT_TRUE(otra.ejecutar("BEGIN EXCLUSIVE"));
    sesion_->setCommandTimeout(1);
    t.restart();
    EXPECT_THROW(sesion_->Ejecutar("INSERT INTO x VALUES (3)"), ErrorSistema);
    EXPECT_GE(t.elapsed(), 1000);
    EXPECT_LT(t.elapsed(), 5000);
    otra.ejecutar("ROLLBACK");
}

TEST_F(Consultas, CadenaDeConexion) {
    EXPECT_EQ(sesion_->CadenaConexion(), "DRIVER=QSQLITE;Database=" + ruta_);
    Sesion s;
    s.setDbName("CONTA");
    s.setUsuario("ana");
    s.setPassword("x");
    EXPECT_EQ(s.CadenaConexion(), "DSN=CONTA;UID=ana;PWD=x");
    EXPECT_TRUE(sesion_->EsSQLite());
    EXPECT_FALSE(s.EsSQLite());
    EXPECT_EQ(s.CommandTimeout(), 30);
}

// ---- Refused connections ------------------------------------------------------------

// A missing file is not created, a file that is no database and an unknown data source are
// refused: one message, the name and the driver's own words, and nothing runs afterwards.
TEST_F(PruebaSesion, ConexionesRechazadas) {
    EntornoFijado entorno;
    entorno.Fijar("ODBCINI", dir_.filePath("odbc.ini").toUtf8());
    QFile basura(dir_.filePath("basura.db"));
    ASSERT_TRUE(basura.open(QIODevice::WriteOnly) && basura.write(QByteArray(4096, 'z')) == 4096);
    basura.close();
    const QString falta = dir_.filePath("falta.db");
    for (const auto& [nombre, motor] :
         {std::pair<QString, const char*>{falta, "unable to open database file"},
          {basura.fileName(), "not a database"},
          {"NO_EXISTE_ESTE_ORIGEN", "Data source name not found"}}) {
        guion_->Limpiar();
        Sesion s;
        s.setDbName(nombre);
        s.setUsuario("u");
        s.Conectar();
        EXPECT_FALSE(s.Conectado());
        ASSERT_EQ(guion_->Avisos().size(), 1u);
        const auto& a = guion_->Avisos()[0];
        EXPECT_EQ(a.estilo, 16);
        EXPECT_TRUE(a.texto.startsWith("No se pudo conectar con la base de datos \"" + nombre + "\":\r") &&
                    a.texto.contains(motor))
            << a.texto.toStdString();
        EXPECT_THROW(s.Ejecutar("SELECT 1"), ErrorSistema);
    }
    EXPECT_FALSE(QFile::exists(falta));
}

TEST_F(PruebaSesion, RutaConBlancosYSignos) {
    QDir(dir_.path()).mkpath("con blancos #1 %20 ?");
    const QString ruta = dir_.filePath("con blancos #1 %20 ?/datos ñ.sqlite");
    EjecutarSql(ruta, {"CREATE TABLE t (a INT)", "INSERT INTO t VALUES (5)"});
    Sesion s;
    s.setDbName(ruta);
    s.Conectar();
    ASSERT_TRUE(s.Conectado());
    Recordset rs;
    s.AbrirRecordset("SELECT a FROM t", rs);
    EXPECT_EQ(rs.Valor(0).toInt(), 5);
    // A path names a SQLite file whatever its name; a bare name is a data source, even when a
    // file of that name lies in the working folder.
    const QString sinExtension = dir_.filePath("CONTABILIDAD");
    ASSERT_TRUE(QFile::copy(ruta, sinExtension));
    Sesion otra;
    otra.setDbName(sinExtension);
    otra.Conectar();
    EXPECT_TRUE(otra.Conectado());
    EXPECT_TRUE(otra.EsSQLite());
    const QString antes = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    Sesion origen;
    origen.setDbName("CONTABILIDAD");
    EXPECT_EQ(origen.CadenaConexion(), "DSN=CONTABILIDAD;UID=;PWD=");
    origen.setDbName("./CONTABILIDAD");
    EXPECT_TRUE(origen.CadenaConexion().startsWith("DRIVER=QSQLITE;"));
    QDir::setCurrent(antes);
}
