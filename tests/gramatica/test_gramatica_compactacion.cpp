// The statements the compaction sends to SQL Server (sp_spaceused, before and after a purge)
// are T-SQL that SQL Server accepts, parsed with sqlfluff's T-SQL grammar. No SQL Server runs
// here: the figures themselves are checked against the texts sp_spaceused writes only.
#include "apoyo/proceso.h"
#include "purge/compactacion.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

TEST(GramaticaCompactacion, EspacioUsadoEsTSQL) {
    const QString sqlfluff = QStandardPaths::findExecutable(QStringLiteral("sqlfluff"));
    ASSERT_FALSE(sqlfluff.isEmpty()) << "sqlfluff is missing: scripts/dependencias.sh installs it";
    namespace S = SentenciasCompactacion;
    const QStringList sentencias = {S::EspacioBase(), S::EspacioTabla(QStringLiteral("MV_ASIENTOS")),
                                    S::EspacioTabla(QStringLiteral("dbo.V_MV_STOCK")),
                                    S::EspacioTabla(QStringLiteral("Año's"))};
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QFile config(dir.filePath(QStringLiteral(".sqlfluff")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("[sqlfluff]\ndialect = tsql\n");
    }
    for (qsizetype i = 0; i < sentencias.size(); ++i) {
        QFile f(dir.filePath(QStringLiteral("s%1.sql").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((sentencias[i] + QStringLiteral(";\n")).toUtf8());
    }
    // A statement that does not parse shows as an "unparsable" segment, each in its own file.
    const Corrida c =
        CorrerPrograma(sqlfluff, {"parse", "--nocolor", "--format", "json", "."}, EntornoSinPantalla(),
                       120000, [&](QProcess& p) { p.setWorkingDirectory(dir.path()); });
    ASSERT_TRUE(c.terminada);
    EXPECT_EQ(c.estado, 0) << c.errores;
    EXPECT_EQ(c.salida.count(QStringLiteral("\"filepath\"")), sentencias.size()) << c.salida.left(2000);
    EXPECT_FALSE(c.salida.contains(QStringLiteral("unparsable"))) << c.salida.toStdString();
    EXPECT_EQ(S::EspacioTabla(QStringLiteral("Año's")), "EXEC sp_spaceused N'Año''s'");
}
