#include "app/desatendido.h"

#include <unistd.h>

namespace {

// The options of the unattended mode into o; returns the arguments that are no option (the
// suite's session line).
QStringList LeerOpciones(const QStringList& argumentos, OpcionesDesatendido& o) {
    // "--nombre VALOR" or "--nombre=VALOR": whether `a` is that option. A missing or blank
    // value is the usage error `falta`.
    const auto conValor = [&](const QString& a, int& i, const QString& nombre, QString& destino,
                              const QString& falta) {
        if (a != nombre && !a.startsWith(nombre + QChar('='))) return false;
        if (a.contains(QChar('=')))
            destino = a.section(QChar('='), 1);
        else if (i + 1 < argumentos.size())
            destino = argumentos.at(++i);
        if (destino.trimmed().isEmpty() && o.error.isEmpty()) o.error = falta;
        return true;
    };
    QStringList resto;
    for (int i = 0; i < argumentos.size(); ++i) {
        const QString& a = argumentos.at(i);
        if (a == QLatin1String("--desatendido"))
            o.desatendido = true;
        else if (a == QLatin1String("--simular"))
            o.simular = true;
        else if (a == QLatin1String("--confirmar"))
            o.confirmar = true;
        else if (conValor(a, i, QStringLiteral("--ejercicio"), o.ejercicio,
                          QStringLiteral("--ejercicio necesita el código del ejercicio")) ||
                 conValor(a, i, QStringLiteral("--restaurar"), o.restaurar,
                          QStringLiteral("--restaurar necesita la ruta del archivo de depuración")) ||
                 conValor(a, i, QStringLiteral("--registro-sentencias"), o.registroSentencias,
                          QStringLiteral("--registro-sentencias necesita la ruta del registro")) ||
                 conValor(a, i, QStringLiteral("--archivo"), o.carpetaArchivo,
                          QStringLiteral("--archivo necesita la carpeta del archivo de depuración")) ||
                 conValor(a, i, QStringLiteral("--listados-de"), o.listadosDe,
                          QStringLiteral("--listados-de necesita la ruta de un archivo de depuración")) ||
                 conValor(a, i, QStringLiteral("--listados"), o.carpetaListados,
                          QStringLiteral("--listados necesita la carpeta de los listados"))) {
            // Its value is taken.
        } else if (a == QLatin1String("--sin-archivo")) {
            o.sinArchivo = true;
        } else if (a == QLatin1String("--compactar")) {
            o.compactar = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            if (o.error.isEmpty()) o.error = QStringLiteral("opción desconocida: %1").arg(a);
        } else
            resto << a;
    }
    return resto;
}

// The options that do not go together, or that a purge needs: the first problem found.
void ComprobarCombinacion(OpcionesDesatendido& o) {
    // Printing an archive's listings, or compacting without a purge, is not a purge.
    if (o.error.isEmpty() && !o.listadosDe.isEmpty()) {
        if (o.simular || o.confirmar || o.compactar || !o.ejercicio.isEmpty() || !o.restaurar.isEmpty())
            o.error = QStringLiteral("--listados-de solo emite los listados de un archivo: no se combina con "
                                     "--ejercicio, --restaurar, --simular, --confirmar ni --compactar");
        return;
    }
    if (o.error.isEmpty() && o.compactar && o.simular)
        o.error = QStringLiteral("--compactar escribe en la base de datos: no se combina con --simular");
    if (o.error.isEmpty() && o.compactar && !o.restaurar.isEmpty())
        o.error = QStringLiteral("--compactar no se combina con --restaurar");
    if (o.error.isEmpty() && o.compactar && o.ejercicio.isEmpty()) return;
    if (o.error.isEmpty()) {
        if (!o.restaurar.isEmpty() && !o.ejercicio.isEmpty())
            o.error = QStringLiteral("--restaurar y --ejercicio no van juntos: el archivo dice su ejercicio");
        else if (!o.restaurar.isEmpty() && !o.simular && !o.confirmar)
            o.error =
                QStringLiteral("una restauración debe pedirse con --confirmar (o --simular para ver qué "
                               "haría sin escribir nada)");
        else if (o.ejercicio.isEmpty() && o.restaurar.isEmpty())
            o.error = QStringLiteral("falta --ejercicio (o --restaurar ARCHIVO)");
        else if (o.sinArchivo && !o.carpetaArchivo.isEmpty())
            o.error = QStringLiteral("--archivo y --sin-archivo no van juntos");
        else if (!o.simular && !o.confirmar)
            o.error =
                QStringLiteral("una depuración desatendida debe pedirse con --confirmar (o --simular para "
                               "ver qué haría sin escribir nada)");
    }
}

} // namespace

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
    const QStringList resto = LeerOpciones(argumentos, o);
    o.linea = resto.join(QChar(' '));
    ComprobarCombinacion(o);
    return o;
}

QString TextoDeUso() {
    return QStringLiteral(
        "Uso:\n"
        "  cribanzas \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --ejercicio N [--simular] [--confirmar]\n"
        "            [--archivo CARPETA | --sin-archivo] [--registro-sentencias RUTA]\n"
        "            [--listados CARPETA] [--compactar] \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --restaurar ARCHIVO [--simular] [--confirmar]\n"
        "            [--registro-sentencias RUTA] \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --compactar \"<línea de la suite>\"\n"
        "  cribanzas --desatendido --listados-de ARCHIVO [--listados CARPETA]\n"
        "  cribanzas --help\n"
        "\n"
        "  --desatendido   depura sin ventana (solo como primer argumento); los mensajes van\n"
        "                  a la salida de errores\n"
        "  --ejercicio N   el ejercicio cerrado a depurar\n"
        "  --restaurar ARCHIVO\n"
        "                  devuelve a la base el ejercicio que guardó el archivo de una\n"
        "                  depuración, en una sola transacción\n"
        "  --simular       no escribe nada: informa qué haría la depuración o la restauración\n"
        "  --confirmar     responde Sí a la confirmación (obligatoria para depurar o restaurar)\n"
        "  --archivo CARPETA\n"
        "                  guarda el archivo de depuración (lo que se elimina, verificado antes\n"
        "                  de eliminarlo) en CARPETA en lugar de la carpeta de datos del usuario\n"
        "  --sin-archivo   no escribe el archivo de depuración (para quien hace una copia de\n"
        "                  resguardo completa de la base)\n"
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
        "Estado de salida: 0 depurado o restaurado (o simulado), 1 ejercicio o archivo rechazado\n"
        "(u otra estación está depurando, o el archivo de depuración no se puede escribir),\n"
        "2 nada que depurar, 3 depuración incompleta o abandonada, o restauración fallida (sin\n"
        "cambios), 4 sin conexión, 5 listados o compactación pedidos solos que no se pudieron\n"
        "hacer, 64 error de uso.\n");
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

Respuesta OperadorDesatendido::mensaje(const QString& texto, int estilo, const QString& titulo) {
    escribir(titulo, texto);
    switch (estilo & 0x7) {
    case 4: // Yes/No: only the confirmation question is asked this way.
    case 3:
        ++preguntas_;
        std::fprintf(salida_, "  -> %s\n", confirmar_ ? "Sí (--confirmar)" : "No");
        return confirmar_ ? Respuesta::Si : Respuesta::No;
    case 2: // Abort, Retry, Ignore: abort, so the purge puts things back.
        std::fprintf(salida_, "  -> Anular\n");
        return Respuesta::Anular;
    case 1:
    case 5:
        return Respuesta::Cancelar;
    default:
        return Respuesta::Aceptar;
    }
}

Respuesta OperadorDesatendido::reporte(const ErrorSistema& error, const QString& procedimiento) {
    QString texto = QStringLiteral("Error %1: %2").arg(error.Numero).arg(error.Descripcion);
    if (!procedimiento.isEmpty()) texto += QStringLiteral(" (%1)").arg(procedimiento);
    escribir(TituloAplicacion(), texto);
    std::fprintf(salida_, "  -> Anular\n");
    return Respuesta::Anular;
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
