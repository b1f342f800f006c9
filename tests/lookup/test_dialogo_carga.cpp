// Loading: columns and search boxes from the statement, rows, widths and the layout.
#include "apoyo/dialogo.h"

#include "lookup/lib_disposicion.h"
#include "lookup/lib_modeloconsulta.h"
#include "suite/error.h"
#include "suite/globales.h"
#include "suite/sesion.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>

namespace {
double AnchoX(const QWidget& w, int n) {
    return QFontMetrics(w.font()).horizontalAdvance(QString(n, QChar('X'))) * TwipsPorPixel;
}
} // namespace

class Carga : public PruebaDialogo {};

TEST_F(Carga, ColumnasYCajasDesdeLaSentencia) {
    Base({"CREATE TABLE T (CODIGO varchar(40), NOMBRE varchar(5000), NOTA text, PRECIO numeric(18,2), "
          "NUMERO_DE_CLIENTE int)",
          "INSERT INTO T VALUES ('  B1  ', 'Uno', NULL, 2.5, 7)",
          "INSERT INTO T VALUES (NULL, 'Dos', 'x', 3, 8)"});
    auto& d = Abrir("SELECT CODIGO, NOMBRE, NOTA, NUMERO_DE_CLIENTE FROM T",
                    [](Lib_FrmCons2& d) { d.UsaCantidades = Verdadero; });
    EXPECT_EQ(d.windowTitle(), "Consulta...");
    auto* m = d.Modelo();
    ASSERT_EQ(m->columnCount(), 5);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "CODIGO");
    EXPECT_EQ(m->headerData(4, Qt::Horizontal).toString(), "**Cantidad**");
    ASSERT_EQ(d.CantidadCajas(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Caja(i)->isVisible());
        EXPECT_EQ(Caja(i)->objectName(), "CmbSearch");
        EXPECT_EQ(Caja(i)->toolTip(), m->headerData(i, Qt::Horizontal).toString());
    }
    // Widths: the defined size in "X" widths, capped at 1000; ten for the quantity; never
    // narrower than the header text (an int is four "X", less than "NUMERO_DE_CLIENTE").
    const auto& med = d.MedidasTwips();
    ASSERT_EQ(med.anchosColumnas.size(), 5u);
    EXPECT_EQ(med.anchosColumnas[0], AnchoX(d, 40));
    EXPECT_EQ(med.anchosColumnas[1], AnchoX(d, 1000));
    EXPECT_EQ(med.anchosColumnas[2], AnchoX(d, 1000));
    const QHeaderView* cabecera = d.Lista()->horizontalHeader();
    for (int i : {3, 4}) {
        const QString texto = m->headerData(i, Qt::Horizontal).toString();
        EXPECT_GT(cabecera->sectionSize(i), QFontMetrics(cabecera->font()).horizontalAdvance(texto)) << i;
    }
    EXPECT_GT(med.anchosColumnas[3], AnchoX(d, 4));
    EXPECT_GE(med.anchosColumnas[4], AnchoX(d, 10));
    // The boxes sit under their columns, 50 narrower.
    ASSERT_EQ(med.cajas.size(), 4u);
    EXPECT_EQ(med.cajas[1].Left, med.anchosColumnas[0]);
    EXPECT_EQ(med.cajas[1].Width, med.anchosColumnas[1] - 50);
    EXPECT_EQ(med.cajas[3].Width, med.anchosColumnas[3] - 50);
    // Rows: the first column trimmed, Null as empty text; quantities empty.
    EXPECT_EQ(Columna(0), (QStringList{"", "B1"}));
    EXPECT_EQ(Columna(2), (QStringList{"x", ""}));
    EXPECT_EQ(Columna(4), (QStringList{"", ""}));
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Carga, SinFilasSeAbreIgual) {
    Base({"CREATE TABLE T (A varchar(3), B varchar(4))"});
    auto& d = Abrir("SELECT A, B FROM T");
    EXPECT_EQ(d.Modelo()->columnCount(), 2);
    EXPECT_EQ(d.CantidadCajas(), 2);
    EXPECT_EQ(d.Modelo()->rowCount(), 0);
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(Guion().Avisos().empty());
    ASSERT_TRUE(d.Valores);
    ASSERT_TRUE(d.Cantidades);
    // Nothing selected: the accept gathers nothing.
    Aceptar(d);
    EXPECT_EQ(d.Valores->Count(), 0);
    EXPECT_FALSE(d.ValorDevuelto.isValid());
}

TEST_F(Carga, SentenciaQueNoAbreSeReportaComoFormLoad) {
    Base({"CREATE TABLE T (A varchar(3))"});
    Guion().Responder(Respuesta::Omitir); // go on without rows
    auto& d = Abrir("VT_CLIENTES");
    ASSERT_FALSE(Guion().Avisos().empty());
    EXPECT_EQ(Guion().Avisos()[0].tipo, "error");
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "FORM_LOAD");
    EXPECT_EQ(d.Modelo()->rowCount(), 0);
    EXPECT_TRUE(d.Valores);
}

TEST_F(Carga, FiltroInicialSeleccionaYBlancosNo) {
    BaseArticulos();
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.FiltroInicial = "  "; });
    EXPECT_EQ(Caja(0)->currentText(), "");
    EXPECT_EQ(Seleccionado(), "Alfa");
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.FiltroInicial = "BER "; });
    EXPECT_EQ(Caja(0)->currentText(), "BER ");
    EXPECT_EQ(Seleccionado(), "Bermejo");
}

TEST(Disposicion, AnchosDeLaCarga) {
    // Three columns adding to 30000, the last a quantity column.
    const AnchosCarga a = CalcularAnchos({0, 10000, 25000}, {10000, 15000, 5000}, true, 1920 * 15);
    ASSERT_EQ(a.cajas.size(), 2u);
    EXPECT_EQ(a.cajas[1].Left, 10000);
    EXPECT_EQ(a.cajas[1].Width, 14950);
    EXPECT_EQ(a.anchoLista, 30360);
    EXPECT_EQ(a.anchoPicFields, 30360);
    EXPECT_EQ(a.anchoHScroll, 30000);
    EXPECT_EQ(a.anchoDialogo, 1920 * 15 - 480); // 30360 + 360 reaches the screen's 28800
    // A narrow list: the dialog 280 wider.
    EXPECT_EQ(CalcularAnchos({0}, {32400.5}, false, 100000).anchoPicFields, 32760);
    EXPECT_EQ(CalcularAnchos({0}, {3000}, false, 28800).anchoDialogo, 3640);
    // Halves to the even neighbour.
    EXPECT_EQ(CalcularAnchos({0}, {2.5}, false, 28800).anchoPicFields, 362);
    EXPECT_EQ(CalcularAnchos({0}, {3.5}, false, 28800).anchoPicFields, 364);
    EXPECT_EQ(RedondeoPar(-2.5), -2);
}

TEST(Disposicion, RedimensionarOchoMilPorCincoMil) {
    Disposicion d;
    Redimensionar(d, 8000, 5000);
    EXPECT_EQ(d.picFields.Width, 7880);
    EXPECT_EQ(d.picFields.Height, 4265);
    EXPECT_EQ(d.ListView1.Width, 7860);
    EXPECT_EQ(d.ListView1.Height, 3410);
    EXPECT_EQ(d.HScroll1.Top, 3890);
    EXPECT_EQ(d.HScroll1.Width, 7880);
    EXPECT_EQ(d.Frame1.Left, 1532.5);
    EXPECT_EQ(d.Frame1.Top, 4325);
    // Too small: sizes that would be negative stay as they were, positions still move.
    Redimensionar(d, 100, 1000);
    EXPECT_EQ(d.picFields.Height, 265);
    EXPECT_EQ(d.ListView1.Height, 3410);
    EXPECT_EQ(d.ListView1.Width, 7860);
    EXPECT_EQ(d.picFields.Width, 7880);
    EXPECT_EQ(d.HScroll1.Width, 7880);
    EXPECT_EQ(d.Frame1.Left, 50 - 2467.5);
    EXPECT_EQ(d.Frame1.Top, 325);
}

TEST_F(Carga, ElDialogoAplicaLaDisposicion) {
    BaseArticulos();
    auto& d = Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS");
    d.Form_Resize(8000, 5000); // the twips of RedimensionarOchoMilPorCincoMil, in pixels
    EXPECT_EQ(d.findChild<QWidget*>("picFields")->width(), 525); // 525.3 px
    EXPECT_EQ(Lista()->height(), 227);
    EXPECT_EQ(d.findChild<QWidget*>("Frame1")->y(), 288);
}

// The scroll bar moves the list and its boxes together, and only as far as the columns stick
// out of the list: every box can be reached and none leaves its column.
TEST_F(Carga, BarraDeDesplazamientoSoloSiLasColumnasNoCaben) {
    BaseArticulos();
    auto& d = Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS");
    auto* barra = d.findChild<QScrollBar*>("HScroll1");
    auto* franja = d.findChild<QWidget*>("picFields");
    auto* cabecera = Lista()->horizontalHeader();
    auto sobreSuColumna = [&](const char* cuando) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Caja(i)->x(), cabecera->sectionViewportPosition(i)) << cuando << ", caja " << i;
    };
    // The loading sized the dialog to its columns: nothing to scroll.
    EXPECT_EQ(barra->maximum(), 0);
    EXPECT_FALSE(barra->isEnabled());
    barra->setValue(600);
    EXPECT_EQ(franja->x(), 0);
    EXPECT_EQ(cabecera->offset(), 0);
    sobreSuColumna("todo cabe");

    const int ancho = d.width();
    d.resize(ancho / 2, d.height());
    ASSERT_GT(barra->maximum(), 0);
    EXPECT_TRUE(barra->isEnabled());
    barra->setValue(barra->maximum() / 2);
    sobreSuColumna("a medias");
    barra->setValue(barra->maximum());
    EXPECT_EQ(franja->x(), 0);
    sobreSuColumna("al final");
    EXPECT_LE(Caja(2)->mapTo(&d, QPoint(Caja(2)->width(), 0)).x(), d.width());
    // The list scrolled by itself (keys, a selection) takes the boxes and the bar along.
    Lista()->horizontalScrollBar()->setValue(0);
    EXPECT_EQ(barra->value(), 0);
    sobreSuColumna("la lista sola");
    // A wider column, then room for everything: the range follows.
    cabecera->resizeSection(0, cabecera->sectionSize(0) + 30);
    sobreSuColumna("columna ancha");
    d.resize(ancho + 60, d.height());
    EXPECT_EQ(barra->maximum(), 0);
    sobreSuColumna("otra vez todo cabe");
}

TEST_F(Carga, FalloDeEncolumnarSeAvisaSinTitulo) {
    BaseArticulos();
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS");
    // After the loading the recordset is closed and released: building the columns again fails.
    d.Encolumnar();
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(Guion().Avisos()[0].tipo, "mensaje");
    EXPECT_EQ(Guion().Avisos()[0].estilo, 0);
    EXPECT_EQ(Guion().Avisos()[0].titulo, "Cribanzas");
    EXPECT_FALSE(Guion().Avisos()[0].texto.isEmpty());
}

// On SQLite the reading steps the statement itself and widens most texts on its own; Qt's
// reading of the same rows is what it must give, cell for cell, in texts and sort values.
TEST_F(Carga, LecturaDirectaIgualALaDeQt) {
    Base({"CREATE TABLE H (CODIGO varchar(10), NOMBRE varchar(5000), PRECIO numeric(18,2), CANTIDAD int, "
          "FECHA date, NOTA)",
          "INSERT INTO H VALUES ('  A1  ', 'Ñandú açaí', 2.5, 7, '2023-12-31', 'texto')",
          "INSERT INTO H VALUES (NULL, NULL, NULL, NULL, NULL, NULL)",
          "INSERT INTO H VALUES ('B2', '', 3, -12, '2023-12-31 13:45:00', 42)",
          "INSERT INTO H VALUES ('   ', '   ', '7,5', 'abc', '31/12/2023', 2.75)",
          "INSERT INTO H VALUES ('C3', 'precio € y 😀', '1234567890123.45', 9223372036854775807, "
          "'no es fecha', X'00FF')",
          "INSERT INTO H VALUES ('D4', CAST(X'C3A1A1' AS TEXT), 0.1, 0, '2024-02-29', CAST(X'80' AS TEXT))",
          "INSERT INTO H VALUES ('E5', replace(hex(zeroblob(150)), '0', 'x') || 'ñ', -0.5, 3, '2023-02-30', "
          "CAST(X'C0AF' AS TEXT))",
          "INSERT INTO H VALUES ('F6', 'línea' || char(10) || 'dos' || char(9) || 'ab' || char(0) || 'cd', "
          "1e300, -1, '2023-01-05T09:30:00.000', 'á')",
          "INSERT INTO H VALUES ('G7', 'Tornillo de 8 mm', 10, 10, '', CAST(X'41C3' AS TEXT))"});
    // Everything the list holds: each column's texts in the order of a sort by it, and
    // whether it sorts by value.
    auto lista = [this](bool directa) {
        gSesion().LecturaDirecta = directa;
        auto& d = Abrir("SELECT CODIGO, NOMBRE, PRECIO, CANTIDAD, FECHA, NOTA FROM H");
        gSesion().LecturaDirecta = true;
        auto* m = d.Modelo();
        QStringList r;
        for (int c = 0; c < m->columnCount(); ++c) {
            m->sort(c, Qt::AscendingOrder);
            r << QStringLiteral("columna %1, por valor %2").arg(c).arg(m->PorValor(c));
            for (int f = 0; f < m->rowCount(); ++f) {
                QStringList fila;
                for (int k = 0; k < m->columnCount(); ++k)
                    fila << m->Texto(f, k);
                r << fila.join(u'|');
            }
        }
        return r;
    };
    const QStringList qt = lista(false);
    ASSERT_EQ(qt.size(), 6 * 10);
    EXPECT_EQ(lista(true), qt);
    EXPECT_TRUE(Guion().Avisos().empty());

    // A read that fails part way, injected or in the database (abs() of the smallest integer
    // overflows on the third row): the same report and the rows before it, never the end.
    Base({"CREATE TABLE N (A varchar(3), B int)", "INSERT INTO N VALUES ('a', 1)",
          "INSERT INTO N VALUES ('b', 2)", "INSERT INTO N VALUES ('c', -9223372036854775808)",
          "INSERT INTO N VALUES ('d', 4)"});
    auto fallida = [this](bool directa, bool inyectada) {
        int leidas = 0;
        if (inyectada)
            gSesion().AntesDeLeer = [&leidas](const QString&) {
                if (++leidas == 3)
                    throw ErrorSistema(Errores::BaseDeDatos, QStringLiteral("se cortó la red"));
            };
        Guion().Limpiar();
        gSesion().LecturaDirecta = directa;
        Abrir(QStringLiteral("SELECT A, %1 FROM N").arg(inyectada ? "B" : "abs(B)"));
        gSesion().LecturaDirecta = true;
        gSesion().AntesDeLeer = nullptr;
        QStringList r = Columna(0);
        for (const auto& a : Guion().Avisos())
            r << QStringLiteral("%1 %2 %3 %4").arg(a.tipo).arg(a.numero).arg(a.procedimiento, a.texto);
        return r;
    };
    for (bool inyectada : {true, false}) {
        const QStringList qtFallida = fallida(false, inyectada);
        ASSERT_EQ(qtFallida.size(), 3) << qtFallida.join('\n').toStdString();
        EXPECT_EQ(qtFallida.mid(0, 2), (QStringList{"a", "b"}));
        EXPECT_TRUE(qtFallida[2].contains(inyectada ? "se cortó la red" : "integer overflow"))
            << qtFallida[2].toStdString();
        EXPECT_EQ(fallida(true, inyectada), qtFallida);
    }
}
