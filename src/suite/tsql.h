#pragma once
// T-SQL texts as the system writes them: one lexer that every reader of a statement shares, the
// translation for SQLite, and values written as literals.
#include <cstdint>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <vector>

// The pieces of a T-SQL text. Every character of the text belongs to exactly one token, so the
// tokens' texts put together give the text back.
enum class ClaseToken : std::uint8_t {
    Blanco,         // spaces, tabs, carriage returns and line feeds
    Comentario,     // "-- ..." up to the line feed (not included), or "/* ... */"
    Palabra,        // a name or a keyword: letters, digits, "_", "@", "#" and "$", not starting with a digit
    NombreCitado,   // "[name]" or "\"name\"" (a doubled closing character stands for itself)
    Literal,        // '...' (a doubled quote stands for itself)
    LiteralUnicode, // N'...'
    Numero,         // starting with a digit: 112, 12.5, 1e-3
    Signo,          // any other single character: ( ) , ; . = ? ...
};

struct Token {
    ClaseToken clase;
    bool cerrado; // false: a comment, name or literal the text ends inside of
    qsizetype inicio;
    qsizetype largo;
    QStringView en(const QString& texto) const { return QStringView(texto).mid(inicio, largo); }
    qsizetype fin() const { return inicio + largo; }
};

std::vector<Token> Tokenizar(QStringView sql);

// Whether the token is that word, ignoring case (a keyword).
bool EsPalabra(const Token& t, const QString& texto, QLatin1StringView palabra);
// Whether the token is that single character outside literals, names and comments.
bool EsSigno(const Token& t, const QString& texto, char signo);

// The T-SQL forms this system uses, turned into SQLite's: CONVERT(INT,x) becomes
// CAST(x AS INTEGER), CONVERT(DATETIME,'yyyymmdd',112) becomes 'yyyy-mm-dd',
// "DELETE table WHERE" becomes "DELETE FROM table WHERE", a Unicode literal N'...' loses its
// N, and a locking hint "WITH (TABLOCKX, HOLDLOCK)" goes (SQLite locks the whole file). The
// text inside string literals is never touched.
QString TraducirTSQL(const QString& sql);

// A number in plain notation with its shortest digits (0.1, 12345678901234567890).
QString NumeroSinExponente(double v);
// A text as a Unicode literal N'...', its quotes doubled.
QString LiteralUnicode(const QString& texto);
// A value as a T-SQL literal: NULL, a number, N'text' (quotes doubled), a date as
// 'yyyymmdd' and a date and time as 'yyyy-mm-ddThh:mm:ss.mmm' (both read alike whatever the
// server's language), binary data as 0x...
QString LiteralTSQL(const QVariant& valor);
// The statement with the values bound to its "?" markers written in as literals, for a
// reader (the statement log); markers inside literals, quoted names and comments are not
// markers.
QString SentenciaConValores(const QString& sql, const QVariantList& valores);
