#include "apoyo/dialogo.h"

#include "lookup/lib_modeloconsulta.h"
#include "suite/globales.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

void Aceptar(Lib_FrmCons2& d) {
    auto* boton = d.findChild<QPushButton*>(QStringLiteral("CmdAceptar"));
    ASSERT_NE(boton, nullptr);
    QTest::mouseClick(boton, Qt::LeftButton);
}

void ClicEnEncabezado(Lib_FrmCons2& d, int columna) {
    QHeaderView* h = d.Lista()->horizontalHeader();
    const int x = h->sectionViewportPosition(columna) + h->sectionSize(columna) / 2;
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
}

void PruebaDialogo::SetUp() {
    PruebaSistema::SetUp();
    base_ = Ruta(QStringLiteral("datos.db"));
}

void PruebaDialogo::TearDown() {
    d_.reset();
    PruebaSistema::TearDown();
}

void PruebaDialogo::Base(const QStringList& sentencias) {
    EjecutarSql(base_, sentencias);
    gSesion().setDbName(base_);
    gSesion().Conectar();
    ASSERT_TRUE(gSesion().Conectado());
}

void PruebaDialogo::BaseArticulos() {
    Base({"CREATE TABLE ARTICULOS (NOMBRE varchar(20), CODIGO varchar(8), RUBRO varchar(12))",
          "INSERT INTO ARTICULOS VALUES ('Bermejo', 'B02', 'Pinturas')",
          "INSERT INTO ARTICULOS VALUES ('Alfa', 'A01', 'Limpieza')",
          "INSERT INTO ARTICULOS VALUES ('Beta', 'B01', 'Ferretería')",
          "INSERT INTO ARTICULOS VALUES ('Gamma', 'G01', 'Pinturas')",
          "INSERT INTO ARTICULOS VALUES ('Delta', 'D01', 'Limpieza')"});
}

Lib_FrmCons2& PruebaDialogo::Abrir(const QString& sql, const std::function<void(Lib_FrmCons2&)>& antes) {
    d_ = std::make_unique<Lib_FrmCons2>();
    d_->SQL = sql;
    if (antes) antes(*d_);
    d_->Form_Load();
    d_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(d_.get()));
    QApplication::processEvents();
    return *d_;
}

QStringList PruebaDialogo::Columna(int columna) const {
    QStringList r;
    const auto* m = d_->Modelo();
    for (int i = 0; i < m->rowCount(); ++i)
        r << m->Texto(i, columna);
    return r;
}

QString PruebaDialogo::Seleccionado(int columna) const {
    const int f = d_->FilaSeleccionada();
    return f < 0 ? QStringLiteral("<ninguna>") : d_->Modelo()->Texto(f, columna);
}

void PruebaDialogo::Teclear(int caja, const QString& texto) {
    Caja(caja)->setFocus();
    QTest::keyClicks(Caja(caja), texto);
}

void PruebaDialogo::LimpiarCaja(int caja) {
    Caja(caja)->setFocus();
    Caja(caja)->clearEditText();
}

void AlMostrarse(std::function<void(Lib_FrmCons2&)> mientras) {
    auto* reloj = new QTimer(qApp);
    reloj->setInterval(5);
    auto vueltas = std::make_shared<int>(0);
    QObject::connect(reloj, &QTimer::timeout, [reloj, mientras, vueltas] {
        auto* d = qobject_cast<Lib_FrmCons2*>(QApplication::activeModalWidget());
        if (!d) {
            if (++*vueltas > 1000) reloj->deleteLater(); // never shown: give up
            return;
        }
        reloj->stop();
        reloj->deleteLater();
        mientras(*d);
        if (d->isVisible()) d->hide(); // a script that left it open must not hang the test
    });
    reloj->start();
}
