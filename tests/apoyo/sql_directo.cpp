#include "apoyo/sql_directo.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {
template <typename F> void conBase(const QString& ruta, F&& f) {
    const QString nombre = QStringLiteral("apoyo-") + QUuid::createUuid().toString();
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

::testing::AssertionResult CrearDemo(const QString& ruta, const demodb::OpcionesDemo& opciones) {
    QString error;
    if (demodb::CrearBaseDemo(ruta, opciones, &error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "demo database " << ruta << ": " << error;
}

void EjecutarSql(const QString& ruta, const QStringList& sentencias) {
    conBase(ruta, [&](QSqlDatabase& db) {
        for (const QString& s : sentencias) {
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(s)) << s.toStdString() << ": " << q.lastError().text().toStdString();
        }
    });
}

QVariant ConsultarValor(const QString& ruta, const QString& sql) {
    QVariant r;
    conBase(ruta, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        if (q.next()) r = q.value(0);
    });
    return r;
}

ConexionDirecta::ConexionDirecta(const QString& ruta)
    : nombre_(QStringLiteral("directa-") + QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre_);
    db.setDatabaseName(ruta);
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
}

ConexionDirecta::~ConexionDirecta() {
    {
        QSqlDatabase db = QSqlDatabase::database(nombre_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(nombre_);
}

QSqlDatabase ConexionDirecta::db() const {
    return QSqlDatabase::database(nombre_, false);
}

QVariant ConexionDirecta::valor(const QString& sql) const {
    QSqlQuery q(db());
    if (!q.exec(sql)) {
        ADD_FAILURE() << q.lastError().text().toStdString() << " en " << sql.toStdString();
        return {};
    }
    return q.next() ? q.value(0) : QVariant();
}

bool ConexionDirecta::ejecutar(const QString& sql) const {
    QSqlQuery q(db());
    const bool ok = q.exec(sql);
    EXPECT_TRUE(ok) << q.lastError().text().toStdString() << " en " << sql.toStdString();
    return ok;
}

void MantenerControladorOdbc() {
    static void* const driver =
        dlopen("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", RTLD_NOW | RTLD_NODELETE);
    static void* const instalador = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
    (void)driver;
    (void)instalador;
}
