// The confirm button: the count, the validation, the question and the ways it stops short.
#include "apoyo/codigos.h"
#include "apoyo/purga.h"
#include "purge/depuracion.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
class Confirmacion : public PruebaPurga {
protected:
    // Shows the window with the focus on "&Aceptar", as the operator sees it.
    void Mostrar() {
        if (!frm) Abrir();
        frm->show();
        QApplication::setActiveWindow(frm.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
        frm->CmdAceptar->setFocus();
    }
    bool FocoEnElEjercicio() const {
        QWidget* f = QApplication::focusWidget();
        return f == frm->txtfields || frm->txtfields->isAncestorOf(f);
    }
};
} // namespace

TEST_F(Confirmacion, SinCodigoNoLeeNada) {
    Depurar("   ");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(UltimoAviso().texto, "Debe informar el numero de ejercicio a depurar");
    EXPECT_EQ(UltimoAviso().estilo, 0);
    EXPECT_EQ(UltimoAviso().titulo, "Cribanzas");
    EXPECT_TRUE(sentencias.isEmpty());
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::SinCodigo);
}

TEST_F(Confirmacion, PreguntaConLaCantidadDeAsientos) {
    Sql({"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1234) "
         "INSERT INTO MV_ASIENTOS (PERIODO, NROASIENTO) SELECT '2021', i FROM n"});
    Depurar(" 2021 ");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    const QString texto = UltimoAviso().texto;
    // The count first, the advice, the question last; between them, the archive the purge would
    // write, in the user's data folder. Without an archive, the same text without that paragraph.
    EXPECT_TRUE(texto.startsWith("Se eliminarán físicamente los registros correspondientes al ejercicio "
                                 "seleccionado (1234 registros)\r\r"))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains("copia de resguardo") &&
                texto.contains("Emitir los listados correspondientes."));
    EXPECT_TRUE(texto.trimmed().endsWith("¿Realmente desea ejecutar este proceso?"));
    const auto archivo =
        QRegularExpression("\rLo que se elimina se guardará antes en el archivo de depuración:\r" +
                           QRegularExpression::escape(Ruta("datos")) +
                           "/cribanzas/archivos/depuracion-conta-2021-\\d{8}-\\d{6}\\.sqlite\r\r")
            .match(texto);
    ASSERT_TRUE(archivo.hasMatch()) << texto.toStdString();
    EXPECT_EQ(Depuracion::TextoPregunta(1234),
              QString(texto).remove(archivo.capturedStart() + 1, archivo.capturedLength() - 1));
    EXPECT_EQ(UltimoAviso().estilo, 68);
    EXPECT_EQ(UltimoAviso().titulo, "Aviso al operador");

    // Answer No (the scripted default): nothing changes and the window stays.
    EXPECT_EQ(Valor("SELECT COUNT(*) FROM MV_ASIENTOS WHERE PERIODO = '2021'").toInt(), 1234);
    EXPECT_TRUE(frm->ImgBasura->isVisibleTo(frm.get()));
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_TRUE(SentenciasCon("DELETE").isEmpty());
    EXPECT_TRUE(SentenciasCon("UPDATE").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Ruta("datos") + "/cribanzas")) << "no archive without a purge";
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::NoConfirmado);
}

TEST_F(Confirmacion, CuentaAntesDeValidar) {
    Mostrar();
    Depurar("2023"); // listed through CIERRE only: refused
    ASSERT_GE(sentencias.size(), 2);
    EXPECT_TRUE(sentencias[0].contains("count(PERIODO) as Registros FROM MV_ASIENTOS"))
        << sentencias[0].toStdString();
    EXPECT_TRUE(sentencias[1].contains("MV_EJERCICIOS")) << sentencias[1].toStdString();
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(UltimoAviso().texto, "El Ejercicio a depurar debe estar cerrado");
    EXPECT_EQ(UltimoAviso().estilo, 16);
    EXPECT_TRUE(FocoEnElEjercicio());
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE PERIODO = '2023'"), 2);
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);

    Guion().Limpiar();
    sentencias.clear();
    Depurar("1999");
    ASSERT_FALSE(sentencias.isEmpty());
    EXPECT_TRUE(sentencias[0].contains("count(PERIODO)"));
    EXPECT_EQ(UltimoAviso().texto, "Ejercicio inexistente!!!");
    EXPECT_EQ(frm->lblDesc->text(), "...");
}

TEST_F(Confirmacion, CodigoQueNoEsNumeroNoLlegaANingunaSentencia) {
    Mostrar();
    for (const QString& codigo : kCodigosHostiles) {
        SCOPED_TRACE(codigo.toStdString());
        Guion().Limpiar();
        sentencias.clear();
        frm->CmdAceptar->setFocus();
        Depurar(codigo);
        EXPECT_TRUE(sentencias.isEmpty()) << sentencias.join(" | ").toStdString();
        ASSERT_EQ(Guion().Avisos().size(), 1u);
        EXPECT_EQ(UltimoAviso().texto, "Ejercicio inexistente!!!");
        EXPECT_TRUE(FocoEnElEjercicio());
        EXPECT_FALSE(Guion().Terminado());
    }
    EXPECT_EQ(Contar("MV_ASIENTOS"), 5);
}

TEST_F(Confirmacion, EjercicioAbiertoConCerradoNuloSeRechaza) {
    // A fresh year row has Cerrado Null: only a CIERRE mark closes it, as in the year list.
    Sql({"INSERT INTO MV_EJERCICIOS VALUES (2025, 'Ejercicio 2025', '2025-01-01', '2025-12-31', NULL, 0)",
         "INSERT INTO MV_EJERCICIOS VALUES (2026, 'Ejercicio 2026', '2026-01-01', '2026-12-31', NULL, NULL)",
         "INSERT INTO MV_ASIENTOS (PERIODO, NROASIENTO) VALUES ('2025', 1), ('2026', 1)"});
    for (const QString codigo : {"2025", "2026"}) {
        SCOPED_TRACE(codigo.toStdString());
        Guion().Limpiar();
        Depurar(codigo);
        ASSERT_EQ(Guion().Avisos().size(), 1u);
        EXPECT_EQ(UltimoAviso().texto, "El Ejercicio a depurar debe estar cerrado");
        EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::Rechazado);
        EXPECT_EQ(frm->lblDesc->text(), "Ejercicio " + codigo);
    }
    EXPECT_TRUE(SentenciasCon("DELETE").isEmpty());
    EXPECT_EQ(Contar("MV_ASIENTOS WHERE PERIODO IN ('2025', '2026')"), 2);
}

TEST_F(Confirmacion, EjercicioSinAsientos) {
    Sql({InsertarMov({.fecha = "2021-05-01", .articulo = "A1", .cantidad = 3})});
    Depurar("2021");
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_EQ(UltimoAviso().texto,
              "No se han encontrado datos para depurar, el ejercicio ya ha sido depurado!!!!");
    EXPECT_EQ(UltimoAviso().estilo, 64);
    EXPECT_EQ(UltimoAviso().titulo, "Cribanzas");
    EXPECT_FALSE(frm->ImgBasura->isVisibleTo(frm.get()));
    EXPECT_TRUE(SentenciasCon("V_MV_STOCK").isEmpty()) << "the stock purge does not run";
    EXPECT_TRUE(avance.empty());
    EXPECT_EQ(Contar("V_MV_STOCK"), 1);
    EXPECT_FALSE(Guion().Terminado());
    EXPECT_EQ(frm->UltimoDesenlace, FrmCrb::Desenlace::SinDatos);
}

TEST(TextosDePurga, NumeroDeComprobanteSiguiente) {
    EXPECT_EQ(Depuracion::SiguienteComprobante(QVariant()), "000100000001X");
    EXPECT_EQ(Depuracion::SiguienteComprobante(QVariant(QMetaType(QMetaType::QString))), "000100000001X");
    EXPECT_EQ(Depuracion::SiguienteComprobante("000300000041A"), "000300000042A");
    EXPECT_EQ(Depuracion::SiguienteComprobante("000199999998B"), "000199999999B");
    EXPECT_EQ(Depuracion::SiguienteComprobante("0003000041"), "000300000042")
        << "parts past the end are empty";
    EXPECT_EQ(Depuracion::SiguienteComprobante("0003 0 0 041Q"), "000300000042Q") << "blanks are skipped";
    EXPECT_EQ(Depuracion::SiguienteComprobante("0003ABCDEFGHZ"), "000300000001Z") << "no number reads as 0";
    EXPECT_EQ(Depuracion::SiguienteComprobante(""), "00000001");
    EXPECT_EQ(Depuracion::SiguienteComprobante("0001-0000000X"), "000100000001X") << "minus zero is zero";
    // A ninth digit or a minus sign would make a 14-character number.
    for (const char* maximo : {"000399999999Z", "0001-0000005X", "0001-0000001X", "0001 -9999999X"}) {
        try {
            Depuracion::SiguienteComprobante(maximo);
            ADD_FAILURE() << maximo << " gave a next number";
        } catch (const ErrorSistema& e) {
            EXPECT_EQ(e.Numero, Errores::Desbordamiento);
            EXPECT_TRUE(e.Descripcion.contains(maximo));
        }
    }
}

TEST(TextosDePurga, CodigoDeEjercicio) {
    for (const char* bueno : {"2022", " 2022 ", "0", "2147483647"})
        EXPECT_TRUE(Depuracion::EsCodigoEjercicio(bueno)) << bueno;
    for (const QString malo : {"", " "})
        EXPECT_FALSE(Depuracion::EsCodigoEjercicio(malo)) << malo.toStdString();
    for (const QString& malo : kCodigosHostiles)
        EXPECT_FALSE(Depuracion::EsCodigoEjercicio(malo)) << malo.toStdString();
}

TEST(TextosDePurga, EjercicioCerrado) {
    const QVariant nulo;
    EXPECT_TRUE(Depuracion::EstaCerrado(1, 0));
    EXPECT_TRUE(Depuracion::EstaCerrado(-1, nulo));
    EXPECT_TRUE(Depuracion::EstaCerrado(true, false));
    EXPECT_FALSE(Depuracion::EstaCerrado(0, 1)) << "Cerrado decides when it has a value";
    EXPECT_TRUE(Depuracion::EstaCerrado(nulo, 1));
    EXPECT_TRUE(Depuracion::EstaCerrado(nulo, true));
    EXPECT_FALSE(Depuracion::EstaCerrado(nulo, 0));
    EXPECT_FALSE(Depuracion::EstaCerrado(nulo, nulo));
    for (const QVariant& raro : {QVariant("sí"), QVariant(QString())})
        EXPECT_THROW(Depuracion::EstaCerrado(nulo, raro), ErrorSistema);
}
