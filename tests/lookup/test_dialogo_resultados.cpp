// The values the dialog hands back on accept, cancel and close.
#include "apoyo/dialogo.h"

#include "lookup/lib_modeloconsulta.h"

#include <QPushButton>
#include <QTest>

namespace {
ColeccionRef Nombres(const QStringList& l) {
    auto c = NuevaColeccion();
    for (const auto& s : l)
        c->Add(s);
    return c;
}
} // namespace

class Resultados : public PruebaDialogo {
protected:
    void SetUp() override {
        PruebaDialogo::SetUp();
        BaseArticulos();
    }
};

TEST_F(Resultados, AceptarUnaFilaDevuelveLasColumnasPedidas) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CmpsDevueltos = Nombres({"codigo", "NO_EXISTE", " RUBRO "});
        d.CampoDevuelto = "NOMBRE";
    });
    EXPECT_EQ(Columna(), (QStringList{"Alfa", "Bermejo", "Beta", "Delta", "Gamma"}));
    Teclear(0, "ga");
    Aceptar(d);
    ASSERT_TRUE(d.Valores);
    EXPECT_EQ(d.Valores->Lista(), (QStringList{"G01", "G01", "Pinturas"}));
    EXPECT_EQ(d.ValorDevuelto, QVariant(QString("Gamma")));
    ASSERT_TRUE(d.Cantidades);
    EXPECT_EQ(d.Cantidades->Count(), 0);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, CancelarDejaValoresEnNada) {
    auto& d =
        Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CheckBoxes = Verdadero; });
    d.Modelo()->Marcar(1, true);
    QTest::mouseClick(d.findChild<QPushButton*>("CmdCancelar"), Qt::LeftButton);
    EXPECT_FALSE(d.Valores);
    EXPECT_FALSE(d.CmpsDevueltos);
    ASSERT_TRUE(d.Cantidades);
    EXPECT_EQ(d.Cantidades->Count(), 0);
    EXPECT_EQ(d.ValorDevuelto, QVariant(QString("")));
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, MarcasConCampoVacioYCantidades) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CheckBoxes = Verdadero;
        d.UsaCantidades = Verdadero;
    });
    // Rows 2 and 5 checked; row 2 stepped up three times, row 5 never set.
    d.SeleccionarFila(1);
    Lista()->setFocus();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(Lista(), Qt::Key_Insert);
    d.Modelo()->Marcar(4, true);
    QTest::mouseClick(d.findChild<QPushButton*>("CmdAceptar"), Qt::LeftButton);
    EXPECT_EQ(d.CampoDevuelto, "NOMBRE");
    EXPECT_EQ(d.Valores->Lista(), (QStringList{"Bermejo", "Gamma"}));
    EXPECT_EQ(d.Cantidades->Lista(), (QStringList{"3.0", ""}));
    EXPECT_FALSE(d.ValorDevuelto.isValid());
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, MarcasSinNingunaMarcada) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CheckBoxes = Verdadero;
        d.CampoDevuelto = "  ";
    });
    Aceptar(d);
    EXPECT_EQ(d.CampoDevuelto, "  "); // blanks are not replaced
    EXPECT_EQ(d.Valores->Count(), 0);
    EXPECT_EQ(d.Cantidades->Count(), 0);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, MarcaConElRatonSigueAlOrden) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CheckBoxes = Verdadero;
        d.CampoDevuelto = "codigo";
    });
    // The check box of a row, clicked.
    auto marcar = [&](int fila) {
        const QModelIndex i = d.Modelo()->index(fila, 0);
        const QRect r = Lista()->visualRect(i);
        QTest::mouseClick(Lista()->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 10, r.center().y()));
    };
    marcar(0);
    marcar(3);
    ASSERT_TRUE(d.Modelo()->Marcada(0));
    ASSERT_TRUE(d.Modelo()->Marcada(3));
    ClicEnEncabezado(d, 0); // descending: Delta comes before Alfa
    Aceptar(d);
    EXPECT_EQ(d.Valores->Lista(), (QStringList{"D01", "A01"}));
}

TEST_F(Resultados, UnaFilaDosNombresYCampoVacio) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CmpsDevueltos = Nombres({"NOMBRE", "RUBRO"});
        d.UsaCantidades = Verdadero;
    });
    Teclear(0, "be");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Insert);
    Aceptar(d);
    EXPECT_EQ(d.Valores->Lista(), (QStringList{"Bermejo", "Pinturas"}));
    EXPECT_EQ(d.ValorDevuelto, QVariant(QString("Pinturas")));
    EXPECT_EQ(d.Cantidades->Lista(), QStringList{"1.0"});
}

TEST_F(Resultados, UnaFilaSinNombresNiCampo) {
    auto& d =
        Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CampoDevuelto = " nombre "; });
    d.SeleccionarFila(4);
    Aceptar(d);
    EXPECT_EQ(d.Valores->Count(), 0);
    EXPECT_EQ(d.ValorDevuelto, QVariant(QString("Gamma")));
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CampoDevuelto = "NO_EXISTE";
        d.CmpsDevueltos = Nombres({});
    });
    d_->SeleccionarFila(4);
    Aceptar(*d_);
    EXPECT_EQ(d_->Valores->Count(), 0);
    EXPECT_EQ(d_->ValorDevuelto, QVariant(QString("")));
}

TEST_F(Resultados, UnaFilaSinSeleccion) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CmpsDevueltos = Nombres({"NOMBRE"});
        d.CampoDevuelto = "NOMBRE";
        d.UsaCantidades = Verdadero;
    });
    Lista()->clearSelection();
    Aceptar(d);
    EXPECT_EQ(d.Valores->Count(), 0);
    EXPECT_EQ(d.Cantidades->Count(), 0);
    EXPECT_FALSE(d.ValorDevuelto.isValid());
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, CerrarLaVentanaNoEsCancelar) {
    auto& d =
        Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CheckBoxes = Verdadero; });
    d.Modelo()->Marcar(0, true);
    d.close();
    ASSERT_TRUE(d.Valores);
    EXPECT_EQ(d.Valores->Count(), 0);
    EXPECT_EQ(d.Cantidades->Count(), 0);
    EXPECT_FALSE(d.ValorDevuelto.isValid());
    EXPECT_EQ(d.Modelo()->rowCount(), 0); // unloaded: the rows are gone
    EXPECT_FALSE(d.isVisible());
}

TEST_F(Resultados, AceptarFallidoYRepetido) {
    auto& d = Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CheckBoxes = Verdadero;
        d.CampoDevuelto = "NO_EXISTE";
    });
    d.Modelo()->Marcar(0, true);
    d.Modelo()->Marcar(2, true);
    Guion().Responder(Respuesta::Omitir); // first read: go on (the working text, still empty, is added)
    Guion().Responder(Respuesta::Anular); // second read: leave, the dialog stays open
    Aceptar(d);
    ASSERT_EQ(Guion().Avisos().size(), 2u);
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "CmdAceptar_Click");
    EXPECT_EQ(Guion().Avisos()[1].procedimiento, "CmdAceptar_Click");
    EXPECT_EQ(d.Valores->Lista(), QStringList{""});
    EXPECT_TRUE(d.isVisible());
    // Retry on the next failure, then a good column: entries follow the first run's.
    d.CampoDevuelto = "CODIGO";
    Aceptar(d);
    EXPECT_EQ(d.Valores->Lista(), (QStringList{"", "A01", "B01"}));
    EXPECT_FALSE(d.isVisible());
}
