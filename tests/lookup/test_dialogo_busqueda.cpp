// Searching: typing in the boxes, header-click sorting, the drop-down fill and moving to the list.
#include "apoyo/dialogo.h"

#include "lookup/lib_modeloconsulta.h"

#include <QHeaderView>
#include <QTest>

class Busqueda : public PruebaDialogo {
protected:
    void SetUp() override {
        PruebaDialogo::SetUp();
        BaseArticulos();
        Abrir("SELECT NOMBRE, CODIGO, RUBRO FROM ARTICULOS");
    }
    void ClicEncabezado(int columna) {
        auto* cabecera = Lista()->horizontalHeader();
        QTest::mouseClick(
            cabecera->viewport(), Qt::LeftButton, {},
            QPoint(cabecera->sectionViewportPosition(columna) + cabecera->sectionSize(columna) / 2,
                   cabecera->height() / 2));
    }
};

TEST_F(Busqueda, LaCargaOrdenaPorLaPrimeraColumna) {
    EXPECT_EQ(Columna(), (QStringList{"Alfa", "Bermejo", "Beta", "Delta", "Gamma"}));
    EXPECT_EQ(d_->SortKey(), 0);
    EXPECT_EQ(d_->SortOrder(), 0);
    // The first row is selected from the start: Down in the list goes on to the second.
    EXPECT_EQ(Seleccionado(), "Alfa");
    EXPECT_TRUE(Caja(0)->hasFocus());
    Lista()->setFocus();
    QTest::keyClick(Lista(), Qt::Key_Down);
    EXPECT_EQ(Seleccionado(), "Bermejo");
}

TEST_F(Busqueda, TecleoEnLaColumnaOrdenada) {
    Teclear(0, "be");
    EXPECT_EQ(Seleccionado(), "Bermejo");
    Teclear(0, "t");
    EXPECT_EQ(Seleccionado(), "Beta");
    Teclear(0, "x"); // "betx": no row, the selection stays
    EXPECT_EQ(Seleccionado(), "Beta");
    LimpiarCaja(0);
    EXPECT_EQ(Seleccionado(), "Alfa");
    Teclear(0, "  al");
    EXPECT_EQ(Seleccionado(), "Alfa");
    LimpiarCaja(0);
    Teclear(0, "d");
    Teclear(0, "   ");
    EXPECT_EQ(Seleccionado(), "Delta");
}

TEST_F(Busqueda, FilasEnOrdenAlfaBetaBermejo) {
    // Sorted by CODIGO ascending (two clicks), the first column reads Alfa, Beta, Bermejo...
    ClicEncabezado(1);
    ClicEncabezado(1);
    ASSERT_EQ(Columna(), (QStringList{"Alfa", "Beta", "Bermejo", "Delta", "Gamma"}));
    Teclear(0, "be");
    EXPECT_EQ(Seleccionado(), "Beta");
    Teclear(0, "r");
    EXPECT_EQ(Seleccionado(), "Bermejo");
    Teclear(0, "x");
    EXPECT_EQ(Seleccionado(), "Bermejo");
}

TEST_F(Busqueda, OtraColumnaYOrdenDescendente) {
    Teclear(2, "pin");
    EXPECT_EQ(Seleccionado(), "Bermejo");
    EXPECT_EQ(d_->BusquedaActiva(), 2);
    ClicEncabezado(0); // first click: descending
    EXPECT_EQ(Columna(), (QStringList{"Gamma", "Delta", "Beta", "Bermejo", "Alfa"}));
    EXPECT_EQ(Seleccionado(), "Bermejo"); // the selection stays with its row
    LimpiarCaja(2);
    Teclear(2, "pin");
    EXPECT_EQ(Seleccionado(), "Gamma");
    Teclear(0, "be");
    EXPECT_EQ(Seleccionado(), "Beta");
}

TEST_F(Busqueda, CadaClicInvierteElOrden) {
    ClicEncabezado(2);
    EXPECT_EQ(d_->SortKey(), 2);
    EXPECT_EQ(d_->SortOrder(), 1);
    EXPECT_EQ(Columna(2), (QStringList{"Pinturas", "Pinturas", "Limpieza", "Limpieza", "Ferretería"}));
    ClicEncabezado(0);
    EXPECT_EQ(d_->SortKey(), 0);
    EXPECT_EQ(d_->SortOrder(), 0);
    EXPECT_EQ(Columna(), (QStringList{"Alfa", "Bermejo", "Beta", "Delta", "Gamma"}));
    ClicEncabezado(0);
    EXPECT_EQ(d_->SortOrder(), 1);
    EXPECT_EQ(Columna(), (QStringList{"Gamma", "Delta", "Beta", "Bermejo", "Alfa"}));
}

TEST_F(Busqueda, F5LlenaLaListaDesplegable) {
    Teclear(2, "li");
    QTest::keyClick(Caja(2), Qt::Key_F5);
    EXPECT_EQ(Caja(2)->count(), 0);
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(Guion().Avisos()[0].tipo, "menu");
    EXPECT_EQ(Guion().Avisos()[0].elementos, (QStringList{"Llenar Con Posibles Valores", "-", "Cancelar"}));
    EXPECT_EQ(d_->OpcionMenu(), Lib_FrmCons2::Menu::Ninguna);

    Guion().ResponderMenu(0);
    QTest::keyClick(Caja(2), Qt::Key_F5);
    EXPECT_EQ(d_->OpcionMenu(), Lib_FrmCons2::Menu::LlenarConValores);
    QStringList entradas;
    for (int i = 0; i < Caja(2)->count(); ++i)
        entradas << Caja(2)->itemText(i);
    EXPECT_EQ(entradas, (QStringList{"Limpieza", "Pinturas", "Ferretería", "Limpieza", "Pinturas"}));
    EXPECT_EQ(Caja(2)->currentText(), "li"); // the text is not changed
    EXPECT_EQ(Seleccionado(), "Alfa");

    // Choosing an entry searches for it.
    Caja(2)->setCurrentIndex(2);
    Q_EMIT Caja(2)->activated(2);
    EXPECT_EQ(Seleccionado(), "Beta");

    // "Cancelar", or no choice, leaves the entries as they were.
    ClicEncabezado(0);
    Guion().ResponderMenu(2);
    QTest::keyClick(Caja(2), Qt::Key_F5);
    QTest::keyClick(Caja(2), Qt::Key_F5);
    entradas.clear();
    for (int i = 0; i < Caja(2)->count(); ++i)
        entradas << Caja(2)->itemText(i);
    EXPECT_EQ(entradas, (QStringList{"Limpieza", "Pinturas", "Ferretería", "Limpieza", "Pinturas"}));
    EXPECT_EQ(d_->OpcionMenu(), Lib_FrmCons2::Menu::Ninguna);
}

TEST_F(Busqueda, NavegacionPasaALaListaSinCambiarLaSeleccion) {
    Teclear(0, "de");
    ASSERT_EQ(Seleccionado(), "Delta");
    for (auto tecla : {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_PageUp}) {
        Caja(0)->setFocus();
        QTest::keyClick(Caja(0), tecla);
        EXPECT_TRUE(Lista()->hasFocus()) << tecla;
        EXPECT_EQ(Seleccionado(), "Delta") << tecla;
        EXPECT_EQ(Caja(0)->currentText(), "de");
    }
    // In the list itself Down moves the selection as usual.
    QTest::keyClick(Lista(), Qt::Key_Down);
    EXPECT_EQ(Seleccionado(), "Gamma");
}

TEST_F(Busqueda, OperacionesPublicas) {
    long clave = 0;
    QString vacio;
    EXPECT_EQ(d_->Busqueda(clave, vacio), 1);
    long rubro = 2;
    QString fer = " FER";
    EXPECT_EQ(d_->Busqueda(rubro, fer), 3);
    long negativa = -4;
    QString gam = "gam";
    EXPECT_EQ(d_->Busqueda(negativa, gam), 5);
    QString codigo = "  codigo ";
    QString ninguna = "PRECIO";
    QString cantidad = "**Cantidad**";
    EXPECT_EQ(d_->IndiceColumna(codigo), 2);
    EXPECT_EQ(d_->IndiceColumna(ninguna), 0);
    EXPECT_EQ(d_->IndiceColumna(cantidad), 0);
    d_->Descargar();
    EXPECT_EQ(d_->Busqueda(clave, vacio), 0);
}

// On a list searched in slices, each key replaces the search of the key before: a burst of
// typing selects only the row of the whole text, and Enter right after it accepts that row.
TEST_F(PruebaDialogo, TecleoRapidoBuscaSoloElTextoEntero) {
    // Rows C0001..C2000; NOMBRE "a…" at row 20, "ab…" at 50, "abc…" at 100 (then every 500).
    Base({"CREATE TABLE T (CODIGO varchar(8), NOMBRE varchar(20))",
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
          "INSERT INTO T SELECT printf('C%04d', i), printf('%s%04d', CASE i % 500 WHEN 100 THEN 'abc' "
          "WHEN 50 THEN 'ab' WHEN 20 THEN 'a' ELSE 'x' END, i) FROM n"});
    auto& d = Abrir("SELECT CODIGO, NOMBRE FROM T", [](Lib_FrmCons2& d) { d.CampoDevuelto = "NOMBRE"; });
    d.BusquedaPorPartes(50, 0); // one slice of 50 rows a turn of the event loop
    std::vector<int> seleccionadas;
    QObject::connect(Lista()->selectionModel(), &QItemSelectionModel::currentRowChanged,
                     [&](const QModelIndex& i) { seleccionadas.push_back(i.row()); });

    Teclear(1, "a");
    EXPECT_TRUE(d.BusquedaPendiente());
    while (d.BusquedaPendiente())
        QCoreApplication::processEvents();
    EXPECT_EQ(seleccionadas, std::vector<int>{19});

    // "b" then "c" before the events run: the searches of "ab" never finish.
    seleccionadas.clear();
    Teclear(1, "bc");
    while (d.BusquedaPendiente())
        QCoreApplication::processEvents();
    EXPECT_EQ(seleccionadas, std::vector<int>{99});

    // Enter right after typing: the row of "abc0" (row 100), not of what was found before.
    LimpiarCaja(1);
    Teclear(1, "abc0");
    ASSERT_TRUE(d.BusquedaPendiente());
    QTest::keyClick(Caja(1), Qt::Key_Return);
    EXPECT_FALSE(d.BusquedaPendiente());
    EXPECT_EQ(d.ValorDevuelto.toString(), "abc0100");
    // The public search stays a plain call that answers at once.
    long columna = 1;
    QString texto = "abc06";
    EXPECT_EQ(d.Busqueda(columna, texto), 600);
}
