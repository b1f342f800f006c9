#include "suite/tsql.h"

#include "suite/utilidades.h"

#include <cmath>
#include <QDate>
#include <QDateTime>
#include <QLocale>

// ---- The lexer ------------------------------------------------------------------------------

namespace {

bool esCaracterDeNombre(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

bool esBlanco(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool esDigito(QChar c) {
    return c >= u'0' && c <= u'9';
}

class Lector {
public:
    explicit Lector(QStringView s) : s_(s), n_(s.size()) {}

    std::vector<Token> Todo() {
        std::vector<Token> r;
        while (i_ < n_) {
            const qsizetype inicio = i_;
            cerrado_ = true;
            const ClaseToken clase = Uno();
            r.push_back(Token{clase, cerrado_, inicio, i_ - inicio});
        }
        return r;
    }

private:
    QChar en(qsizetype i) const { return i < n_ ? s_[i] : QChar(); }

    ClaseToken Uno() {
        const QChar c = s_[i_];
        if (esBlanco(c)) {
            while (i_ < n_ && esBlanco(s_[i_]))
                ++i_;
            return ClaseToken::Blanco;
        }
        if (c == u'-' && en(i_ + 1) == u'-') {
            while (i_ < n_ && s_[i_] != u'\n')
                ++i_;
            return ClaseToken::Comentario;
        }
        if (c == u'/' && en(i_ + 1) == u'*') return ComentarioDeBloque();
        if (c == u'\'') return Citado(u'\'', ClaseToken::Literal);
        if ((c == u'N' || c == u'n') && en(i_ + 1) == u'\'') {
            ++i_;
            return Citado(u'\'', ClaseToken::LiteralUnicode);
        }
        if (c == u'[') return Citado(u']', ClaseToken::NombreCitado);
        if (c == u'"') return Citado(u'"', ClaseToken::NombreCitado);
        if (esDigito(c)) return Numero();
        if (esCaracterDeNombre(c)) {
            while (i_ < n_ && esCaracterDeNombre(s_[i_]))
                ++i_;
            return ClaseToken::Palabra;
        }
        ++i_;
        return ClaseToken::Signo;
    }

    ClaseToken ComentarioDeBloque() {
        i_ += 2;
        while (i_ < n_ && !(s_[i_] == u'*' && en(i_ + 1) == u'/'))
            ++i_;
        cerrado_ = i_ < n_;
        i_ = std::min(n_, i_ + 2);
        return ClaseToken::Comentario;
    }

    // From the opening character to the closing one; a doubled closing character stands for itself.
    ClaseToken Citado(QChar cierre, ClaseToken clase) {
        ++i_;
        while (i_ < n_) {
            if (s_[i_] != cierre) {
                ++i_;
            } else if (en(i_ + 1) == cierre) {
                i_ += 2;
            } else {
                ++i_;
                return clase;
            }
        }
        cerrado_ = false;
        return clase;
    }

    // Digits, a decimal part and an exponent; name characters glued to it stay in the token, so
    // that the letter N right after a number never starts a Unicode literal.
    ClaseToken Numero() {
        auto digitos = [&] {
            while (i_ < n_ && esDigito(s_[i_]))
                ++i_;
        };
        digitos();
        if (en(i_) == u'.' && esDigito(en(i_ + 1))) {
            ++i_;
            digitos();
        }
        const qsizetype signo = (en(i_ + 1) == u'+' || en(i_ + 1) == u'-') ? 1 : 0;
        if ((en(i_) == u'e' || en(i_) == u'E') && esDigito(en(i_ + 1 + signo))) {
            i_ += 1 + signo;
            digitos();
        }
        while (i_ < n_ && esCaracterDeNombre(s_[i_]))
            ++i_;
        return ClaseToken::Numero;
    }

    QStringView s_;
    qsizetype n_;
    qsizetype i_ = 0;
    bool cerrado_ = true;
};

} // namespace

std::vector<Token> Tokenizar(QStringView sql) {
    return Lector(sql).Todo();
}

bool EsPalabra(const Token& t, const QString& texto, QLatin1StringView palabra) {
    return t.clase == ClaseToken::Palabra && t.largo == palabra.size() &&
           t.en(texto).compare(palabra, Qt::CaseInsensitive) == 0;
}

bool EsSigno(const Token& t, const QString& texto, char signo) {
    return t.clase == ClaseToken::Signo && texto[t.inicio] == QLatin1Char(signo);
}

// ---- Texts of values ------------------------------------------------------------------------

QString NumeroSinExponente(double v) {
    if (v == 0) return QStringLiteral("0");
    return QString::number(v, 'f', QLocale::FloatingPointShortest);
}

QString LiteralUnicode(const QString& texto) {
    return QStringLiteral("N'") + QString(texto).replace(u'\'', QLatin1String("''")) + u'\'';
}

QString LiteralTSQL(const QVariant& valor) {
    if (!valor.isValid() || valor.isNull()) return QStringLiteral("NULL");
    if (EsValorEntero(valor)) return valor.toString();
    switch (valor.typeId()) {
    case QMetaType::Bool:
        return valor.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float: {
        const double v = valor.toDouble();
        return std::isfinite(v) ? NumeroSinExponente(v) : QStringLiteral("NULL");
    }
    case QMetaType::QDate:
        return u'\'' + valor.toDate().toString(QStringLiteral("yyyyMMdd")) + u'\'';
    case QMetaType::QDateTime:
        return u'\'' + valor.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + u'\'';
    case QMetaType::QByteArray:
        return QStringLiteral("0x") + QString::fromLatin1(valor.toByteArray().toHex().toUpper());
    default:
        return LiteralUnicode(valor.toString());
    }
}

QString SentenciaConValores(const QString& sql, const QVariantList& valores) {
    if (valores.isEmpty()) return sql;
    QString r;
    r.reserve(sql.size() + 16 * valores.size());
    qsizetype siguiente = 0;
    for (const Token& t : Tokenizar(sql)) {
        if (EsSigno(t, sql, '?') && siguiente < valores.size())
            r += LiteralTSQL(valores.at(siguiente++));
        else
            r += t.en(sql);
    }
    return r;
}
