// GoogleTest main for tests without windows: a QCoreApplication, as the unattended mode runs.
#include "apoyo/datos_por_prueba.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    DatosPorPrueba::Instalar();
    return RUN_ALL_TESTS();
}
