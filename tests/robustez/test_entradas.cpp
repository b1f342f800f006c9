// Hostile input the other tests leave out: INI files that are binary, huge or not files;
// command lines with odd keys and values, run through the real program; database rows with
// Nulls where the purge reads values, odd voucher numbers, quotes and non-ASCII text on their
// way into the opening balance, times on the cut-off day.
#include "apoyo/purga.h"
#include "app/desatendido.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <cmath>
#include <optional>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <sys/stat.h>

// ---- INI file -------------------------------------------------------------------------------

namespace {
class Ini : public PruebaSistema {
protected:
    void SetUp() override {
        PruebaSistema::SetUp();
        base = Ruta("conta.db");
        QString error;
        ASSERT_TRUE(demodb::CrearEsquemaVacio(base, &error)) << error.toStdString();
        seccion = gEquipo().NombreEquipo().toUpper() + "|" + gEquipo().UsuarioEquipo().toUpper();
    }
    void Escribir(const QByteArray& contenido) {
        QFile f(Ruta("CN000pr.INI"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenido);
    }
    // Starts up and returns the value read (the start-up must reach the database).
    double Arrancar() {
        EstablecerLineaComandos(LineaDeSuite(base));
        QElapsedTimer reloj;
        reloj.start();
        InicioSistema();
        EXPECT_LT(reloj.elapsed(), 5000);
        EXPECT_TRUE(gSesion().Conectado());
        EXPECT_FALSE(Guion().Terminado());
        return gFlatToolbars;
    }
    QString base, seccion;
};
} // namespace

TEST_F(Ini, VacioBinarioOEnormeDanElValorPorDefectoOElLeido) {
    QByteArray basura(64 * 1024, '\0');
    QRandomGenerator azar(7);
    for (auto& c : basura)
        c = char(azar.bounded(256));
    basura += "\xff\xfe\x00\x01";
    const QByteArray cabecera = "[" + seccion.toUtf8() + "]\n";
    const QByteArray relleno = QByteArray("; comentario\n").repeated(200000);
    struct Caso {
        QByteArray contenido;
        std::optional<double> valor; // none: any number, read without a crash
        const char* por;
    };
    const std::vector<Caso> casos = {
        {{}, 1, "empty"},
        {basura, 1, "binary"},
        {basura.left(999) + "\n" + cabecera + "FlatToolbars=0\n" + basura.mid(999), 0,
         "binary around the section"},
        // Only the first megabyte is read, so a key beyond it is not seen.
        {cabecera + relleno + "FlatToolbars=0\n", 1, "key beyond the first megabyte"},
        {cabecera + "FlatToolbars=0\n" + relleno, 0, "key at the start of a huge file"},
        {cabecera + "FlatToolbars=" + QByteArray(300000, '9') + "\n", std::nullopt, "a huge number"},
    };
    PorCaso(casos, [&](const Caso& c) {
        Escribir(c.contenido);
        const double leido = Arrancar();
        if (c.valor)
            EXPECT_EQ(leido, *c.valor) << c.por;
        else
            EXPECT_TRUE(std::isfinite(leido)) << c.por;
    });
}

TEST_F(Ini, UnaCarpetaOUnaTuberiaEnLugarDelArchivo) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("CN000pr.INI"));
    EXPECT_EQ(Arrancar(), 1) << "a folder";
    TearDown();
    SetUp();
    // A named pipe nobody writes to must not hang the start-up.
    ASSERT_TRUE(QDir(dir_.path()).rmdir("CN000pr.INI"));
    ASSERT_EQ(mkfifo(Ruta("CN000pr.INI").toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(Arrancar(), 1) << "a pipe";
}

// ---- Command line, through the program --------------------------------------------------------

namespace {
class LineaDeComandos : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        base = dir->filePath("conta.db");
        ASSERT_TRUE(CrearDemo(base, {.asientos = 100, .movimientos = 400}));
    }
    static void TearDownTestSuite() { dir.reset(); }
    static Corrida Cribanzas(const QStringList& argumentos) {
        return CorrerPrograma(CRIBANZAS_BIN, argumentos);
    }
    static Corrida Simular(const QString& linea) {
        return Cribanzas({"--desatendido", "--ejercicio", "2022", "--simular", linea});
    }
    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString base;
};
} // namespace

TEST_F(LineaDeComandos, ClavesFaltantesVaciasRepetidasOEnormes) {
    struct Caso {
        QString linea;
        int estado;
        const char* por;
    };
    // The system takes at most 128 KiB in one argument.
    const QString enorme(60000, QChar('x'));
    const std::vector<Caso> casos = {
        {"", Salida::SinConexion, "no keys at all"},
        {"@Usuario=ana;@Caja=1;", Salida::SinConexion, "no @DbName"},
        {"@DbName=;", Salida::SinConexion, "empty @DbName"},
        {"@DbName=" + base, Salida::SinConexion, "@DbName without its ';' keeps the empty value"},
        {"@DbName=" + base + ";@DbName=/no/existe.db;", Salida::Depurado, "the first of a repeated key wins"},
        {" @dbname = " + base + " ;", Salida::Depurado, "blanks and case"},
        {"@DbName=" + base + ";@Usuario=" + enorme + ";@Password=" + enorme + ";", Salida::Depurado,
         "huge values"},
        {"@DbName=" + dir->filePath(QString(5000, QChar('n')) + ".db") + ";", Salida::SinConexion,
         "a path too long"},
        {"@DbName=" + enorme + ";", Salida::SinConexion, "a data-source name of 60 000 characters"},
        {"@DbName='" + base + "';", Salida::SinConexion, "quotes are part of the value"},
        {"@Caja=\"1\";@UsuarioLogeado=José Ñúñez ' \";@DbName=" + base + ";", Salida::Depurado,
         "quotes and non-ASCII"},
        {"@DbName=" + base + ";" + QString("@Menu=%1;").arg(QString::fromUtf8("\xF0\x9F\x98\x80")),
         Salida::Depurado, "emoji"},
    };
    for (const Caso& c : casos) {
        const Corrida r = Simular(c.linea);
        EXPECT_EQ(r.estado, c.estado) << c.por << "\n" << r.errores.left(2000).toStdString();
        if (c.estado == Salida::SinConexion) {
            EXPECT_TRUE(r.errores.contains("No se pudo conectar con la base de datos"))
                << c.por << r.errores.left(500).toStdString();
            EXPECT_LT(r.errores.size(), 300000) << c.por;
        }
        EXPECT_LT(r.ms, 30000) << c.por;
    }
}

TEST_F(LineaDeComandos, RutaConComillasYLetrasNoAscii) {
    const QString ruta = dir->filePath("Empresa O'Brien \"Ñandú\" #1 %20 ?&;=.db");
    // ";" ends a value: such a path cannot be given; one without it can.
    const QString buena = dir->filePath("Empresa O'Brien \"Ñandú\" #1 %20 ?&=.db");
    ASSERT_TRUE(QFile::copy(base, buena));
    Q_UNUSED(ruta);
    const Corrida r =
        Cribanzas({"--desatendido", "--ejercicio", "2022", "--confirmar", "@DbName=" + buena + ";"});
    EXPECT_EQ(r.estado, Salida::Depurado) << r.errores.toStdString();
    EXPECT_EQ(ConsultarValor(buena, "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022")
                  .toInt(),
              0);
    EXPECT_FALSE(QFile::exists(dir->filePath("Empresa O'Brien \"Ñandú\" #1 ")))
        << "no file made of part of the name";
}

// ---- Database contents ----------------------------------------------------------------------

namespace {
class Contenido : public PruebaPurga {
protected:
    // Purges 2022 and checks that the stock of every later day is the same as before, and
    // whether the purge ended in success.
    void DepurarConservandoSaldos(const QStringList& movimientos, bool exito = true) {
        Sql(movimientos);
        const QList<QDate> dias = {QDate(2022, 12, 31), QDate(2023, 1, 1), QDate(2030, 1, 1)};
        std::vector<QList<demodb::SaldoStock>> antes;
        for (const QDate& d : dias)
            antes.push_back(SinConteo(Saldos(d)));
        Guion().Responder(Respuesta::Si);
        Depurar("2022");
        for (size_t i = 0; i < antes.size(); ++i)
            EXPECT_EQ(SinConteo(Saldos(dias[qsizetype(i)])), antes[i])
                << dias[qsizetype(i)].toString().toStdString();
        EXPECT_EQ(Textos::EsExito(UltimoAviso().texto), exito) << UltimoAviso().texto.toStdString();
    }
};
} // namespace

TEST_F(Contenido, FechaHastaConHora) {
    // A year end stored with its last second: the cut-off is that day, the stock carried to it.
    Sql({"UPDATE MV_EJERCICIOS SET \"Fecha Hasta\" = '2022-12-31 23:59:59' WHERE PERIODO = 2022"});
    DepurarConservandoSaldos({InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 4}),
                              InsertarMov({.fecha = "2022-12-31", .articulo = "A1", .cantidad = 1}),
                              InsertarMov({.fecha = "2023-01-02", .articulo = "A1", .cantidad = 2})});
    EXPECT_EQ(Valor("SELECT FECHA || '|' || CANTIDAD FROM V_MV_STOCK WHERE TC = 'SI'").toString(),
              "2022-12-31|5");
    EXPECT_EQ(Contar("V_MV_STOCK"), 2);
}

TEST_F(Contenido, PeriodoNuloEnLosEjercicios) {
    // A table without the key constraint, as an old database may have it.
    Sql({"ALTER TABLE MV_EJERCICIOS RENAME TO EJ_VIEJO",
         "CREATE TABLE MV_EJERCICIOS (PERIODO integer, descripcion varchar(50), \"Fecha Desde\" DATE, "
         "\"Fecha Hasta\" DATE, "
         "Cerrado bit, CIERRE bit)",
         "INSERT INTO MV_EJERCICIOS SELECT * FROM EJ_VIEJO", "DROP TABLE EJ_VIEJO",
         "INSERT INTO MV_EJERCICIOS VALUES (NULL, NULL, NULL, NULL, 1, 1)",
         InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 4})});
    Abrir();
    QStringList lista;
    for (int i = 0; i < frm->txtfields->count(); ++i)
        lista << frm->txtfields->itemText(i);
    EXPECT_TRUE(lista.contains("")) << "the Null year is listed as an empty item";
    EXPECT_TRUE(lista.contains("2022"));
    Guion().Responder(Respuesta::Si);
    Depurar("2022");
    EXPECT_TRUE(Textos::EsExito(UltimoAviso().texto)) << UltimoAviso().texto.toStdString();
    EXPECT_EQ(Contar("MV_EJERCICIOS WHERE PERIODO IS NULL"), 1);
}

TEST_F(Contenido, CantidadYArticuloNulos) {
    limiteParametros = 10; // a row per statement: every row shows in the progress display
    DepurarConservandoSaldos({
        InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 4}),
        "UPDATE V_MV_STOCK SET CANTIDAD = NULL WHERE IDARTICULO = 'A1'", // a group whose sum is Null
        InsertarMov({.fecha = "2022-03-01", .articulo = "A2", .cantidad = 4}),
        InsertarMov({.fecha = "2022-04-01", .articulo = "A2", .cantidad = 1, .comprobante = "000100000008A"}),
        "UPDATE V_MV_STOCK SET CANTIDAD = NULL WHERE IDARTICULO = 'A2' AND FECHA = '2022-04-01'",
        InsertarMov({.fecha = "2022-05-01", .articulo = "SIN", .cantidad = 2.5}),
        "UPDATE V_MV_STOCK SET IDARTICULO = NULL, DESCRIPCION = NULL, IDUNIDAD = NULL WHERE IDARTICULO = "
        "'SIN'",
    });
    EXPECT_EQ(Contar("V_MV_STOCK WHERE TC = 'SI'"), 3);
    EXPECT_EQ(Contar("V_MV_STOCK WHERE TC = 'SI' AND IDARTICULO = 'A1' AND CANTIDAD IS NULL"), 1);
    EXPECT_EQ(Valor("SELECT CANTIDAD FROM V_MV_STOCK WHERE TC = 'SI' AND IDARTICULO = 'A2'").toDouble(), 4);
    EXPECT_EQ(Valor("SELECT CANTIDAD FROM V_MV_STOCK WHERE TC = 'SI' AND IDARTICULO IS NULL").toDouble(),
              2.5);
    bool visto = false;
    for (const auto& a : avance)
        visto |= a.linea1 == "Generando Saldo Inicial" && a.linea2 == " ";
    EXPECT_TRUE(visto) << "a Null article and description show as a blank";
}

TEST_F(Contenido, ComillasYTextoNoAsciiLleganIntactos) {
    const QStringList textos = {"O'Brien",
                                "tipo \"A\" 1/2\"",
                                "it''s",
                                "Ñandú – 10 € ½ kg",
                                "x'); DROP TABLE MV_ASIENTOS; --",
                                "barra \\ inversa",
                                "línea\r\nnueva",
                                QString("emoji ") + QChar(0xD83D) + QChar(0xDE00),
                                "  blancos  ",
                                "%_[]"};
    QStringList movs;
    for (int i = 0; i < textos.size(); ++i)
        movs << InsertarMov({.fecha = "2022-06-01",
                             .articulo = QString("D%1").arg(i),
                             .cantidad = 1.0 + i,
                             .posicion = textos[i],
                             .lote = textos[i],
                             .descripcion = textos[i]});
    DepurarConservandoSaldos(movs);
    for (int i = 0; i < textos.size(); ++i)
        EXPECT_EQ(Valor(QString("SELECT DESCRIPCION || '|' || IdPosicion || '|' || NroLote FROM V_MV_STOCK "
                                "WHERE TC = 'SI' AND "
                                "IDARTICULO = 'D%1'")
                            .arg(i))
                      .toString(),
                  textos[i] + "|" + textos[i] + "|" + textos[i]);
    EXPECT_EQ(Contar("MV_ASIENTOS"), 2) << "the 2023 entries are still there";
}

TEST_F(Contenido, HorasEnElDiaDelCorte) {
    // The cut-off is the day's first instant (as the server compares a date with a date-time):
    // movements at a time on Dec 31 are after it, neither carried nor deleted.
    DepurarConservandoSaldos({
        InsertarMov({.fecha = "2022-12-31", .articulo = "A1", .cantidad = 1}),
        InsertarMov({.fecha = "2022-12-31 00:00:00", .articulo = "A1", .cantidad = 2}),
        InsertarMov({.fecha = "2022-12-31 10:30:00", .articulo = "A1", .cantidad = 4}),
        InsertarMov({.fecha = "2022-12-31 23:59:59", .articulo = "A1", .cantidad = 8}),
        InsertarMov({.fecha = "2022-12-30 23:59:59", .articulo = "A1", .cantidad = 16}),
        InsertarMov({.fecha = "2023-01-01 00:00:00", .articulo = "A1", .cantidad = 32}),
    });
    EXPECT_EQ(Valor("SELECT CANTIDAD FROM V_MV_STOCK WHERE TC = 'SI'").toDouble(), 17);
    EXPECT_EQ(Valor("SELECT group_concat(CANTIDAD) FROM (SELECT CANTIDAD FROM V_MV_STOCK WHERE TC <> 'SI' "
                    "ORDER BY CANTIDAD)")
                  .toString(),
              "2,4,8,32");
}

TEST_F(Contenido, NumerosDeComprobanteRaros) {
    // The highest "SI" number may be anything a user typed. Whatever the next number is, it
    // must not be one that already exists: the deletion keeps the new voucher's rows, and
    // an old voucher of that number would survive with them and count twice.
    // Each with whether the purge goes on (refused: nothing of the year is touched).
    const std::vector<std::pair<QString, bool>> raros = {
        {"0001ABCDEFGHX", false},
        {"0001        X", true},
        {"ZZZZ", true},
        {"0001", true},
        {"0001-0000005X", true},
        {"Ñ", true},
        {"0001999999990X", false},
    };
    PorCaso(raros, [&](const std::pair<QString, bool>& caso) {
        const QString raro = caso.first;
        DepurarConservandoSaldos(
            {
                InsertarMov({.fecha = "2020-12-31",
                             .articulo = "A1",
                             .cantidad = 5,
                             .tc = "SI",
                             .comprobante = "000100000001X"}),
                InsertarMov({.fecha = "2021-12-31",
                             .articulo = "A2",
                             .cantidad = 7,
                             .tc = "SI",
                             .comprobante = raro}),
                InsertarMov({.fecha = "2022-03-01", .articulo = "A1", .cantidad = 1}),
            },
            caso.second);
        EXPECT_EQ(Contar("V_MV_STOCK WHERE FECHA <= '2022-12-31' AND ControladoPor <> 'Depuracion'"),
                  caso.second ? 0 : 3);
        EXPECT_LE(Contar("V_MV_STOCK"), 3);
    });
}
