#pragma once
// The operator of a program with windows: real dialogs (QMessageBox, QInputDialog, QMenu);
// Terminar closes the database and ends the event loop. InstalarInterfazQt makes it the
// process's default.
#include "suite/operador.h"

class OperadorQt : public Operador {
protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override;
    std::optional<QString> entrada(const QString& mensaje, const QString& titulo,
                                   const QString& porDefecto) override;
    int menu(const QStringList& elementos, const QPoint& donde) override;
    void terminar(int codigo) override;
    int conBotones(const QString& texto, const QStringList& botones, int estilo, const QString& titulo,
                   const QString& carpeta) override;
};
