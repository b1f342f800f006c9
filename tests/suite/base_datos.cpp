#include "base_datos.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {
template <typename F> void conBase(const QString& ruta, F&& f) {
    const QString nombre = QStringLiteral("prueba-") + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre);
        db.setDatabaseName(ruta);
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        f(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(nombre);
}
} // namespace

void SqlDirecto(const QString& ruta, const QStringList& sentencias) {
    conBase(ruta, [&](QSqlDatabase& db) {
        for (const QString& s : sentencias) {
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(s)) << s.toStdString() << ": " << q.lastError().text().toStdString();
        }
    });
}

QVariant ValorDirecto(const QString& ruta, const QString& sql) {
    QVariant r;
    conBase(ruta, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        if (q.next()) r = q.value(0);
    });
    return r;
}

void BaseDePrueba::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    ruta_ = dir_.filePath(QStringLiteral("prueba.db"));
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    anterior_ = InstalarOperador(std::move(guion));
}

void BaseDePrueba::Conectar() {
    sesion_ = std::make_unique<Sesion>();
    sesion_->setDbName(ruta_);
    sesion_->Conectar();
    ASSERT_TRUE(sesion_->Conectado());
    sesion_->AntesDeEjecutar = [this](const QString& s) { sentencias_ << s; };
}

void BaseDePrueba::TearDown() {
    sesion_.reset();
    InstalarOperador(std::move(anterior_));
    guion_ = nullptr;
}
