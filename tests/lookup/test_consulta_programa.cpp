// The example program's command line: what it refuses, and how.
#include <gtest/gtest.h>
#include <QProcess>

namespace {
struct Salida {
    int codigo = -1;
    QByteArray salida;
    QByteArray errores;
};
Salida Correr(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(CONSULTA_EXE), args);
    Salida s;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return s;
    }
    s.codigo = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    s.salida = p.readAllStandardOutput();
    s.errores = p.readAllStandardError();
    return s;
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
        const Salida s = Correr(args);
        EXPECT_EQ(s.codigo, 64) << args.join(' ').toStdString();
        EXPECT_TRUE(s.errores.contains("Uso: consulta")) << args.join(' ').toStdString();
        EXPECT_TRUE(s.salida.isEmpty()) << args.join(' ').toStdString();
    }
    const Salida ayuda = Correr({QStringLiteral("--help")});
    EXPECT_EQ(ayuda.codigo, 0);
    EXPECT_TRUE(ayuda.salida.contains("--devueltos"));
}
