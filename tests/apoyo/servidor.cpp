#include "apoyo/servidor.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>

namespace {

QSqlError errorDelServidor(int numero, const QString& texto, QSqlError::ErrorType tipo) {
    return QSqlError(QStringLiteral("[Microsoft][ODBC Driver 18 for SQL Server]"),
                     QStringLiteral("[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]") + texto, tipo,
                     QString::number(numero));
}

class Resultado : public QSqlResult {
public:
    Resultado(const QSqlDriver* controlador, std::shared_ptr<ServidorSimulado> s)
        : QSqlResult(controlador), s_(std::move(s)) {}

protected:
    bool reset(const QString& sql) override {
        setQuery(sql);
        return correr(sql, {});
    }
    bool prepare(const QString& sql) override {
        setQuery(sql);
        return true;
    }
    bool exec() override { return correr(lastQuery(), boundValues()); }
    bool fetch(int i) override {
        if (i < 0 || i >= int(filas_.size())) return false;
        setAt(i);
        return true;
    }
    bool fetchFirst() override { return fetch(0); }
    bool fetchLast() override { return fetch(int(filas_.size()) - 1); }
    QVariant data(int i) override { return filas_.value(at()).value(i); }
    bool isNull(int i) override { return data(i).isNull(); }
    int size() override { return isSelect() ? int(filas_.size()) : -1; }
    int numRowsAffected() override { return isSelect() ? -1 : 1; }
    QSqlRecord record() const override {
        QSqlRecord r;
        if (!filas_.isEmpty()) r.append(QSqlField(QString(), QMetaType::fromType<int>()));
        return r;
    }

private:
    bool correr(const QString& sql, const QVariantList& valores) {
        s_->sentencias << sql;
        if (sql.contains(QLatin1Char('?'))) s_->valores << valores;
        filas_.clear();
        setActive(false);
        setAt(QSql::BeforeFirstRow);
        if (!s_->falla.isEmpty() && sql.contains(s_->falla)) {
            if (s_->numeroDeFalla == 1205) {
                s_->transacciones = 0;
                setLastError(
                    errorDelServidor(1205,
                                     QStringLiteral("Transaction (Process ID 57) was deadlocked on lock "
                                                    "resources with another process and has been chosen "
                                                    "as the deadlock victim. Rerun the transaction."),
                                     QSqlError::StatementError));
            } else {
                setLastError(errorDelServidor(s_->numeroDeFalla,
                                              QStringLiteral("Violation of PRIMARY KEY constraint 'PK_T'."),
                                              QSqlError::StatementError));
            }
            return false;
        }
        if (sql.trimmed().compare(QLatin1String("SELECT @@TRANCOUNT"), Qt::CaseInsensitive) == 0)
            filas_ << QVariantList{s_->transacciones};
        setSelect(sql.trimmed().startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive));
        setActive(true);
        return true;
    }

    std::shared_ptr<ServidorSimulado> s_;
    QList<QVariantList> filas_;
};

class Controlador : public QSqlDriver {
public:
    explicit Controlador(std::shared_ptr<ServidorSimulado> s) : s_(std::move(s)) {}
    bool hasFeature(DriverFeature f) const override {
        return f == Transactions || f == PreparedQueries || f == PositionalPlaceholders || f == Unicode;
    }
    bool open(const QString&, const QString&, const QString&, const QString&, int, const QString&) override {
        setOpen(true);
        setOpenError(false);
        return true;
    }
    void close() override { setOpen(false); }
    QSqlResult* createResult() const override { return new Resultado(this, s_); }
    bool beginTransaction() override {
        ++s_->transacciones;
        return true;
    }
    bool commitTransaction() override {
        s_->sentencias << QStringLiteral("COMMIT");
        if (s_->terminaAlConfirmar) s_->transacciones = 0;
        return terminar(3902, QStringLiteral("COMMIT"));
    }
    bool rollbackTransaction() override {
        s_->sentencias << QStringLiteral("ROLLBACK");
        return terminar(3903, QStringLiteral("ROLLBACK"));
    }

private:
    bool terminar(int numero, const QString& que) {
        if (s_->transacciones == 0) {
            setLastError(errorDelServidor(
                numero,
                QStringLiteral("The %1 TRANSACTION request has no corresponding BEGIN TRANSACTION.").arg(que),
                QSqlError::TransactionError));
            return false;
        }
        s_->transacciones = 0;
        return true;
    }
    std::shared_ptr<ServidorSimulado> s_;
};

} // namespace

std::shared_ptr<ServidorSimulado> ServidorSimulado::Instalar(Sesion& sesion) {
    auto s = std::make_shared<ServidorSimulado>();
    sesion.ControladorDeServidor = [s] {
        return std::pair<QSqlDriver*, QString>(new Controlador(s), QStringLiteral("Microsoft SQL Server"));
    };
    return s;
}
