#pragma once
// The statement log of the unattended mode: every statement the session sends, untranslated,
// appended to a file as one line of three fields separated by tabs: the time it was sent
// (ISO 8601, local time with its offset), the statement (with the values bound to its "?"
// markers written in), and its outcome ("filas: N", "ok", or "error: " and the database's
// text). Inside a field, a backslash is written \\, a line feed \n, a carriage return \r, a
// tab \t and any other control character \xHH, so that a line is always one statement.
#include "suite/sesion.h"

#include <QDateTime>
#include <QFile>
#include <QString>

class RegistroSentencias {
public:
    // Opens the file for appending (created when missing); Abierto() says whether it could.
    explicit RegistroSentencias(const QString& ruta);
    RegistroSentencias(const RegistroSentencias&) = delete;
    RegistroSentencias& operator=(const RegistroSentencias&) = delete;

    bool Abierto() const { return archivo_.isOpen(); }
    QString Error() const { return archivo_.errorString(); }
    // The session observer that writes the log (the log must outlive its use).
    void Observar(const SentenciaSesion& s);

    // One field as the log writes it.
    static QString Campo(const QString& texto);

private:
    QFile archivo_;
    QDateTime inicio_;
    bool fallo_ = false; // a line could not be written: told once, on standard error
};
