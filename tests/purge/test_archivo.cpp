// The purge archive: the canonical rows and their digest, the archive file as written, cut short
// and tampered with, and the rows read from the database through both routes.
#include "apoyo/entorno.h"
#include "apoyo/sesion.h"
#include "purge/archivo.h"
#include "purge/archivo_origen.h"

#include "apoyo/sql_directo.h"
#include <csignal>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray canonico(ClaseCanonica clase, const QVariant& v) {
    ConversorDatos c;
    return TextoCanonico({clase}, c.Convertir(&v, 1));
}

QByteArray fila(const std::vector<ClaseCanonica>& clases, const QVariantList& valores) {
    ConversorDatos c;
    return TextoCanonico(clases, c.Convertir(valores.constData(), int(valores.size())));
}

constexpr auto N = ClaseCanonica::Numero;
constexpr auto F = ClaseCanonica::Fecha;
constexpr auto O = ClaseCanonica::Otra;

} // namespace

// Values that are the same to the database give the same text whoever read them; values that
// differ never do.
TEST(Canonico, IgualesPorValorYDistintosPorContenido) {
    struct Caso {
        ClaseCanonica clase;
        QVariant valor;
        const char* texto;
    };
    const QDateTime mediodia(QDate(2022, 3, 1), QTime(10, 30));
    const Caso casos[] = {
        // Numbers by value, as each route returns them.
        {N, qlonglong(12), "#12\n"},
        {N, 12.0, "#12\n"},
        {N, QString("12.00"), "#12\n"},
        {N, QString(" 12 "), "#12\n"},
        {N, true, "#1\n"},
        {N, 12.5, "#12.5\n"},
        {N, QString("12.50"), "#12.5\n"},
        {N, QString("1.25e1"), "#12.5\n"},
        {N, -0.0, "#0\n"},
        {N, 0.1, "#0.1\n"},
        {N, 1e-7, "#0.0000001\n"},
        {N, qlonglong(9007199254740993LL), "#9007199254740993\n"},
        {N, QString("9007199254740993"), "#9007199254740993\n"},
        {N, QString("12a"), "'12a\n"},
        {N, QString(""), "'\n"},
        // Dates by value, in the forms drivers and files hold them.
        {F, QDate(2022, 3, 1), "D2022-03-01\n"},
        {F, QString("2022-03-01"), "D2022-03-01\n"},
        {F, QString("2022-03-01 00:00:00"), "D2022-03-01\n"},
        {F, QString("1/3/2022"), "D2022-03-01\n"},
        {F, mediodia, "D2022-03-01 10:30:00\n"},
        {F, QString("2022-03-01T10:30:00.000"), "D2022-03-01 10:30:00\n"},
        {F, QString("2022-03-01 10:30:00.5"), "D2022-03-01 10:30:00.500\n"},
        {F, QString("2022-02-30"), "'2022-02-30\n"},
        {F, QTime(23, 59, 59), "D23:59:59\n"},
        // Text exactly; Null, the empty text and binary data apart.
        {O, QString("12"), "'12\n"},
        {O, QString("2022-03-01"), "'2022-03-01\n"},
        {O, QString("a "), "'a \n"},
        {O,
         QString::fromUtf8("\xC3\x91"
                           "and\xC3\xBA"),
         "'\xC3\x91"
         "and\xC3\xBA\n"},
        {O, QString("a\tb\\c\r\n"), "'a\\tb\\\\c\\r\\n\n"},
        {O, QVariant(), "N\n"},
        {N, QVariant(), "N\n"},
        {O, QByteArray("\x00\xff", 2), "x00ff\n"},
        {O, QByteArray(), "x\n"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(canonico(c.clase, c.valor), QByteArray(c.texto)) << c.valor.toString().toStdString();

    // A tab inside a text cannot pass for a column boundary.
    EXPECT_NE(fila({O, O}, {QString("a"), QString("b")}), fila({O}, {QString("a\tb")}));
    EXPECT_EQ(fila({O, N, F}, {QVariant(), 12.5, QString("2022-12-31 23:59:59")}),
              "N\t#12.5\tD2022-12-31 23:59:59\n");

    EXPECT_EQ(ClaseDeTipo("numeric(18,2)"), N);
    EXPECT_EQ(ClaseDeTipo("int identity"), N);
    EXPECT_EQ(ClaseDeTipo("bit"), N);
    EXPECT_EQ(ClaseDeTipo("DATETIME"), F);
    EXPECT_EQ(ClaseDeTipo("smalldatetime"), F);
    EXPECT_EQ(ClaseDeTipo("nvarchar(40)"), O);
    EXPECT_EQ(ClaseDeTipo("varchar(60)"), O);
    EXPECT_EQ(ClaseDeTipo(""), O);

    // The digest of no rows is that of the empty text.
    HuellaTabla vacia({O});
    EXPECT_EQ(vacia.Sha256(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// The digest a DBA recomputes with the header's definition alone (scripts/huella_archivo.py, in
// Python) is the archive's, on values that test every rule of the canonical form.
TEST(Canonico, UnDbaLaRecalculaConLaDefinicionEscrita) {
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty()) GTEST_SKIP() << "sin python3";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ruta = dir.filePath("dba.sqlite");
    {
        auto e = EscritorArchivo::Crear(ruta, {});
        e->AbrirTabla(kTablaMovimientos, "V_MV_STOCK", "*",
                      {{"N", "numeric(18,2)"}, {"F", "DATETIME"}, {"T", "nvarchar(40)"}, {"L", ""}});
        const QVariant filas[][4] = {
            {qlonglong(12), QString("2022-03-01"), QString("a\tb\\c\r\n"), QByteArray("\x00\xff", 2)},
            {12.5, QString("2022-03-01 00:00:00"), QString(), QByteArray()},
            {QString(" 12.50 "), QString("1/3/2022 10:30"),
             QString::fromUtf8("\xC3\x91"
                               "and\xC3\xBA \xF0\x9F\x93\xA6"),
             QVariant()},
            {QString("1."), QString("2022-03-01T10:30:00.5"), QString("12"), 0.1},
            {QString(".5e1"), QString("2022-02-30"), QString("  "), qlonglong(9007199254740993LL)},
            {QString("9007199254740993"), QString("23:59"), QString("\\N"), 1e-7},
            {QString("12a"), QString("2022-03-01 24:00"), QString("x00"), -0.0},
            {QString("\xD9\xA1"), QDateTime(QDate(2022, 12, 31), QTime(23, 59, 59)), QString("#1"), true},
            {1e300, QDate(2022, 1, 1), QString("D2022-01-01"), QString("12.0")},
        };
        for (const auto& f : filas)
            e->Agregar(f);
        e->Verificar();
    }
    QProcess p;
    p.start(python, {QStringLiteral(CRIBANZAS_FUENTES "/scripts/huella_archivo.py"), ruta});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString()
                               << p.readAllStandardError().toStdString();
}

namespace {

class Archivo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ruta_ = dir_.filePath("depuracion-prueba-2022-20250131-021007.sqlite");
    }
    // An archive with one verified table "asientos" of n rows.
    void Escribir(int n) {
        auto e = EscritorArchivo::Crear(ruta_, {{"ejercicio", "2022"}, {"operador", "ana"}});
        e->AbrirTabla(kTablaAsientos, "MV_ASIENTOS", "IdAsiento", columnas_);
        for (int i = 1; i <= n; ++i) {
            const QVariant v[] = {
                qlonglong(i), QString("2022"), QString("2022-03-%1").arg(1 + i % 28, 2, 10, QChar('0')),
                i % 3 ? QVariant(i * 1.25) : QVariant(), i % 5 ? QString("Asiento %1").arg(i) : QString()};
            e->Agregar(v);
        }
        e->Verificar();
    }
    QTemporaryDir dir_;
    QString ruta_;
    const std::vector<ColumnaArchivo> columnas_ = {{"IdAsiento", "integer"},
                                                   {"PERIODO", "varchar(10)"},
                                                   {"FECHA", "DATE"},
                                                   {"DEBE", "numeric(18,2)"},
                                                   {"LEYENDA", "varchar(60)"}};
};

// Runs `hacer` in a child process, which kills itself where `hacer` calls morir(); returns when
// the child is dead.
[[noreturn]] void morir() {
    raise(SIGKILL);
    _exit(4);
}
void MorirEn(const std::function<void()>& hacer) {
    const pid_t hijo = fork();
    ASSERT_GE(hijo, 0);
    if (hijo == 0) {
        try {
            hacer();
        } catch (...) {
        }
        _exit(3);
    }
    int estado = 0;
    ASSERT_EQ(waitpid(hijo, &estado, 0), hijo);
    ASSERT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == SIGKILL)
        << "the child did not reach its kill point";
}

} // namespace

TEST_F(Archivo, LoEscritoSeLeeIgualYUnaEdicionNoPasa) {
    Escribir(1000);
    {
        LectorArchivo a(ruta_);
        EXPECT_EQ(a.ValorManifiesto("estado"), "verificado");
        EXPECT_EQ(a.ValorManifiesto("formato"), "1");
        EXPECT_EQ(a.ValorManifiesto("operador"), "ana");
        ASSERT_EQ(a.Tablas().size(), 1u);
        const TablaArchivo& t = a.Tablas().front();
        EXPECT_EQ(t.nombre, "asientos");
        EXPECT_EQ(t.filas, 1000);
        EXPECT_EQ(t.columnas, columnas_);
        EXPECT_TRUE(a.Verificar().empty());
        // Rows in order, values as written: NULL and the empty text apart, numbers as numbers.
        int i = 0;
        a.Recorrer(kTablaAsientos, [&](const Dato* f) {
            ++i;
            EXPECT_EQ(ValorDeDato(f[0]), QVariant(qlonglong(i)));
            EXPECT_EQ(ValorDeDato(f[3]), i % 3 ? QVariant(i * 1.25) : QVariant());
            EXPECT_EQ(f[4].tipo, Dato::Tipo::Texto);
            EXPECT_EQ(f[4].largo == 0, i % 5 == 0);
            return true;
        });
        EXPECT_EQ(i, 1000);
    }
    // Each way of changing a verified archive is found, and named by its table.
    const char* ediciones[] = {
        "UPDATE asientos SET DEBE = DEBE + 0.01 WHERE rowid = 500",
        "UPDATE asientos SET LEYENDA = NULL WHERE LEYENDA = ''",
        "DELETE FROM asientos WHERE rowid = 1000",
        "INSERT INTO asientos SELECT * FROM asientos WHERE rowid = 1",
        "UPDATE tablas SET sha256 = replace(sha256, substr(sha256, 1, 1), 'f')",
        "UPDATE columnas SET tipo = 'varchar(10)' WHERE nombre = 'FECHA'",
        "UPDATE columnas SET nombre = 'HABER' WHERE nombre = 'DEBE'",
    };
    const QString copia = dir_.filePath("original.sqlite");
    ASSERT_TRUE(QFile::copy(ruta_, copia));
    for (const char* edicion : ediciones) {
        QFile::remove(ruta_);
        ASSERT_TRUE(QFile::copy(copia, ruta_));
        EjecutarSql(ruta_, {edicion});
        LectorArchivo a(ruta_);
        ASSERT_EQ(a.Verificar().size(), 1u) << edicion;
        try {
            a.ExigirIntegro();
            ADD_FAILURE() << edicion;
        } catch (const ErrorSistema& e) {
            EXPECT_TRUE(e.Descripcion.contains("modificado o está dañado: la tabla asientos")) << e.what();
        }
    }
    // Not an archive at all.
    QFile f(dir_.filePath("otro.sqlite"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("no soy una base de datos SQLite, solo texto............................................");
    f.close();
    EXPECT_THROW(LectorArchivo(f.fileName()), ErrorSistema);
}

// A process killed while it writes never leaves something that reads as an archive, and a
// verified archive survives a process killed while it adds to it.
TEST_F(Archivo, MuertoAMitadDeEscribirNoDejaNadaQueParezcaArchivo) {
    const std::vector<ColumnaArchivo> cols = {{"IdMovimiento", "integer"}, {"CANTIDAD", "numeric(18,4)"}};
    auto filas = [&](EscritorArchivo& e, int n) {
        for (int i = 1; i <= n; ++i) {
            const QVariant v[] = {qlonglong(i), i / 8.0};
            e.Agregar(v);
        }
    };
    // New archive, killed inside a batch, after a batch's commit, and with the table closed.
    for (const int n : {10, 50001, 120000}) {
        QFile::remove(ruta_);
        MorirEn([&] {
            auto e = EscritorArchivo::Crear(ruta_, {});
            e->AbrirTabla(kTablaMovimientos, "V_MV_STOCK", "IdMovimiento", cols);
            filas(*e, n);
            if (n == 120000) e->CerrarTabla();
            morir();
        });
        ASSERT_TRUE(QFile::exists(ruta_)) << n;
        try {
            LectorArchivo a(ruta_);
            ADD_FAILURE() << "read as an archive after a kill at row " << n;
        } catch (const ErrorSistema& e) {
            EXPECT_TRUE(e.Descripcion.contains(ruta_)) << e.what();
        }
        EXPECT_THROW(EscritorArchivo::Continuar(ruta_), ErrorSistema);
        // The next purge picks another name; this one is never taken for its archive.
        EXPECT_THROW(EscritorArchivo::Crear(ruta_, {}), ErrorSistema);
    }

    // A verified archive, with a table being added when the process dies.
    QFile::remove(ruta_);
    Escribir(300);
    for (const int n : {10, 50001}) {
        MorirEn([&] {
            auto e = EscritorArchivo::Continuar(ruta_);
            e->AbrirTabla(kTablaMovimientos, "V_MV_STOCK", "IdMovimiento", cols);
            filas(*e, n);
            morir();
        });
        LectorArchivo a(ruta_);
        ASSERT_EQ(a.Tablas().size(), 1u) << n;
        EXPECT_EQ(a.Tablas().front().nombre, "asientos");
        EXPECT_TRUE(a.Verificar().empty());
    }
    // The rerun adds the table again and the archive holds both.
    {
        auto e = EscritorArchivo::Continuar(ruta_);
        e->AbrirTabla(kTablaMovimientos, "V_MV_STOCK", "IdMovimiento", cols);
        filas(*e, 70000);
        e->Verificar();
    }
    LectorArchivo a(ruta_);
    ASSERT_EQ(a.Tablas().size(), 2u);
    EXPECT_EQ(a.Tabla(kTablaMovimientos)->filas, 70000);
    EXPECT_TRUE(a.Verificar().empty());
    EXPECT_EQ(
        ConsultarValor(ruta_, "SELECT COUNT(*) FROM sqlite_master WHERE name LIKE '\\_parcial%' ESCAPE '\\'"),
        0);

    // A writer that fails before verifying anything leaves no file; one that fails after keeps
    // what was verified.
    const QString otra = dir_.filePath("otra.sqlite");
    {
        auto e = EscritorArchivo::Crear(otra, {});
        e->AbrirTabla(kTablaAsientos, "MV_ASIENTOS", "IdAsiento", cols);
        filas(*e, 10);
    }
    EXPECT_FALSE(QFile::exists(otra));
    {
        auto e = EscritorArchivo::Continuar(ruta_);
        e->AbrirTabla(kTablaSaldoInicial, "V_MV_STOCK", "IdMovimiento", cols);
        filas(*e, 10);
    }
    EXPECT_EQ(LectorArchivo(ruta_).Tablas().size(), 2u);
    // Rows the database kept (its deletion rolled back) leave the archive.
    EscritorArchivo::Continuar(ruta_)->Quitar({kTablaMovimientos});
    LectorArchivo b(ruta_);
    ASSERT_EQ(b.Tablas().size(), 1u);
    EXPECT_TRUE(b.Verificar().empty());
    EXPECT_EQ(ConsultarValor(ruta_, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'movimientos'"), 0);
}

// A disk that fills while the archive is written: the error names the file and the table, a new
// archive leaves no file behind, and a verified one keeps what it had. Needs root to mount a
// small file system.
TEST_F(Archivo, DiscoLlenoNoDejaNadaAMedias) {
    const QString chico = dir_.filePath("chico");
    const Montaje montaje(chico, "size=1m");
    if (!montaje.Montado()) GTEST_SKIP() << "hace falta montar un tmpfs (root)";
    const std::vector<ColumnaArchivo> cols = {{"IdMovimiento", "integer"}, {"DESCRIPCION", "varchar(600)"}};
    auto llenar = [&](EscritorArchivo& e) {
        e.AbrirTabla(kTablaMovimientos, "V_MV_STOCK", "IdMovimiento", cols);
        for (int i = 1; i <= 5000; ++i) {
            const QVariant v[] = {qlonglong(i), QString(500, QChar('a' + i % 26))};
            e.Agregar(v);
        }
        e.Verificar();
    };
    ruta_ = QDir(chico).filePath("nuevo.sqlite");
    try {
        auto e = EscritorArchivo::Crear(ruta_, {});
        llenar(*e);
        ADD_FAILURE() << "1 MB took 2.5 MB";
    } catch (const ErrorSistema& e) {
        EXPECT_TRUE(e.Descripcion.contains(ruta_ + " (tabla movimientos): no queda espacio en el disco"))
            << e.what();
    }
    EXPECT_EQ(QDir(chico).entryList(QDir::Files | QDir::Hidden), QStringList());

    ruta_ = QDir(chico).filePath("verificado.sqlite");
    Escribir(50);
    try {
        auto e = EscritorArchivo::Continuar(ruta_);
        llenar(*e);
        ADD_FAILURE() << "1 MB took 2.5 MB";
    } catch (const ErrorSistema& e) {
        EXPECT_TRUE(e.Descripcion.contains("no queda espacio en el disco")) << e.what();
    }
    LectorArchivo a(ruta_);
    ASSERT_EQ(a.Tablas().size(), 1u);
    EXPECT_TRUE(a.Verificar().empty());
    EXPECT_EQ(
        ConsultarValor(ruta_, "SELECT COUNT(*) FROM sqlite_master WHERE name LIKE '\\_parcial%' ESCAPE '\\'"),
        0);
}

TEST_F(Archivo, ComprobacionesPreviasNombranLaCarpeta) {
    const QString carpeta = dir_.path();
    const QString nombre = NombreArchivoDepuracion("/datos/empresa 1.db", "2022",
                                                   QDateTime(QDate(2025, 1, 31), QTime(2, 10, 7)));
    EXPECT_EQ(nombre, "depuracion-empresa_1-2022-20250131-021007.sqlite");
    EXPECT_EQ(NombreArchivoDepuracion("CONTA", "2022", QDateTime(QDate(2025, 1, 31), QTime(2, 10, 7))),
              "depuracion-CONTA-2022-20250131-021007.sqlite");
    EXPECT_NO_THROW(ComprobarCarpetaArchivo(carpeta, nombre, 1 << 20));
    auto mensaje = [&](const QString& c, const QString& n, qint64 bytes) {
        try {
            ComprobarCarpetaArchivo(c, n, bytes);
        } catch (const ErrorSistema& e) {
            return e.Descripcion;
        }
        return QString();
    };
    EXPECT_TRUE(mensaje(carpeta + "/falta", nombre, 0)
                    .startsWith("No existe la carpeta del archivo de depuración: "));
    EXPECT_TRUE(
        mensaje(carpeta, nombre, qint64(1) << 60).contains("No hay espacio suficiente en la carpeta"));
    EXPECT_TRUE(mensaje(carpeta, nombre, qint64(1) << 60).contains(carpeta));
    EjecutarSql(QDir(carpeta).filePath(nombre), {"CREATE TABLE x (a)"});
    EXPECT_TRUE(mensaje(carpeta, nombre, 0).startsWith("Ya existe el archivo "));
    // Creating over it refuses too, and leaves it as it was.
    try {
        EscritorArchivo::Crear(QDir(carpeta).filePath(nombre), {});
        ADD_FAILURE();
    } catch (const ErrorSistema& e) {
        EXPECT_EQ(e.Numero, kErrorArchivoExistente);
    }
    EXPECT_EQ(ConsultarValor(QDir(carpeta).filePath(nombre), "SELECT COUNT(*) FROM x"), 0);
}

namespace {

// One data source for the whole run: the driver manager caches the odbc.ini it read.
const QTemporaryDir& carpetaOdbc() {
    static const QTemporaryDir dir;
    return dir;
}

class ArchivoOrigen : public PruebaSesion {};

} // namespace

// The same rows give the same archive whichever route reads them: the digests agree, and so do
// the values stored.
TEST_F(ArchivoOrigen, AmbasRutasDanLaMismaHuella) {
    MantenerControladorOdbc();
    ASSERT_TRUE(carpetaOdbc().isValid());
    ruta_ = carpetaOdbc().filePath("rutas.db");
    QFile::remove(ruta_);
    ASSERT_TRUE(CrearDemo(ruta_, {.asientos = 300, .movimientos = 600}));
    Sql({"INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, FECHA, IDARTICULO, DESCRIPCION, CANTIDAD, CantidadUD, "
         "Anulado) "
         "VALUES ('FC', '000100000099A', '2022-06-01 10:30:00', 'A1', 'Caja \xF0\x9F\x93\xA6 ''grande''\tcon "
         "tab', 12.5, 12, NULL)",
         "INSERT INTO V_MV_STOCK (TC, FECHA, IDARTICULO, DESCRIPCION, CANTIDAD) VALUES ('FC', '2022-06-02', "
         "'A2', '', 0.1)",
         "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'vacía', '')"});
    const QString ini = carpetaOdbc().filePath("odbc.ini");
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[ARCHIVO_CRIBANZAS]\nDriver=SQLite3\nDatabase=%1\nTimeout=3000\n")
                .arg(ruta_)
                .toUtf8());
    f.close();
    EntornoFijado entorno;
    entorno.Fijar("ODBCINI", ini.toUtf8());

    struct Tabla {
        const char* nombre;
        const char* origen;
        const char* condicion;
    };
    const Tabla tablas[] = {{kTablaAsientos, "MV_ASIENTOS", "CONVERT(INT,PERIODO) = 2022"},
                            {kTablaMovimientos, "V_MV_STOCK", "FECHA <= CONVERT(DATETIME,'20221231',112)"},
                            {kTablaConfiguracion, "TA_CONFIGURACION", ""}};
    QStringList rutas;
    for (const QString& base : {ruta_, QStringLiteral("ARCHIVO_CRIBANZAS")}) {
        Sesion s;
        s.setDbName(base);
        s.Conectar();
        ASSERT_TRUE(s.Conectado()) << base.toStdString();
        QStringList sentencias, enviadas;
        s.AntesDeEjecutar = [&](const QString& t) { enviadas << t; };
        s.Observador = [&](const SentenciaSesion& x) {
            if (x.hecha && !x.error) sentencias << x.sql;
        };
        s.IniciarTransaccion();
        rutas << dir_.filePath(QStringLiteral("ruta%1.sqlite").arg(rutas.size()));
        auto e = EscritorArchivo::Crear(rutas.back(), {{"base", base}});
        sentencias.clear();
        for (const Tabla& t : tablas)
            ArchivarTabla(s, *e, t.nombre, DescribirTabla(s, t.origen), t.condicion,
                          t.nombre == QLatin1String(kTablaAsientos) ? BloqueoLectura::Tabla
                                                                    : BloqueoLectura::Ninguno);
        e->Verificar();
        s.DeshacerTransaccion();
        // The statement log gets them in T-SQL; SQLite gets them translated.
        EXPECT_EQ(
            sentencias.mid(0, 3),
            QStringList(
                {"SELECT * FROM MV_ASIENTOS WITH (TABLOCKX, HOLDLOCK) WHERE CONVERT(INT,PERIODO) = 2022 "
                 "ORDER BY [IdAsiento]",
                 "SELECT * FROM V_MV_STOCK WHERE FECHA <= CONVERT(DATETIME,'20221231',112) ORDER BY "
                 "[IdMovimiento]",
                 "SELECT rowid AS _rowid_origen, * FROM TA_CONFIGURACION ORDER BY rowid"}));
        EXPECT_TRUE(
            enviadas.contains("SELECT * FROM MV_ASIENTOS  WHERE CAST(PERIODO AS INTEGER) = 2022 ORDER BY "
                              "[IdAsiento]"))
            << enviadas.join('\n').toStdString();
    }
    LectorArchivo a(rutas[0]), b(rutas[1]);
    ASSERT_EQ(a.Tablas().size(), 3u);
    ASSERT_EQ(b.Tablas().size(), 3u);
    for (const Tabla& t : tablas) {
        const TablaArchivo *x = a.Tabla(t.nombre), *y = b.Tabla(t.nombre);
        ASSERT_TRUE(x && y);
        EXPECT_GT(x->filas, 0) << t.nombre;
        EXPECT_EQ(x->filas, y->filas) << t.nombre;
        EXPECT_EQ(x->sha256, y->sha256) << t.nombre;
        EXPECT_EQ(x->columnas, y->columnas) << t.nombre;
        EXPECT_EQ(x->orden, y->orden) << t.nombre;
        // The stored values too, as values (the driver gives a numeric column as double: REAL 12.0
        // where the file has INTEGER 12), so that a restore through either route writes the same.
        std::vector<QVariantList> filasA;
        a.Recorrer(t.nombre, [&](const Dato* f) {
            QVariantList l;
            for (size_t i = 0; i < x->columnas.size(); ++i)
                l << ValorDeDato(f[i]);
            filasA.push_back(l);
            return true;
        });
        size_t i = 0;
        b.Recorrer(t.nombre, [&](const Dato* f) {
            for (size_t c = 0; c < x->columnas.size(); ++c)
                EXPECT_EQ(ValorDeDato(f[c]), filasA.at(i).at(qsizetype(c)))
                    << t.nombre << " row " << i << " " << x->columnas[c].nombre.toStdString();
            ++i;
            return true;
        });
    }
    EXPECT_EQ(a.Tabla(kTablaMovimientos)->orden, "IdMovimiento");
    EXPECT_EQ(a.Tabla(kTablaConfiguracion)->orden, "rowid");
    EXPECT_EQ(a.Tabla(kTablaConfiguracion)->columnas.front().nombre, "_rowid_origen");
    EXPECT_EQ(a.Tabla(kTablaMovimientos)->columnas.at(8).tipo, "numeric(18,4)");
}
