#pragma once
// The rows a purge deletes, read from the live session straight into the archive: one SELECT
// per table, in the archive's order, on the session's own connection (so inside its
// transaction), streamed row by row.
//
// - On a SQLite file (Qt's SQLite driver) the rows come through SQLite's own statement on the
//   session's connection: every value with its storage class, nothing converted.
// - Through ODBC the rows come through an ODBC statement on the session's connection: integers
//   as integers, floating-point columns as doubles, decimal and numeric columns as the driver's
//   exact text ("12.50"), dates as the driver's text, binary data as bytes, text as Unicode.
// Declared types come from the catalog: PRAGMA table_info on SQLite, SQLColumns and
// SQLPrimaryKeys through ODBC. The SELECT is T-SQL and goes through the session's hooks (the
// statement log sees it as it sees every other); the catalog reads do not.
//
// Through ODBC a connection without multiple active result sets (SQL Server's usual) runs one
// statement at a time: no recordset of the session may still be streaming when these run (any
// statement sent through the session first reads them to their end).
#include "purge/archivo.h"

#include <QString>
#include <QStringList>
#include <vector>

class Sesion;

// A source table as the archive reads it.
struct TablaOrigen {
    QString tabla;                        // as the statements name it
    std::vector<ColumnaArchivo> columnas; // the SELECT's columns: _rowid_origen first when kept
    QStringList clave;                    // the primary key's columns, in order (empty: none)
    bool conRowid = false;                // SQLite's rowid is kept (it is not a column of its own)
    // The order of the rows: "rowid", the key's columns joined by ",", or "*" (all columns).
    QString Orden() const;
};

// Reads the table's columns, declared types and key from the database's catalog. Raises
// ErrorSistema when the table is missing.
TablaOrigen DescribirTabla(Sesion& sesion, const QString& tabla);

// Whether the SELECT locks what it reads until the transaction ends.
enum class BloqueoLectura {
    Ninguno,
    // "WITH (TABLOCKX, HOLDLOCK)" on SQL Server: no other session inserts, changes or deletes a
    // row of the table before the rows read are deleted in the same transaction. SQLite's
    // write transaction holds the whole file already (the hint is left out there).
    Tabla
};

// The SELECT that reads the rows meeting the condition (T-SQL, without "WHERE"; empty: all
// rows) in the archive's order.
QString SentenciaLectura(const TablaOrigen& origen, const QString& condicion,
                         BloqueoLectura bloqueo = BloqueoLectura::Ninguno);

// Writes the table `nombre` of the archive with the rows of the source table that meet the
// condition, and returns its count and digest as written. Raises ErrorSistema naming the
// table when the database cannot be read or the archive written.
TablaArchivo ArchivarTabla(Sesion& sesion, EscritorArchivo& escritor, const QString& nombre,
                           const TablaOrigen& origen, const QString& condicion,
                           BloqueoLectura bloqueo = BloqueoLectura::Ninguno);

// The row count and digest that an archive of the rows meeting the condition would record, read
// the same way and written nowhere: to tell whether rows of the database are still those an
// archive holds.
TablaArchivo HuellaOrigen(Sesion& sesion, const TablaOrigen& origen, const QString& condicion,
                          BloqueoLectura bloqueo = BloqueoLectura::Ninguno);
