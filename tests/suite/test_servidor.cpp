// The session's own paths for SQL Server, against a double that answers as the server does: a
// transaction the server ended, a COMMIT that finds none, decimals bound as text.
#include "apoyo/servidor.h"

#include <gtest/gtest.h>

namespace {
class Servidor : public ::testing::Test {
protected:
    void SetUp() override {
        servidor = ServidorSimulado::Instalar(sesion);
        sesion.setDbName("CONTA");
        sesion.Conectar();
        ASSERT_TRUE(sesion.Conectado());
        ASSERT_FALSE(sesion.EsSQLite());
    }
    // The error a call raises; none: number 0.
    template <class F> ErrorSistema Error(F f) {
        try {
            f();
        } catch (const ErrorSistema& e) {
            return e;
        }
        return ErrorSistema(0, QString());
    }
    Sesion sesion;
    std::shared_ptr<ServidorSimulado> servidor;
};
} // namespace

TEST_F(Servidor, TransaccionTerminadaPorElServidor) {
    // A deadlock victim: the statement fails, @@TRANCOUNT says 0, and the session says the
    // transaction is gone rather than let a retry run outside it.
    sesion.IniciarTransaccion();
    sesion.Ejecutar("INSERT INTO T VALUES (1)");
    servidor->falla = "VALUES (2)";
    const ErrorSistema e = Error([&] { sesion.Ejecutar("INSERT INTO T VALUES (2)"); });
    EXPECT_EQ(e.Numero, Errores::TransaccionPerdida);
    EXPECT_TRUE(e.Descripcion.contains("deadlock victim")) << e.Descripcion.toStdString();
    EXPECT_TRUE(servidor->sentencias.contains("SELECT @@TRANCOUNT"));
    EXPECT_EQ(Error([&] { sesion.Ejecutar("INSERT INTO T VALUES (3)"); }).Numero,
              Errores::TransaccionPerdida);
    EXPECT_EQ(Error([&] { sesion.ConfirmarTransaccion(); }).Numero, Errores::TransaccionPerdida);
    EXPECT_FALSE(servidor->sentencias.contains("INSERT INTO T VALUES (3)")) << "it would run outside";
    EXPECT_FALSE(servidor->sentencias.contains("COMMIT"));
    EXPECT_FALSE(sesion.EnTransaccion());

    // A failure that leaves the transaction open is an ordinary one, and the commit goes.
    servidor->numeroDeFalla = 2627;
    sesion.IniciarTransaccion();
    EXPECT_EQ(Error([&] { sesion.Ejecutar("INSERT INTO T VALUES (2)"); }).Numero, Errores::BaseDeDatos);
    EXPECT_TRUE(sesion.EnTransaccion());
    sesion.ConfirmarTransaccion();
    EXPECT_EQ(servidor->sentencias.last(), "COMMIT");
    EXPECT_EQ(servidor->transacciones, 0);
}

TEST_F(Servidor, ConfirmarSinTransaccionEnElServidor) {
    // Gone by the time the COMMIT arrives: error 3902, and @@TRANCOUNT tells it was lost.
    servidor->terminaAlConfirmar = true;
    sesion.IniciarTransaccion();
    const ErrorSistema e = Error([&] { sesion.ConfirmarTransaccion(); });
    EXPECT_EQ(e.Numero, Errores::TransaccionPerdida);
    EXPECT_TRUE(e.Descripcion.contains("la base de datos la terminó por su cuenta"))
        << e.Descripcion.toStdString();
    EXPECT_TRUE(servidor->sentencias.contains("COMMIT"));
    EXPECT_FALSE(sesion.EnTransaccion());
    // Gone before it: the session finds out first and sends no COMMIT at all.
    servidor->terminaAlConfirmar = false;
    servidor->sentencias.clear();
    sesion.IniciarTransaccion();
    servidor->transacciones = 0;
    EXPECT_EQ(Error([&] { sesion.ConfirmarTransaccion(); }).Numero, Errores::TransaccionPerdida);
    EXPECT_FALSE(servidor->sentencias.contains("COMMIT"));
    // Undoing it raises nothing: the server already did.
    sesion.IniciarTransaccion();
    servidor->transacciones = 0;
    EXPECT_EQ(Error([&] { sesion.DeshacerTransaccion(); }).Numero, 0);
    EXPECT_FALSE(sesion.EnTransaccion());
}

TEST_F(Servidor, DecimalesLiganComoTexto) {
    // The server reads them as decimals of its own precision: no binary double in between.
    const QVariant grande(QStringLiteral("12345678901234.5678"));
    sesion.EjecutarConValores("INSERT INTO T (A, B, C, D) VALUES (?, ?, ?, ?)",
                              {sesion.ValorParametro(grande, "@"), sesion.ValorParametro(2.5, "@"),
                               sesion.ValorParametro(0.1, "@"), sesion.ValorParametro(7.0, "@")});
    ASSERT_EQ(servidor->valores.size(), 1);
    const QVariantList v = servidor->valores[0];
    ASSERT_EQ(v.size(), 4);
    const QStringList textos = {"12345678901234.5678", "2.5", "0.1"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(v[i].typeId(), QMetaType::QString) << i;
        EXPECT_EQ(v[i].toString(), textos[i]);
    }
    EXPECT_EQ(v[3].typeId(), QMetaType::LongLong) << "a whole number stays a number";
}
