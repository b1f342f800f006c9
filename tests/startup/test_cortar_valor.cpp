// Cutting the session's values out of the suite's command line.
#include "startup/modglobal.h"

#include <gtest/gtest.h>

namespace {
QString valor(const QString& linea, const QString& clave, QString previo = {}) {
    CortarValor(linea, clave, previo);
    return previo;
}
} // namespace

TEST(CortarValor, EntradasHabituales) {
    const QString linea = "@Server=SRV;@DbName=CONTA;@Usuario=juan;@Password=secreta;";
    EXPECT_EQ(valor(linea, "@Server"), "SRV");
    EXPECT_EQ(valor(linea, "@DbName"), "CONTA");
    EXPECT_EQ(valor(linea, "@Usuario"), "juan");
    EXPECT_EQ(valor(linea, "@Password"), "secreta");
    EXPECT_EQ(valor(linea, "@Caja", "viejo"), "") << "an absent key gives the empty text";
}

TEST(CortarValor, MayusculasYBlancos) {
    EXPECT_EQ(valor("@dbname=CONTA;", "@DbName"), "CONTA");
    EXPECT_EQ(valor("@Caja = 3 ;", "@Caja"), "3");
    EXPECT_EQ(valor("  @Caja=3;", "@Caja"), "3");
    EXPECT_EQ(valor("@Server=a; @Caja =7;", "@Caja"), "7");
}

TEST(CortarValor, UnValorNoEsconderUnaClave) {
    // A password holding "@Caja=1" stays a password and does not set the box.
    const QString linea = "@Password=x@Caja=1;@Caja=2;";
    EXPECT_EQ(valor(linea, "@Password"), "x@Caja=1");
    EXPECT_EQ(valor(linea, "@Caja"), "2");
    // "=" inside a value is kept.
    EXPECT_EQ(valor("@Password=a=b==;", "@Password"), "a=b==");
}

TEST(CortarValor, UsuarioNoCoincideConUsuarioLogeado) {
    for (const QString& linea :
         {QString("@UsuarioLogeado=ana;@Usuario=juan;"), QString("@Usuario=juan;@UsuarioLogeado=ana;")}) {
        EXPECT_EQ(valor(linea, "@Usuario"), "juan") << linea.toStdString();
        EXPECT_EQ(valor(linea, "@UsuarioLogeado"), "ana") << linea.toStdString();
    }
    EXPECT_EQ(valor("@UsuarioLogeado=ana;", "@Usuario", "x"), "");
}

TEST(CortarValor, ClaveRepetidaGanaLaPrimera) {
    EXPECT_EQ(valor("@Caja=1;@Caja=2;", "@Caja"), "1");
}

TEST(CortarValor, ClaveSinPuntoYComaConservaElValor) {
    QString v = "previo";
    EXPECT_FALSE(CortarValor("@Server=a;@Caja=5", "@Caja", v));
    EXPECT_EQ(v, "previo");
    QString vacio;
    EXPECT_FALSE(CortarValor("@Caja=5", "@Caja", vacio));
    EXPECT_EQ(vacio, "");
}

TEST(CortarValor, TextosRaros) {
    EXPECT_EQ(valor("", "@Caja"), "");
    EXPECT_EQ(valor(";;;==;", "@Caja"), "");
    EXPECT_EQ(valor("@Caja", "@Caja", "p"), "") << "a key without '=' is not an entry";
    EXPECT_EQ(valor("@UsuarioLogeado=\"Núñez, José\";", "@UsuarioLogeado"), "\"Núñez, José\"");
    EXPECT_EQ(valor(QString(100000, 'x') + ";@Caja=9;", "@Caja"), "9");
}
