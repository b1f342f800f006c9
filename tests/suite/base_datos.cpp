#include "base_datos.h"

#include "sql_directo.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

void SqlDirecto(const QString& ruta, const QStringList& sentencias) {
    EjecutarSql(ruta, sentencias);
}
QVariant ValorDirecto(const QString& ruta, const QString& sql) {
    return ConsultarValor(ruta, sql);
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
