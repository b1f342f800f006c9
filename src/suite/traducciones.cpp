#include "suite/traducciones.h"

#include <memory>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool CargarTraduccionesQt() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    const QString nombre = QStringLiteral("TraduccionesQt");
    if (app->findChild<QTranslator*>(nombre, Qt::FindDirectChildrenOnly)) return true;
    auto traductor = std::make_unique<QTranslator>();
    if (!traductor->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    traductor->setObjectName(nombre);
    if (!QCoreApplication::installTranslator(traductor.get())) return false;
    traductor.release()->setParent(app); // the application owns it from now on
    return true;
}
