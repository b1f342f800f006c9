// T-SQL forms the system sends, as SQLite must receive them.
#include "suite/sesion.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QRandomGenerator>

namespace {
QString T(const char* s) {
    return TraducirTSQL(QString::fromUtf8(s));
}
} // namespace

TEST(TraducirTSQL, ConvertIntPasaACast) {
    EXPECT_EQ(T("SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023"),
              "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2023");
    EXPECT_EQ(T("where convert ( int ,  periodo ) = 1"), "where CAST(periodo  AS INTEGER) = 1");
    EXPECT_EQ(T("CONVERT(Int,\n\tx)"), "CAST(x AS INTEGER)");
    EXPECT_EQ(T("CONVERT(INTEGER,x)+CONVERT(bigint,y)"), "CAST(x AS INTEGER)+CAST(y AS INTEGER)");
}

TEST(TraducirTSQL, ConvertConParentesisAnidados) {
    EXPECT_EQ(T("CONVERT(INT, SUBSTRING(RTRIM(LTRIM(a)), 1, (2+3)))"),
              "CAST(SUBSTRING(RTRIM(LTRIM(a)), 1, (2+3)) AS INTEGER)");
    EXPECT_EQ(T("CONVERT(INT,CONVERT(INT,x)+1)"), "CAST(CAST(x AS INTEGER)+1 AS INTEGER)");
    EXPECT_EQ(T("f(CONVERT(INT,')'), 2)"), "f(CAST(')' AS INTEGER), 2)");
}

TEST(TraducirTSQL, FechaEstilo112PasaATextoIso) {
    EXPECT_EQ(T("Delete v_mv_stock where fecha <= CONVERT(DATETIME,'20231231',112)"),
              "Delete FROM v_mv_stock where fecha <= '2023-12-31'");
    EXPECT_EQ(T("WHERE (FECHA <= convert( datetime , '20240229' , 112 )) AND (Anulado = 0)"),
              "WHERE (FECHA <= '2024-02-29') AND (Anulado = 0)");
    // Other forms are left for the database to refuse.
    EXPECT_EQ(T("CONVERT(DATETIME,'2023123',112)"), "CONVERT(DATETIME,'2023123',112)");
    EXPECT_EQ(T("CONVERT(DATETIME,fecha,103)"), "CONVERT(DATETIME,fecha,103)");
    EXPECT_EQ(T("CONVERT(VARCHAR(10),x)"), "CONVERT(VARCHAR(10),x)");
}

TEST(TraducirTSQL, DeleteSinFrom) {
    EXPECT_EQ(T("DELETE MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023"),
              "DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2023");
    EXPECT_EQ(T("  delete [Mi Tabla] where x = 1"), "  delete FROM [Mi Tabla] where x = 1");
    EXPECT_EQ(T("DELETE dbo.T\nWHERE x = 1"), "DELETE FROM dbo.T\nWHERE x = 1");
    EXPECT_EQ(T("DELETE T"), "DELETE FROM T");
    EXPECT_EQ(T("DELETE[T] WHERE x = 1"), "DELETE FROM [T] WHERE x = 1");
    EXPECT_EQ(T("DELETE FROM T WHERE x = 1"), "DELETE FROM T WHERE x = 1");
    EXPECT_EQ(T("DELETE from T"), "DELETE from T");
    EXPECT_EQ(T("DELETED T WHERE x"), "DELETED T WHERE x");
    EXPECT_EQ(T("DELETE TOP (5) FROM T"), "DELETE TOP (5) FROM T");
    EXPECT_EQ(T("SELECT 1; DELETE T WHERE x = 1"), "SELECT 1; DELETE T WHERE x = 1");
}

TEST(TraducirTSQL, LiteralesYComentariosIntactos) {
    EXPECT_EQ(T("SELECT 'CONVERT(INT,x)' AS a, CONVERT(INT,b) FROM t WHERE c = 'it''s CONVERT(INT,y)'"),
              "SELECT 'CONVERT(INT,x)' AS a, CAST(b AS INTEGER) FROM t WHERE c = 'it''s CONVERT(INT,y)'");
    EXPECT_EQ(T("SELECT [CONVERT(INT,x)] FROM t"), "SELECT [CONVERT(INT,x)] FROM t");
    // A new literal never merges with a neighbouring one.
    EXPECT_EQ(T("SELECT 'a'CONVERT(DATETIME,'20231231',112)'b'"), "SELECT 'a' '2023-12-31' 'b'");
    EXPECT_EQ(T("-- don't CONVERT(INT,x)\nSELECT CONVERT(INT,y)"),
              "-- don't CONVERT(INT,x)\nSELECT CAST(y AS INTEGER)");
    EXPECT_EQ(T("INSERT INTO T (A) VALUES ('DELETE X WHERE')"),
              "INSERT INTO T (A) VALUES ('DELETE X WHERE')");
    EXPECT_EQ(T("SELECT MYCONVERT(INT,x), CONVERTIR(INT,y)"), "SELECT MYCONVERT(INT,x), CONVERTIR(INT,y)");
}

TEST(TraducirTSQL, LiteralesUnicodeYSugerenciasDeBloqueo) {
    EXPECT_EQ(T("INSERT INTO T (A, B, C) VALUES (N'Ñandú', n'x', N'it''s N''y')"),
              "INSERT INTO T (A, B, C) VALUES ('Ñandú', 'x', 'it''s N''y')");
    EXPECT_EQ(T("SELECT 'a'N'b'"), "SELECT 'a' 'b'") << "two literals stay two";
    EXPECT_EQ(T("SELECT xN'a', [N'x'], @N'y', \"N'z\""), "SELECT xN'a', [N'x'], @N'y', \"N'z\"");
    EXPECT_EQ(T("WHERE fecha <= CONVERT(DATETIME,N'20221231',112)"), "WHERE fecha <= '2022-12-31'");
    EXPECT_EQ(T("SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK WITH (TABLOCKX, HOLDLOCK) "
                "WHERE TC = 'SI'"),
              "SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK  WHERE TC = 'SI'");
    EXPECT_EQ(T("SELECT * FROM [T]with(nolock)WHERE a = 1"), "SELECT * FROM [T] WHERE a = 1");
    EXPECT_EQ(T("DELETE T WITH (TABLOCKX) WHERE x = 1"), "DELETE FROM T  WHERE x = 1");
    // Not locking hints: left alone.
    for (const char* s :
         {"WITH x AS (SELECT 1) SELECT * FROM x", "SELECT * FROM t WITH (INDEX(i))", "SELECT 'WITH (NOLOCK)'",
          "SELECT * FROM t /* WITH */ (NOLOCK)", "SELECT WITH (,)", "SELECT * FROM t AWITH (NOLOCK)"})
        EXPECT_EQ(T(s), QString::fromUtf8(s)) << s;
}

TEST(TraducirTSQL, EntradasRotasNoSeTocan) {
    for (const char* s :
         {"", "CONVERT", "CONVERT(", "CONVERT(INT", "CONVERT(INT,", "CONVERT(INT,x", "CONVERT(,x)",
          "CONVERT(INT,'x)", "DELETE", "DELETE [x", "DELETE \"", "CONVERT(DATETIME,'1",
          "CONVERT(DATETIME,'12345678',112", "/* CONVERT(INT,x)", "CONVERT(INT,x,1)"})
        EXPECT_EQ(T(s), QString::fromUtf8(s)) << s;
}

TEST(TraducirTSQL, NuncaSeCuelgaNiRompe) {
    // Deep nesting and random mixtures of the tokens the translator looks at.
    QString hondo;
    for (int i = 0; i < 20000; ++i)
        hondo += QStringLiteral("CONVERT(INT,");
    hondo += QStringLiteral("x");
    for (int i = 0; i < 20000; ++i)
        hondo += QChar(')');
    const QString r = TraducirTSQL(hondo);
    EXPECT_EQ(r.count(QStringLiteral("CAST(")), 20000);
    EXPECT_EQ(r.count(QStringLiteral(" AS INTEGER)")), 20000);

    const QStringList piezas = {
        "CONVERT",  "(",  ")",  "INT",     ",",      "'",        "''",         "[",       "]", "\"", "--",
        "\n",       "/*", "*/", "DELETE ", "WHERE ", "DATETIME", "'20231231'", "112",     " ", "x",  "FROM",
        "\xC3\xB1", "\0", "N'", "N",       "WITH",   "(NOLOCK)", "TABLOCKX",   "HOLDLOCK"};
    QRandomGenerator g(12345);
    for (int k = 0; k < 5000; ++k) {
        QString s;
        const int n = int(g.bounded(40));
        for (int j = 0; j < n; ++j)
            s += piezas[int(g.bounded(piezas.size()))];
        const QString t = TraducirTSQL(s);
        EXPECT_LE(t.size(), s.size() * 3 + 16);
        EXPECT_EQ(TraducirTSQL(t), t) << s.toStdString(); // once is enough
    }
}

TEST(SentenciaConValores, CadaMarcaRecibeSuLiteral) {
    // Markers inside literals, quoted names and comments are not markers.
    EXPECT_EQ(SentenciaConValores("UPDATE T SET A = ?, B = ? WHERE C = 'x?''?' AND [D?] = ? -- ?\n"
                                  "AND E = ? /* ? */ AND F = ?",
                                  {QString("O'Brien"), QVariant(), 12.5, QDate(2022, 1, 31), true}),
              "UPDATE T SET A = N'O''Brien', B = NULL WHERE C = 'x?''?' AND [D?] = 12.5 -- ?\n"
              "AND E = '20220131' /* ? */ AND F = 1");
    EXPECT_EQ(SentenciaConValores("SELECT ?, ?", {1}), "SELECT 1, ?") << "a marker without value stays";
    EXPECT_EQ(LiteralTSQL(QDateTime(QDate(2022, 12, 31), QTime(23, 59, 59))), "'2022-12-31T23:59:59.000'");
    EXPECT_EQ(LiteralTSQL(QByteArray("\x01\xff", 2)), "0x01FF");
    EXPECT_EQ(LiteralTSQL(qlonglong(-7)), "-7");
}
