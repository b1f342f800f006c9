#pragma once
// Direct access to a SQLite file from tests, through a connection of its own.
#include <QString>
#include <QStringList>
#include <QVariant>

// Runs statements against a SQLite file (created when missing); fails the test on error.
void EjecutarSql(const QString& ruta, const QStringList& sentencias);
// One value of a query on a SQLite file (first column of the first row; invalid when none).
QVariant ConsultarValor(const QString& ruta, const QString& sql);

// Keeps SQLite's ODBC driver and the installer library mapped after the driver manager
// unloads them, so leak reports from inside them can be told apart from ours.
void MantenerControladorOdbc();
