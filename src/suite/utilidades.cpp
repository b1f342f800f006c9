#include "suite/utilidades.h"

#include "suite/interfaz.h"
#include "suite/operador.h"

#include <cmath>
#include <QDate>
#include <QDir>

double Val(const QString& texto) {
    // Blanks are skipped wherever they stand, as the suite's numeric reading does.
    QByteArray limpio;
    limpio.reserve(texto.size());
    for (QChar c : texto) {
        if (c == QChar(' ') || c == QChar('\t') || c == QChar('\n') || c == QChar('\r')) continue;
        if (c.unicode() > 127) break;
        limpio.append(char(c.unicode()));
    }
    qsizetype i = 0;
    const qsizetype n = limpio.size();
    auto digitos = [&] {
        const qsizetype desde = i;
        while (i < n && limpio[i] >= '0' && limpio[i] <= '9')
            ++i;
        return i - desde;
    };
    if (i < n && (limpio[i] == '+' || limpio[i] == '-')) ++i;
    const qsizetype enteros = digitos();
    qsizetype decimales = 0;
    if (i < n && limpio[i] == '.') {
        ++i;
        decimales = digitos();
    }
    if (enteros + decimales == 0) return 0.0;
    qsizetype finMantisa = i;
    if (i < n && (limpio[i] == 'e' || limpio[i] == 'E' || limpio[i] == 'd' || limpio[i] == 'D')) {
        qsizetype j = i + 1;
        if (j < n && (limpio[j] == '+' || limpio[j] == '-')) ++j;
        qsizetype k = j;
        while (k < n && limpio[k] >= '0' && limpio[k] <= '9')
            ++k;
        if (k > j) {
            limpio[i] = 'e';
            finMantisa = k;
        }
    }
    bool ok = false;
    double v = limpio.left(finMantisa).toDouble(&ok);
    if (!ok || !std::isfinite(v)) return 0.0;
    return v;
}

bool EsValorEntero(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool EsValorNumerico(const QVariant& v) {
    return EsValorEntero(v) || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

QString FormatoFechaCorta() {
    return QStringLiteral("dd/MM/yyyy");
}

QDate LeerFechaCorta(const QString& texto) {
    const QString t = texto.trimmed();
    // QDate's patterns read with the C locale: ASCII digits, whatever the process locale.
    QDate d = QDate::fromString(t, QStringLiteral("d/M/yyyy"));
    if (!d.isValid()) d = QDate::fromString(t.left(10), Qt::ISODate);
    return d;
}

double Utilidades::ValorNumero(const QString& texto) const {
    // A currency value: four decimals and a bounded range (beyond it the product below
    // would be infinite and poison every later conversion to a whole number).
    const double v = Val(texto);
    if (std::fabs(v) > 922337203685477.5807)
        throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
    return std::round(v * 10000.0) / 10000.0;
}

long Utilidades::ValorEntero(const QString& texto) const {
    const double v = std::round(Val(texto));
    if (v > 2147483647.0 || v < -2147483648.0)
        throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
    return long(v);
}

QVariant Utilidades::SinNulo(const QVariant& valor) const {
    if (!valor.isValid() || valor.isNull()) return QString();
    return valor;
}

QString Utilidades::QuitarCaracteres(const QString& texto, QChar c1, QChar c2, QChar c3) const {
    QString r;
    r.reserve(texto.size());
    for (QChar c : texto) {
        if (c == c1) continue;
        if (!c2.isNull() && c == c2) continue;
        if (!c3.isNull() && c == c3) continue;
        r.append(c);
    }
    // A null QChar passed as the first character is a real character 0 to remove.
    return r;
}

QString Utilidades::Reemplazar(const QString& texto, const QString& buscar, const QString& reemplazo) const {
    if (buscar.isEmpty()) return texto;
    return QString(texto).replace(buscar, reemplazo);
}

void Utilidades::IndicarOcupado(bool ocupado) const {
    if (const auto& indicar = InterfazActual().indicarOcupado) indicar(ocupado);
}

QString Utilidades::FechaSQL(const QString& fecha) const {
    const QDate d = LeerFechaCorta(fecha);
    if (!d.isValid())
        throw ErrorSistema(Errores::TiposNoCoinciden,
                           QStringLiteral("No coinciden los tipos: '%1' no es una fecha").arg(fecha));
    return QStringLiteral("CONVERT(DATETIME,'%1',112)").arg(d.toString(QStringLiteral("yyyyMMdd")));
}

Respuesta Utilidades::ReportarError(const ErrorSistema& error, const QVariant&,
                                    const QString& procedimiento) const {
    const Respuesta r = operador().ReportarError(error, procedimiento);
    return (r == Respuesta::Reintentar || r == Respuesta::Omitir) ? r : Respuesta::Anular;
}

QString Utilidades::CompletarRuta(const QString& carpeta) const {
    QString r = QDir::fromNativeSeparators(carpeta);
    if (!r.endsWith(QChar('/'))) r += QChar('/');
    return r;
}
