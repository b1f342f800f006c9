#include "apoyo/proceso.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>

QProcessEnvironment EntornoSinPantalla() {
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.remove(QStringLiteral("DISPLAY"));
    entorno.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return entorno;
}

Corrida CorrerPrograma(const QString& programa, const QStringList& argumentos,
                       const QProcessEnvironment& entorno, int espera,
                       const std::function<void(QProcess&)>& preparar) {
    QProcess p;
    p.setProcessEnvironment(entorno);
    if (preparar) preparar(p);
    QElapsedTimer reloj;
    reloj.start();
    p.start(programa, argumentos);
    Corrida c;
    c.terminada = p.waitForFinished(espera);
    c.ms = reloj.elapsed();
    if (!c.terminada) {
        ADD_FAILURE() << programa << " " << argumentos.join(' ').left(500) << ": "
                      << (p.error() == QProcess::FailedToStart
                              ? QStringLiteral("did not start")
                              : QStringLiteral("not ended after %1 ms").arg(espera))
                      << " (" << p.errorString() << ")";
        p.kill();
        p.waitForFinished();
    }
    if (c.terminada && p.exitStatus() == QProcess::NormalExit) c.estado = p.exitCode();
    c.salida = QString::fromLocal8Bit(p.readAllStandardOutput());
    c.errores = QString::fromLocal8Bit(p.readAllStandardError());
    return c;
}

QString LineaDeSuite(const QString& ruta, const QString& extra) {
    return QStringLiteral("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;%2")
        .arg(ruta, extra);
}
