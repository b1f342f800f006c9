// The start-up's choice of database: a database that is not the suite's, by every route, and
// the start without a session line that asks the operator.
#include "apoyo/sistema.h"
#include "startup/conexion.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {
QByteArray Huella(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

class Conexion : public PruebaInicio {
protected:
    // Files that open, or not, but are not the suite's database.
    struct Ajena {
        const char* caso;
        QString ruta;
        const char* falta; // the table the message names; null where the driver refuses the file
    };
    std::vector<Ajena> Ajenas() {
        QFile vacia(Ruta("vacia.db"));
        EXPECT_TRUE(vacia.open(QIODevice::WriteOnly));
        vacia.close();
        EjecutarSql(Ruta("otra.db"), {"CREATE TABLE CLIENTES (ID INTEGER)"});
        EjecutarSql(Ruta("sin_ejercicios.db"),
                    {"CREATE TABLE TA_CONFIGURACION (SECCION TEXT, CLAVE TEXT, VALOR TEXT)"});
        QFile texto(Ruta("notas.db"));
        EXPECT_TRUE(texto.open(QIODevice::WriteOnly));
        texto.write(QByteArray("Esto no es una base de datos, es un archivo de texto bastante largo.\n")
                        .repeated(20));
        texto.close();
        return {{"archivo vacío", Ruta("vacia.db"), "TA_CONFIGURACION"},
                {"/dev/null", "/dev/null", "TA_CONFIGURACION"},
                {"otra base", Ruta("otra.db"), "TA_CONFIGURACION"},
                {"sin MV_EJERCICIOS", Ruta("sin_ejercicios.db"), "MV_EJERCICIOS"},
                {"texto", Ruta("notas.db"), nullptr}};
    }
};
} // namespace

TEST_F(Conexion, BaseAjenaUnMensajeYEstadoCuatro) {
    for (const Ajena& a : Ajenas()) {
        SCOPED_TRACE(a.caso);
        const QByteArray antes = Huella(a.ruta);

        // The session line, as the window and the unattended mode run it: one message, status 4,
        // nothing written, not even the masks file.
        ReiniciarModGlobal();
        ReiniciarComponentes();
        Guion().Limpiar();
        EstablecerLineaComandos(LineaDeSuite(a.ruta));
        InicioSistema();
        EXPECT_FALSE(gSesion().Conectado());
        ASSERT_TRUE(Guion().Terminado());
        EXPECT_EQ(*Guion().CodigoFin(), SalidaSinConexion);
        ASSERT_EQ(Guion().Avisos().size(), 1u) << Textos().join("\n").toStdString();
        EXPECT_EQ(Guion().Avisos()[0].estilo & 0x70, 16) << "a critical box";
        EXPECT_TRUE(Guion().Avisos()[0].texto.contains(a.ruta));
        if (a.falta) {
            EXPECT_TRUE(Guion().Avisos()[0].texto.contains(a.falta)) << Textos().join("\n").toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(Ruta("consultas.vlm")));

        // The same choice in the dialog: the reason comes back to be shown there, not in a box.
        ReiniciarComponentes();
        Guion().Limpiar();
        const auto motivo = ConectarEleccion({TipoOrigen::ArchivoSqlite, a.ruta, {}, {}});
        ASSERT_TRUE(motivo.has_value());
        EXPECT_TRUE(motivo->contains(a.ruta)) << motivo->toStdString();
        if (a.falta) {
            EXPECT_TRUE(motivo->contains(a.falta)) << motivo->toStdString();
        }
        EXPECT_FALSE(gSesion().Conectado());
        EXPECT_TRUE(Guion().Avisos().empty()) << Textos().join("\n").toStdString();

        // The unattended mode: one message on standard error, status 4.
        const Corrida c = CorrerPrograma(
            CRIBANZAS_BIN, {"--desatendido", "--ejercicio", "2022", "--simular", LineaDeSuite(a.ruta)});
        EXPECT_EQ(c.estado, 4) << c.errores.toStdString();
        EXPECT_EQ(c.errores.count(QStringLiteral("[Cribanzas]")), 1) << c.errores.toStdString();
        EXPECT_FALSE(c.errores.contains(QStringLiteral("Error "))) << c.errores.toStdString();

        EXPECT_EQ(Huella(a.ruta), antes) << "the file was changed";
    }
    // And the retry in the dialog finds the suite's database.
    ReiniciarComponentes();
    EXPECT_EQ(ConectarEleccion({TipoOrigen::ArchivoSqlite, base, {}, {}}), std::nullopt);
    EXPECT_TRUE(gSesion().Conectado());
}

TEST_F(Conexion, SinBaseEnLaLineaPreguntaAlOperador) {
    // Without a selector (the unattended mode): the session's refusal and status 4.
    EstablecerLineaComandos("@Caja=2;");
    InicioSistema();
    ASSERT_TRUE(Guion().Terminado());
    EXPECT_EQ(*Guion().CodigoFin(), SalidaSinConexion);
    EXPECT_EQ(Guion().Avisos().size(), 1u);

    // The operator gives up: status 4 and no message of the system's.
    ReiniciarModGlobal();
    ReiniciarComponentes();
    Guion().Limpiar();
    int preguntas = 0;
    InstalarSelectorConexion([&] {
        ++preguntas;
        return false;
    });
    EstablecerLineaComandos({});
    InicioSistema();
    EXPECT_EQ(preguntas, 1);
    ASSERT_TRUE(Guion().Terminado());
    EXPECT_EQ(*Guion().CodigoFin(), SalidaSinConexion);
    EXPECT_TRUE(Guion().Avisos().empty());

    // The operator chooses the file after a refused attempt: the start-up goes on as with a
    // session line, and the user is the system's.
    ReiniciarModGlobal();
    ReiniciarComponentes();
    auto nuevo = std::make_unique<OperadorGuion>();
    guion_ = nuevo.get();
    InstalarOperador(std::move(nuevo));
    QStringList motivos;
    InstalarSelectorConexion([&] {
        for (const QString& ruta : {Ruta("no-existe.db"), base})
            if (const auto m = ConectarEleccion({TipoOrigen::ArchivoSqlite, ruta, "juan", "clave"}))
                motivos << *m;
            else
                return true;
        return false;
    });
    EstablecerLineaComandos("@Caja=2;");
    InicioSistema();
    ASSERT_TRUE(gSesion().Conectado());
    EXPECT_FALSE(Guion().Terminado());
    ASSERT_EQ(motivos.size(), 1);
    EXPECT_TRUE(motivos[0].contains("no-existe.db"));
    EXPECT_FALSE(QFileInfo::exists(Ruta("no-existe.db")));
    EXPECT_EQ(gUsuarioLogeado, gEquipo().UsuarioEquipo());
    EXPECT_EQ(gCaja, "2");
    EXPECT_EQ(gSesion().DbName(), base);
    EXPECT_EQ(gCadenaConexion, QString("DSN=%1; UID=; PWD=").arg(base)) << "a file has no login";
    EXPECT_EQ(gSesion().CommandTimeout(), 360);
    EXPECT_EQ(gColorFondo, 16776960) << "the settings were loaded";
    EXPECT_EQ(QFileInfo(Ruta("consultas.vlm")).size(), 4808);
    EXPECT_TRUE(Guion().Avisos().empty()) << Textos().join("\n").toStdString();
}
