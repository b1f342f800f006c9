#include "apoyo/sql_directo.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
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

QStringList Volcado(const QString& ruta) {
    auto texto = [&](const QString& sql) { return ConsultarValor(ruta, sql).toString(); };
    QStringList filas;
    const QStringList tablas = texto("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master "
                                     "WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name)")
                                   .split(',');
    for (const QString& t : tablas) {
        const QStringList columnas =
            texto(QString("SELECT group_concat('quote(\"' || name || '\")', ' || ''|'' || ') FROM "
                          "pragma_table_info('%1') WHERE NOT (pk = 1 AND upper(type) = 'INTEGER')")
                      .arg(t))
                .split(',');
        const QString sql = QString("SELECT group_concat(fila, char(10)) FROM (SELECT %1 AS fila FROM \"%2\" "
                                    "ORDER BY 1)")
                                .arg(columnas.join(','), t);
        for (const QString& f : texto(sql).split('\n', Qt::SkipEmptyParts))
            filas << t + ": " + f;
    }
    return filas;
}

QStringList VolcadoExacto(const QString& ruta) {
    QStringList r;
    const ConexionDirecta base(ruta);
    QSqlQuery tablas(base.db());
    EXPECT_TRUE(
        tablas.exec("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
                    "ORDER BY name"));
    while (tablas.next()) {
        const QString tabla = tablas.value(0).toString();
        QStringList columnas;
        QSqlQuery info(base.db());
        EXPECT_TRUE(info.exec(QString("PRAGMA table_info(\"%1\")").arg(tabla)));
        while (info.next())
            columnas << QString("quote(\"%1\")").arg(info.value(1).toString());
        QSqlQuery filas(base.db());
        EXPECT_TRUE(filas.exec(
            QString("SELECT rowid, %1 FROM \"%2\" ORDER BY rowid").arg(columnas.join(','), tabla)));
        while (filas.next()) {
            QStringList valores{tabla};
            for (int i = 0; i < filas.record().count(); ++i)
                valores << filas.value(i).toString();
            r << valores.join('|');
        }
    }
    return r;
}

std::string DiferenciaDeVolcados(const QStringList& a, const QStringList& b) {
    std::string r;
    int n = 0;
    for (const QString& f : a)
        if (!b.contains(f) && ++n <= 8) r += "\n  - " + f.toStdString();
    for (const QString& f : b)
        if (!a.contains(f) && ++n <= 16) r += "\n  + " + f.toStdString();
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

QString CopiarBase(const QString& original, const QString& ruta) {
    QFile::remove(ruta);
    QFile::remove(ruta + "-journal");
    EXPECT_TRUE(QFile::copy(original, ruta)) << ruta.toStdString();
    return ruta;
}
