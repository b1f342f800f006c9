// The purge window: layout, the closed-year list, the year validation, leaving.
#include "apoyo/codigos.h"
#include "apoyo/sistema.h"
#include "purge/frmcrb.h"
#include "startup/modglobal.h"
#include "suite/globales.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QtTest/QtTest>

namespace {
class Ventana : public PruebaInicio {
protected:
    std::unique_ptr<FrmCrb> Abrir() {
        EstablecerLineaComandos(LineaDeSuite(base));
        auto frm = std::make_unique<FrmCrb>();
        frm->Form_Load();
        return frm;
    }
    // Validates a code typed in the year box and returns the texts shown.
    QStringList Validar(FrmCrb& frm, const QString& codigo) {
        Guion().Limpiar();
        frm.txtfields->setEditText(codigo);
        frm.ValidarEjercicio(frm.txtfields);
        return Textos();
    }
};

} // namespace

TEST_F(Ventana, DisposicionYTextos) {
    auto frm = Abrir();
    EXPECT_EQ(frm->windowTitle(), "Cribanzas");
    EXPECT_EQ(frm->size(), QSize(385, 173));
    EXPECT_EQ(frm->minimumSize(), frm->maximumSize()) << "fixed size";
    EXPECT_FALSE(frm->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(frm->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frm->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(frm->CmdAceptar->text(), "&Aceptar");
    EXPECT_EQ(frm->CmdCAncelar->text(), "&Cancelar");
    EXPECT_EQ(frm->lbln->text(), "Ingrese  Ejercicio a Depurar");
    EXPECT_TRUE(frm->lbln->font().bold());
    EXPECT_FALSE(frm->lblDesc->font().bold());
    EXPECT_TRUE(frm->Label1->text().startsWith("Este proceso eliminará físicamente"));
    EXPECT_TRUE(frm->Label1->text().endsWith("del ejercicio en cuestion..."));
    // Every control inside the window and clear of the others (the two pictures take turns), the
    // buttons side by side with room for their text, the year box right of its caption.
    const QRect ventana(QPoint(0, 0), frm->size());
    const QList<QWidget*> controles = {frm->txtfields, frm->CmdAceptar, frm->CmdCAncelar, frm->Label1,
                                       frm->ImgBasura, frm->lblDesc,    frm->lbln};
    for (QWidget* a : controles + QList<QWidget*>{frm->ImgTachito}) {
        EXPECT_TRUE(ventana.contains(a->geometry())) << a->objectName().toStdString();
        for (QWidget* b : controles)
            EXPECT_TRUE(a == b || (a == frm->ImgTachito && b == frm->ImgBasura) ||
                        !a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " over " << b->objectName().toStdString();
    }
    EXPECT_EQ(frm->CmdAceptar->y(), frm->CmdCAncelar->y());
    EXPECT_LT(frm->CmdAceptar->geometry().right(), frm->CmdCAncelar->x());
    for (QPushButton* b : {frm->CmdAceptar, frm->CmdCAncelar})
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text().remove('&')), b->width());
    EXPECT_LT(frm->lbln->geometry().right(), frm->txtfields->x());
    EXPECT_EQ(frm->ImgBasura->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(frm->ImgTachito->pixmap().size(), QSize(32, 32));
    EXPECT_TRUE(frm->ImgBasura->isVisibleTo(frm.get()));
    for (const char* nombre :
         {"txtfields", "CmdAceptar", "CmdCAncelar", "Label1", "ImgBasura", "ImgTachito", "lblDesc", "lbln"})
        EXPECT_NE(frm->findChild<QWidget*>(nombre), nullptr) << nombre;
}

TEST_F(Ventana, OrdenDeTabulacionYFoco) {
    auto frm = Abrir();
    frm->show();
    QApplication::setActiveWindow(frm.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    EXPECT_EQ(QApplication::focusWidget(), frm->CmdAceptar);
    EXPECT_EQ(frm->CmdAceptar->nextInFocusChain(), frm->CmdCAncelar);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), frm->CmdCAncelar);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(frm->txtfields->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == frm->txtfields);
}

TEST_F(Ventana, ListaLosEjerciciosCerradosEnElOrdenDeLaConsulta) {
    auto frm = Abrir();
    QStringList anios;
    for (int i = 0; i < frm->txtfields->count(); ++i)
        anios << frm->txtfields->itemText(i);
    EXPECT_EQ(anios, QStringList({"2021", "2022", "2023", "2024"}));
    EXPECT_EQ(frm->txtfields->currentText(), "");
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Ventana, SinEjerciciosCerrados) {
    EjecutarSql(base, {"UPDATE MV_EJERCICIOS SET Cerrado = 0, CIERRE = 0"});
    auto frm = Abrir();
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    const auto& aviso = Guion().Avisos()[0];
    EXPECT_EQ(aviso.texto,
              "Atención, No se ha detectado ningun ejercicio cerrado... No se puede realizar la depuracion "
              "de ejercicios abiertos");
    EXPECT_EQ(aviso.estilo, 0);
    EXPECT_EQ(aviso.titulo, "Cribanzas");
    EXPECT_EQ(frm->txtfields->count(), 0);
    EXPECT_FALSE(Guion().Terminado());
}

TEST_F(Ventana, ValidacionDelEjercicio) {
    auto frm = Abrir();
    frm->lblDesc->setText("previo");
    EXPECT_EQ(Validar(*frm, "   "), QStringList{"Debe ingresar código de ejercicio"});
    EXPECT_TRUE(frm->HayError);
    EXPECT_EQ(frm->lblDesc->text(), "previo");
    EXPECT_EQ(Guion().Avisos()[0].estilo, 16);
    EXPECT_EQ(Guion().Avisos()[0].titulo, "Aviso al operador");

    EXPECT_EQ(Validar(*frm, "1999"), QStringList{"Ejercicio inexistente!!!"});
    EXPECT_EQ(frm->lblDesc->text(), "...");

    EXPECT_EQ(Validar(*frm, "  2022 "), QStringList{});
    EXPECT_FALSE(frm->HayError);
    EXPECT_EQ(frm->lblDesc->text(), "Ejercicio 2022");

    EXPECT_EQ(Validar(*frm, "2023"), QStringList{"El Ejercicio a depurar debe estar cerrado"});
    EXPECT_TRUE(frm->HayError);
    EXPECT_EQ(frm->lblDesc->text(), "Ejercicio 2023 (cierre)");

    EXPECT_EQ(Validar(*frm, "2024"), QStringList{}) << "a Null Cerrado is accepted";
    EXPECT_FALSE(frm->HayError);
}

TEST_F(Ventana, CodigosQueNoSonNumerosNoLleganALaBase) {
    auto frm = Abrir();
    QStringList sentencias;
    gSesion().AntesDeEjecutar = [&](const QString& sql) { sentencias << sql; };
    for (const QString& codigo : kCodigosHostiles) {
        EXPECT_EQ(Validar(*frm, codigo), QStringList{"Ejercicio inexistente!!!"}) << codigo.toStdString();
        EXPECT_EQ(frm->lblDesc->text(), "...");
    }
    EXPECT_TRUE(sentencias.isEmpty()) << sentencias.join("\n").toStdString();
    gSesion().AntesDeEjecutar = nullptr;
}

TEST_F(Ventana, EnterEnLaCajaValidaYEnAceptarConfirma) {
    auto frm = Abrir();
    frm->show();
    Guion().Limpiar();
    QTest::keyClick(frm->CmdAceptar, Qt::Key_Return);
    EXPECT_EQ(Textos(), QStringList{"Debe informar el numero de ejercicio a depurar"});
    Guion().Limpiar();
    frm->txtfields->setEditText("1999");
    QTest::keyClick(frm->txtfields->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Textos(), QStringList{"Ejercicio inexistente!!!"});
    EXPECT_EQ(frm->txtfields->count(), 4) << "Enter does not add the text to the list";
    Guion().Limpiar();
    QTest::keyClick(frm->txtfields->lineEdit(), Qt::Key_A);
    EXPECT_TRUE(Textos().isEmpty()) << "other keys do not validate";
    // Validated as typed: "2" is not completed into the first listed year (completion needs focus).
    QApplication::setActiveWindow(frm.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    frm->txtfields->lineEdit()->setFocus();
    frm->txtfields->setEditText(QString());
    QTest::keyClicks(frm->txtfields->lineEdit(), "2");
    QTest::keyClick(frm->txtfields->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(frm->txtfields->currentText(), "2");
    EXPECT_EQ(Textos(), QStringList{"Ejercicio inexistente!!!"});
}

TEST_F(Ventana, FalloDentroDeLaValidacionPorEnter) {
    auto frm = Abrir();
    frm->show();
    EjecutarSql(base, {"DROP TABLE MV_EJERCICIOS"});
    Guion().Limpiar();
    frm->txtfields->setEditText("2022");
    QTest::keyClick(frm->txtfields->lineEdit(), Qt::Key_Return);
    ASSERT_FALSE(Guion().Avisos().empty());
    EXPECT_EQ(Guion().Avisos()[0].tipo, "error");
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "txtfields_KeyDown");
}

// A click or Enter on Cancel, or closing the window: each ends the program with 0.
class SalidaDeLaVentana : public Ventana, public ::testing::WithParamInterface<std::string> {};

TEST_P(SalidaDeLaVentana, TerminaConCero) {
    auto frm = Abrir();
    frm->show();
    if (GetParam() == "clic")
        QTest::mouseClick(frm->CmdCAncelar, Qt::LeftButton);
    else if (GetParam() == "Enter")
        QTest::keyClick(frm->CmdCAncelar, Qt::Key_Enter);
    else
        frm->close();
    ASSERT_TRUE(Guion().Terminado());
    EXPECT_EQ(*Guion().CodigoFin(), 0);
    EXPECT_FALSE(frm->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Formas, SalidaDeLaVentana, ::testing::Values("clic", "Enter", "cierre"),
                         [](const auto& i) { return i.param; });
