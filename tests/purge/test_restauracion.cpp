// The restore of a purged year, run as the administrator runs it (the real program): the year
// comes back whole on both routes, and every reason to refuse changes nothing.
#include "apoyo/entorno.h"
#include "apoyo/proceso.h"
#include "apoyo/sesion.h"
#include "app/desatendido.h"
#include "purge/archivo.h"
#include "purge/archivo_origen.h"
#include "purge/cerrojo_depuracion.h"
#include "purge/marca_depuracion.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

// One data source for the whole run: the driver manager caches the odbc.ini it read.
const QString kFuente = QStringLiteral("CribanzasRestauracion");
const QTemporaryDir& carpetaOdbc() {
    static const QTemporaryDir dir;
    return dir;
}

Corrida Correr(const QStringList& argumentos) {
    return CorrerPrograma(CRIBANZAS_BIN, argumentos);
}

QByteArray HuellaArchivo(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

class Restauracion : public PruebaSesion {
protected:
    // The demo database at ruta_ and the suite's line that reaches it, through its file or
    // through the ODBC data source.
    void Preparar(bool odbc, const demodb::OpcionesDemo& opciones) {
        if (odbc) {
            MantenerControladorOdbc();
            ASSERT_TRUE(carpetaOdbc().isValid());
            ruta_ = carpetaOdbc().filePath("ronda.db");
            for (const char* resto : {"", "-journal", "-wal", "-shm"})
                QFile::remove(ruta_ + resto);
            const QString ini = carpetaOdbc().filePath("odbc.ini");
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(
                QString("[%1]\nDriver=SQLite3\nDatabase=%2\nTimeout=3000\n").arg(kFuente, ruta_).toUtf8());
            f.close();
            entorno_.Fijar("ODBCINI", ini.toUtf8());
        }
        ASSERT_TRUE(CrearDemo(ruta_, opciones));
        fuente_ = odbc ? kFuente : ruta_;
        linea_ = LineaDeSuite(fuente_);
        archivo_ = dir_.filePath("depuracion-2022.sqlite");
    }

    void Conectar() {
        sesion_ = std::make_unique<Sesion>();
        sesion_->setDbName(fuente_);
        sesion_->Conectar();
        ASSERT_TRUE(sesion_->Conectado()) << fuente_.toStdString();
    }

    // Purges 2022 with the real program and writes its archive as the purge does: what it
    // deletes and the configuration it changes read before, the opening balance it inserts after.
    void DepurarConArchivo() {
        Conectar();
        {
            auto e = EscritorArchivo::Crear(archivo_, {{"base", fuente_},
                                                       {"ejercicio", "2022"},
                                                       {"fecha_desde", "01/01/2022"},
                                                       {"fecha_hasta", "31/12/2022"},
                                                       {"fecha_corte", "31/12/2022"},
                                                       {"archivo_anterior", ""}});
            ArchivarTabla(
                *sesion_, *e, kTablaConfiguracion, DescribirTabla(*sesion_, "TA_CONFIGURACION"),
                "RTRIM(LTRIM(CLAVE)) IN ('fechaoperdesde', 'fechaoperhasta', 'FECHAULTIMADEPURACION')");
            ArchivarTabla(*sesion_, *e, kTablaAsientos, DescribirTabla(*sesion_, "MV_ASIENTOS"),
                          "CONVERT(INT,PERIODO) = 2022");
            ArchivarTabla(*sesion_, *e, kTablaMovimientos, DescribirTabla(*sesion_, "V_MV_STOCK"),
                          "fecha <= CONVERT(DATETIME,'20221231',112)");
            e->Verificar();
        }
        sesion_.reset();
        const auto d = Correr({"--desatendido", "--ejercicio", "2022", "--confirmar", linea_});
        ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
        comprobante_ =
            ConsultarValor(
                ruta_, "SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI' AND FECHA = '2022-12-31'")
                .toString();
        ASSERT_FALSE(comprobante_.isEmpty());
        Conectar();
        auto e = EscritorArchivo::Continuar(archivo_);
        ArchivarTabla(*sesion_, *e, kTablaSaldoInicial, DescribirTabla(*sesion_, "V_MV_STOCK"),
                      QString("TC = 'SI' AND IDCOMPROBANTE = '%1'").arg(comprobante_));
        e->Verificar();
        sesion_.reset();
    }

public:
    // Another station's purge (or restore), holding the lock until the test ends.
    void TomarCerrojoAjeno() {
        Conectar();
        cerrojo_ = std::make_unique<CerrojoDepuracion>(*sesion_);
        ASSERT_EQ(cerrojo_->Tomar(), CerrojoDepuracion::Estado::Propio);
    }

protected:
    void TearDown() override {
        cerrojo_.reset();
        PruebaSesion::TearDown();
    }

    Corrida Restaurar(bool simular = false) {
        return Correr(
            {"--desatendido", "--restaurar", archivo_, simular ? "--simular" : "--confirmar", linea_});
    }

    EntornoFijado entorno_;
    std::unique_ptr<CerrojoDepuracion> cerrojo_;
    QString fuente_, linea_, archivo_, comprobante_;
};

struct Ronda {
    bool odbc;
    quint64 semilla;
    bool conPurgaPrevia; // FECHAULTIMADEPURACION had a row (otherwise the restore removes it)
};

void PrintTo(const Ronda& r, std::ostream* os) {
    *os << (r.odbc ? "odbc" : "archivo") << " semilla " << r.semilla << (r.conPurgaPrevia ? " con" : " sin")
        << " purga previa";
}

class RondaRestauracion : public Restauracion, public ::testing::WithParamInterface<Ronda> {};

} // namespace

// Purge then restore gives back the very database: every table, row ids and storage classes
// included, with or without an earlier purge date. The dry run writes nothing, and a second
// restore of the same archive is refused.
TEST_P(RondaRestauracion, DepurarYRestaurarDevuelveLaMismaBase) {
    const Ronda p = GetParam();
    Preparar(p.odbc, {.semilla = p.semilla,
                      .asientos = 400,
                      .movimientos = 1500,
                      .filasConsulta = 20,
                      .conSaldoInicialPrevio = p.conPurgaPrevia});
    const QStringList original = VolcadoExacto(ruta_);
    DepurarConArchivo();
    const QStringList depurada = VolcadoExacto(ruta_);
    ASSERT_NE(depurada, original);

    const auto s = Restaurar(true);
    ASSERT_EQ(s.estado, Salida::Depurado) << s.errores.toStdString();
    EXPECT_TRUE(s.salida.contains("nada se escribe")) << s.salida.toStdString();
    EXPECT_EQ(VolcadoExacto(ruta_), depurada) << "a dry run writes nothing";

    const auto r = Restaurar();
    ASSERT_EQ(r.estado, Salida::Depurado) << r.errores.toStdString() << r.salida.toStdString();
    EXPECT_TRUE(r.salida.contains(QString("comprobante SI %1").arg(comprobante_))) << r.salida.toStdString();
    const QStringList restaurada = VolcadoExacto(ruta_);
    EXPECT_EQ(restaurada, original) << DiferenciaDeVolcados(restaurada, original);

    const auto otra = Restaurar();
    EXPECT_EQ(otra.estado, Salida::Rechazado) << otra.salida.toStdString();
    EXPECT_TRUE(otra.errores.contains("no registra la depuración de este archivo"))
        << otra.errores.toStdString();
    EXPECT_EQ(VolcadoExacto(ruta_), original);
}

INSTANTIATE_TEST_SUITE_P(Rutas, RondaRestauracion,
                         ::testing::Values(Ronda{false, 7, true}, Ronda{false, 11, false},
                                           Ronda{true, 7, true}, Ronda{true, 11, false}),
                         [](const ::testing::TestParamInfo<Ronda>& i) {
                             return std::string(i.param.odbc ? "Odbc" : "Archivo") +
                                    (i.param.conPurgaPrevia ? "ConPurgaPrevia" : "SinPurgaPrevia");
                         });

namespace {
struct Negativa {
    const char* nombre;
    // Makes the refusal's situation: the database at ruta, the archive, the suite line.
    std::function<void(Restauracion& prueba, const QString& base, const QString& archivo,
                       const QString& linea, const QString& comprobante)>
        preparar;
    const char* motivo; // in the message
};

void PrintTo(const Negativa& n, std::ostream* os) {
    *os << n.nombre;
}

class NegativaRestauracion : public Restauracion, public ::testing::WithParamInterface<Negativa> {};

const Negativa kNegativas[] = {
    {"ArchivoEditado",
     [](Restauracion&, const QString&, const QString& archivo, const QString&, const QString&) {
         EjecutarSql(archivo, {"UPDATE asientos SET DEBE = DEBE + 1 WHERE rowid = 3"});
     },
     "fue modificado o está dañado"},
    {"ContinuacionDeOtroArchivo",
     [](Restauracion&, const QString&, const QString& archivo, const QString&, const QString&) {
         auto e = EscritorArchivo::Continuar(archivo);
         e->FijarManifiesto("archivo_anterior", "depuracion-conta-2022-20250131-101502.sqlite");
         e->Verificar();
     },
     "continúa el archivo depuracion-conta-2022-20250131-101502.sqlite de una depuración interrumpida"},
    {"SaldoInicialModificado",
     [](Restauracion&, const QString& base, const QString&, const QString&, const QString& comprobante) {
         EjecutarSql(base,
                     {QString("UPDATE V_MV_STOCK SET CANTIDAD = CANTIDAD + 1 WHERE IdMovimiento = (SELECT "
                              "MIN(IdMovimiento) FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '%1')")
                          .arg(comprobante)});
     },
     "fueron modificados después de la depuración"},
    {"SaldoInicialBorrado",
     [](Restauracion&, const QString& base, const QString&, const QString&, const QString& comprobante) {
         EjecutarSql(base,
                     {QString("DELETE FROM V_MV_STOCK WHERE IdMovimiento = (SELECT MAX(IdMovimiento) FROM "
                              "V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '%1')")
                          .arg(comprobante)});
     },
     "ya no son los del archivo"},
    {"DepuracionPosterior",
     [](Restauracion&, const QString&, const QString&, const QString& linea, const QString&) {
         const auto d = Correr({"--desatendido", "--ejercicio", "2023", "--confirmar", linea});
         ASSERT_EQ(d.estado, Salida::Depurado) << d.errores.toStdString();
     },
     "registra una depuración posterior"},
    {"DepuracionSinTerminar",
     [](Restauracion&, const QString& base, const QString&, const QString&, const QString&) {
         MarcaDepuracion m;
         m.ejercicio = 2023;
         m.dueno = DuenoDepuracion::Nuevo("caja2", "luis");
         EjecutarSql(base, {QString("INSERT INTO TA_CONFIGURACION VALUES ('DATOS', '%1', '%2')")
                                .arg(MarcaDepuracion::Clave, m.Codificar())});
     },
     "depuración sin terminar (ejercicio 2023)"},
    {"OtraEstacionConElCerrojo",
     [](Restauracion& prueba, const QString&, const QString&, const QString&, const QString&) {
         prueba.TomarCerrojoAjeno();
     },
     "Otra estación está depurando o restaurando"},
};
} // namespace

// Each reason to refuse: status 1, the reason in Spanish, and neither the database nor the
// archive changed.
TEST_P(NegativaRestauracion, RechazaSinCambiarNada) {
    const Negativa& n = GetParam();
    Preparar(false, {.asientos = 300, .movimientos = 800, .filasConsulta = 20});
    DepurarConArchivo();
    n.preparar(*this, ruta_, archivo_, linea_, comprobante_);
    const QStringList antes = VolcadoExacto(ruta_);
    const QByteArray archivo = HuellaArchivo(archivo_);

    const auto r = Restaurar();
    EXPECT_EQ(r.estado, Salida::Rechazado) << r.errores.toStdString();
    EXPECT_TRUE(r.errores.contains(QString::fromUtf8(n.motivo))) << r.errores.toStdString();
    EXPECT_TRUE(r.errores.contains("No se cambió nada en la base de datos.")) << r.errores.toStdString();
    EXPECT_EQ(VolcadoExacto(ruta_), antes);
    EXPECT_EQ(HuellaArchivo(archivo_), archivo);
}

INSTANTIATE_TEST_SUITE_P(Clases, NegativaRestauracion, ::testing::ValuesIn(kNegativas),
                         [](const ::testing::TestParamInfo<Negativa>& i) {
                             return std::string(i.param.nombre);
                         });
