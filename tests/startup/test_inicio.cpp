// The start-up sequence, Cfg and the suite settings.
#include "apoyo/sistema.h"
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace {
class Inicio : public PruebaInicio {
protected:
    void Config(const QString& clave, const QString& valorSql) {
        EjecutarSql(
            base,
            {QString("INSERT INTO TA_CONFIGURACION VALUES ('GENERAL', '%1', %2)").arg(clave, valorSql)});
    }
    void Arrancar(const QString& extra = {}) {
        EstablecerLineaComandos(LineaDeSuite(base, extra));
        InicioSistema();
    }
};
} // namespace

TEST_F(Inicio, ConectaYArmaLaCadenaDeConexion) {
    EstablecerLineaComandos(
        QString("@UsuarioLogeado=ana;@Usuario=juan;@Password=p=1;@DbName= %1 ;@Caja=3;@Menu=M;"
                "@ParametroAdicional=X;")
            .arg(base));
    InicioSistema();
    ASSERT_TRUE(gSesion().Conectado());
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(gCadenaConexion, QString("DSN=%1; UID=juan; PWD=p=1").arg(base));
    EXPECT_EQ(gUsuarioLogeado, "ana");
    EXPECT_EQ(gCaja, "3");
    EXPECT_EQ(gMenu, "M");
    EXPECT_EQ(gParametroAdicional, "X");
    EXPECT_EQ(gSesion().CommandTimeout(), 360);
    EXPECT_EQ(gSeccionIni, gEquipo().NombreEquipo().toUpper() + "|" + gEquipo().UsuarioEquipo().toUpper());
    EXPECT_EQ(gAuxiliar().Carpeta(), gUtilidades().CompletarRuta(dir_.path()));
}

TEST_F(Inicio, ConexionRechazadaTerminaConCuatro) {
    EstablecerLineaComandos(LineaDeSuite(Ruta("no-existe.db")));
    InicioSistema();
    EXPECT_FALSE(gSesion().Conectado());
    ASSERT_TRUE(Guion().Terminado());
    EXPECT_EQ(*Guion().CodigoFin(), 4);
    ASSERT_EQ(Guion().Avisos().size(), 1u) << "the message comes from the session";
    EXPECT_TRUE(Guion().Avisos()[0].texto.contains("no-existe.db"));
    EXPECT_FALSE(QFileInfo::exists(Ruta("no-existe.db"))) << "a missing database is never created";
    EXPECT_FALSE(QFileInfo::exists(Ruta("consultas.vlm")));
}

TEST_F(Inicio, ValorDelIni) {
    Arrancar();
    EXPECT_EQ(gFlatToolbars, 1) << "absent INI: the default 1";
    QFile ini(Ruta("CN000pr.INI"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QString("[otra|seccion]\nFlatToolbars=7\n[%1]\nflattoolbars = 0 planos\n")
                  .arg(gSeccionIni.toLower())
                  .toUtf8());
    ini.close();
    ReiniciarModGlobal();
    ReiniciarComponentes();
    Arrancar();
    EXPECT_EQ(gFlatToolbars, 0);
}

TEST_F(Inicio, EscribeLasMascarasSoloCuandoFaltan) {
    Arrancar();
    const QString ruta = Ruta("consultas.vlm");
    EXPECT_EQ(gConsulta().gRutaMascaraConsultas, ruta);
    EXPECT_EQ(gConsulta().gUsarMascarasConsultas, Verdadero);
    EXPECT_EQ(gConsulta().gConnString, gSesion().CadenaConexion());
    ASSERT_TRUE(QFileInfo::exists(ruta));
    EXPECT_EQ(QFileInfo(ruta).size(), 4808);

    // An existing file, even an empty one, is never touched.
    QFile::remove(ruta);
    QFile vacio(ruta);
    ASSERT_TRUE(vacio.open(QIODevice::WriteOnly));
    vacio.close();
    ReiniciarModGlobal();
    ReiniciarComponentes();
    Arrancar();
    EXPECT_EQ(QFileInfo(ruta).size(), 0);
}

TEST_F(Inicio, CarpetaDelProgramaSinEscrituraNiReporte) {
    // An installed program: nothing is written under /usr (root could), and a user cannot
    // write a read-only folder. The masks go to the user's folder, without an error report.
    // Should the rule break, the file written into /usr/bin is taken away again.
    ASSERT_FALSE(QFileInfo::exists("/usr/bin/consultas.vlm"));
    struct Limpiar {
        ~Limpiar() { QFile::remove("/usr/bin/consultas.vlm"); }
    } limpiar;
    QStringList carpetas{"/usr/bin"};
    if (geteuid() != 0) {
        ASSERT_TRUE(QDir(dir_.path()).mkdir("solo_lectura"));
        QFile::setPermissions(Ruta("solo_lectura"), QFile::ReadOwner | QFile::ExeOwner);
        carpetas << Ruta("solo_lectura");
    }
    const QString deUsuario = Ruta("usuario/cribanzas/consultas.vlm");
    auto rearrancar = [&](const QString& carpeta) {
        ReiniciarModGlobal();
        ReiniciarComponentes();
        EstablecerCarpetaAplicacion(carpeta);
        Arrancar();
        EXPECT_EQ(Guion().Avisos().size(), 0u) << Textos().join("\n").toStdString();
        EXPECT_EQ(gColorFondo, 16776960) << "the settings were loaded";
    };
    for (const QString& carpeta : carpetas) {
        SCOPED_TRACE(carpeta.toStdString());
        QFile::remove(deUsuario);
        rearrancar(carpeta);
        EXPECT_EQ(gConsulta().gRutaMascaraConsultas, deUsuario);
        EXPECT_EQ(QFileInfo(deUsuario).size(), 4808);
        EXPECT_FALSE(QFileInfo::exists(carpeta + "/consultas.vlm"));
        // The next start finds it there and leaves it as it is.
        ASSERT_TRUE(QFile::resize(deUsuario, 0));
        rearrancar(carpeta);
        EXPECT_EQ(gConsulta().gRutaMascaraConsultas, deUsuario);
        EXPECT_EQ(QFileInfo(deUsuario).size(), 0);
    }

    // No folder takes the file: the start-up goes on all the same, the lookups without masks.
    QFile::remove(deUsuario);
    qputenv("XDG_CONFIG_HOME", base.toLocal8Bit()); // a file: no folder can be made under it
    rearrancar("/usr/bin");
    EXPECT_EQ(gConsulta().gRutaMascaraConsultas, "/usr/bin/consultas.vlm");
    EXPECT_FALSE(QFileInfo::exists("/usr/bin/consultas.vlm"));
    if (geteuid() != 0)
        QFile::setPermissions(Ruta("solo_lectura"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(Inicio, CfgDevuelveElValorSinRecortar) {
    Config("CantidadDecimales", "' 2'");
    Config("Nulo", "NULL");
    Arrancar();
    EXPECT_EQ(Cfg("CantidadDecimales"), " 2");
    EXPECT_EQ(Cfg("  CantidadDecimales  "), " 2");
    EXPECT_EQ(Cfg("NoExiste"), " ");
    EXPECT_EQ(Cfg("Nulo"), "");
    EXPECT_EQ(Cfg("O'Brien"), " ") << "a quote in the key stays inside the literal";
}

TEST_F(Inicio, CfgFallidoSinReintento) {
    Arrancar();
    EjecutarSql(base, {"DROP TABLE TA_CONFIGURACION"});
    Guion().Limpiar();
    Guion().Responder(Respuesta::Reintentar); // retry is not offered: it returns the empty text
    EXPECT_EQ(Cfg("CFondo"), "");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(Guion().Avisos()[0].tipo, "error");
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "Cfg");
}

TEST_F(Inicio, ConfiguracionDeLaSuite) {
    Config("MostrarStockenConsultas", "'si'");
    Config("TituloClientes", "'  Clientes  '");
    Config("TituloProveedores", "'Proveedores'");
    Config("EXIGECLAVECONSULTALIKEARTICULOS", "'SI '");
    Config("UsaConsultaLike", "'Si'");
    Config("CantidadDecimales", "' 3'");
    Config("CFondo", "'255'");
    Config("CLetra", "'12.5'");
    Config("ModuloOrdenDeTrabajo", "' no '");
    Arrancar();
    EXPECT_TRUE(gMostrarStock);
    EXPECT_EQ(gTituloClientes, "Clientes");
    EXPECT_EQ(gTituloProveedores, "Proveedores");
    EXPECT_FALSE(gExigeClaveConsultaLike) << "'SI ' with a blank stays off";
    EXPECT_TRUE(gUsaConsultaLike);
    EXPECT_EQ(gCantidadDecimales, " 3");
    EXPECT_FALSE(gUsaMultiplesMonedas);
    EXPECT_EQ(gColorFondo, 255);
    EXPECT_EQ(gColorLetra, 12) << "nearest whole number, halves to even";
    EXPECT_FALSE(gModuloOrdenDeTrabajo);
    EXPECT_EQ(gArchivoTareas, gUtilidades().CompletarRuta(dir_.path()) + "VLDOCTareas.vlm");
}

TEST_F(Inicio, ConfiguracionPorDefecto) {
    Config("CFondo", "'0'");
    Arrancar();
    EXPECT_FALSE(gMostrarStock);
    EXPECT_EQ(gTituloClientes, "");
    EXPECT_EQ(gCantidadDecimales, " ");
    EXPECT_EQ(gColorFondo, 16776960);
    EXPECT_EQ(gColorLetra, 0);
    EXPECT_TRUE(gModuloOrdenDeTrabajo);
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Inicio, SesionYaConectadaNoLeeLaLinea) {
    Arrancar("@Caja=1;");
    EXPECT_EQ(gCaja, "1");
    EstablecerLineaComandos("@DbName=otra.db;@Caja=9;");
    InicioSistema();
    EXPECT_EQ(gCaja, "1");
    EXPECT_EQ(gSesion().DbName(), base);
}
