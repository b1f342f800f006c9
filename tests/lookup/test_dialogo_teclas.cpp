// The list's keys: quantities, check marks, type-ahead, Enter, Escape, double-click, edits.
#include "apoyo/dialogo.h"

#include "lookup/lib_modeloconsulta.h"
#include "suite/traducciones.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

class Teclas : public PruebaDialogo {
protected:
    void SetUp() override {
        PruebaDialogo::SetUp();
        BaseArticulos();
    }
    void AbrirConCantidades(Bandera usa = Verdadero) {
        Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS", [usa](Lib_FrmCons2& d) {
            d.UsaCantidades = usa;
            d.CheckBoxes = Verdadero;
        });
        d_->SeleccionarFila(1); // Bermejo
        Lista()->setFocus();
    }
    void Tecla(Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(Lista(), k, m); }
    QString Cantidad() const { return d_->Modelo()->Texto(d_->FilaSeleccionada(), 3); }
    bool Marcada() const { return d_->Modelo()->Marcada(d_->FilaSeleccionada()); }
};

TEST_F(Teclas, InsertarYSuprimirPasoAPaso) {
    AbrirConCantidades();
    Tecla(Qt::Key_Insert);
    EXPECT_EQ(Cantidad(), "1.0");
    EXPECT_TRUE(Marcada());
    Tecla(Qt::Key_Insert);
    EXPECT_EQ(Cantidad(), "2.0");
    Tecla(Qt::Key_Delete);
    EXPECT_EQ(Cantidad(), "1.0");
    EXPECT_TRUE(Marcada()); // Delete never unchecks above zero, nor checks
    Tecla(Qt::Key_Delete);
    EXPECT_EQ(Cantidad(), "0.00");
    EXPECT_FALSE(Marcada());
    // Delete on an empty cell.
    d_->SeleccionarFila(2);
    Tecla(Qt::Key_Delete);
    EXPECT_EQ(Cantidad(), "0.00");
    EXPECT_FALSE(Marcada());
    // Delete on 2.0 of an unchecked row leaves it unchecked.
    Tecla(Qt::Key_Insert);
    Tecla(Qt::Key_Insert);
    d_->Modelo()->Marcar(2, false);
    Tecla(Qt::Key_Delete);
    EXPECT_EQ(Cantidad(), "1.0");
    EXPECT_FALSE(Marcada());
    // Rounded to one decimal.
    d_->Modelo()->EstablecerTexto(2, 3, "1.26");
    Tecla(Qt::Key_Insert);
    EXPECT_EQ(Cantidad(), "2.3");
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Teclas, SeparadorDecimalComa) {
    ConLocale es(QLocale(QLocale::Spanish, QLocale::Spain));
    AbrirConCantidades();
    d_->Modelo()->EstablecerTexto(1, 3, "2,50");
    Tecla(Qt::Key_Insert);
    EXPECT_EQ(Cantidad(), "3,5");
    Tecla(Qt::Key_Delete);
    EXPECT_EQ(Cantidad(), "2,5");
    Guion().ResponderTexto("2,5");
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Cantidad(), "2,50");
    Guion().ResponderTexto("3");
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Cantidad(), "3,00");
    ASSERT_EQ(Guion().Avisos().size(), 2u);
    EXPECT_EQ(Guion().Avisos()[1].titulo, "Carga de Datos");
    EXPECT_EQ(Guion().Avisos()[1].texto, "Ingrese la Cantidad del Articulo...");
}

TEST_F(Teclas, MayusInsertarPideLaCantidad) {
    AbrirConCantidades();
    Tecla(Qt::Key_Insert);
    Guion().ResponderTexto("7");
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    const auto& a = Guion().Avisos()[0];
    EXPECT_EQ(a.tipo, "entrada");
    EXPECT_EQ(a.texto, "Ingrese la Cantidad del Articulo...");
    EXPECT_EQ(a.titulo, "Carga de Datos");
    EXPECT_EQ(Cantidad(), "7.00");
    EXPECT_TRUE(Marcada());
    // The previous quantity is offered; 2.5 gives 2.50.
    Guion().ResponderTexto("2.5");
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Cantidad(), "2.50");
    // Cancel leaves the quantity and the check mark alone; OK on an empty box is zero.
    d_->Modelo()->Marcar(1, false);
    Guion().ResponderCancelar();
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Cantidad(), "2.50");
    EXPECT_FALSE(Marcada());
    // Zero, or text that is not a number: the reset value; a number and a word: the number.
    for (const auto& [respuesta, cantidad] : {std::pair{"", "0.00"},
                                              {"4 cajas", "4.00"},
                                              {"0", "0.00"},
                                              {"muchos", "0.00"},
                                              {"4 cajas", "4.00"}}) {
        d_->Modelo()->Marcar(1, false);
        Guion().ResponderTexto(respuesta);
        Tecla(Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(Cantidad(), QString::fromUtf8(cantidad)) << respuesta;
        EXPECT_TRUE(Marcada()) << respuesta;
    }
    EXPECT_EQ(Guion().Avisos().size(), 8u);
}

TEST_F(Teclas, OtrasCombinacionesNoHacenNada) {
    AbrirConCantidades();
    Tecla(Qt::Key_Insert, Qt::ControlModifier);
    Tecla(Qt::Key_Delete, Qt::ShiftModifier);
    Tecla(Qt::Key_Insert, Qt::AltModifier);
    EXPECT_EQ(Cantidad(), "");
    EXPECT_FALSE(Marcada());
    EXPECT_TRUE(Guion().Avisos().empty());
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.UsaCantidades = 1; });
    d_->SeleccionarFila(0);
    Lista()->setFocus();
    Tecla(Qt::Key_Insert); // set, but not exactly true
    EXPECT_FALSE(d_->Modelo()->Marcada(0));
    Tecla(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_TRUE(Guion().Avisos().empty());
}

TEST_F(Teclas, CantidadSinFilaSeleccionadaSeReporta) {
    AbrirConCantidades();
    Lista()->clearSelection();
    Guion().Responder(Respuesta::Omitir);
    Guion().Responder(Respuesta::Anular);
    Tecla(Qt::Key_Insert);
    ASSERT_EQ(Guion().Avisos().size(), 2u);
    EXPECT_EQ(Guion().Avisos()[0].procedimiento, "ListView1_KeyDown");
    EXPECT_EQ(Guion().Avisos()[0].numero, 91);
    EXPECT_EQ(Guion().Avisos()[1].procedimiento, "ListView1_KeyDown");
}

TEST_F(Teclas, EscrituraAnticipadaEnLaCajaActiva) {
    Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS");
    Teclear(1, "b");
    EXPECT_EQ(Seleccionado(), "Bermejo");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_0, Qt::ShiftModifier);
    EXPECT_EQ(Caja(1)->currentText(), "b0");
    EXPECT_TRUE(Caja(1)->hasFocus());
    EXPECT_EQ(Seleccionado(), "Bermejo");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_1, Qt::KeypadModifier);
    EXPECT_EQ(Caja(1)->currentText(), "b01");
    EXPECT_EQ(Seleccionado(), "Beta");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Backspace);
    QTest::keyClick(Lista(), Qt::Key_Backspace);
    EXPECT_EQ(Caja(1)->currentText(), "b");
    // Lower-case typing still adds capitals; Space is typed too; F1 only moves the focus;
    // keys without a code do nothing.
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_A);
    EXPECT_EQ(Caja(1)->currentText(), "bA");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Space);
    QTest::keyClick(Lista(), Qt::Key_Asterisk, Qt::KeypadModifier);
    EXPECT_EQ(Caja(1)->currentText(), "bA *");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_F1);
    EXPECT_TRUE(Caja(1)->hasFocus());
    EXPECT_EQ(Caja(1)->currentText(), "bA *");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Comma);
    QTest::keyClick(Lista(), Qt::Key_F15);
    EXPECT_TRUE(Lista()->hasFocus());
    EXPECT_EQ(Caja(1)->currentText(), "bA *");
    // The letter goes into the box that last had the focus: box 2 now.
    Teclear(2, "");
    Caja(2)->setFocus();
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_F);
    EXPECT_EQ(Caja(2)->currentText(), "F");
    EXPECT_EQ(Seleccionado(), "Beta");
}

TEST_F(Teclas, IntroAceptaUnaVezYEscapeCancela) {
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CmpsDevueltos = NuevaColeccion();
        d.CmpsDevueltos->Add("CODIGO");
    });
    d_->SeleccionarFila(0);
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Return);
    ASSERT_TRUE(d_->Valores);
    EXPECT_EQ(d_->Valores->Lista(), QStringList{"A01"});
    EXPECT_FALSE(d_->isVisible());

    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) {
        d.CmpsDevueltos = NuevaColeccion();
        d.CmpsDevueltos->Add("CODIGO");
    });
    d_->SeleccionarFila(1);
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Enter, Qt::KeypadModifier | Qt::ShiftModifier);
    EXPECT_EQ(d_->Valores->Lista(), QStringList{"B02"});

    // Enter in a search box accepts through the default button.
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CampoDevuelto = "CODIGO"; });
    Teclear(0, "ga");
    QTest::keyClick(Caja(0), Qt::Key_Return);
    EXPECT_EQ(d_->ValorDevuelto, QVariant(QString("G01")));
    EXPECT_FALSE(d_->isVisible());

    // Escape in the list or a box cancels.
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS");
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Escape);
    EXPECT_FALSE(d_->Valores);
    EXPECT_FALSE(d_->isVisible());
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS");
    QTest::keyClick(Caja(0), Qt::Key_Escape);
    EXPECT_FALSE(d_->Valores);
    EXPECT_EQ(d_->ValorDevuelto, QVariant(QString("")));
}

TEST_F(Teclas, DobleClicAceptaYNoSeEditaLaFila) {
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CampoDevuelto = "CODIGO"; });
    const QModelIndex i = d_->Modelo()->index(2, 0);
    Lista()->setCurrentIndex(i);
    Lista()->edit(i);
    EXPECT_TRUE(Lista()->viewport()->findChildren<QLineEdit*>().isEmpty());
    EXPECT_EQ(d_->Modelo()->Texto(2, 0), "Beta");
    d_->SeleccionarFila(2);
    const QRect r = Lista()->visualRect(i);
    QTest::mouseDClick(Lista()->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(d_->ValorDevuelto, QVariant(QString("B01")));
    EXPECT_FALSE(d_->isVisible());
}

TEST_F(Teclas, EspacioMarcaLaFilaYLasLetrasVanALaCaja) {
    Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CheckBoxes = Verdadero; });
    Lista()->setFocus();
    Tecla(Qt::Key_Down);
    Tecla(Qt::Key_Space);
    EXPECT_TRUE(d_->Modelo()->Marcada(1));
    EXPECT_TRUE(Lista()->hasFocus());
    Tecla(Qt::Key_Space);
    EXPECT_FALSE(d_->Modelo()->Marcada(1));
    Tecla(Qt::Key_Space);
    Tecla(Qt::Key_G);
    EXPECT_EQ(Caja(0)->currentText(), "G");
    QTest::keyClick(Caja(0), Qt::Key_Return);
    ASSERT_TRUE(d_->Valores);
    EXPECT_EQ(d_->Valores->Lista(), QStringList{"Bermejo"});
}

TEST_F(Teclas, IntroEnUnBotonHaceLoQueHaceElBoton) {
    auto abrir = [this] {
        Abrir("SELECT NOMBRE, CODIGO FROM ARTICULOS", [](Lib_FrmCons2& d) { d.CampoDevuelto = "CODIGO"; });
        return d_->findChild<QPushButton*>("CmdCancelar");
    };
    // Tab goes from the boxes, left to right, to the list and then to the buttons.
    QPushButton* cancelar = abrir();
    QApplication::setActiveWindow(d_.get());
    Caja(0)->setFocus();
    for (QWidget* siguiente : std::initializer_list<QWidget*>{
             Caja(1), Lista(), d_->findChild<QPushButton*>("CmdAceptar"), cancelar}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), siguiente);
    }
    QTest::keyClick(cancelar, Qt::Key_Return);
    EXPECT_FALSE(d_->Valores);
    EXPECT_FALSE(d_->isVisible());
    // Once the focus has moved on, Enter accepts again (the first row, selected on opening).
    cancelar = abrir();
    cancelar->setFocus();
    Caja(0)->setFocus();
    QTest::keyClick(Caja(0), Qt::Key_Return);
    EXPECT_EQ(d_->ValorDevuelto, QVariant(QString("A01")));
}

// Qt's own texts in Spanish once the programs load Qt's catalogue: the quantity box's buttons
// and the search boxes' context menu among them.
TEST(Traducciones, TextosDeQtEnEspanol) {
    ASSERT_TRUE(CargarTraduccionesQt());
    EXPECT_TRUE(CargarTraduccionesQt());
    QDialogButtonBox botones(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(botones.button(QDialogButtonBox::Ok)->text(), "Aceptar");
    EXPECT_EQ(botones.button(QDialogButtonBox::Cancel)->text(), "Cancelar");
    EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Paste"), "&Pegar");
    // Qt's texts as they were, for the other tests.
    std::unique_ptr<QTranslator> cargado(qApp->findChild<QTranslator*>("TraduccionesQt"));
    ASSERT_TRUE(cargado);
    QCoreApplication::removeTranslator(cargado.get());
}
