#include "apoyo/sesion.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <thread>

namespace {
// Whether another connection could start writing now, without waiting.
bool OtroPuedeEscribir(const QString& ruta) {
    const QString nombre = QUuid::createUuid().toString();
    bool puede = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", nombre);
        db.setDatabaseName(ruta);
        db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        if (db.open()) {
            QSqlQuery q(db);
            puede = q.exec("BEGIN IMMEDIATE");
            if (puede) q.exec("ROLLBACK");
        }
    }
    QSqlDatabase::removeDatabase(nombre);
    return puede;
}
} // namespace

void TransaccionDeEscritura(Sesion& sesion, const QString& ruta) {
    // Another program writes for 400 ms, in a thread of its own.
    std::atomic<bool> tomado{false};
    std::thread otro([&] {
        const ConexionDirecta otra(ruta);
        QSqlQuery q(otra.db());
        EXPECT_TRUE(q.exec("BEGIN IMMEDIATE")) << q.lastError().text().toStdString();
        tomado = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        q.exec("ROLLBACK");
    });
    while (!tomado)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QElapsedTimer reloj;
    reloj.start();
    EXPECT_NO_THROW(sesion.IniciarTransaccion()) << "a short writer delays the start";
    EXPECT_GE(reloj.elapsed(), 200);
    otro.join();
    // Nothing read or written yet, and the lock is the session's already.
    EXPECT_FALSE(OtroPuedeEscribir(ruta));
    sesion.DeshacerTransaccion();
    EXPECT_TRUE(OtroPuedeEscribir(ruta));
}

void PruebaSesion::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    ruta_ = dir_.filePath(QStringLiteral("prueba.db"));
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    anterior_ = InstalarOperador(std::move(guion));
}

void PruebaSesion::Conectar() {
    sesion_ = std::make_unique<Sesion>();
    sesion_->setDbName(ruta_);
    sesion_->Conectar();
    ASSERT_TRUE(sesion_->Conectado());
    sesion_->AntesDeEjecutar = [this](const QString& s) { sentencias_ << s; };
}

void PruebaSesion::TearDown() {
    sesion_.reset();
    InstalarOperador(std::move(anterior_));
    guion_ = nullptr;
}

void PruebaSesion::ParametrosComoLiterales() {
    sesion_->Ejecutar("CREATE TABLE PARAMS (k INTEGER, t varchar(40), n numeric(18,4), r float, e int, f "
                      "DATETIME)");
    const std::vector<std::pair<QVariant, QString>> casos = {
        {"SI", "'"},
        {"O'Higgins ''", "'"},
        {QString(""), "'"},
        {QString::fromUtf8("línea\r\nñ ü"), "'"},
        {QDate(2023, 12, 31), "'"},
        {QDateTime(QDate(2023, 4, 1), QTime(9, 30)), "'"},
        {12.5, "'"},
        {QVariant(), "'"},
        {-3, "@"},
        {qlonglong(1234567890123), "@"},
        {7.0, "@"},
        {2.675, "@"},
        {0.1 + 0.2, "@"},
        {-0.0, "@"},
        {1e20, "@"},
        {" 12.50 ", "@"},
        {"5.0", "@"},
        {"007", "@"},
        {true, "@"},
        {QVariant(), "@"},
    };
    const QString conParametros =
        "INSERT INTO PARAMS VALUES (?, ?, ?, ?, ?, CONVERT(DATETIME,'20231231',112))";
    for (size_t k = 0; k < casos.size(); ++k) {
        const auto& [valor, delimitador] = casos[k];
        const QString literal = sesion_->ValorSQL(valor, delimitador).toString();
        sesion_->Ejecutar(QString("INSERT INTO PARAMS VALUES (%1, %2, %2, %2, %2, "
                                  "CONVERT(DATETIME,'20231231',112))")
                              .arg(k)
                              .arg(literal));
        const QVariant p = sesion_->ValorParametro(valor, delimitador);
        sesion_->EjecutarConValores(conParametros, {qlonglong(k + 1000), p, p, p, p});
    }
    EXPECT_EQ(sentencias_.last(), "INSERT INTO PARAMS VALUES (?, ?, ?, ?, ?, '2023-12-31')");
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM PARAMS").toInt(), int(2 * casos.size()));
    QString distintas;
    for (const char* c : {"t", "n", "r", "e", "f"})
        distintas += Valor(QString("SELECT group_concat(a.k || ':%1 ' || quote(a.%1) || ' ' || quote(b.%1)) "
                                   "FROM PARAMS a JOIN PARAMS b ON b.k = a.k + 1000 WHERE NOT "
                                   "(typeof(a.%1) = typeof(b.%1) AND a.%1 IS b.%1)")
                               .arg(c))
                         .toString();
    EXPECT_TRUE(distintas.isEmpty()) << distintas.toStdString();

    // The same errors as the literals.
    for (const auto& [valor, numero] : {std::pair{QVariant("12,5"), Errores::TiposNoCoinciden},
                                        {QVariant(INFINITY), Errores::Desbordamiento}}) {
        try {
            sesion_->ValorParametro(valor, "@");
            ADD_FAILURE() << valor.toString().toStdString();
        } catch (const ErrorSistema& e) {
            EXPECT_EQ(e.Numero, numero);
        }
    }
    // A date bound as such keeps SQLite's one text form.
    sesion_->EjecutarConValores("INSERT INTO PARAMS (k, f) VALUES (?, ?)",
                                {5000, QDateTime(QDate(2023, 4, 1), QTime(9, 30))});
    EXPECT_EQ(Valor("SELECT f FROM PARAMS WHERE k = 5000").toString(), "2023-04-01 09:30:00");

    // A failing run says why, and the statement runs again after it.
    EXPECT_THROW(sesion_->EjecutarConValores(conParametros, {1, 2}), ErrorSistema);
    sesion_->EjecutarConValores(conParametros, {9999, "x", 1, 2, 3});
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM PARAMS WHERE k = 9999").toInt(), 1);
}
