#pragma once
// Helpers of the generator's tests: a connection of the test's own and one-value queries.
#include <gtest/gtest.h>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

class BaseDePrueba {
public:
    explicit BaseDePrueba(const QString& ruta) : nombre_(QStringLiteral("prueba-%1").arg(++contador())) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre_);
        db.setDatabaseName(ruta);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~BaseDePrueba() {
        {
            QSqlDatabase db = QSqlDatabase::database(nombre_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(nombre_);
    }
    BaseDePrueba(const BaseDePrueba&) = delete;
    BaseDePrueba& operator=(const BaseDePrueba&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(nombre_, false); }

    // The first column of the first row; an invalid QVariant when the statement fails.
    QVariant valor(const QString& sql) const {
        QSqlQuery q(db());
        if (!q.exec(sql)) {
            ADD_FAILURE() << q.lastError().text().toStdString() << " en " << sql.toStdString();
            return {};
        }
        return q.next() ? q.value(0) : QVariant();
    }
    qint64 numero(const QString& sql) const { return valor(sql).toLongLong(); }
    bool ejecutar(const QString& sql) const {
        QSqlQuery q(db());
        const bool ok = q.exec(sql);
        EXPECT_TRUE(ok) << q.lastError().text().toStdString() << " en " << sql.toStdString();
        return ok;
    }

private:
    static int& contador() {
        static int n = 0;
        return n;
    }
    QString nombre_;
};

inline std::ostream& operator<<(std::ostream& os, const QString& s) {
    return os << s.toStdString();
}
