// The example program's command line: what it refuses, and how.
#include "apoyo/proceso.h"

#include <gtest/gtest.h>

namespace {
Corrida Correr(const QStringList& args) {
    return CorrerPrograma(CONSULTA_EXE, args, EntornoSinPantalla(), 30000);
}
} // namespace

TEST(ProgramaConsulta, ErroresDeUso) {
    const QString linea = QStringLiteral("@Server=;@DbName=/nada/conta.db;@Usuario=;@Password=;");
    const QList<QStringList> casos = {
        {},
        {linea},
        {linea, QStringLiteral("VT_CLIENTES"), QStringLiteral("sobra")},
        {linea, QStringLiteral("VT_CLIENTES"), QStringLiteral("--desconocida")},
        {linea, QStringLiteral("VT_CLIENTES"), QStringLiteral("--devuelto")},
        {linea, QStringLiteral("VT_CLIENTES"), QStringLiteral("--clave")},
    };
    for (const QStringList& args : casos) {
        const Corrida s = Correr(args);
        EXPECT_EQ(s.estado, 64) << args.join(' ').toStdString();
        EXPECT_TRUE(s.errores.contains("Uso: consulta")) << args.join(' ').toStdString();
        EXPECT_TRUE(s.salida.isEmpty()) << args.join(' ').toStdString();
    }
    const Corrida ayuda = Correr({QStringLiteral("--help")});
    EXPECT_EQ(ayuda.estado, 0);
    EXPECT_TRUE(ayuda.salida.contains("--devueltos"));
}
