#pragma once
// The real programs run as child processes, the way an operator or a script starts them.
#include "apoyo/impresion.h"

#include <functional>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a program did: its exit status and what it printed.
struct Corrida {
    int estado = -1;         // the exit code; -1 when it crashed or was killed
    bool terminada = false;  // it ended within the wait
    QString salida, errores; // standard output and standard error
    qint64 ms = 0;           // from its start to its end
};

// This process's environment without an X display and with Qt's offscreen platform, so that
// no program started from a test can open a window.
QProcessEnvironment EntornoSinPantalla();

// Runs a program to its end. One that has not ended after `espera` ms is killed and fails the
// test. `preparar` sets what else the process needs before it starts (its folder, a step in
// the child).
Corrida CorrerPrograma(const QString& programa, const QStringList& argumentos,
                       const QProcessEnvironment& entorno = EntornoSinPantalla(), int espera = 120000,
                       const std::function<void(QProcess&)>& preparar = {});

// The suite's command line for a SQLite database file, as the programs take it; `extra` is
// appended.
QString LineaDeSuite(const QString& ruta, const QString& extra = {});
