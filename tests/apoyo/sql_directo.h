#pragma once
// Direct access to a SQLite file from tests, through a connection of the test's own: what the
// test puts in the database and reads back, apart from the code under test.
#include "apoyo/impresion.h"

#include <gtest/gtest.h>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

// Makes the demo generator's database at `ruta`; a failure carries the generator's error:
//   ASSERT_TRUE(CrearDemo(ruta, {.asientos = 100, .movimientos = 400}));
::testing::AssertionResult CrearDemo(const QString& ruta, const demodb::OpcionesDemo& opciones);
// Runs statements against a SQLite file (created when missing); fails the test on error.
void EjecutarSql(const QString& ruta, const QStringList& sentencias);
// One value of a query on a SQLite file (first column of the first row; invalid when none).
QVariant ConsultarValor(const QString& ruta, const QString& sql);
// A fresh copy of a SQLite file at `ruta`, any earlier file there and its journal gone; returns
// `ruta`.
QString CopiarBase(const QString& original, const QString& ruta);

// Every row of every table of a SQLite file, sorted, without the columns that are only a row's
// surrogate id: equal dumps mean the same data. The first connection rolls back what a killed
// process left in its journal.
QStringList Volcado(const QString& ruta);
// Every row of every table with its rowid and each value's storage class (quote() tells 12
// from 12.0 and '12'), sqlite_sequence aside: equal dumps are equal databases, ids included.
QStringList VolcadoExacto(const QString& ruta);
// The rows of one dump that the other lacks, a few at most, for a failure message.
std::string DiferenciaDeVolcados(const QStringList& a, const QStringList& b);

// A connection of the test's own that stays open while the object lives.
class ConexionDirecta {
public:
    explicit ConexionDirecta(const QString& ruta);
    ~ConexionDirecta();
    ConexionDirecta(const ConexionDirecta&) = delete;
    ConexionDirecta& operator=(const ConexionDirecta&) = delete;

    QSqlDatabase db() const;
    // The first column of the first row; an invalid QVariant when the statement fails.
    QVariant valor(const QString& sql) const;
    qint64 numero(const QString& sql) const { return valor(sql).toLongLong(); }
    bool ejecutar(const QString& sql) const;

private:
    QString nombre_;
};

// Keeps SQLite's ODBC driver and the installer library mapped after the driver manager
// unloads them, so leak reports from inside them can be told apart from ours.
void MantenerControladorOdbc();
