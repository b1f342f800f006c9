// The T-SQL to SQLite translation over arbitrary statements.
#include "fuzz/comun.h"
#include "suite/sesion.h"

#include <chrono>
#include <QStringList>

namespace {

bool EsDigito(QChar c) {
    return c >= QChar('0') && c <= QChar('9');
}

// The string literals of a statement, in order, scanned as the translation scans: quoted
// names and comments are skipped, so that a quote inside them starts nothing.
QStringList Literales(const QString& s) {
    QStringList r;
    const qsizetype n = s.size();
    qsizetype i = 0;
    auto saltar = [&](QChar cierre) -> qsizetype {
        const qsizetype desde = i;
        ++i;
        while (i < n) {
            if (s[i] == cierre) {
                if (i + 1 < n && s[i + 1] == cierre) {
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            ++i;
        }
        return desde;
    };
    while (i < n) {
        const QChar c = s[i];
        if (c == QChar('\'')) {
            const qsizetype desde = saltar(c);
            r << s.mid(desde, i - desde);
        } else if (c == QChar('"')) {
            saltar(c);
        } else if (c == QChar('[')) {
            saltar(QChar(']'));
        } else if (c == QChar('-') && i + 1 < n && s[i + 1] == QChar('-')) {
            while (i < n && s[i] != QChar('\n'))
                ++i;
        } else if (c == QChar('/') && i + 1 < n && s[i + 1] == QChar('*')) {
            i += 2;
            while (i < n && !(s[i] == QChar('*') && i + 1 < n && s[i + 1] == QChar('/')))
                ++i;
            i = std::min(n, i + 2);
        } else {
            ++i;
        }
    }
    return r;
}

// '20221231' as the translation writes a CONVERT(DATETIME,...,112) date: '2022-12-31'.
bool FechaTraducida(const QString& antes, const QString& despues) {
    if (antes.size() != 10 || despues.size() != 12) return false;
    for (qsizetype k = 1; k < 9; ++k)
        if (!EsDigito(antes[k])) return false;
    return despues == QStringLiteral("'%1-%2-%3'").arg(antes.mid(1, 4), antes.mid(5, 2), antes.mid(7, 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
    const QString sql = TextoDe(datos, tamano);
    const auto inicio = std::chrono::steady_clock::now();
    const QString traducida = TraducirTSQL(sql);
    const auto duracion = std::chrono::steady_clock::now() - inicio;
    const QString detalle = QStringLiteral("sql [%1] traducida [%2]").arg(sql, traducida);

    // Linear-ish: a few kilobytes never take long, even under the sanitizers on a busy machine.
    EXIGIR(duracion < std::chrono::milliseconds(1000 + sql.size() / 10), detalle);

    // Once is enough: the translation of a translation changes nothing.
    EXIGIR(TraducirTSQL(traducida) == traducida, detalle);

    // String literals go through unchanged, except the dates a CONVERT(DATETIME,...,112)
    // turned into SQLite's form.
    const QStringList antes = Literales(sql);
    const QStringList despues = Literales(traducida);
    EXIGIR(antes.size() == despues.size(), detalle);
    for (qsizetype k = 0; k < antes.size(); ++k)
        EXIGIR(antes[k] == despues[k] || FechaTraducida(antes[k], despues[k]), detalle);
    return 0;
}
