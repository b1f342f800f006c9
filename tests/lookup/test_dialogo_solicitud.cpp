// The dialog inside a request: shown modally by Lib_ClsCons2, one fresh dialog per request.
#include "apoyo/dialogo.h"

#include "lookup/lib_clscons2.h"
#include "lookup/lib_modeloconsulta.h"

#include <QPointer>
#include <QTest>

class Solicitud : public PruebaDialogo {
protected:
    void SetUp() override {
        PruebaDialogo::SetUp();
        BaseArticulos();
    }
    const QString sql_ = QStringLiteral("SELECT NOMBRE, CODIGO FROM ARTICULOS");
};

TEST_F(Solicitud, IntroEnLaListaAceptaUnaSolaVez) {
    Lib_ClsCons2 c;
    c.Checks = Verdadero;
    AlMostrarse([](Lib_FrmCons2& d) {
        d.Modelo()->Marcar(1, true);
        d.SeleccionarFila(1);
        d.Lista()->setFocus();
        QTest::keyClick(d.Lista(), Qt::Key_Return);
    });
    ColeccionRef cmps;
    QString campo;
    c.ConsultaSearch(sql_, cmps, QString(), campo);
    ASSERT_TRUE(c.Valores);
    EXPECT_EQ(c.Valores->Lista(), QStringList{"Bermejo"});
    EXPECT_FALSE(c.ValorDevuelto.isValid());
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Solicitud, CadaSolicitudTieneSuDialogo) {
    Lib_ClsCons2 c;
    QPointer<Lib_FrmCons2> primero;
    AlMostrarse([&](Lib_FrmCons2& d) {
        primero = &d;
        d.CajaBusqueda(0)->setFocus();
        QTest::keyClicks(d.CajaBusqueda(0), "ga");
        d.Modelo()->Marcar(0, true);
        Aceptar(d);
    });
    ColeccionRef cmps = NuevaColeccion();
    cmps->Add("CODIGO");
    QString campo;
    c.ConsultaSearch(sql_, cmps, QString(), campo);
    ASSERT_TRUE(c.Valores);
    EXPECT_EQ(c.Valores->Lista(), QStringList{"G01"});
    EXPECT_TRUE(primero.isNull()); // released after the request

    bool visto = false;
    AlMostrarse([&](Lib_FrmCons2& d) {
        visto = true;
        EXPECT_NE(&d, primero.data());
        EXPECT_EQ(d.CajaBusqueda(0)->currentText(), "");
        EXPECT_EQ(d.FilaSeleccionada(), 0);
        for (int i = 0; i < d.Modelo()->rowCount(); ++i)
            EXPECT_FALSE(d.Modelo()->Marcada(i));
        QTest::keyClick(d.CajaBusqueda(0), Qt::Key_Escape);
    });
    c.ConsultaSearch(sql_, cmps, QString(), campo);
    EXPECT_TRUE(visto);
    EXPECT_FALSE(c.Valores);
    EXPECT_EQ(c.ValorDevuelto, QVariant(QString("")));
}

TEST_F(Solicitud, ClaveInicialYCantidades) {
    Lib_ClsCons2 c;
    c.UsaCantidades = Verdadero;
    AlMostrarse([](Lib_FrmCons2& d) {
        EXPECT_EQ(d.CajaBusqueda(0)->currentText(), "del");
        d.Lista()->setFocus();
        QTest::keyClick(d.Lista(), Qt::Key_Insert);
        QTest::keyClick(d.Lista(), Qt::Key_Return);
    });
    ColeccionRef cmps = NuevaColeccion();
    cmps->Add("NOMBRE");
    QString campo;
    c.ConsultaSearch(sql_, cmps, QStringLiteral("del"), campo);
    ASSERT_TRUE(c.Valores);
    EXPECT_EQ(c.Valores->Lista(), QStringList{"Delta"});
    ASSERT_TRUE(c.Cantidades);
    EXPECT_EQ(c.Cantidades->Lista(), QStringList{"1.0"});
}
