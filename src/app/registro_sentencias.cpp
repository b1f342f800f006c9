#include "app/registro_sentencias.h"

#include <cstdio>

RegistroSentencias::RegistroSentencias(const QString& ruta) : archivo_(ruta) {
    archivo_.open(QIODevice::WriteOnly | QIODevice::Append);
}

QString RegistroSentencias::Campo(const QString& texto) {
    QString r;
    r.reserve(texto.size() + 8);
    for (const QChar c : texto) {
        switch (c.unicode()) {
        case '\\':
            r += QLatin1String("\\\\");
            break;
        case '\n':
            r += QLatin1String("\\n");
            break;
        case '\r':
            r += QLatin1String("\\r");
            break;
        case '\t':
            r += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                r += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
            else
                r += c;
        }
    }
    return r;
}

void RegistroSentencias::Observar(const SentenciaSesion& s) {
    if (!s.hecha) {
        inicio_ = QDateTime::currentDateTime();
        return;
    }
    const QDateTime hora = inicio_.isValid() ? inicio_ : QDateTime::currentDateTime();
    inicio_ = QDateTime();
    const QString resultado = s.error        ? QStringLiteral("error: ") + *s.error
                              : s.filas >= 0 ? QStringLiteral("filas: %1").arg(s.filas)
                                             : QStringLiteral("ok");
    const QString linea = hora.toOffsetFromUtc(hora.offsetFromUtc()).toString(Qt::ISODateWithMs) + u'\t' +
                          Campo(SentenciaConValores(s.sql, s.valores)) + u'\t' + Campo(resultado) + u'\n';
    // Line by line to the disk: a process that dies leaves whole lines behind.
    const QByteArray bytes = linea.toUtf8();
    if (Abierto() && archivo_.write(bytes) == bytes.size() && archivo_.flush()) return;
    if (!fallo_)
        std::fprintf(stderr, "[Cribanzas] No se pudo escribir el registro de sentencias %s: %s\n",
                     archivo_.fileName().toLocal8Bit().constData(),
                     archivo_.errorString().toLocal8Bit().constData());
    fallo_ = true;
}
