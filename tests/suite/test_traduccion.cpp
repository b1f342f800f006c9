// T-SQL texts: the lexer every reader of a statement shares, and each rule of the translation
// for SQLite, one table of cases per rule (T-SQL as the system sends it, as SQLite must get it).
#include "suite/tsql.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QRandomGenerator>

namespace {
struct Caso {
    const char* tsql;
    const char* sqlite;
};

void Comprobar(std::initializer_list<Caso> casos) {
    for (const Caso& c : casos)
        EXPECT_EQ(TraducirTSQL(QString::fromUtf8(c.tsql)), QString::fromUtf8(c.sqlite)) << c.tsql;
}

// Each token as "class:text", the classes by their initial.
QString Tokens(const char* s) {
    const QString texto = QString::fromUtf8(s);
    QStringList r;
    for (const Token& t : Tokenizar(texto)) {
        static const char clases[] = "BCPNLUIS"; // Blanco Comentario Palabra NombreCitado Literal
        r << QChar(QLatin1Char(clases[int(t.clase)])) + (t.cerrado ? QString() : QStringLiteral("!")) +
                 QChar(':') + t.en(texto).toString(); // LiteralUnicode Numero(I) Signo
    }
    return r.join(QChar('|'));
}
} // namespace

TEST(LexicoTSQL, ClasesDeToken) {
    const struct {
        const char* sql;
        const char* tokens;
    } casos[] = {
        {"SELECT a1,@v FROM [Mi Tabla]", "P:SELECT|B: |P:a1|S:,|P:@v|B: |P:FROM|B: |N:[Mi Tabla]"},
        {"'it''s' N'Ñ' n'x'", "L:'it''s'|B: |U:N'Ñ'|B: |U:n'x'"},
        {"xN'a' 1N'b'", "P:xN|L:'a'|B: |I:1N|L:'b'"},
        {"12.5 1e-3 112) 3.x", "I:12.5|B: |I:1e-3|B: |I:112|S:)|B: |I:3|S:.|P:x"},
        {"a -- c'\nb /* x */c", "P:a|B: |C:-- c'|B:\n|P:b|B: |C:/* x */|P:c"},
        {"\"q\"\"r\" [a]]b]", "N:\"q\"\"r\"|B: |N:[a]]b]"},
        {"'abierto", "L!:'abierto"},
        {"[x", "N!:[x"},
        {"/* sin fin", "C!:/* sin fin"},
        {"a=?;", "P:a|S:=|S:?|S:;"},
    };
    for (const auto& c : casos)
        EXPECT_EQ(Tokens(c.sql), QString::fromUtf8(c.tokens)) << c.sql;
}

TEST(TraducirTSQL, ConvertEnteroPasaACast) {
    Comprobar({
        {"SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023",
         "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2023"},
        {"where convert ( int ,  periodo ) = 1", "where CAST(periodo  AS INTEGER) = 1"},
        {"CONVERT(Int,\n\tx)", "CAST(x AS INTEGER)"},
        {"CONVERT(INTEGER,x)+CONVERT(bigint,y)", "CAST(x AS INTEGER)+CAST(y AS INTEGER)"},
        {"CONVERT(INT, SUBSTRING(RTRIM(LTRIM(a)), 1, (2+3)))",
         "CAST(SUBSTRING(RTRIM(LTRIM(a)), 1, (2+3)) AS INTEGER)"},
        {"CONVERT(INT,CONVERT(INT,x)+1)", "CAST(CAST(x AS INTEGER)+1 AS INTEGER)"},
        {"f(CONVERT(INT,')'), 2)", "f(CAST(')' AS INTEGER), 2)"},
        {"SELECT MYCONVERT(INT,x), CONVERTIR(INT,y)", "SELECT MYCONVERT(INT,x), CONVERTIR(INT,y)"},
        {"CONVERT(INT,x,1)", "CONVERT(INT,x,1)"},
        {"CONVERT(INT2,x)", "CONVERT(INT2,x)"},
    });
}

TEST(TraducirTSQL, ConvertFechaEstilo112PasaATextoIso) {
    Comprobar({
        {"Delete v_mv_stock where fecha <= CONVERT(DATETIME,'20231231',112)",
         "Delete FROM v_mv_stock where fecha <= '2023-12-31'"},
        {"WHERE (FECHA <= convert( datetime , '20240229' , 112 )) AND (Anulado = 0)",
         "WHERE (FECHA <= '2024-02-29') AND (Anulado = 0)"},
        {"WHERE fecha <= CONVERT(DATETIME,N'20221231',112)", "WHERE fecha <= '2022-12-31'"},
        // A new literal never merges with a neighbouring one.
        {"SELECT 'a'CONVERT(DATETIME,'20231231',112)'b'", "SELECT 'a' '2023-12-31' 'b'"},
        // Other forms are left for the database to refuse.
        {"CONVERT(DATETIME,'2023123',112)", "CONVERT(DATETIME,'2023123',112)"},
        {"CONVERT(DATETIME,'20231231''x',112)", "CONVERT(DATETIME,'20231231''x',112)"},
        {"CONVERT(DATETIME,fecha,103)", "CONVERT(DATETIME,fecha,103)"},
        {"CONVERT(DATETIME,'20231231',1120)", "CONVERT(DATETIME,'20231231',1120)"},
        {"CONVERT(VARCHAR(10),x)", "CONVERT(VARCHAR(10),x)"},
    });
}

TEST(TraducirTSQL, DeleteSinFromLoRecibe) {
    Comprobar({
        {"DELETE MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = 2023",
         "DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2023"},
        {"  delete [Mi Tabla] where x = 1", "  delete FROM [Mi Tabla] where x = 1"},
        {"DELETE dbo.T\nWHERE x = 1", "DELETE FROM dbo.T\nWHERE x = 1"},
        {"DELETE T", "DELETE FROM T"},
        {"DELETE T ;; ", "DELETE FROM T ;; "},
        {"DELETE[T] WHERE x = 1", "DELETE FROM [T] WHERE x = 1"},
        {"DELETE T WITH (TABLOCKX) WHERE x = 1", "DELETE FROM T  WHERE x = 1"},
        {"DELETE FROM T WHERE x = 1", "DELETE FROM T WHERE x = 1"},
        {"DELETE from T", "DELETE from T"},
        {"DELETED T WHERE x", "DELETED T WHERE x"},
        {"DELETE TOP (5) FROM T", "DELETE TOP (5) FROM T"},
        {"DELETE [T]WHERE x", "DELETE [T]WHERE x"},
        {"SELECT 1; DELETE T WHERE x = 1", "SELECT 1; DELETE T WHERE x = 1"},
        {"INSERT INTO T (A) VALUES ('DELETE X WHERE')", "INSERT INTO T (A) VALUES ('DELETE X WHERE')"},
    });
}

TEST(TraducirTSQL, LiteralUnicodePierdeSuN) {
    Comprobar({
        {"INSERT INTO T (A, B, C) VALUES (N'Ñandú', n'x', N'it''s N''y')",
         "INSERT INTO T (A, B, C) VALUES ('Ñandú', 'x', 'it''s N''y')"},
        {"SELECT 'a'N'b'", "SELECT 'a' 'b'"}, // two literals stay two
        {"SELECT xN'a', [N'x'], @N'y', \"N'z\"", "SELECT xN'a', [N'x'], @N'y', \"N'z\""},
    });
}

TEST(TraducirTSQL, SugerenciasDeBloqueoSeQuitan) {
    Comprobar({
        {"SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK WITH (TABLOCKX, HOLDLOCK) WHERE TC = "
         "'SI'",
         "SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK  WHERE TC = 'SI'"},
        {"SELECT * FROM [T]with(nolock)WHERE a = 1", "SELECT * FROM [T] WHERE a = 1"},
        {"SELECT * FROM T WITH (NOLOCK WITH (ROWLOCK)) x", "SELECT * FROM T  x"},
        // Not locking hints: left alone.
        {"WITH x AS (SELECT 1) SELECT * FROM x", "WITH x AS (SELECT 1) SELECT * FROM x"},
        {"SELECT * FROM t WITH (INDEX(i))", "SELECT * FROM t WITH (INDEX(i))"},
        {"SELECT 'WITH (NOLOCK)'", "SELECT 'WITH (NOLOCK)'"},
        {"SELECT * FROM t /* WITH */ (NOLOCK)", "SELECT * FROM t /* WITH */ (NOLOCK)"},
        {"SELECT WITH (,)", "SELECT WITH (,)"},
        {"SELECT * FROM t AWITH (NOLOCK)", "SELECT * FROM t AWITH (NOLOCK)"},
    });
}

TEST(TraducirTSQL, LiteralesComentariosYEntradasRotasNoSeTocan) {
    Comprobar({
        {"SELECT 'CONVERT(INT,x)' AS a, CONVERT(INT,b) FROM t WHERE c = 'it''s CONVERT(INT,y)'",
         "SELECT 'CONVERT(INT,x)' AS a, CAST(b AS INTEGER) FROM t WHERE c = 'it''s CONVERT(INT,y)'"},
        {"SELECT [CONVERT(INT,x)] FROM t", "SELECT [CONVERT(INT,x)] FROM t"},
        {"-- don't CONVERT(INT,x)\nSELECT CONVERT(INT,y)",
         "-- don't CONVERT(INT,x)\nSELECT CAST(y AS INTEGER)"},
    });
    for (const char* s : {"", "CONVERT", "CONVERT(", "CONVERT(INT", "CONVERT(INT,", "CONVERT(INT,x",
                          "CONVERT(,x)", "CONVERT(INT,'x)", "DELETE", "DELETE [x", "DELETE \"",
                          "CONVERT(DATETIME,'1", "CONVERT(DATETIME,'12345678',112", "/* CONVERT(INT,x)"})
        EXPECT_EQ(TraducirTSQL(QString::fromUtf8(s)), QString::fromUtf8(s)) << s;
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
        "CONVERT",  "(",  ")",  "INT",     ",",      "'",        "''",         "[",        "]", "\"", "--",
        "\n",       "/*", "*/", "DELETE ", "WHERE ", "DATETIME", "'20231231'", "112",      " ", "x",  "FROM",
        "\xC3\xB1", "\0", "N'", "N",       "WITH",   "(NOLOCK)", "TABLOCKX",   "HOLDLOCK", "1", ";"};
    QRandomGenerator g(12345);
    for (int k = 0; k < 5000; ++k) {
        QString s;
        const int n = int(g.bounded(40));
        for (int j = 0; j < n; ++j)
            s += piezas[int(g.bounded(piezas.size()))];
        const QString t = TraducirTSQL(s);
        EXPECT_LE(t.size(), s.size() * 3 + 16);
        EXPECT_EQ(TraducirTSQL(t), t) << s.toStdString(); // once is enough
        // The tokens give the text back.
        QString junto;
        for (const Token& tk : Tokenizar(s))
            junto += tk.en(s);
        EXPECT_EQ(junto, s);
    }
}

TEST(SentenciaConValores, CadaMarcaRecibeSuLiteral) {
    // Markers inside literals, quoted names and comments are not markers.
    EXPECT_EQ(SentenciaConValores("UPDATE T SET A = ?, B = ? WHERE C = 'x?''?' AND [D?] = ? -- ?\n"
                                  "AND E = ? /* ? */ AND F = ? AND G = N'?' AND \"H?\" = ?",
                                  {QString("O'Brien"), QVariant(), 12.5, QDate(2022, 1, 31), true, 3}),
              "UPDATE T SET A = N'O''Brien', B = NULL WHERE C = 'x?''?' AND [D?] = 12.5 -- ?\n"
              "AND E = '20220131' /* ? */ AND F = 1 AND G = N'?' AND \"H?\" = 3");
    EXPECT_EQ(SentenciaConValores("SELECT ?, ?", {1}), "SELECT 1, ?") << "a marker without value stays";
    EXPECT_EQ(LiteralTSQL(QDateTime(QDate(2022, 12, 31), QTime(23, 59, 59))), "'2022-12-31T23:59:59.000'");
    EXPECT_EQ(LiteralTSQL(QByteArray("\x01\xff", 2)), "0x01FF");
    EXPECT_EQ(LiteralTSQL(qlonglong(-7)), "-7");
}
