#pragma once
// The programs a test starts write their purge archives and listings, by default, into the
// user's data folder (XDG_DATA_HOME): each test suite's set-up and each test get a temporary one
// of their own instead, removed when they end, so no test fills the user's folder or finds the
// files another left. A test that sets the variable itself still may.
#include <gtest/gtest.h>
#include <memory>
#include <QFile>
#include <QTemporaryDir>

class DatosPorPrueba : public ::testing::EmptyTestEventListener {
public:
    // Registers it with GoogleTest, which owns its listeners.
    static void Instalar() { ::testing::UnitTest::GetInstance()->listeners().Append(new DatosPorPrueba); }

    void OnTestSuiteStart(const ::testing::TestSuite&) override { suite_ = Nueva(); }
    void OnTestStart(const ::testing::TestInfo&) override { prueba_ = Nueva(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        prueba_.reset();
        if (suite_) qputenv("XDG_DATA_HOME", QFile::encodeName(suite_->path()));
    }
    void OnTestSuiteEnd(const ::testing::TestSuite&) override { suite_.reset(); }

private:
    static std::unique_ptr<QTemporaryDir> Nueva() {
        auto dir = std::make_unique<QTemporaryDir>();
        if (dir->isValid()) qputenv("XDG_DATA_HOME", QFile::encodeName(dir->path()));
        return dir;
    }
    std::unique_ptr<QTemporaryDir> suite_, prueba_;
};
