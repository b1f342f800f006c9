// Where the files beside the executable are found and created: the program's folder, then
// the system folder, then the user's.
#include "apoyo/entorno.h"
#include "suite/componentes.h"
#include "suite/error.h"
#include "suite/globales.h"
#include "suite/ubicaciones.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
class Ubicaciones : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath("programa"));
        EstablecerCarpetaAplicacion(Ruta("programa"));
        entorno_.Fijar(VariableCarpetaSistema, Ruta("etc").toLocal8Bit());
        entorno_.Fijar("XDG_CONFIG_HOME", Ruta("xdg").toLocal8Bit());
        entorno_.Fijar("HOME", Ruta("casa").toLocal8Bit());
    }
    void TearDown() override {
        EstablecerCarpetaAplicacion({});
        entorno_.Restaurar();
    }
    QString Ruta(const QString& relativa) const { return dir_.filePath(relativa); }
    static void Escribir(const QString& ruta, const QByteArray& contenido) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(ruta).path()));
        QFile f(ruta);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenido);
    }
    static QString Leer() {
        return ArchivoIni().LeerValor("CN000pr.INI", "General", "FlatToolbars", "ninguno");
    }

    QTemporaryDir dir_;
    EntornoFijado entorno_;
};
} // namespace

TEST_F(Ubicaciones, GanaElPrimerArchivoEncontrado) {
    EXPECT_EQ(CarpetasDeArchivos(), QStringList({Ruta("programa/"), Ruta("etc/"), Ruta("xdg/cribanzas/")}));
    Escribir(Ruta("programa/CN000pr.INI"), "[General]\nFlatToolbars=programa\n");
    Escribir(Ruta("etc/CN000pr.INI"), "[General]\nFlatToolbars=etc\n");
    Escribir(Ruta("xdg/cribanzas/CN000pr.INI"), "[General]\nFlatToolbars=xdg\n");
    EXPECT_EQ(Leer(), "programa");
    // Something that is not a regular file does not stop the search.
    ASSERT_TRUE(QFile::remove(Ruta("programa/CN000pr.INI")));
    ASSERT_TRUE(QDir().mkdir(Ruta("programa/CN000pr.INI")));
    EXPECT_EQ(Leer(), "etc");
    EXPECT_EQ(BuscarArchivoAplicacion("CN000pr.INI"), Ruta("etc/CN000pr.INI"));
    ASSERT_TRUE(QFile::remove(Ruta("etc/CN000pr.INI")));
    EXPECT_EQ(Leer(), "xdg");
    ASSERT_TRUE(QFile::remove(Ruta("xdg/cribanzas/CN000pr.INI")));
    EXPECT_EQ(Leer(), "ninguno");
    EXPECT_EQ(BuscarArchivoAplicacion("CN000pr.INI"), "");

    // The defaults: /etc/cribanzas, and ~/.config when XDG_CONFIG_HOME is unset or relative.
    qunsetenv(VariableCarpetaSistema);
    qputenv("XDG_CONFIG_HOME", "relativa");
    EXPECT_EQ(CarpetasDeArchivos().mid(1), QStringList({"/etc/cribanzas/", Ruta("casa/.config/cribanzas/")}));
}

TEST_F(Ubicaciones, SeCreaEnLaPrimeraCarpetaQueLoToma) {
    QStringList intentos;
    // Writes half the file, then fails, in every folder whose path contains falla.
    auto escritor = [&](const QString& falla) {
        return [&intentos, falla](const QString& ruta) {
            intentos << ruta;
            QFile f(ruta);
            if (!f.open(QIODevice::WriteOnly)) throw ErrorSistema(Errores::PermisoDenegado, f.errorString());
            f.write("medio");
            if (!falla.isEmpty() && ruta.contains(falla))
                throw ErrorSistema(Errores::ErrorEntradaSalida, "disco lleno");
            f.write(" archivo");
        };
    };
    EXPECT_EQ(CrearArchivoAplicacion("a.vlm", escritor({})), Ruta("programa/a.vlm"));

    // The system folder is never created; the user's folder is.
    EXPECT_EQ(CrearArchivoAplicacion("b.vlm", escritor("programa")), Ruta("xdg/cribanzas/b.vlm"));
    EXPECT_FALSE(QFile::exists(Ruta("programa/b.vlm"))) << "no half file left behind";
    EXPECT_FALSE(QFileInfo::exists(Ruta("etc")));

    // An existing system folder comes before the user's; a name already taken is skipped.
    ASSERT_TRUE(QDir().mkdir(Ruta("etc")));
    ASSERT_TRUE(QDir().mkdir(Ruta("programa/c.vlm")));
    intentos.clear();
    EXPECT_EQ(CrearArchivoAplicacion("c.vlm", escritor({})), Ruta("etc/c.vlm"));
    EXPECT_EQ(intentos, QStringList{Ruta("etc/c.vlm")});

    // No folder takes it: nothing anywhere.
    intentos.clear();
    EXPECT_EQ(CrearArchivoAplicacion("d.vlm", escritor("/")), "");
    EXPECT_EQ(intentos.size(), 3);
    for (const QString& ruta : intentos)
        EXPECT_FALSE(QFile::exists(ruta)) << ruta.toStdString();

    // A program under /usr is not written beside, even by root; a user's folder that cannot be
    // made (its parent is a file) is passed over.
    EstablecerCarpetaAplicacion("/usr/bin");
    ASSERT_FALSE(QFileInfo::exists("/usr/bin/e.vlm"));
    struct Limpiar { // should the rule break
        ~Limpiar() { QFile::remove("/usr/bin/e.vlm"); }
    } limpiar;
    Escribir(Ruta("archivo"), "x");
    qputenv("XDG_CONFIG_HOME", Ruta("archivo").toLocal8Bit());
    intentos.clear();
    EXPECT_EQ(CrearArchivoAplicacion("e.vlm", escritor({})), Ruta("etc/e.vlm"));
    ASSERT_TRUE(QDir(Ruta("etc")).removeRecursively());
    EXPECT_EQ(CrearArchivoAplicacion("e.vlm", escritor({})), "");
    EXPECT_EQ(intentos, QStringList{Ruta("etc/e.vlm")});
}
