// The year's listings printed from a purge archive, read back from the PDF as a reader sees it
// (poppler's pdftotext), and the compaction after a purge.
#include "apoyo/entorno.h"
#include "apoyo/proceso.h"
#include "apoyo/sesion.h"
#include "purge/archivo.h"
#include "purge/compactacion.h"
#include "purge/listados.h"
#include "purge/listados_formato.h"
#include "suite/avance.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// A number in units of 10^-decimales as the listings must show it, written here on its own:
// 123456789 with 2 decimals is "1.234.567,89".
QString espanol(qint64 valor, int decimales) {
    const bool negativo = valor < 0;
    const QString cifras =
        QString::number(negativo ? -valor : valor).rightJustified(decimales + 1, QChar('0'));
    QString enteros = cifras.left(cifras.size() - decimales);
    for (qsizetype i = enteros.size() - 3; i > 0; i -= 3)
        enteros.insert(i, QChar('.'));
    return (negativo ? QStringLiteral("-") : QString()) + enteros +
           (decimales ? QChar(',') + cifras.right(decimales) : QString());
}

// What poppler reads out of a PDF.
QString poppler(const char* programa, const QStringList& argumentos) {
    const QString ruta = QStandardPaths::findExecutable(QString::fromLatin1(programa));
    if (ruta.isEmpty()) {
        ADD_FAILURE() << programa << " is missing: scripts/dependencias.sh installs poppler-utils";
        return {};
    }
    const Corrida c = CorrerPrograma(ruta, argumentos);
    EXPECT_EQ(c.estado, 0) << c.errores;
    return c.salida;
}
QString texto(const QString& pdf, const char* modo = "-layout") {
    return poppler("pdftotext", {QString::fromLatin1(modo), pdf, QStringLiteral("-")})
        .normalized(QString::NormalizationForm_C);
}
QString sinBlancos(QString t) {
    return t.remove(QRegularExpression(QStringLiteral("\\s")));
}

// The progress display's calls, one line each.
class VistaAnotada : public AvanceVista {
public:
    explicit VistaAnotada(QStringList& lineas) : lineas_(lineas) {}
    void Iniciar(const QString& titulo) override { lineas_ << QStringLiteral("[%1]").arg(titulo); }
    void Mostrar(const QString& a, const QString& b, const QString& v) override {
        lineas_ << QStringLiteral("%1 | %2 | %3").arg(a, b, v);
    }
    void Cerrar() override { lineas_ << QStringLiteral("[cerrado]"); }

private:
    QStringList& lineas_;
};

const QString kLargo = [] {
    QString t = QStringLiteral(
        "Liquidación de haberes de diciembre con ajustes por antigüedad, presentismo y horas "
        "extraordinarias según el convenio colectivo vigente; incluye retenciones de ley, aportes "
        "patronales, embargos judiciales y anticipos otorgados durante el año");
    return t.left(200);
}();

// An archive with every kind of column and value the listings meet, and the totals they must
// show (computed here, in integers).
struct Fixture {
    qint64 filasDiario = 0, filasExistencias = 0;
    qint64 debe = 0, haber = 0; // hundredths
    qint64 cantidad = 0;        // ten-thousandths
};

Fixture escribirArchivo(const QString& ruta) {
    Fixture f;
    auto e = EscritorArchivo::Crear(ruta, {{"programa", "prueba"},
                                           {"servidor", ""},
                                           {"base", "/datos/conta.db"},
                                           {"ejercicio", "2022"},
                                           {"fecha_desde", "01/01/2022"},
                                           {"fecha_hasta", "31/12/2022"},
                                           {"fecha_corte", "2022-12-31"},
                                           {"operador", "José Muñoz"},
                                           {"equipo", "CAJA-1"},
                                           {"inicio", "2025-01-31T02:10:07-03:00"},
                                           {"archivo_anterior", ""}});
    e->AbrirTabla(kTablaAsientos, "MV_ASIENTOS", "IdAsiento",
                  {{"IdAsiento", "integer"},
                   {"PERIODO", "varchar(10)"},
                   {"NROASIENTO", "int"},
                   {"FECHA", "DATE"},
                   {"CUENTA", "varchar(20)"},
                   {"DEBE", "numeric(18,2)"},
                   {"HABER", "numeric(18,2)"},
                   {"LEYENDA", "varchar(250)"},
                   {"ALTA", "datetime"},
                   {"COTIZACION", "float"},
                   {"CONCILIADO", "bit"},
                   {"COMISION", "money"},
                   {"ADJUNTO", "varbinary(8)"}});
    qint64 id = 0;
    auto asiento = [&](const QVariant& numero, const QVariant& fecha, const QVariant& debe,
                       const QVariant& haber, const QVariant& leyenda) {
        const QVariant fila[] = {++id,
                                 QStringLiteral("2022"),
                                 numero,
                                 fecha,
                                 QStringLiteral("1.1.01"),
                                 debe,
                                 haber,
                                 leyenda,
                                 QStringLiteral("2022-03-04 10:30:00"),
                                 1.25,
                                 qlonglong(1),
                                 QStringLiteral("12.5000"),
                                 QByteArray("\x01\xff", 2)};
        e->Agregar(fila);
        ++f.filasDiario;
    };
    // A Null in every column.
    {
        const QVariant nulos[] = {++id, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
        e->Agregar(nulos);
        ++f.filasDiario;
    }
    // Entries written in a shuffled order, each with its second line first; amounts stored as
    // each route stores them (a float, the server's exact text, a whole number).
    for (int k = 0; k < 55; ++k) {
        const int n = (k * 23) % 55 + 1;
        const qint64 centavos = 100000 + n * 1357;
        const QVariant importes[] = {double(centavos) / 100, QString::number(double(centavos) / 100, 'f', 2),
                                     qlonglong(centavos / 100)};
        const QVariant importe = importes[n % 3];
        const qint64 exacto = n % 3 == 2 ? centavos / 100 * 100 : centavos;
        // Dates in the forms drivers give; entry 7's second line in d/M/yyyy, which sorts after
        // its first line only as a date.
        const QDate dia = QDate(2022, 1, 1).addDays(n * 6);
        const QVariant primera = dia.toString(Qt::ISODate);
        const QVariant segunda =
            n == 7 ? QVariant(dia.addDays(1).toString(QStringLiteral("d/M/yyyy")))
                   : QVariant(dia.addDays(1).toString(QStringLiteral("yyyy-MM-dd 00:00:00.000")));
        const QString leyenda = QStringLiteral("Asiento %1 renglón %2 – energía eléctrica");
        asiento(qlonglong(n), segunda, 0.0, importe, leyenda.arg(n, 3, 10, QChar('0')).arg(2));
        asiento(qlonglong(n), primera, importe, QStringLiteral("0.00"),
                leyenda.arg(n, 3, 10, QChar('0')).arg(1));
        f.debe += exacto;
        f.haber += exacto;
    }
    // Beyond a double's digits, a long text, and text pango must lay out (combining accents).
    asiento(qlonglong(56), QStringLiteral("2022-12-30"), QStringLiteral("9999999999999999.99"),
            QStringLiteral("9999999999999999.99"), kLargo);
    f.debe += 999999999999999999;
    f.haber += 999999999999999999;
    asiento(qlonglong(57), QStringLiteral("2022-12-31"), {}, {}, QString::fromUtf8("Cafe\u0301 y te\u0301"));
    e->Verificar();

    e->AbrirTabla(kTablaSaldoInicial, "V_MV_STOCK", "IdMovimiento",
                  {{"IdMovimiento", "integer"},
                   {"TC", "varchar(4)"},
                   {"IDCOMPROBANTE", "varchar(13)"},
                   {"FECHA", "DATETIME"},
                   {"IDARTICULO", "varchar(20)"},
                   {"DESCRIPCION", "varchar(250)"},
                   {"IDUNIDAD", "varchar(6)"},
                   {"CANTIDAD", "numeric(18,4)"},
                   {"IdDeposito", "int"},
                   {"IdPosicion", "varchar(10)"},
                   {"NroLote", "varchar(30)"}});
    {
        const QVariant nulos[] = {qlonglong(900), {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
        e->Agregar(nulos);
        ++f.filasExistencias;
    }
    for (int i = 1; i <= 170; ++i) {
        const qint64 diezmilesimos = (i % 7 == 0 ? -1 : 1) * (i * 12345 + 1);
        const QVariant cantidades[] = {double(diezmilesimos) / 10000,
                                       QString::number(double(diezmilesimos) / 10000, 'f', 4)};
        const QVariant fila[] = {qlonglong(1000 + i),
                                 QStringLiteral("SI"),
                                 QStringLiteral("0000000000042"),
                                 QStringLiteral("2022-12-31 00:00:00"),
                                 QStringLiteral("ART%1").arg(171 - i, 3, 10, QChar('0')),
                                 i == 100 ? kLargo : QStringLiteral("Tornillo de ñandubay nº %1").arg(i),
                                 QStringLiteral("UN"),
                                 cantidades[i % 2],
                                 qlonglong(i % 3 + 1),
                                 QVariant(),
                                 i % 10 == 0 ? QVariant(QStringLiteral("L-%1").arg(i)) : QVariant()};
        e->Agregar(fila);
        f.cantidad += diezmilesimos;
        ++f.filasExistencias;
    }
    e->Verificar();
    return f;
}

class Listados : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // To look at the PDFs: LISTADOS_CONSERVAR=1 keeps the folder.
        if (qEnvironmentVariableIsSet("LISTADOS_CONSERVAR")) {
            dir_.setAutoRemove(false);
            std::printf("[ listados ] %s\n", qPrintable(dir_.path()));
        }
        ruta_ = dir_.filePath(QStringLiteral("depuracion-conta-2022-20250131-021007.sqlite"));
    }
    QTemporaryDir dir_;
    QString ruta_;
};

} // namespace

// Both listings from one archive: headers and page numbers on every page, the columns and their
// order, dates and numbers as Spanish readers write them, exact totals, long and accented text
// whole, the PDF's title.
TEST_F(Listados, DiarioYExistenciasDesdeElArchivo) {
    const Fixture f = escribirArchivo(ruta_);
    QStringList avance;
    Avance a;
    a.InstalarVista(std::make_unique<VistaAnotada>(avance));
    OpcionesListados opciones;
    opciones.avance = &a;
    const std::vector<ListadoEmitido> hechos = EmitirListados(ruta_, opciones);
    ASSERT_EQ(hechos.size(), 2u);
    ASSERT_FALSE(avance.isEmpty());
    EXPECT_EQ(avance.back(),
              QStringLiteral("Emitiendo los listados de la depuración | Libro Diario 2022: página %1 de "
                             "%1   ·   Existencias al 31/12/2022: página %2 de %2 | 100 %")
                  .arg(hechos[0].paginas)
                  .arg(hechos[1].paginas));
    EXPECT_EQ(hechos[0].ruta,
              dir_.filePath(QStringLiteral("depuracion-conta-2022-20250131-021007-libro-diario.pdf")));
    EXPECT_EQ(hechos[1].ruta,
              dir_.filePath(QStringLiteral("depuracion-conta-2022-20250131-021007-existencias.pdf")));
    EXPECT_EQ(hechos[0].filas, f.filasDiario);
    EXPECT_EQ(hechos[1].filas, f.filasExistencias);

    const char* encabezados[] = {"Base de datos: /datos/conta.db",
                                 "Ejercicio 2022, del 01/01/2022 al 31/12/2022",
                                 "Depuración: 31/01/2025 02:10", "Operador: José Muñoz", "Equipo: CAJA-1"};
    for (const ListadoEmitido& l : hechos) {
        SCOPED_TRACE(l.titulo.toStdString());
        const QString info = poppler("pdfinfo", {l.ruta});
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(l.paginas))))
            << info;
        EXPECT_TRUE(info.contains(QStringLiteral("Title:           %1\n").arg(l.titulo))) << info;
        EXPECT_GE(l.paginas, 3);
        const QString t = texto(l.ruta);
        const QStringList paginas = t.split(QChar('\f'), Qt::SkipEmptyParts);
        ASSERT_EQ(paginas.size(), l.paginas);
        for (int p = 0; p < l.paginas; ++p) {
            EXPECT_TRUE(paginas[p].contains(l.titulo)) << p;
            EXPECT_TRUE(paginas[p].contains(QStringLiteral("Página %1 de %2").arg(p + 1).arg(l.paginas)))
                << p;
            for (const char* e : encabezados)
                EXPECT_TRUE(paginas[p].contains(QString::fromUtf8(e))) << p << " " << e;
        }
        // The long text whole, in its order.
        EXPECT_TRUE(sinBlancos(texto(l.ruta, "-raw")).contains(sinBlancos(kLargo)));
    }

    // The journal: every column's heading on every page, in the table's order.
    const QString diario = texto(hechos[0].ruta);
    const QStringList paginas = diario.split(QChar('\f'), Qt::SkipEmptyParts);
    for (const QString& pagina : paginas)
        EXPECT_TRUE(pagina.contains(
            QRegularExpression(QStringLiteral("IdAsiento +PERIODO +NROASIENTO +FECHA +CUENTA +DEBE +HABER "
                                              "+LEYENDA +ALTA +COTIZACION +CONCILIADO "
                                              "+COMISION +ADJUNTO"))))
            << pagina.left(600);
    // By entry number, then date: line 1 of each entry before its line 2, whatever the date's form.
    QList<int> orden;
    const QRegularExpression renglon(QStringLiteral("Asiento (\\d{3}) renglón (\\d)"));
    for (auto m = renglon.globalMatch(diario); m.hasNext();) {
        const auto r = m.next();
        orden << r.captured(1).toInt() * 10 + r.captured(2).toInt();
    }
    EXPECT_EQ(orden.size(), 110);
    EXPECT_TRUE(std::is_sorted(orden.begin(), orden.end())) << orden.size();
    // Dates, numbers and the rest as the columns declare them.
    const QRegularExpression fila7(
        QStringLiteral("\\n *\\d+ +2022 +7 +(\\S+) +1\\.1\\.01 +(\\S+) +(\\S+) +Asiento 007 "
                       "renglón 2[^\\n]* +04/03/2022 10:30 +1,25 +1 +12,50 +0x01FF\\n"));
    const auto m7 = fila7.match(diario);
    ASSERT_TRUE(m7.hasMatch()) << diario.left(3000);
    EXPECT_EQ(m7.captured(1), "13/02/2022") << "d/M/yyyy";
    EXPECT_EQ(m7.captured(2), "0,00");
    EXPECT_EQ(m7.captured(3), "1.094,99");
    EXPECT_TRUE(diario.contains(QStringLiteral("Café y té")));
    // The totals, exact: beyond what a double holds.
    const QString ultima = paginas.back();
    const QRegularExpression totales(
        QStringLiteral("Totales: (\\S+) renglones\\s*\\n\\s*(\\S+)\\s+(\\S+)\\s+(\\S+)"));
    const auto mt = totales.match(ultima);
    ASSERT_TRUE(mt.hasMatch()) << ultima;
    EXPECT_EQ(mt.captured(1), espanol(f.filasDiario, 0));
    EXPECT_EQ(mt.captured(2), espanol(f.debe, 2));
    EXPECT_EQ(mt.captured(3), espanol(f.haber, 2));
    EXPECT_EQ(mt.captured(4), "1.400,00") << "money, totalled too";

    // The carried stock: the columns asked for, the lot because some rows have one, not the
    // position that none has; sorted by article; count and quantity at the end.
    const QString stock = texto(hechos[1].ruta);
    EXPECT_TRUE(hechos[1].titulo == "Existencias al 31/12/2022");
    EXPECT_TRUE(stock.contains(
        QRegularExpression(QStringLiteral("Artículo +Descripción +Unidad +Depósito +Lote +Cantidad"))));
    EXPECT_FALSE(stock.contains(QStringLiteral("Posición")));
    EXPECT_LT(stock.indexOf(QStringLiteral("ART001 ")), stock.indexOf(QStringLiteral("ART002 ")));
    EXPECT_TRUE(stock.contains(
        QRegularExpression(QStringLiteral("ART161 +Tornillo de ñandubay nº 10 +UN +2 +L-10 +12,3451\\n"))));
    EXPECT_TRUE(stock.contains(
        QRegularExpression(QStringLiteral("ART164 +Tornillo de ñandubay nº 7 +UN +2 +-8,6416\\n"))));
    const auto ms = QRegularExpression(QStringLiteral("Totales: (\\S+) renglones\\s*\\n\\s*(\\S+)"))
                        .match(stock.split(QChar('\f'), Qt::SkipEmptyParts).back());
    ASSERT_TRUE(ms.hasMatch());
    EXPECT_EQ(ms.captured(1), espanol(f.filasExistencias, 0));
    EXPECT_EQ(ms.captured(2), espanol(f.cantidad, 4));
}

// The failures an operator can meet: a folder that is not there, an archive that was changed,
// a disk that fills while printing. Each says what and where, and leaves no PDF half written.
TEST_F(Listados, FallosSinListadosAMedias) {
    escribirArchivo(ruta_);
    auto fallo = [&](const OpcionesListados& o) {
        try {
            EmitirListados(ruta_, o);
        } catch (const ErrorSistema& e) {
            return e.Descripcion;
        }
        return QString();
    };
    const QString falta = dir_.filePath(QStringLiteral("falta"));
    EXPECT_EQ(fallo({.carpeta = falta}),
              QStringLiteral(
                  "No se pudo crear el listado %1/depuracion-conta-2022-20250131-021007-libro-diario.pdf: "
                  "la carpeta no existe")
                  .arg(falta));

    // A changed amount: the archive no longer matches its digest.
    EjecutarSql(ruta_, {QStringLiteral("UPDATE asientos SET DEBE = 1 WHERE IdAsiento = 3")});
    EXPECT_TRUE(fallo({}).contains(QStringLiteral("asientos"))) << fallo({});
    EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("*.pdf")}, QDir::Files), QStringList());

    const QString chico = dir_.filePath(QStringLiteral("chico"));
    const Montaje montaje(chico, "size=4k");
    if (!montaje.Montado()) GTEST_SKIP() << "hace falta montar un tmpfs (root)";
    EXPECT_TRUE(fallo({.carpeta = chico, .verificarArchivo = false})
                    .endsWith(QStringLiteral(": no queda espacio en el disco")))
        << fallo({.carpeta = chico, .verificarArchivo = false});
    EXPECT_EQ(QDir(chico).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Numbers, dates and texts as they read on paper, whatever form the driver stored them in.
TEST(FormatoListados, ValoresComoSeLeen) {
    struct Caso {
        const char* tipo;
        QVariant valor;
        const char* texto;
    };
    const Caso casos[] = {
        {"numeric(18,2)", 1234567.5, "1.234.567,50"},
        {"numeric(18,2)", QString(" -0.005 "), "-0,005"}, // a text keeps every digit it has
        {"numeric(18,2)", 0.125, "0,13"},                 // a float is rounded to the scale
        {"numeric(18,2)", -0.001, "0,00"},
        {"numeric(18,2)", QString("1.5e3"), "1.500,00"},
        {"numeric(18,2)", QString("12a"), "12a"},
        {"decimal(9,4)", qlonglong(-12), "-12,0000"},
        {"NUMERIC", 99.999, "99,999"},
        {"money", QString("1234.5000"), "1.234,50"},
        {"float", 0.1, "0,1"},
        {"int", qlonglong(2022), "2022"},
        {"numeric(10,0)", qlonglong(-9223372036854775807LL - 1), "-9223372036854775808"},
        {"bit", true, "1"},
        {"DATE", QString("2022-03-01"), "01/03/2022"},
        {"DATETIME", QString("2022-03-01 00:00:00.000"), "01/03/2022"},
        {"smalldatetime", QString("1/3/2022 09:05"), "01/03/2022 09:05"},
        {"datetime", QString("2022-03-01T10:30:15.250"), "01/03/2022 10:30:15,250"},
        {"DATE", QString("sin fecha"), "sin fecha"},
        {"varchar(20)", QString("a\tb\r\nc  "), "a b  c"},
        {"varchar(20)", QString("año"), "año"},
        {"varchar(20)", qlonglong(7), "7"},
        {"varbinary(4)", QByteArray("\x00\xab", 2), "0x00AB"},
        {"varchar(20)", QVariant(), ""},
    };
    ConversorDatos conversor;
    for (const Caso& c : casos) {
        std::string s;
        AnexarValor(s, FormatoDeTipo(QString::fromLatin1(c.tipo)), conversor.Convertir(&c.valor, 1)[0]);
        EXPECT_EQ(QString::fromStdString(s), QString::fromUtf8(c.texto))
            << c.tipo << " " << c.valor.toString();
    }
    // Invalid bytes do not reach the PDF.
    std::string s;
    const char malo[] = "a\xff\xc3";
    AnexarValor(s, {}, Dato::DeTexto(malo, 3));
    EXPECT_EQ(s, "a\xef\xbf\xbd\xef\xbf\xbd");

    EXPECT_TRUE(FormatoDeTipo("numeric(18,2)").importe);
    EXPECT_TRUE(FormatoDeTipo("money").importe);
    EXPECT_FALSE(FormatoDeTipo("numeric(10,0)").importe) << "an id";
    EXPECT_FALSE(FormatoDeTipo("int").importe);
    EXPECT_FALSE(FormatoDeTipo("float").importe);

    // Sums exact across signs, scales and lengths.
    SumaExacta suma;
    NumeroDecimal n;
    for (const char* v : {"0.1", "0.2", "-0.3", "123456789012345678901234567890.5", "-0.000001",
                          "-123456789012345678901234567890"}) {
        ASSERT_TRUE(LeerNumero(Dato::DeTexto(v, qsizetype(std::strlen(v))), n)) << v;
        suma.Agregar(n);
    }
    std::string total;
    AnexarNumeroEspanol(total, suma.Total(), 2);
    EXPECT_EQ(total, "0,499999");
    SumaExacta negativa;
    ASSERT_TRUE(LeerNumero(Dato::DeReal(-2.5), n));
    negativa.Agregar(n);
    total.clear();
    AnexarNumeroEspanol(total, negativa.Total(), 2);
    EXPECT_EQ(total, "-2,50");
}

// ---- Compaction -------------------------------------------------------------------------------

namespace {
class Compactacion : public PruebaSesion {
protected:
    // A table of `filas` rows of 250 bytes.
    void Llenar(int filas) {
        Sql({QStringLiteral("CREATE TABLE IF NOT EXISTS t (id integer PRIMARY KEY, datos blob)"),
             QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                            "INSERT INTO t (datos) SELECT randomblob(250) FROM n")
                 .arg(filas)});
    }
    QString Negativa() {
        Avance avance;
        try {
            Compactar(*sesion_, avance);
        } catch (const ErrorSistema& e) {
            return e.Descripcion;
        }
        return QString();
    }
};
} // namespace

// A purge leaves free pages: the compaction gives them back to the disk, through the session,
// with the progress display, and keeps every row; inside a transaction it refuses.
TEST_F(Compactacion, ReduceElArchivoYConservaLasFilas) {
    Llenar(40000);
    Sql({QStringLiteral("DELETE FROM t WHERE id % 10 <> 0")});
    const QString antes = Valor(QStringLiteral("SELECT group_concat(hex(datos)) FROM t")).toString();
    Conectar();
    EXPECT_EQ(ClaseDeCompactacion(*sesion_), ClaseCompactacion::SQLite);

    sesion_->IniciarTransaccion();
    EXPECT_EQ(Negativa(), "No se puede compactar la base de datos mientras hay una transacción en curso.");
    sesion_->DeshacerTransaccion();
    {
        // Another station reading: the compaction waits as any statement does, then gives up.
        const ConexionDirecta otra(ruta_);
        QSqlQuery lectura(otra.db());
        ASSERT_TRUE(lectura.exec(QStringLiteral("BEGIN")) &&
                    lectura.exec(QStringLiteral("SELECT COUNT(*) FROM t")));
        sesion_->setCommandTimeout(1);
        EXPECT_EQ(Negativa(),
                  "No se pudo compactar la base de datos prueba.db; quedó como estaba.\rOtra estación "
                  "está usando la base de datos: vuelva a intentarlo cuando nadie la tenga abierta.");
        lectura.exec(QStringLiteral("COMMIT"));
    }

    QStringList avance;
    Avance a;
    a.InstalarVista(std::make_unique<VistaAnotada>(avance));
    const qint64 tamanio = QFileInfo(ruta_).size();
    const ResultadoCompactacion r = Compactar(*sesion_, a);
    EXPECT_EQ(r.antes, tamanio);
    EXPECT_EQ(r.despues, QFileInfo(ruta_).size());
    EXPECT_LT(r.despues * 4, r.antes);
    EXPECT_TRUE(sentencias_.contains(QStringLiteral("VACUUM"))) << sentencias_.join("\n");
    ASSERT_GE(avance.size(), 3);
    EXPECT_EQ(avance.front(), "[Compactación de la base de datos]");
    EXPECT_TRUE(avance[1].startsWith("Compactando prueba.db... | Tamaño actual: ")) << avance[1];
    EXPECT_TRUE(avance[avance.size() - 2].endsWith(" | 100 %")) << avance.join("\n");
    EXPECT_EQ(avance.back(), "[cerrado]");
    EXPECT_TRUE(TextoCompactacion(r).startsWith("La base de datos ocupaba ")) << TextoCompactacion(r);
    sesion_.reset();
    EXPECT_EQ(Valor(QStringLiteral("SELECT group_concat(hex(datos)) FROM t")).toString(), antes);
    EXPECT_EQ(Valor(QStringLiteral("PRAGMA integrity_check")).toString(), "ok");
}

// Too little room for the copy in SQLite's temporary folder, or for the journal beside the
// database: refused before anything is written, the folder and the sizes named.
TEST_F(Compactacion, NiegaSinEspacioEnDisco) {
    const QString temporal = dir_.filePath(QStringLiteral("temporal"));
    const Montaje montajeTemporal(temporal, "size=1m");
    if (!montajeTemporal.Montado()) GTEST_SKIP() << "hace falta montar un tmpfs (root)";
    Llenar(10000);
    Conectar();
    const qint64 tamanio = QFileInfo(ruta_).size();
    {
        QSqlQuery q(sesion_->Base());
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA temp_store_directory = '%1'").arg(temporal)));
    }
    // The folder is the process's, not the connection's: put back whatever happens.
    const auto restaurar = qScopeGuard([&] {
        if (sesion_) QSqlQuery(sesion_->Base()).exec(QStringLiteral("PRAGMA temp_store_directory = ''"));
    });
    const QString temp = Negativa();
    EXPECT_TRUE(temp.startsWith(
        "No hay espacio suficiente para compactar la base de datos prueba.db: la copia que hace "
        "la compactación necesita "))
        << temp;
    EXPECT_TRUE(temp.contains(QStringLiteral("en la carpeta temporal %1, que tiene ").arg(temporal))) << temp;
    QSqlQuery(sesion_->Base()).exec(QStringLiteral("PRAGMA temp_store_directory = ''"));

    // The database on a disk with less room than its journal needs.
    const QString chico = dir_.filePath(QStringLiteral("chico"));
    const Montaje montajeChico(chico, "size=4m");
    ASSERT_TRUE(montajeChico.Montado());
    sesion_.reset();
    ASSERT_TRUE(QFile::copy(ruta_, chico + QStringLiteral("/prueba.db")));
    ruta_ = chico + QStringLiteral("/prueba.db");
    Conectar();
    const QString diario = Negativa();
    EXPECT_TRUE(diario.startsWith(
        "No hay espacio suficiente para compactar la base de datos prueba.db: el diario de la "
        "compactación necesita "))
        << diario;
    EXPECT_TRUE(diario.contains(QStringLiteral("en la carpeta %1, que tiene ").arg(chico))) << diario;
    EXPECT_FALSE(sentencias_.contains(QStringLiteral("VACUUM")));
    sesion_.reset();
    EXPECT_EQ(QFileInfo(ruta_).size(), tamanio);
    EXPECT_EQ(Valor(QStringLiteral("SELECT COUNT(*) FROM t")).toInt(), 10000);
}

// SQL Server's figures, as sp_spaceused writes them, and what the final message makes of them.
TEST(CompactacionServidor, CifrasDeSpSpaceused) {
    EXPECT_EQ(BytesDeTexto("1234 KB"), 1234 * 1024);
    EXPECT_EQ(BytesDeTexto(" 12.50 MB"), qint64(12.5 * 1024 * 1024));
    EXPECT_EQ(BytesDeTexto("2 GB"), qint64(2) << 30);
    EXPECT_EQ(BytesDeTexto("n/a"), -1);
    EXPECT_EQ(TextoTamanio(1536 * 1024), "1,5 MB");
    EXPECT_EQ(TextoTamanio(1000), "1 KB");
    EspacioServidor antes, despues;
    antes.tablas = {{"MV_ASIENTOS", 50000, qint64(120) << 20, -1, -1, -1},
                    {"V_MV_STOCK", -1, -1, -1, -1, -1}};
    despues.tablas = {{"MV_ASIENTOS", 0, qint64(20) << 20, -1, -1, -1}, {"V_MV_STOCK", -1, -1, -1, -1, -1}};
    despues.tamanio = qint64(2) << 30;
    despues.sinAsignar = qint64(300) << 20;
    EXPECT_EQ(
        TextoEspacioServidor(antes, despues),
        "MV_ASIENTOS ocupaba 120,0 MB y ahora ocupa 20,0 MB: 100,0 MB quedaron libres dentro de la base de "
        "datos.\rLos archivos de la base de datos no se achican (ocupan 2,0 GB, de los que 300,0 MB están "
        "sin "
        "asignar): el espacio liberado queda para los datos nuevos, y reducirlos es decisión del "
        "administrador de la base de datos.");
}
