#pragma once
// Tests of the system's procedures: a fresh process state per test, a scripted operator, the
// suite's tables.
#include "apoyo/entorno.h"
#include "apoyo/proceso.h"
#include "apoyo/sql_directo.h"
#include "suite/operador.h"

#include <gtest/gtest.h>
#include <memory>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

// Every test of the system's procedures starts from a clean process: globals reset, a
// scripted operator installed, the application folder in a temporary directory.
class PruebaSistema : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    QString Ruta(const QString& nombre) const { return dir_.filePath(nombre); }
    OperadorGuion& Guion() { return *guion_; }
    // The texts of the recorded prompts, in order.
    QStringList Textos() const;
    // Runs caso once per element, each on a fresh fixture, with the element in the trace.
    template <class T, class F> void PorCaso(const std::vector<T>& casos, F caso) {
        for (size_t i = 0; i < casos.size(); ++i) {
            SCOPED_TRACE(::testing::PrintToString(casos[i]));
            if (i > 0) {
                TearDown();
                SetUp();
            }
            caso(casos[i]);
        }
    }

    QTemporaryDir dir_;
    OperadorGuion* guion_ = nullptr;

private:
    std::unique_ptr<Operador> anterior_;
    // The system and user folders of the program's files, inside dir_ while the test runs.
    EntornoFijado entorno_;
};

// The suite's tables as the demo generator makes them, with a few fiscal years: 2021 and 2022
// closed, 2023 listed through CIERRE only, 2024 with Cerrado NULL, 2025 open.
QStringList EsquemaInicio();
