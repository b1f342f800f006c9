#pragma once
// Tests of the data layer: a temporary SQLite database and a session of its own connected to
// it, with a scripted operator.
#include "apoyo/sql_directo.h"
#include "suite/operador.h"
#include "suite/recordset.h"
#include "suite/sesion.h"

#include <gtest/gtest.h>
#include <memory>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// The session's transaction on the file at ruta holds the write lock from its start until it
// ends, and a writer that holds it briefly makes the start wait, not fail.
void TransaccionDeEscritura(Sesion& sesion, const QString& ruta);

class PruebaSesion : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void Sql(const QStringList& sentencias) { EjecutarSql(ruta_, sentencias); }
    QVariant Valor(const QString& sql) { return ConsultarValor(ruta_, sql); }
    void Conectar();
    // Writes values as literals and as bound parameters into columns of each kind, and checks
    // that the database stored the same values with the same types.
    void ParametrosComoLiterales();

    QTemporaryDir dir_;
    QString ruta_;
    std::unique_ptr<Sesion> sesion_;
    OperadorGuion* guion_ = nullptr;
    QStringList sentencias_; // what the session ran, through its hook

private:
    std::unique_ptr<Operador> anterior_;
};
