#include "apoyo/purga.h"

#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QComboBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {
QString literal(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::QString) return QStringLiteral("'") + v.toString().replace("'", "''") + "'";
    return QString::number(v.toDouble(), 'g', 17);
}
} // namespace

QString InsertarMov(const Mov& m) {
    const QVariant descripcion = m.descripcion.isValid() ? m.descripcion : QVariant("Artículo " + m.articulo);
    return QStringLiteral(
               "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, "
               "IDUNIDAD, CANTIDAD, CantidadUD, IdDeposito, IdPosicion, NroSerie, NroLote, Anulado, "
               "ControladoPor) VALUES (%1, %2, 1, %3, %4, %5, %6, %7, %8, %9, %10, %11, %12, %13, 'Ventas')")
        .arg(literal(m.tc), literal(m.comprobante), literal(m.fecha), literal(m.articulo),
             literal(descripcion), literal(m.unidad), literal(m.cantidad), literal(m.cantidadUD),
             literal(m.deposito))
        .arg(literal(m.posicion), literal(m.serie), literal(m.lote), literal(m.anulado));
}

QStringList MovimientosDeMuestra() {
    return {
        InsertarMov({.fecha = "2021-12-31",
                     .articulo = "A1",
                     .cantidad = 20,
                     .tc = "SI",
                     .comprobante = "000100000003X"}),
        InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = -4}),
        InsertarMov({.fecha = "2022-03-01", .articulo = "A2", .cantidad = 8, .lote = "L7"}),
        InsertarMov({.fecha = "2022-04-01", .articulo = "A2", .cantidad = 1, .lote = "L8"}),
        InsertarMov({.fecha = "2022-05-01", .articulo = "A3", .cantidad = 2.5, .cantidadUD = 10}),
        InsertarMov({.fecha = "2022-06-01", .articulo = "A4", .cantidad = 3, .deposito = 4}),
        InsertarMov({.fecha = "2022-07-01", .articulo = "A4", .cantidad = 50, .anulado = 1}),
        InsertarMov({.fecha = "2023-03-01", .articulo = "A1", .cantidad = 1}),
    };
}

QList<demodb::SaldoStock> SinConteo(QList<demodb::SaldoStock> saldos) {
    for (auto& s : saldos)
        s.movimientos = 0;
    return saldos;
}

QList<demodb::SaldoStock> SaldosValidos(const QString& ruta, const QDate& hasta,
                                        demodb::Agrupacion agrupacion) {
    demodb::OpcionesSaldo o;
    o.hasta = hasta;
    o.agrupacion = agrupacion;
    o.anuladoNuloValido = true;
    QList<demodb::SaldoStock> r;
    QString error;
    EXPECT_TRUE(demodb::SaldosStock(ruta, o, &r, &error)) << error.toStdString();
    return r;
}

void PruebaPurga::SetUp() {
    PruebaSistema::SetUp();
    base = Ruta("conta.db");
    QString error;
    ASSERT_TRUE(demodb::CrearEsquemaVacio(base, &error)) << error.toStdString();
    Sql({
        "INSERT INTO MV_EJERCICIOS VALUES (2021, 'Ejercicio 2021', '2021-01-01', '2021-12-31', 1, 1)",
        "INSERT INTO MV_EJERCICIOS VALUES (2022, 'Ejercicio 2022', '2022-01-01', '2022-12-31', 1, 0)",
        "INSERT INTO MV_EJERCICIOS VALUES (2023, 'Ejercicio 2023', '2023-01-01', '2023-12-31', 0, 1)",
        "INSERT INTO MV_EJERCICIOS VALUES (2024, 'Ejercicio 2024', '2024-01-01', '2024-12-31', 0, 0)",
        "INSERT INTO MV_ASIENTOS (PERIODO, NROASIENTO, FECHA, CUENTA, DEBE, HABER) VALUES "
        "('2022', 1, '2022-02-01', '1.1', 10, 0), ('2022', 1, '2022-02-01', '2.1', 0, 10), "
        "('2022 ', 2, '2022-05-01', '1.1', 5, 0), ('2023', 1, '2023-01-10', '1.1', 7, 0), "
        "('2023', 1, '2023-01-10', '2.1', 0, 7)",
        "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'fechaoperdesde', '01/01/2024')",
        "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', ' fechaoperhasta ', '31/12/2024')",
        "INSERT INTO TA_CONFIGURACION VALUES ('GENERAL', 'CantidadDecimales', '2')",
        "INSERT INTO V_TA_CPTE VALUES ('SI', 'Saldo inicial')",
        "INSERT INTO V_TA_CPTE VALUES ('FC', 'Factura')",
    });
}

void PruebaPurga::TearDown() {
    frm.reset();
    PruebaSistema::TearDown();
}

QVariant PruebaPurga::Config(const QString& clave) {
    return Valor(QStringLiteral("SELECT VALOR FROM TA_CONFIGURACION WHERE TRIM(CLAVE) = '%1'").arg(clave));
}

void PruebaPurga::Abrir() {
    EstablecerLineaComandos(LineaDeSuite(base));
    auto vista = std::make_unique<VistaGrabada>(&avance);
    vista->falloMostrar = &falloMostrar;
    gAvance().InstalarVista(std::move(vista));
    auto inyectar = [this](const QString& sql, bool lectura) {
        for (Falla& f : fallas) {
            if (f.lectura != lectura || !sql.contains(f.contiene, Qt::CaseInsensitive)) continue;
            ++f.vistas;
            if (f.vistas < f.ocurrencia || (f.veces > 0 && f.lanzadas >= f.veces)) continue;
            ++f.lanzadas;
            if (f.perderTransaccion) {
                QSqlQuery q(gSesion().Base());
                q.exec(QStringLiteral("ROLLBACK"));
            }
            throw ErrorSistema(f.numero, QStringLiteral("Falla simulada #%1").arg(f.lanzadas));
        }
    };
    gSesion().AntesDeEjecutar = [this, inyectar](const QString& sql) {
        sentencias << sql;
        inyectar(sql, false);
    };
    gSesion().AntesDeLeer = [inyectar](const QString& sql) { inyectar(sql, true); };
    gSesion().setLimiteParametros(limiteParametros);
    gSesion().Observador = [this](const SentenciaSesion& s) {
        if (!s.hecha) escritas << s.sql;
    };
    frm = std::make_unique<FrmCrb>();
    frm->Form_Load();
    ASSERT_FALSE(Guion().Terminado()) << "the window did not load";
    Guion().Limpiar();
    sentencias.clear();
    escritas.clear();
}

void PruebaPurga::Reabrir() {
    frm.reset();
    ReiniciarModGlobal();
    ReiniciarComponentes();
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    InstalarOperador(std::move(guion));
    avance.clear();
    fallas.clear();
    Abrir();
}

void PruebaPurga::Depurar(const QString& codigo) {
    if (!frm) Abrir();
    frm->txtfields->setEditText(codigo);
    frm->CmdAceptar_Click();
}

QStringList PruebaPurga::SentenciasCon(const QString& texto) const {
    QStringList r;
    for (const QString& s : sentencias)
        if (s.contains(texto, Qt::CaseInsensitive)) r << s;
    return r;
}

OtroProceso::OtroProceso(const QString& ruta) : nombre_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", nombre_);
    db.setDatabaseName(ruta);
    db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
    EXPECT_TRUE(db.open());
}

OtroProceso::~OtroProceso() {
    Soltar();
    QSqlDatabase::database(nombre_).close();
    QSqlDatabase::removeDatabase(nombre_);
}

void OtroProceso::Tomar(const char* modo) {
    QSqlQuery q(QSqlDatabase::database(nombre_));
    ASSERT_TRUE(q.exec(QString("BEGIN %1").arg(modo))) << q.lastError().text().toStdString();
    tomado_ = true;
    if (qstrcmp(modo, "DEFERRED") == 0) {
        ASSERT_TRUE(q.exec("SELECT COUNT(*) FROM sqlite_master") && q.next());
    }
}

void OtroProceso::Soltar() {
    if (!tomado_) return;
    QSqlQuery(QSqlDatabase::database(nombre_)).exec("ROLLBACK");
    tomado_ = false;
}

Respuesta OperadorQueLibera::mensaje(const QString& texto, int estilo, const QString& titulo) {
    if ((estilo & 7) == Estilo::AnularReintentarOmitir) liberar();
    return OperadorGuion::mensaje(texto, estilo, titulo);
}

Respuesta OperadorQueLibera::reporte(const ErrorSistema& error, const QString& procedimiento) {
    liberar();
    return OperadorGuion::reporte(error, procedimiento);
}

void OperadorQueLibera::liberar() {
    if (!alPrimerError) return;
    auto f = std::move(alPrimerError);
    alPrimerError = nullptr;
    f();
}
