// GoogleTest main for tests that need a QApplication (offscreen unless told otherwise), with
// Qt's dialogs, progress window and wait cursor as a program with windows has them.
#include "apoyo/datos_por_prueba.h"
#include "suite/interfaz_qt.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLocale>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    InstalarInterfazQt();
    ::testing::InitGoogleTest(&argc, argv);
    DatosPorPrueba::Instalar();
    return RUN_ALL_TESTS();
}
