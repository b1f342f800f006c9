#include "apoyo.h"

#include "globales.h"
#include "modglobal.h"

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

void PruebaSistema::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion(dir_.path());
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    anterior_ = InstalarOperador(std::move(guion));
}

void PruebaSistema::TearDown() {
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion({});
    InstalarOperador(std::move(anterior_));
    guion_ = nullptr;
}

QString PruebaSistema::LineaPara(const QString& ruta, const QString& extra) {
    return QStringLiteral("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;%2").arg(ruta, extra);
}

QStringList PruebaSistema::Textos() const {
    QStringList r;
    for (const auto& a : guion_->Avisos()) r << a.texto;
    return r;
}
