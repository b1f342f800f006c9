// The translation of the T-SQL this system writes into SQLite's dialect: a few rules over the
// tokens of the statement, each one marking the tokens it replaces; the text is then written
// once with the replacements in place.
#include "suite/tsql.h"

#include <algorithm>
#include <optional>

namespace {

bool esBlanco(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool esAsciiLetras(QStringView s) {
    for (QChar c : s)
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) return false;
    return !s.isEmpty();
}

// The table hints that lock or choose an isolation level: SQLite has none of them, and its
// transactions lock the whole file anyway.
bool esSugerenciaDeBloqueo(QStringView palabra) {
    static const char* const sugerencias[] = {
        "HOLDLOCK", "NOLOCK",          "NOWAIT",         "PAGLOCK", "READCOMMITTED", "READCOMMITTEDLOCK",
        "READPAST", "READUNCOMMITTED", "REPEATABLEREAD", "ROWLOCK", "SERIALIZABLE",  "SNAPSHOT",
        "TABLOCK",  "TABLOCKX",        "UPDLOCK",        "XLOCK"};
    if (!esAsciiLetras(palabra)) return false;
    for (const char* s : sugerencias)
        if (palabra.compare(QLatin1StringView(s), Qt::CaseInsensitive) == 0) return true;
    return false;
}

bool esTipoEntero(QStringView t) {
    for (const char* tipo : {"INT", "INTEGER", "BIGINT", "SMALLINT", "TINYINT"})
        if (t.compare(QLatin1StringView(tipo), Qt::CaseInsensitive) == 0) return true;
    return false;
}

// How a replacement meets the text written before it (and after it).
enum class Union : std::uint8_t {
    Pegada,             // as it is
    Blanco,             // a piece taken out leaves one blank, none at the start or after another
    ComillaAparte,      // a new literal never merges with a quote before it ('' is a quote)
    ComillasAparteAmbas // nor with one right after it
};

struct Reemplazo {
    qsizetype hasta; // the first token after those replaced
    QString texto;
    Union union_;
};

class Traduccion {
public:
    explicit Traduccion(const QString& sql);

    // The rules. The locking hints go first: the others see a hint taken out as a blank.
    void QuitarSugerenciasDeBloqueo();
    void AgregarFromADelete();
    void ConvertirAEntero();
    void ConvertirFecha();
    void QuitarNDeLiterales();

    QString Texto() const;

private:
    // CONVERT ( type , ...: where its "(", its type and the comma after the type are.
    struct Convert {
        qsizetype apertura, tipo, coma;
    };
    std::optional<Convert> LeerConvert(qsizetype i) const;
    // The first token from i on that is neither a blank nor a hint taken out (n_ when none).
    qsizetype Saltar(qsizetype i) const;
    // The same backwards from i (-1 when none).
    qsizetype SaltarAtras(qsizetype i) const;
    // The first token after a table name that starts at i ("[a b]", dbo.T), or -1.
    qsizetype FinDeNombre(qsizetype i) const;
    bool SoloSugerencias(qsizetype apertura, qsizetype cierre) const;
    bool Es(qsizetype i, char signo) const { return i < n_ && EsSigno(t_[size_t(i)], sql_, signo); }
    void Reemplazar(qsizetype desde, qsizetype hasta, QString texto, Union u);
    void Unir(QString& r, const Reemplazo& e) const;

    const QString& sql_;
    const std::vector<Token> t_;
    const qsizetype n_;
    std::vector<qsizetype> pareja_;                     // per parenthesis: the matching one, or -1
    std::vector<int> comas_;                            // per "(": its commas at the first level
    std::vector<qsizetype> cierres_;                    // the matched ")" in order: inner ones come first
    std::vector<qsizetype> finQuitado_, inicioQuitado_; // hints taken out: first token <-> last
    std::vector<int> reemplazo_;                        // per token: the replacement that starts there, or -1
    std::vector<Reemplazo> reemplazos_;
    qsizetype insercionFrom_ = -1; // the token "FROM " goes before
};

Traduccion::Traduccion(const QString& sql)
    : sql_(sql), t_(Tokenizar(sql)), n_(qsizetype(t_.size())), pareja_(t_.size(), -1), comas_(t_.size(), 0),
      finQuitado_(t_.size(), -1), inicioQuitado_(t_.size(), -1), reemplazo_(t_.size(), -1) {
    std::vector<qsizetype> abiertos;
    for (qsizetype i = 0; i < n_; ++i) {
        if (Es(i, '(')) {
            abiertos.push_back(i);
        } else if (Es(i, ')') && !abiertos.empty()) {
            pareja_[size_t(abiertos.back())] = i;
            pareja_[size_t(i)] = abiertos.back();
            abiertos.pop_back();
            cierres_.push_back(i);
        } else if (Es(i, ',') && !abiertos.empty()) {
            ++comas_[size_t(abiertos.back())];
        }
    }
}

qsizetype Traduccion::Saltar(qsizetype i) const {
    while (i < n_) {
        if (finQuitado_[size_t(i)] >= 0)
            i = finQuitado_[size_t(i)] + 1;
        else if (t_[size_t(i)].clase == ClaseToken::Blanco)
            ++i;
        else
            break;
    }
    return i;
}

qsizetype Traduccion::SaltarAtras(qsizetype i) const {
    while (i >= 0) {
        if (inicioQuitado_[size_t(i)] >= 0)
            i = inicioQuitado_[size_t(i)] - 1;
        else if (t_[size_t(i)].clase == ClaseToken::Blanco)
            --i;
        else
            break;
    }
    return i;
}

void Traduccion::Reemplazar(qsizetype desde, qsizetype hasta, QString texto, Union u) {
    reemplazo_[size_t(desde)] = int(reemplazos_.size());
    reemplazos_.push_back(Reemplazo{hasta, std::move(texto), u});
}

// "WITH (TABLOCKX, HOLDLOCK)": taken out, inner ones first, so that what is left around a hint
// taken out is judged as the next translation will judge it.
void Traduccion::QuitarSugerenciasDeBloqueo() {
    for (const qsizetype cierre : cierres_) {
        const qsizetype apertura = pareja_[size_t(cierre)];
        if (!SoloSugerencias(apertura, cierre)) continue;
        const qsizetype with = SaltarAtras(apertura - 1);
        if (with < 0 || !EsPalabra(t_[size_t(with)], sql_, QLatin1StringView("WITH"))) continue;
        finQuitado_[size_t(with)] = cierre;
        inicioQuitado_[size_t(cierre)] = with;
        Reemplazar(with, cierre + 1, {}, Union::Blanco);
    }
}

bool Traduccion::SoloSugerencias(qsizetype apertura, qsizetype cierre) const {
    int palabras = 0;
    for (qsizetype k = apertura + 1; k < cierre; ++k) {
        const Token& t = t_[size_t(k)];
        if (finQuitado_[size_t(k)] >= 0)
            k = finQuitado_[size_t(k)];
        else if (t.clase == ClaseToken::Palabra && esSugerenciaDeBloqueo(t.en(sql_)))
            ++palabras;
        else if (t.clase != ClaseToken::Blanco && !Es(k, ','))
            return false;
    }
    return palabras > 0;
}

// "DELETE table WHERE ...", or "DELETE table" alone: SQLite wants "DELETE FROM table".
void Traduccion::AgregarFromADelete() {
    qsizetype i = Saltar(0);
    if (i >= n_ || !EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("DELETE"))) return;
    const qsizetype nombre = Saltar(i + 1);
    if (nombre >= n_ || EsPalabra(t_[size_t(nombre)], sql_, QLatin1StringView("FROM"))) return;
    i = FinDeNombre(nombre);
    if (i < 0) return;
    if (i < n_) {
        // Something glued to the name is not a table name.
        if (t_[size_t(i)].clase != ClaseToken::Blanco && finQuitado_[size_t(i)] < 0) return;
        i = Saltar(i);
        if (i < n_ && !EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("WHERE"))) {
            while (i < n_ && Es(i, ';'))
                i = Saltar(i + 1);
            if (i < n_) return;
        }
    }
    insercionFrom_ = nombre;
}

qsizetype Traduccion::FinDeNombre(qsizetype i) const {
    for (;;) {
        if (i >= n_) return -1;
        const Token& t = t_[size_t(i)];
        const bool parte = (t.clase == ClaseToken::NombreCitado && t.cerrado) ||
                           t.clase == ClaseToken::Palabra || t.clase == ClaseToken::Numero;
        if (!parte) return -1;
        if (!Es(i + 1, '.')) return i + 1;
        i += 2;
    }
}

std::optional<Traduccion::Convert> Traduccion::LeerConvert(qsizetype i) const {
    if (!EsPalabra(t_[size_t(i)], sql_, QLatin1StringView("CONVERT"))) return std::nullopt;
    const qsizetype apertura = Saltar(i + 1);
    if (!Es(apertura, '(') || pareja_[size_t(apertura)] < 0) return std::nullopt;
    const qsizetype tipo = Saltar(apertura + 1);
    if (tipo >= n_ || t_[size_t(tipo)].clase != ClaseToken::Palabra ||
        !esAsciiLetras(t_[size_t(tipo)].en(sql_)))
        return std::nullopt;
    const qsizetype coma = Saltar(tipo + 1);
    if (!Es(coma, ',')) return std::nullopt;
    return Convert{apertura, tipo, coma};
}

// CONVERT(INT, x) becomes CAST(x AS INTEGER).
void Traduccion::ConvertirAEntero() {
    for (qsizetype i = 0; i < n_; ++i) {
        const auto c = LeerConvert(i);
        if (!c || !esTipoEntero(t_[size_t(c->tipo)].en(sql_)) || comas_[size_t(c->apertura)] != 1) continue;
        const qsizetype cierre = pareja_[size_t(c->apertura)];
        Reemplazar(i, Saltar(c->coma + 1), QStringLiteral("CAST("), Union::Pegada);
        Reemplazar(cierre, cierre + 1, QStringLiteral(" AS INTEGER)"), Union::Pegada);
    }
}

// CONVERT(DATETIME, 'yyyymmdd', 112) becomes 'yyyy-mm-dd', the form dates are kept in SQLite.
void Traduccion::ConvertirFecha() {
    for (qsizetype i = 0; i < n_; ++i) {
        const auto c = LeerConvert(i);
        if (!c ||
            t_[size_t(c->tipo)].en(sql_).compare(QLatin1StringView("DATETIME"), Qt::CaseInsensitive) != 0 ||
            comas_[size_t(c->apertura)] != 2)
            continue;
        const qsizetype literal = Saltar(c->coma + 1);
        if (literal >= n_) continue;
        const Token& l = t_[size_t(literal)];
        const QStringView fecha =
            l.en(sql_).mid(l.clase == ClaseToken::LiteralUnicode ? 2 : 1, 8); // the digits
        const bool ochoCifras = (l.clase == ClaseToken::Literal && l.largo == 10) ||
                                (l.clase == ClaseToken::LiteralUnicode && l.largo == 11);
        if (!ochoCifras || !l.cerrado ||
            !std::all_of(fecha.begin(), fecha.end(), [](QChar d) { return d >= u'0' && d <= u'9'; }))
            continue;
        const qsizetype coma = Saltar(literal + 1);
        const qsizetype estilo = Es(coma, ',') ? Saltar(coma + 1) : n_;
        if (estilo >= n_ || t_[size_t(estilo)].en(sql_) != QLatin1String("112") ||
            Saltar(estilo + 1) != pareja_[size_t(c->apertura)])
            continue;
        Reemplazar(i, pareja_[size_t(c->apertura)] + 1,
                   QStringLiteral("'%1-%2-%3'").arg(fecha.mid(0, 4), fecha.mid(4, 2), fecha.mid(6, 2)),
                   Union::ComillasAparteAmbas);
    }
}

// N'...' is a Unicode literal in T-SQL; SQLite's literals are all Unicode.
void Traduccion::QuitarNDeLiterales() {
    for (qsizetype i = 0; i < n_; ++i) {
        const Token& t = t_[size_t(i)];
        if (t.clase == ClaseToken::LiteralUnicode)
            Reemplazar(i, i + 1, t.en(sql_).mid(1).toString(), Union::ComillaAparte);
    }
}

void Traduccion::Unir(QString& r, const Reemplazo& e) const {
    switch (e.union_) {
    case Union::Pegada:
        break;
    case Union::Blanco:
        if (!r.isEmpty() && !esBlanco(r.back())) r += u' ';
        break;
    case Union::ComillaAparte:
    case Union::ComillasAparteAmbas:
        if (r.endsWith(u'\'')) r += u' ';
        break;
    }
    r += e.texto;
    if (e.union_ == Union::ComillasAparteAmbas && e.hasta < n_ && sql_[t_[size_t(e.hasta)].inicio] == u'\'')
        r += u' ';
}

QString Traduccion::Texto() const {
    QString r;
    r.reserve(sql_.size() + 32);
    for (qsizetype i = 0; i < n_;) {
        if (i == insercionFrom_)
            r += r.isEmpty() || esBlanco(r.back()) ? QLatin1String("FROM ") : QLatin1String(" FROM ");
        const int k = reemplazo_[size_t(i)];
        if (k < 0) {
            r += t_[size_t(i)].en(sql_);
            ++i;
        } else {
            Unir(r, reemplazos_[size_t(k)]);
            i = reemplazos_[size_t(k)].hasta;
        }
    }
    return r;
}

} // namespace

QString TraducirTSQL(const QString& sql) {
    // Most statements hold nothing to translate.
    const bool algo = sql.contains(QLatin1String("delete"), Qt::CaseInsensitive) ||
                      sql.contains(QLatin1String("convert"), Qt::CaseInsensitive) ||
                      sql.contains(QLatin1String("n'"), Qt::CaseInsensitive) ||
                      sql.contains(QLatin1String("with"), Qt::CaseInsensitive);
    if (!algo) return sql;
    Traduccion t(sql);
    t.QuitarSugerenciasDeBloqueo();
    t.AgregarFromADelete();
    t.ConvertirAEntero();
    t.ConvertirFecha();
    t.QuitarNDeLiterales();
    return t.Texto();
}
