// Cutting the session's values out of the suite's command line.
#include "startup/modglobal.h"

#include <gtest/gtest.h>

TEST(CortarValor, Tabla) {
    const QString sesion = "@Server=SRV;@DbName=CONTA;@Usuario=juan;@Password=secreta;";
    const struct {
        QString linea, clave, previo, valor;
        bool cortado;
        const char* por;
    } casos[] = {
        {sesion, "@Server", "", "SRV", true, "the usual line"},
        {sesion, "@DbName", "", "CONTA", true, "the usual line"},
        {sesion, "@Usuario", "", "juan", true, "the usual line"},
        {sesion, "@Password", "", "secreta", true, "the usual line"},
        {sesion, "@Caja", "viejo", "", true, "an absent key gives the empty text"},
        {"@dbname=CONTA;", "@DbName", "", "CONTA", true, "case"},
        {"@Caja = 3 ;", "@Caja", "", "3", true, "blanks around"},
        {"  @Caja=3;", "@Caja", "", "3", true, "blanks before"},
        {"@Server=a; @Caja =7;", "@Caja", "", "7", true, "blanks after the ';'"},
        {"@Password=x@Caja=1;@Caja=2;", "@Password", "", "x@Caja=1", true, "a value holding a key"},
        {"@Password=x@Caja=1;@Caja=2;", "@Caja", "", "2", true, "a key hidden in a value is no key"},
        {"@Password=a=b==;", "@Password", "", "a=b==", true, "'=' inside a value is kept"},
        {"@UsuarioLogeado=ana;@Usuario=juan;", "@Usuario", "", "juan", true, "a key that starts another"},
        {"@UsuarioLogeado=ana;@Usuario=juan;", "@UsuarioLogeado", "", "ana", true, "the longer key"},
        {"@Usuario=juan;@UsuarioLogeado=ana;", "@Usuario", "", "juan", true, "a key that starts another"},
        {"@Usuario=juan;@UsuarioLogeado=ana;", "@UsuarioLogeado", "", "ana", true, "the longer key"},
        {"@UsuarioLogeado=ana;", "@Usuario", "x", "", true, "only the longer key there"},
        {"@Caja=1;@Caja=2;", "@Caja", "", "1", true, "a repeated key: the first wins"},
        {"@Server=a;@Caja=5", "@Caja", "previo", "previo", false, "without its ';' the value stays"},
        {"@Caja=5", "@Caja", "", "", false, "without its ';' the value stays"},
        {"", "@Caja", "", "", true, "an empty line"},
        {";;;==;", "@Caja", "", "", true, "separators only"},
        {"@Caja", "@Caja", "p", "", true, "a key without '=' is not an entry"},
        {"@UsuarioLogeado=\"Núñez, José\";", "@UsuarioLogeado", "", "\"Núñez, José\"", true,
         "quotes and accents"},
        {QString(100000, 'x') + ";@Caja=9;", "@Caja", "", "9", true, "a huge entry before"},
    };
    for (const auto& c : casos) {
        QString valor = c.previo;
        EXPECT_EQ(CortarValor(c.linea, c.clave, valor), c.cortado) << c.por;
        EXPECT_EQ(valor, c.valor) << c.por << ": " << c.linea.left(60).toStdString() << " "
                                  << c.clave.toStdString();
    }
}
