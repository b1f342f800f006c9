// The values the dialog hands back on accept, cancel and close.
#include "test_dialogo_apoyo.h"

#include "lib_modeloconsulta.h"

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
    d.CmdAceptar_Click();
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
