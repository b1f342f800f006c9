// The small suite pieces: numeric reading, dates, the error trap, collections and INI files.
#include "apoyo/entorno.h"
#include "suite/coleccion.h"
#include "suite/componentes.h"
#include "suite/datos_p.h"
#include "suite/globales.h"
#include "suite/trampa.h"
#include "suite/utilidades.h"

#include <gtest/gtest.h>
#include <new>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

TEST(Val, NumeroAlPrincipio) {
    EXPECT_DOUBLE_EQ(Val("12.5abc"), 12.5);
    EXPECT_DOUBLE_EQ(Val("  - 3 "), -3);
    EXPECT_DOUBLE_EQ(Val("1 2 3"), 123);
    EXPECT_DOUBLE_EQ(Val(".5"), 0.5);
    EXPECT_DOUBLE_EQ(Val("-.5"), -0.5);
    EXPECT_DOUBLE_EQ(Val("+7"), 7);
    EXPECT_DOUBLE_EQ(Val("1e3"), 1000);
    EXPECT_DOUBLE_EQ(Val("1.5E+2x"), 150);
    EXPECT_DOUBLE_EQ(Val("2d2"), 200);
    EXPECT_DOUBLE_EQ(Val("1e"), 1);
    EXPECT_DOUBLE_EQ(Val("1e+"), 1);
    EXPECT_DOUBLE_EQ(Val("00000041A"), 41);
    EXPECT_DOUBLE_EQ(Val("12,5"), 12);
    EXPECT_DOUBLE_EQ(Val("3ñ4"), 3);
    for (const char* cero : {"", "   ", "abc", ".", "-", "--5", "e5", "+-1", "ñ5"})
        EXPECT_EQ(Val(cero), 0.0) << cero;
}

TEST(Val, ValorNumeroYValorEntero) {
    const Utilidades u;
    EXPECT_EQ(u.ValorNumero(""), 0.0);
    EXPECT_EQ(u.ValorNumero(" 255 "), 255.0);
    EXPECT_DOUBLE_EQ(u.ValorNumero("1.23456"), 1.2346);
    EXPECT_DOUBLE_EQ(u.ValorNumero("16776960"), 16776960.0);
    EXPECT_THROW(u.ValorNumero("1e300"), ErrorSistema); // beyond what a currency value holds
    EXPECT_THROW(u.ValorNumero("-1e300"), ErrorSistema);
    EXPECT_EQ(u.ValorEntero(" 42x"), 42);
    EXPECT_EQ(u.ValorEntero("-2147483648"), -2147483648L);
    try {
        u.ValorEntero("2147483648");
        FAIL();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::Desbordamiento);
    }
}

TEST(Utilidades, FechaSQLYSinNulo) {
    const Utilidades u;
    EXPECT_EQ(u.FechaSQL("31/12/2023"), "CONVERT(DATETIME,'20231231',112)");
    EXPECT_EQ(u.FechaSQL(" 2023-12-31 "), "CONVERT(DATETIME,'20231231',112)");
    EXPECT_THROW(u.FechaSQL("31/02/2023"), ErrorSistema);
    EXPECT_THROW(u.FechaSQL(""), ErrorSistema);
    EXPECT_EQ(u.SinNulo(QVariant()), QVariant(QString()));
    EXPECT_EQ(u.SinNulo(QVariant(5)), QVariant(5));
    EXPECT_EQ(u.QuitarCaracteres("a-b_c d", '-', '_', ' '), "abcd");
    EXPECT_EQ(u.Reemplazar("aXbX", "X", "yy"), "ayybyy");
    EXPECT_EQ(u.Reemplazar("ab", "", "z"), "ab");
}

TEST(Utilidades, FechasCortasIgualesEnTodoLocale) {
    const Utilidades u;
    // The suite's form whatever the locale; both forms and ISO are read back.
    for (const char* nombre : {"es_AR", "C", "en_US", "de_DE", "ar_EG", "fa_IR", "ja_JP"}) {
        const ConLocale local{QLocale(nombre)};
        EXPECT_EQ(TextoEstandar(QDate(2022, 1, 31)), "31/01/2022") << nombre;
        EXPECT_EQ(TextoEstandar(QDateTime(QDate(2022, 1, 31), QTime(13, 5))), "31/01/2022 13:05:00")
            << nombre;
        for (const char* t : {"31/1/2022", "31/01/2022", "2022-01-31"})
            EXPECT_EQ(u.FechaSQL(t), "CONVERT(DATETIME,'20220131',112)") << nombre << " " << t;
    }
    // A date column holding the short form, with or without the zeros.
    EXPECT_EQ(NormalizarValor(QVariant(QStringLiteral("1/1/2022")), ClaseColumna::Fecha),
              QVariant(QDate(2022, 1, 1)));
    EXPECT_EQ(NormalizarValor(QVariant(QStringLiteral("31/12/2022 13:45:00")), ClaseColumna::Fecha),
              QVariant(QDateTime(QDate(2022, 12, 31), QTime(13, 45))));
}

namespace {
ErrorSistema fallo() {
    return ErrorSistema(Errores::BaseDeDatos, "falla");
}
} // namespace

TEST(Trampa, ReintentarOmitirYAnular) {
    std::vector<Respuesta> respuestas = {Respuesta::Reintentar, Respuesta::Omitir};
    size_t k = 0;
    int consultas = 0;
    Trampa t([&](const ErrorSistema& e) {
        ++consultas;
        EXPECT_EQ(e.Numero, Errores::BaseDeDatos);
        return respuestas[k++];
    });
    int intentos = 0;
    EXPECT_TRUE(t([&] {
        if (++intentos < 3) throw fallo();
    })); // failed twice: retried, then skipped
    EXPECT_EQ(intentos, 2);
    EXPECT_EQ(t.Fallos(), 2);
    EXPECT_TRUE(t.HuboFallo());

    Trampa anular([](const ErrorSistema&) { return Respuesta::Anular; });
    EXPECT_FALSE(anular([] { throw fallo(); }));
    Trampa otra([](const ErrorSistema&) { return Respuesta::Si; });
    EXPECT_FALSE(otra([] { throw fallo(); }));
    EXPECT_TRUE(otra([] {}));

    Trampa s = Trampa::Silenciosa();
    EXPECT_TRUE(s([] { throw std::bad_alloc(); }));
    EXPECT_EQ(s.UltimoError().Numero, Errores::SinMemoria);
    EXPECT_TRUE(s([] { throw 42; }));
    EXPECT_EQ(s.UltimoError().Numero, Errores::LlamadaNoValida);
}

TEST(Coleccion, BaseUnoYNada) {
    ColeccionRef nada;
    EXPECT_FALSE(nada);
    ColeccionRef c = NuevaColeccion();
    EXPECT_EQ(c->Count(), 0);
    c->Add("a");
    c->Add("b");
    c->Add("a");
    EXPECT_EQ(c->Item(1), "a");
    EXPECT_EQ(c->Item(3), "a");
    EXPECT_THROW(c->Item(0), ErrorSistema);
    EXPECT_THROW(c->Item(4), ErrorSistema);
    c->Remove(1);
    EXPECT_EQ(c->Lista(), QStringList({"b", "a"}));
    EXPECT_THROW(c->Remove(3), ErrorSistema);
    ColeccionRef compartida = c;
    compartida->Add("z");
    EXPECT_EQ(c->Count(), 3);
}

TEST(ArchivoIni, LeerValor) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.filePath("CN000pr.INI"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF[General]\r\nFlatToolbars=0\r\n; FlatToolbars=9\r\n[ Equipo1 ]\r\n  flattoolbars =  "
            "1 \r\n"
            "Vacia=\r\nSinIgual\r\n[Otra]\r\nFlatToolbars=2\r\nNombre=Peña\r\n");
    f.close();
    EstablecerCarpetaAplicacion(dir.path());
    const ArchivoIni ini;
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "equipo1", "FLATTOOLBARS", "x"), "1");
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "General", "FlatToolbars", "x"), "0");
    EXPECT_EQ(ini.LeerValor(dir.filePath("CN000pr.INI"), "Otra", "FlatToolbars", "x"), "2");
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "Otra", "Nombre", "x"), "Peña");
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "Equipo1", "Vacia", "x"), "");
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "Equipo1", "SinIgual", "x"), "x");
    EXPECT_EQ(ini.LeerValor("CN000pr.INI", "NoHay", "FlatToolbars", 7), "7");
    EXPECT_EQ(ini.LeerValor("NoExiste.INI", "General", "FlatToolbars", "d"), "d");
    EXPECT_EQ(ini.LeerValor(dir.path(), "General", "FlatToolbars", "d"), "d"); // a folder, not a file
    EXPECT_EQ(ValorIni("[S]\nK=\xF1\n", "S", "K", "d"), "ñ");                  // single-byte code page
    EstablecerCarpetaAplicacion({});
}
