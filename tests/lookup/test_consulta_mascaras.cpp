// The masks file: its byte layout, the default masks written at start-up, the code page,
// reading what a damaged file still holds, and the writer's failures.
#include "apoyo/consulta.h"
#include "startup/modglobal.h"

#include <csignal>
#include <QDir>
#include <QFile>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class PruebaMascaras : public PruebaSistema {
protected:
    void SetUp() override {
        PruebaSistema::SetUp();
        ruta_ = Ruta(QStringLiteral("consultas.vlm"));
        gConsulta().gRutaMascaraConsultas = ruta_;
    }
    QString ruta_;
};

QByteArray Relleno(const QByteArray& texto, int largo) {
    return texto + QByteArray(largo - texto.size(), ' ');
}

} // namespace

TEST_F(PruebaMascaras, ArchivoPredeterminadoByteAByte) {
    CrearMascarasConsultas();
    // Name (100), table (100), fields (500) and filter (500), padded with blanks, then CR LF.
    const char* const mascaras[][3] = {
        {"ARTICULOS", "V_MA_ARTICULOS", "|DESCRIPCION|IDARTICULO|"},
        {"CLIENTES", "VT_CLIENTES", "|RAZON_SOCIAL|CODIGO|CONTACTO|"},
        {"PROVEEDORES", "VT_PROVEEDORES", "|RAZON_SOCIAL|CODIGO|"},
        {"CONTACTOS", "MA_CONTACTOS", "|Nombre_y_Apellido|Domicilio|Localidad|Telefono|"}};
    QByteArray esperado;
    for (const auto& m : mascaras)
        esperado +=
            Relleno(m[0], 100) + Relleno(m[1], 100) + Relleno(m[2], 500) + QByteArray(500, ' ') + "\r\n";
    const QByteArray bytes = LeerBytes(ruta_);
    ASSERT_EQ(bytes.size(), 4 * 1202);
    EXPECT_EQ(bytes, esperado);
    // Readable as lines of text, one mask per line.
    EXPECT_EQ(bytes.split('\n').size(), 5);

    const auto leidas = LeerMascaras(ruta_);
    ASSERT_EQ(leidas.size(), 4u);
    EXPECT_EQ(leidas[3].Campos.Texto().trimmed(),
              QStringLiteral("|Nombre_y_Apellido|Domicilio|Localidad|Telefono|"));
    // The writer's buffer keeps the last mask written.
    EXPECT_EQ(gMascara(), leidas[3]);
}

TEST_F(PruebaMascaras, SeAgregaTrasElUltimoRegistroCompleto) {
    // One record and a torn tail: the defaults go over the tail, the first record stays.
    const QByteArray primero = CodificarRegistro(Mascara("PROPIA", "MI_TABLA", "|A|B|"));
    GuardarBytes(ruta_, primero + QByteArray(500, 'x'));
    CrearMascarasConsultas();
    const QByteArray bytes = LeerBytes(ruta_);
    ASSERT_EQ(bytes.size(), 5 * 1202);
    EXPECT_EQ(bytes.left(1202), primero);
    const auto leidas = LeerMascaras(ruta_);
    ASSERT_EQ(leidas.size(), 5u);
    EXPECT_EQ(leidas[1].Tabla.Texto().trimmed(), QStringLiteral("V_MA_ARTICULOS"));
}

TEST(CodigoDePagina, Windows1252) {
    // Latin-1 letters, the 0x80-0x9F block, and what the code page cannot hold.
    EXPECT_EQ(CodificarWindows1252(QStringLiteral("Ñandú")), QByteArray("\xD1"
                                                                        "and\xFA"));
    EXPECT_EQ(
        CodificarWindows1252(QStringLiteral("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ")),
        QByteArray("\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94\x95\x96\x97\x98"
                   "\x99\x9A\x9B\x9C\x9E\x9F"));
    EXPECT_EQ(CodificarWindows1252(QStringLiteral("a漢b\u0080")), QByteArray("a?b?"));
    // One byte per character even for a character outside the basic plane.
    EXPECT_EQ(CodificarWindows1252(QStringLiteral("x😀")).size(), 3);

    QByteArray todos;
    for (int b = 0; b < 256; ++b)
        todos.append(char(b));
    EXPECT_EQ(CodificarWindows1252(DecodificarWindows1252(todos)), todos);
    EXPECT_EQ(DecodificarWindows1252("\x80\xA4\xFF"), QStringLiteral("€¤ÿ"));
}

TEST(RegistroMascara, CamposDeLargoFijo) {
    QConsulta vacia;
    EXPECT_EQ(vacia.Tabla.Texto(), QString(100, QChar(0)));

    QConsulta m = Mascara(QStringLiteral("CAÑAS €"), QString(150, QChar('T')), QStringLiteral("|A|"),
                          QString(600, 'f'));
    const QByteArray r = CodificarRegistro(m);
    ASSERT_EQ(r.size(), 1202);
    EXPECT_EQ(r.left(8), QByteArray("CA\xD1"
                                    "AS \x80 "));
    EXPECT_EQ(r.mid(100, 100), QByteArray(100, 'T'));
    EXPECT_EQ(r.mid(700, 500), QByteArray(500, 'f'));
    EXPECT_EQ(DecodificarRegistro(r), m);
    EXPECT_THROW(DecodificarRegistro(r.left(1201)), ErrorSistema);
}

TEST_F(PruebaMascaras, LecturaDeArchivosDanados) {
    const QByteArray uno = CodificarRegistro(Mascara("A", "T_A", "|X|"));
    const QByteArray dos = CodificarRegistro(Mascara("B", "T_B", "|Y|"));
    struct Caso {
        const char* nombre;
        QByteArray bytes;
        size_t registros;
    };
    const Caso casos[] = {
        {"vacío", QByteArray(), 0},
        {"menos de un registro", uno.left(600), 0},
        {"cola truncada", uno + dos.left(1201), 1},
        {"un byte de más", uno + dos + "x", 2},
        {"relleno con ceros", uno + QByteArray(1202, '\0'), 2},
        {"relleno con 255", uno + QByteArray(3000, '\xFF'), 3},
    };
    for (const Caso& c : casos) {
        GuardarBytes(ruta_, c.bytes);
        const auto leidas = LeerMascaras(ruta_);
        EXPECT_EQ(leidas.size(), c.registros) << c.nombre;
        if (!leidas.empty()) {
            EXPECT_EQ(leidas[0], DecodificarRegistro(uno)) << c.nombre;
        }
        EXPECT_EQ(LeerBytes(ruta_), c.bytes) << c.nombre << ": leer no escribe";
    }
    try {
        LeerMascaras(Ruta(QStringLiteral("no_existe.vlm")));
        ADD_FAILURE() << "sin error";
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, Errores::ArchivoNoEncontrado);
    }
}

TEST_F(PruebaMascaras, UnArchivoQueNoSePuedeLeerTermina) {
    // /proc/self/mem opens, but reading its first bytes fails.
    LectorMascaras lector(QStringLiteral("/proc/self/mem"));
    QConsulta r;
    EXPECT_FALSE(lector.Siguiente(r));
    EXPECT_TRUE(lector.FalloLectura());
    EXPECT_FALSE(lector.Siguiente(r));
}

TEST_F(PruebaMascaras, FallosDelEscritor) {
    auto numeroDe = [](const std::function<void()>& f) -> long {
        try {
            f();
        } catch (const ErrorSistema& e) {
            return e.Numero;
        }
        return 0;
    };

    gConsulta().gRutaMascaraConsultas = Ruta(QStringLiteral("no_hay/consultas.vlm"));
    EXPECT_EQ(numeroDe(CrearMascarasConsultas), ErroresArchivo::RutaNoEncontrada);
    EXPECT_FALSE(QFile::exists(gConsulta().gRutaMascaraConsultas));

    // A folder where the file should be.
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("carpeta.vlm")));
    gConsulta().gRutaMascaraConsultas = Ruta(QStringLiteral("carpeta.vlm"));
    EXPECT_EQ(numeroDe(CrearMascarasConsultas), ErroresArchivo::AccesoRuta);

    // A device that takes no data.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        gConsulta().gRutaMascaraConsultas = QStringLiteral("/dev/full");
        EXPECT_EQ(numeroDe(CrearMascarasConsultas), Errores::ErrorEntradaSalida);
    }

    if (geteuid() != 0) {
        ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("cerrada")));
        QFile::setPermissions(Ruta(QStringLiteral("cerrada")),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        gConsulta().gRutaMascaraConsultas = Ruta(QStringLiteral("cerrada/consultas.vlm"));
        EXPECT_EQ(numeroDe(CrearMascarasConsultas), Errores::PermisoDenegado);
        QFile::setPermissions(Ruta(QStringLiteral("cerrada")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST_F(PruebaMascaras, UnRegistroAMediasNoQuedaEnElArchivo) {
    // The file-size limit cuts the third record short: the writer fails and takes the torn
    // bytes back, leaving two whole records.
    struct rlimit antes {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &antes), 0);
    auto senal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limite = antes;
    limite.rlim_cur = 3000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limite), 0);
    long numero = 0;
    try {
        CrearMascarasConsultas();
    } catch (const ErrorSistema& e) {
        numero = e.Numero;
    }
    setrlimit(RLIMIT_FSIZE, &antes);
    std::signal(SIGXFSZ, senal);

    EXPECT_EQ(numero, Errores::ErrorEntradaSalida);
    EXPECT_EQ(LeerBytes(ruta_).size(), 2 * 1202);
    EXPECT_EQ(LeerMascaras(ruta_).size(), 2u);
}
