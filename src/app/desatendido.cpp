#include "app/desatendido.h"

#include <unistd.h>

OpcionesDesatendido AnalizarArgumentos(const QStringList& argumentos) {
    OpcionesDesatendido o;
    const auto ayuda = [](const QString& a) {
        return a == QLatin1String("--help") || a == QLatin1String("-h");
    };
    const bool desatendido = !argumentos.isEmpty() && argumentos.first() == QLatin1String("--desatendido");
    if ((argumentos.size() == 1 && ayuda(argumentos.first())) ||
        (desatendido && argumentos.size() > 1 && ayuda(argumentos.at(1)))) {
        o.ayuda = true;
        return o;
    }
    // In window mode the whole argument text is the suite's session line: a password may well
    // start with "--", or hold "--desatendido" once the shell split it at its blanks.
    if (!desatendido) {
        o.linea = argumentos.join(QChar(' '));
        return o;
    }
    QStringList resto;
    for (int i = 0; i < argumentos.size(); ++i) {
        const QString& a = argumentos.at(i);
        if (a == QLatin1String("--desatendido"))
            o.desatendido = true;
        else if (a == QLatin1String("--simular"))
            o.simular = true;
        else if (a == QLatin1String("--confirmar"))
            o.confirmar = true;
        else if (a == QLatin1String("--ejercicio") || a.startsWith(QLatin1String("--ejercicio="))) {
            if (a.contains(QChar('=')))
                o.ejercicio = a.section(QChar('='), 1);
            else if (i + 1 < argumentos.size())
                o.ejercicio = argumentos.at(++i);
            else
                o.error = QStringLiteral("falta el valor de --ejercicio");
            if (o.ejercicio.trimmed().isEmpty() && o.error.isEmpty())
                o.error = QStringLiteral("--ejercicio necesita el código del ejercicio");
        } else if (a == QLatin1String("--registro-sentencias") ||
                   a.startsWith(QLatin1String("--registro-sentencias="))) {
            if (a.contains(QChar('=')))
                o.registroSentencias = a.section(QChar('='), 1);
            else if (i + 1 < argumentos.size())
                o.registroSentencias = argumentos.at(++i);
            if (o.registroSentencias.trimmed().isEmpty() && o.error.isEmpty())
                o.error = QStringLiteral("--registro-sentencias necesita la ruta del registro");
        } else if (a == QLatin1String("--compactar")) {
            o.compactar = true;
        } else if (a == QLatin1String("--listados-de") || a.startsWith(QLatin1String("--listados-de=")) ||
                   a == QLatin1String("--listados") || a.startsWith(QLatin1String("--listados="))) {
            const bool de = a.startsWith(QLatin1String("--listados-de"));
            QString& valor = de ? o.listadosDe : o.carpetaListados;
            if (a.contains(QChar('=')))
                valor = a.section(QChar('='), 1);
            else if (i + 1 < argumentos.size())
                valor = argumentos.at(++i);
            if (valor.trimmed().isEmpty() && o.error.isEmpty())
                o.error = de ? QStringLiteral("--listados-de necesita la ruta de un archivo de depuración")
                             : QStringLiteral("--listados necesita la carpeta de los listados");
        } else if (a.startsWith(QLatin1String("--"))) {
            if (o.error.isEmpty()) o.error = QStringLiteral("opción desconocida: %1").arg(a);
        } else
            resto << a;
    }
    o.linea = resto.join(QChar(' '));
    // Printing an archive's listings, or compacting without a purge, is not a purge.
    if (o.error.isEmpty() && !o.listadosDe.isEmpty()) {
        if (o.simular || o.confirmar || o.compactar || !o.ejercicio.isEmpty())
            o.error = QStringLiteral("--listados-de solo emite los listados de un archivo: no se combina con "
                                     "--ejercicio, --simular, --confirmar ni --compactar");
        return o;
    }
    if (o.error.isEmpty() && o.compactar && o.simular)
        o.error = QStringLiteral("--compactar escribe en la base de datos: no se combina con --simular");
    if (o.error.isEmpty() && o.compactar && o.ejercicio.isEmpty()) return o;
    if (o.error.isEmpty()) {
        if (o.ejercicio.isEmpty())
            o.error = QStringLiteral("falta --ejercicio");
        else if (!o.simular && !o.confirmar)
            o.error =
                QStringLiteral("una depuración desatendida debe pedirse con --confirmar (o --simular para "
                               "ver qué haría sin escribir nada)");
    }
    return o;
}

QString TextoDeUso() {
    return QStringLiteral(
        "Uso:\n"
        "  cribanzas \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --ejercicio N [--simular] [--confirmar]\n"
        "            [--registro-sentencias RUTA] [--listados CARPETA] [--compactar]\n"
        "            \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --compactar \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --listados-de ARCHIVO [--listados CARPETA]\n"
        "  cribanzas --help\n"
        "\n"
        "  --desatendido   depura sin ventana (solo como primer argumento); los mensajes van\n"
        "                  a la salida de errores\n"
        "  --ejercicio N   el ejercicio cerrado a depurar\n"
        "  --simular       no escribe nada: informa qué haría la depuración\n"
        "  --confirmar     responde Sí a la confirmación (obligatoria para depurar)\n"
        "  --registro-sentencias RUTA\n"
        "                  agrega a RUTA cada sentencia enviada a la base, una por línea:\n"
        "                  hora, sentencia y resultado separados por tabuladores\n"
        "  --listados CARPETA\n"
        "                  escribe los listados en CARPETA (si no, junto al archivo)\n"
        "  --compactar     compacta la base SQLite después de depurar (sin --ejercicio, solo\n"
        "                  compacta); en SQL Server informa el espacio, sin reducir archivos\n"
        "  --listados-de ARCHIVO\n"
        "                  emite los listados en PDF de un archivo de depuración, sin\n"
        "                  conectarse a la base, y escribe sus rutas en la salida estándar\n"
        "\n"
        "Estado de salida: 0 depurado (o simulado), 1 ejercicio rechazado (u otra estación\n"
        "está depurando), 2 nada que depurar,\n"
        "3 depuración incompleta o abandonada, 4 sin conexión, 5 listados o compactación\n"
        "pedidos solos que no se pudieron hacer, 64 error de uso.\n");
}

void OperadorDesatendido::escribir(const QString& titulo, const QString& texto) {
    QString t = texto;
    t.replace(QChar('\r'), QChar('\n'));
    QStringList lineas;
    for (const QString& l : t.split(QChar('\n')))
        lineas << l.trimmed();
    while (!lineas.isEmpty() && lineas.last().isEmpty())
        lineas.removeLast();
    std::fprintf(salida_, "[%s] %s\n", titulo.toLocal8Bit().constData(),
                 lineas.join(QStringLiteral("\n  ")).toLocal8Bit().constData());
    std::fflush(salida_);
}

int OperadorDesatendido::mensaje(const QString& texto, int estilo, const QString& titulo) {
    escribir(titulo, texto);
    switch (estilo & 0x7) {
    case 4: // Yes/No: only the confirmation question is asked this way.
    case 3:
        ++preguntas_;
        std::fprintf(salida_, "  -> %s\n", confirmar_ ? "Sí (--confirmar)" : "No");
        return confirmar_ ? 6 : 7;
    case 2: // Abort, Retry, Ignore: abort, so the purge puts things back.
        std::fprintf(salida_, "  -> Anular\n");
        return 3;
    case 1:
    case 5:
        return 2;
    default:
        return 1;
    }
}

int OperadorDesatendido::reporte(const ErrorSistema& error, const QString& procedimiento) {
    QString texto = QStringLiteral("Error %1: %2").arg(error.Numero).arg(error.Descripcion);
    if (!procedimiento.isEmpty()) texto += QStringLiteral(" (%1)").arg(procedimiento);
    escribir(TituloAplicacion(), texto);
    std::fprintf(salida_, "  -> Anular\n");
    return 3;
}

std::optional<QString> OperadorDesatendido::entrada(const QString& m, const QString& t, const QString&) {
    escribir(t, m);
    return std::nullopt; // Cancel
}

int OperadorDesatendido::menu(const QStringList&, const QPoint&) {
    return -1;
}

void OperadorDesatendido::terminar(int) {}

AvanceTerminal::AvanceTerminal(FILE* salida) : salida_(salida), terminal_(isatty(fileno(salida)) == 1) {}

void AvanceTerminal::Iniciar(const QString& titulo) {
    omitida_.clear();
    std::fprintf(salida_, "%s\n", titulo.toLocal8Bit().constData());
    ultimaLinea1_.clear();
    reloj_.start();
}

void AvanceTerminal::Mostrar(const QString& linea1, const QString& linea2, const QString& valor) {
    QString texto = linea1;
    if (!linea2.isEmpty()) texto += QStringLiteral(" | ") + linea2;
    if (!valor.isEmpty()) texto += QStringLiteral(" | ") + valor;
    if (terminal_) {
        // One line rewritten in place, at most every 100 ms unless the first line changes.
        if (linea1 == ultimaLinea1_ && reloj_.isValid() && reloj_.elapsed() < 100) return;
        texto = texto.left(150);
        std::fprintf(salida_, "\r\033[K%s", texto.toLocal8Bit().constData());
        enLinea_ = true;
    } else {
        if (linea1 == ultimaLinea1_ && reloj_.isValid() && reloj_.elapsed() < 2000) {
            omitida_ = texto;
            return;
        }
        // A log keeps each phase's last figure: the line the throttle left out goes first.
        if (!omitida_.isEmpty() && linea1 != ultimaLinea1_)
            std::fprintf(salida_, "%s\n", omitida_.toLocal8Bit().constData());
        omitida_.clear();
        std::fprintf(salida_, "%s\n", texto.toLocal8Bit().constData());
    }
    ultimaLinea1_ = linea1;
    reloj_.restart();
    std::fflush(salida_);
}

void AvanceTerminal::Cerrar() {
    if (!omitida_.isEmpty()) std::fprintf(salida_, "%s\n", omitida_.toLocal8Bit().constData());
    omitida_.clear();
    if (enLinea_) std::fprintf(salida_, "\n");
    enLinea_ = false;
    std::fflush(salida_);
}
