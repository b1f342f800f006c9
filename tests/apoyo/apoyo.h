#pragma once
// Shared test support: a fresh process state per test, a scripted operator, SQLite fixtures.
#include "operador.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// Runs statements against a SQLite file (created when missing); fails the test on error.
void EjecutarSql(const QString& ruta, const QStringList& sentencias);
// One value of a query on a SQLite file (first column of the first row; invalid when none).
QVariant ConsultarValor(const QString& ruta, const QString& sql);

// Every test of the system's procedures starts from a clean process: globals reset, a
// scripted operator installed, the application folder in a temporary directory.
class PruebaSistema : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A command line for a SQLite database file.
    static QString LineaPara(const QString& ruta, const QString& extra = {});
    QString Ruta(const QString& nombre) const { return dir_.filePath(nombre); }
    OperadorGuion& Guion() { return *guion_; }
    // The texts of the recorded prompts, in order.
    QStringList Textos() const;

    QTemporaryDir dir_;
    OperadorGuion* guion_ = nullptr;

private:
    std::unique_ptr<Operador> anterior_;
};
