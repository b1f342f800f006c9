// Benchmark of the year's listings. Writes a synthetic purge archive with the archive's writer
// (N journal rows with the demo's columns, entry numbers out of the archive's order; N carried
// stock rows) and prints both listings from it R times.
//
//   bench_listados [--filas N] [--repeticiones R] [--carpeta dir]
//
// Prints per run listados_ms= and the added peak memory, then the medians: listados_ms=,
// paginas_diario=, paginas_existencias=, pico_mb= (the most the resident memory grew while
// printing), and totales_ok=1 when the last page of each PDF (pdftotext) shows the totals the
// bench computed.
#include "purge/archivo.h"
#include "purge/listados.h"

#include <algorithm>
#include <cstdio>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <vector>

namespace {

void linea(const QString& texto) {
    std::printf("%s\n", texto.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void fallar(const QString& texto) {
    std::fprintf(stderr, "bench_listados: %s\n", texto.toLocal8Bit().constData());
    std::exit(1);
}

qint64 memoria(const char* clave) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith(clave)) return l.mid(int(qstrlen(clave))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

void reiniciarPico() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

const char* const kLeyendas[] = {
    "Pago a proveedores según factura",     "Cobranza de clientes – cuenta corriente",
    "Amortización del ejercicio",           "Devengamiento de sueldos y cargas sociales",
    "Compra de mercadería en depósito",     "Ajuste por diferencia de cambio",
    "Depósito bancario en cuenta en pesos", "Retención de ingresos brutos año",
};

// The archive, with the totals the listings must show (in cents and ten-thousandths).
struct Sintetico {
    qint64 debeCentavos = 0, cantidadDiezmilesimos = 0;
};

Sintetico escribirArchivo(const QString& ruta, int filas) {
    Sintetico s;
    auto e = EscritorArchivo::Crear(ruta, {{"programa", "bench"},
                                           {"servidor", ""},
                                           {"base", "/datos/conta.db"},
                                           {"ejercicio", "2022"},
                                           {"fecha_desde", "01/01/2022"},
                                           {"fecha_hasta", "31/12/2022"},
                                           {"fecha_corte", "31/12/2022"},
                                           {"operador", "José Muñoz"},
                                           {"equipo", "ADMINISTRACIÓN"},
                                           {"inicio", "2025-01-31T02:10:07-03:00"},
                                           {"archivo_anterior", ""}});
    e->AbrirTabla(kTablaAsientos, "MV_ASIENTOS", "IdAsiento",
                  {{"IdAsiento", "integer"},
                   {"PERIODO", "varchar(10)"},
                   {"NROASIENTO", "int"},
                   {"FECHA", "DATE"},
                   {"CUENTA", "varchar(20)"},
                   {"DEBE", "numeric(18,2)"},
                   {"HABER", "numeric(18,2)"},
                   {"LEYENDA", "varchar(60)"}});
    for (int i = 0; i < filas; ++i) {
        // Two rows per entry, balanced; entries written in a shuffled order.
        const int asiento = int((qint64(i / 2) * 7919) % (filas / 2 + 1)) + 1;
        const qint64 centavos = qint64((quint64(i / 2) * 2654435761u) % 9999999) + 1;
        const QDate fecha = QDate(2022, 1, 1).addDays(asiento % 365);
        const QVariant fila[] = {qlonglong(i + 1),
                                 QStringLiteral("2022"),
                                 qlonglong(asiento),
                                 fecha.toString(Qt::ISODate),
                                 QStringLiteral("1.1.%1.%2").arg(asiento % 97).arg(i % 13),
                                 i % 2 == 0 ? QVariant(double(centavos) / 100) : QVariant(0.0),
                                 i % 2 == 1 ? QVariant(double(centavos) / 100) : QVariant(0.0),
                                 QString::fromUtf8(kLeyendas[asiento % 8]) +
                                     QStringLiteral(" %1").arg(asiento)};
        if (i % 2 == 0) s.debeCentavos += centavos;
        e->Agregar(fila);
    }
    e->Verificar();
    e->AbrirTabla(kTablaSaldoInicial, "V_MV_STOCK", "IdMovimiento",
                  {{"IdMovimiento", "integer"},
                   {"TC", "varchar(4)"},
                   {"IDCOMPROBANTE", "varchar(13)"},
                   {"SECUENCIA", "int"},
                   {"FECHA", "DATETIME"},
                   {"IDARTICULO", "varchar(20)"},
                   {"DESCRIPCION", "varchar(60)"},
                   {"IDUNIDAD", "varchar(6)"},
                   {"CANTIDAD", "numeric(18,4)"},
                   {"CantidadUD", "numeric(18,4)"},
                   {"IdDeposito", "int"},
                   {"IdPosicion", "varchar(10)"},
                   {"NroSerie", "varchar(30)"},
                   {"NroLote", "varchar(30)"},
                   {"Anulado", "bit"},
                   {"ControladoPor", "varchar(30)"}});
    quint32 azar = 12345;
    for (int i = 0; i < filas; ++i) {
        azar = azar * 1664525u + 1013904223u;
        const qint64 diezmilesimos = qint64(azar % 100000000) - 1000000;
        s.cantidadDiezmilesimos += diezmilesimos;
        const QVariant fila[] = {
            qlonglong(2000000 + i),
            QStringLiteral("SI"),
            QStringLiteral("0000000000042"),
            qlonglong(i + 1),
            QStringLiteral("2022-12-31 00:00:00"),
            QStringLiteral("ART%1").arg(i / 3, 6, 10, QChar('0')),
            QStringLiteral("Artículo de depósito número %1 – presentación estándar").arg(i / 3),
            QStringLiteral("UN"),
            double(diezmilesimos) / 10000,
            QVariant(),
            qlonglong(i % 3 + 1),
            QVariant(),
            QVariant(),
            QVariant(),
            qlonglong(0),
            QStringLiteral("Depuracion")};
        e->Agregar(fila);
    }
    e->Verificar();
    return s;
}

// "1234567" cents as the listing writes them: "12.345,67".
QString espanol(qint64 valor, int decimales) {
    const bool negativo = valor < 0;
    QString cifras = QString::number(negativo ? -valor : valor).rightJustified(decimales + 1, QChar('0'));
    QString enteros = cifras.left(cifras.size() - decimales);
    for (qsizetype i = enteros.size() - 3; i > 0; i -= 3)
        enteros.insert(i, QChar('.'));
    return (negativo ? QStringLiteral("-") : QString()) + enteros + QChar(',') + cifras.right(decimales);
}

QString ultimaPagina(const QString& pdf, int pagina) {
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) return {};
    QProcess p;
    p.start(pdftotext, {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(pagina),
                        QStringLiteral("-l"), QString::number(pagina), pdf, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int filas = 100000, repeticiones = 3;
    QString carpeta;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size()) fallar(QStringLiteral("falta el valor de %1").arg(a));
        bool ok = true;
        if (a == QLatin1String("--filas"))
            filas = args[++i].toInt(&ok);
        else if (a == QLatin1String("--repeticiones"))
            repeticiones = args[++i].toInt(&ok);
        else if (a == QLatin1String("--carpeta"))
            carpeta = args[++i];
        else
            fallar(QStringLiteral("opción desconocida: %1").arg(a));
        if (!ok || filas < 2 || repeticiones < 1) fallar(QStringLiteral("valor no válido para %1").arg(a));
    }
    QTemporaryDir temporal;
    if (carpeta.isEmpty()) carpeta = temporal.path();
    const QString ruta =
        QDir(carpeta).filePath(QStringLiteral("depuracion-conta-2022-20250131-021007.sqlite"));
    QFile::remove(ruta);
    QElapsedTimer reloj;
    reloj.start();
    const Sintetico s = escribirArchivo(ruta, filas);
    linea(QStringLiteral("archivo_ms=%1 filas=%2").arg(reloj.elapsed()).arg(filas));

    std::vector<qint64> tiempos, picos;
    std::vector<ListadoEmitido> hechos;
    for (int r = 0; r < repeticiones; ++r) {
        const qint64 antes = memoria("VmRSS:");
        reiniciarPico();
        reloj.restart();
        try {
            hechos = EmitirListados(ruta, {.carpeta = carpeta, .verificarArchivo = false});
        } catch (const ErrorSistema& e) {
            fallar(e.Descripcion);
        }
        tiempos.push_back(reloj.elapsed());
        picos.push_back(memoria("VmHWM:") - antes);
        linea(QStringLiteral("corrida=%1 listados_ms=%2 pico_mb=%3")
                  .arg(r + 1)
                  .arg(tiempos.back())
                  .arg(double(picos.back()) / 1024, 0, 'f', 1));
    }
    std::sort(tiempos.begin(), tiempos.end());
    if (hechos.size() != 2) fallar(QStringLiteral("se esperaban dos listados"));
    const QString diario = ultimaPagina(hechos[0].ruta, hechos[0].paginas);
    const QString existencias = ultimaPagina(hechos[1].ruta, hechos[1].paginas);
    const QString filasTexto = espanol(qint64(filas) * 100, 2).chopped(3);
    const bool totalesOk = diario.contains(QStringLiteral("Totales: %1 renglones").arg(filasTexto)) &&
                           diario.count(espanol(s.debeCentavos, 2)) == 2 &&
                           diario.contains(QStringLiteral("Página %1 de %1").arg(hechos[0].paginas)) &&
                           existencias.contains(espanol(s.cantidadDiezmilesimos, 4)) &&
                           existencias.contains(QStringLiteral("Página %1 de %1").arg(hechos[1].paginas));
    linea(QStringLiteral("listados_ms=%1").arg(tiempos[tiempos.size() / 2]));
    linea(QStringLiteral("paginas_diario=%1 paginas_existencias=%2")
              .arg(hechos[0].paginas)
              .arg(hechos[1].paginas));
    linea(QStringLiteral("pico_mb=%1")
              .arg(double(*std::max_element(picos.begin(), picos.end())) / 1024, 0, 'f', 1));
    linea(QStringLiteral("totales_ok=%1").arg(totalesOk ? 1 : 0));
    if (!totalesOk) {
        std::fprintf(stderr, "esperados: debe=%s cantidad=%s\n",
                     espanol(s.debeCentavos, 2).toUtf8().constData(),
                     espanol(s.cantidadDiezmilesimos, 4).toUtf8().constData());
        std::fprintf(stderr, "%s\n%s\n", diario.right(1500).toUtf8().constData(),
                     existencias.right(1500).toUtf8().constData());
    }
    return totalesOk ? 0 : 1;
}
