#pragma once
// Internals shared by the archive's writer, reader and source reader (not an interface).
#include "purge/archivo.h"

#include <QString>
#include <sqlite3.h>

namespace archivo_p {

// Column i of the statement's current row (the bytes stay valid until the statement moves).
inline Dato DatoDeColumna(sqlite3_stmt* s, int i) {
    static const char vacio[] = "";
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER:
        return Dato::DeEntero(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT:
        return Dato::DeReal(sqlite3_column_double(s, i));
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return Dato::DeTexto(p ? p : vacio, sqlite3_column_bytes(s, i));
    }
    case SQLITE_BLOB: {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
        return Dato::DeBinario(p ? p : vacio, sqlite3_column_bytes(s, i));
    }
    default:
        return Dato::Nulo();
    }
}

// An identifier between double quotes, as SQLite and SQL Server both read it.
inline QString Citado(const QString& nombre) {
    return QChar('"') + QString(nombre).replace(QChar('"'), QLatin1String("\"\"")) + QChar('"');
}

// The text of a SQLite error, in Spanish where the cause is the operator's to mend.
QString TextoErrorSqlite(sqlite3* db, int codigo);

} // namespace archivo_p
