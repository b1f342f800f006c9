// Benchmark of the purge archive against the set-based purge. Builds a demo database with N
// stock movements (or reuses one) and, R times in the same run:
//   (a) applies the set-based stock purge to a copy (one INSERT ... SELECT ... GROUP BY and one
//       DELETE in one transaction), as bench_purga does;
//   (b) archives, through a session inside a write transaction, the rows a purge of the year
//       deletes: the year's MV_ASIENTOS rows and the V_MV_STOCK rows up to the cut-off; read
//       once, written once, read back and verified once.
// Then copies the same rows into a plain SQLite file with the source's own schema, to compare
// sizes.
//
//   bench_archivo [--movimientos N] [--ejercicio AAAA] [--carpeta dir] [--base ruta.db]
//                 [--semilla S] [--repeticiones R] [--sin-purga] [--odbc]
//
// --odbc reads the rows through a SQLite3 ODBC data source on the same file (the suite's route);
// Prints one figure per line, medians last: archivo_ms= (the archive's whole work),
// purga_ms= (the set-based purge), ratio_archivo_purga=, archivo_mb=, copia_mb=,
// ratio_tamano= (archive / copy) and pico_mb= (peak resident memory the archive added).
#include "demodb.h"
#include "purge/archivo.h"
#include "purge/archivo_origen.h"
#include "purge/depuracion.h"
#include "suite/sesion.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <vector>

namespace {
struct Opciones {
    int movimientos = 1000000;
    int ejercicio = 2023;
    QString carpeta;
    QString base;
    quint64 semilla = 1;
    int repeticiones = 3;
    bool sinPurga = false; // only the archive (to profile it)
    bool odbc = false;     // the archive reads through a SQLite3 ODBC data source
};

void linea(const QString& texto) {
    std::printf("%s\n", texto.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void fallar(const QString& texto) {
    std::fprintf(stderr, "bench_archivo: %s\n", texto.toLocal8Bit().constData());
    std::exit(1);
}

bool leerOpciones(const QStringList& args, Opciones& o) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto valor = [&]() -> QString {
            if (i + 1 >= args.size()) fallar(QStringLiteral("falta el valor de %1").arg(a));
            return args[++i];
        };
        bool ok = true;
        if (a == QLatin1String("--movimientos"))
            o.movimientos = valor().toInt(&ok);
        else if (a == QLatin1String("--ejercicio"))
            o.ejercicio = valor().toInt(&ok);
        else if (a == QLatin1String("--carpeta"))
            o.carpeta = valor();
        else if (a == QLatin1String("--base"))
            o.base = valor();
        else if (a == QLatin1String("--semilla"))
            o.semilla = valor().toULongLong(&ok);
        else if (a == QLatin1String("--sin-purga"))
            o.sinPurga = true;
        else if (a == QLatin1String("--odbc"))
            o.odbc = true;
        else if (a == QLatin1String("--repeticiones"))
            o.repeticiones = valor().toInt(&ok);
        else
            return false;
        if (!ok) fallar(QStringLiteral("valor no válido para %1").arg(a));
    }
    return o.movimientos > 0 && o.repeticiones > 0;
}

// Resident memory from /proc/self/status, in kB: the current and the peak.
qint64 memoria(const char* clave) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith(clave))
            return l.mid(qsizetype(qstrlen(clave))).trimmed().split(' ').first().toLongLong();
    return -1;
}
// CPU time of the whole process (every thread), in ms.
qint64 cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The peak starts again from the current size.
void reiniciarPico() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

void sql(QSqlDatabase& db, const QString& texto) {
    QSqlQuery q(db);
    if (!q.exec(texto)) fallar(texto + QStringLiteral(": ") + q.lastError().text());
}

qint64 cpuPurga = 0;

// The set-based stock purge (bench_purga's floor), in ms.
qint64 purgaPorConjuntos(const QString& ruta, const QDate& corte) {
    const QString nombre = QStringLiteral("bench-conjunto");
    qint64 ms = 0;
    const qint64 cpu = cpuMs();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre);
        db.setDatabaseName(ruta);
        if (!db.open()) fallar(db.lastError().text());
        const QString fecha = QStringLiteral("'%1'").arg(corte.toString(QStringLiteral("yyyy-MM-dd")));
        QElapsedTimer reloj;
        reloj.start();
        sql(db, QStringLiteral("BEGIN"));
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI'")))
            fallar(q.lastError().text());
        const QVariant maximo = q.next() ? q.value(0) : QVariant();
        q.finish();
        const QString numero = QStringLiteral("'%1'").arg(Depuracion::SiguienteComprobante(maximo));
        sql(db, QStringLiteral(
                    "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, "
                    "IDUNIDAD, CANTIDAD, ControladoPor, IdDeposito, IdPosicion, NroSerie, NroLote, "
                    "CantidadUD) SELECT 'SI', %1, ROW_NUMBER() OVER (), %2, IDArticulo, Descripcion, "
                    "IDUnidad, SUM(Cantidad), 'Depuracion', IdDeposito, IdPosicion, NroSerie, NroLote, "
                    "SUM(CantidadUD) FROM V_MV_Stock WHERE FECHA <= %2 AND COALESCE(Anulado,0) = 0 "
                    "GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, NroSerie, NroLote, "
                    "Descripcion")
                    .arg(numero, fecha));
        sql(db, QStringLiteral("DELETE FROM V_MV_STOCK WHERE FECHA <= %1 AND NOT (COALESCE(TC,'') = 'SI' AND "
                               "COALESCE(IDCOMPROBANTE,'') = %2)")
                    .arg(fecha, numero));
        sql(db, QStringLiteral("COMMIT"));
        ms = reloj.elapsed();
        db.close();
    }
    QSqlDatabase::removeDatabase(nombre);
    cpuPurga = cpuMs() - cpu;
    return ms;
}

struct TiemposArchivo {
    qint64 total = 0, asientos = 0, movimientos = 0, verificacion = 0;
    qint64 filasAsientos = 0, filasMovimientos = 0, bytes = 0, picoKb = 0, cpu = 0;
};

TiemposArchivo archivar(const QString& base, const QString& ruta, int ejercicio, const QDate& corte) {
    TiemposArchivo t;
    Sesion sesion;
    sesion.setDbName(base);
    sesion.Conectar();
    if (!sesion.Conectado()) fallar(QStringLiteral("no se pudo abrir %1").arg(base));
    QFile::remove(ruta);
    const qint64 antes = memoria("VmRSS:");
    reiniciarPico();
    QElapsedTimer reloj;
    reloj.start();
    const qint64 cpu = cpuMs();
    try {
        // As the purge will: inside the transaction that deletes the rows.
        sesion.IniciarTransaccion();
        auto escritor =
            EscritorArchivo::Crear(ruta, {{QStringLiteral("base"), base},
                                          {QStringLiteral("ejercicio"), QString::number(ejercicio)}});
        t.filasAsientos = ArchivarTabla(sesion, *escritor, QString::fromLatin1(kTablaAsientos),
                                        DescribirTabla(sesion, QStringLiteral("MV_ASIENTOS")),
                                        QStringLiteral("CONVERT(INT,PERIODO) = %1").arg(ejercicio))
                              .filas;
        t.asientos = reloj.elapsed();
        t.filasMovimientos = ArchivarTabla(sesion, *escritor, QString::fromLatin1(kTablaMovimientos),
                                           DescribirTabla(sesion, QStringLiteral("V_MV_STOCK")),
                                           QStringLiteral("FECHA <= CONVERT(DATETIME,'%1',112)")
                                               .arg(corte.toString(QStringLiteral("yyyyMMdd"))))
                                 .filas;
        t.movimientos = reloj.elapsed() - t.asientos;
        escritor->Verificar();
        t.total = reloj.elapsed();
        t.verificacion = t.total - t.asientos - t.movimientos;
        t.cpu = cpuMs() - cpu;
        sesion.DeshacerTransaccion();
    } catch (const ErrorSistema& e) {
        fallar(e.Descripcion);
    }
    t.picoKb = memoria("VmHWM:") - antes;
    t.bytes = QFileInfo(ruta).size();
    sesion.Desconectar();
    return t;
}

// The same rows in a plain SQLite file with the source's own tables.
qint64 copiaSqlite(const QString& base, const QString& ruta, int ejercicio, const QDate& corte) {
    QFile::remove(ruta);
    const QString nombre = QStringLiteral("bench-copia");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre);
        db.setDatabaseName(ruta);
        if (!db.open()) fallar(db.lastError().text());
        sql(db, QStringLiteral("ATTACH DATABASE '%1' AS origen")
                    .arg(QString(base).replace(QChar('\''), QLatin1String("''"))));
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT sql FROM origen.sqlite_master WHERE type = 'table' AND name IN "
                                   "('MV_ASIENTOS', 'V_MV_STOCK')")))
            fallar(q.lastError().text());
        QStringList tablas;
        while (q.next())
            tablas << q.value(0).toString();
        q.finish();
        for (const QString& t : tablas)
            sql(db, t);
        sql(db, QStringLiteral(
                    "INSERT INTO main.MV_ASIENTOS SELECT * FROM origen.MV_ASIENTOS WHERE CAST(PERIODO AS "
                    "INTEGER) = %1")
                    .arg(ejercicio));
        sql(db,
            QStringLiteral("INSERT INTO main.V_MV_STOCK SELECT * FROM origen.V_MV_STOCK WHERE FECHA <= '%1'")
                .arg(corte.toString(QStringLiteral("yyyy-MM-dd"))));
        sql(db, QStringLiteral("DETACH DATABASE origen"));
        db.close();
    }
    QSqlDatabase::removeDatabase(nombre);
    return QFileInfo(ruta).size();
}

qint64 mediana(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString mb(qint64 bytes) {
    return QString::number(double(bytes) / (1 << 20), 'f', 1);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Opciones o;
    if (!leerOpciones(QCoreApplication::arguments(), o)) {
        std::fprintf(
            stderr,
            "uso: bench_archivo [--movimientos N] [--ejercicio AAAA] [--carpeta dir] [--base ruta.db] "
            "[--semilla S] [--repeticiones R] [--sin-purga] [--odbc]\n");
        return 64;
    }
    QTemporaryDir temporal;
    const QString carpeta = o.carpeta.isEmpty() ? temporal.path() : o.carpeta;
    if (!QDir().mkpath(carpeta)) fallar(QStringLiteral("no se puede crear %1").arg(carpeta));
    auto ruta = [&](const char* nombre) { return QDir(carpeta).filePath(QString::fromLatin1(nombre)); };
    const QString origen = o.base.isEmpty() ? ruta("bench_origen.db") : o.base;
    const QDate corte(o.ejercicio, 12, 31);

    if (!QFileInfo::exists(origen)) {
        demodb::OpcionesDemo demo;
        demo.semilla = o.semilla;
        demo.movimientos = o.movimientos;
        demo.gruposObjetivo = std::max(1, o.movimientos / 10);
        demo.asientos = std::max(2000, o.movimientos / 20);
        demo.filasConsulta = std::max(200, std::min(20000, o.movimientos / 50));
        QString error;
        demodb::ResumenDemo resumen;
        if (!demodb::CrearBaseDemo(origen, demo, &error, &resumen)) fallar(error);
        linea(QStringLiteral("generacion_ms=%1").arg(resumen.milisegundos));
    }

    // The data source for --odbc: a user DSN in a file of the run's own.
    QString sesionBase = origen;
    if (o.odbc) {
        QFile ini(ruta("odbc.ini"));
        if (!ini.open(QIODevice::WriteOnly)) fallar(ini.fileName());
        ini.write(QStringLiteral("[BenchArchivo]\nDriver=SQLite3\nDatabase=%1\nTimeout=3000\nStepAPI=1\n")
                      .arg(QFileInfo(origen).absoluteFilePath())
                      .toUtf8());
        ini.close();
        qputenv("ODBCINI", QFile::encodeName(ini.fileName()));
        sesionBase = QStringLiteral("BenchArchivo");
    }

    std::vector<qint64> purga, total, asientos, movimientos, verificacion, pico, cpuP, cpuA;
    TiemposArchivo t;
    for (int r = 0; r < o.repeticiones; ++r) {
        if (!o.sinPurga) {
            const QString copia = ruta("bench_purga.db");
            QFile::remove(copia);
            if (!QFile::copy(origen, copia)) fallar(QStringLiteral("no se pudo copiar a %1").arg(copia));
            purga.push_back(purgaPorConjuntos(copia, corte));
            QFile::remove(copia);
        } else
            purga.push_back(0);
        cpuP.push_back(cpuPurga);
        t = archivar(sesionBase, ruta("bench_archivo.sqlite"), o.ejercicio, corte);
        total.push_back(t.total);
        asientos.push_back(t.asientos);
        movimientos.push_back(t.movimientos);
        verificacion.push_back(t.verificacion);
        pico.push_back(t.picoKb);
        cpuA.push_back(t.cpu);
        linea(QStringLiteral(
                  "vuelta=%1 purga_ms=%2 archivo_ms=%3 (asientos %4, movimientos %5, verificacion %6) "
                  "pico_mb=%7 cpu_purga_ms=%8 cpu_archivo_ms=%9")
                  .arg(r + 1)
                  .arg(purga.back())
                  .arg(t.total)
                  .arg(t.asientos)
                  .arg(t.movimientos)
                  .arg(t.verificacion)
                  .arg(double(t.picoKb) / 1024, 0, 'f', 1)
                  .arg(cpuPurga)
                  .arg(t.cpu));
    }
    const qint64 copiaBytes = copiaSqlite(origen, ruta("bench_copia.db"), o.ejercicio, corte);
    linea(QStringLiteral("filas_asientos=%1").arg(t.filasAsientos));
    linea(QStringLiteral("filas_movimientos=%1").arg(t.filasMovimientos));
    linea(QStringLiteral("asientos_ms=%1").arg(mediana(asientos)));
    linea(QStringLiteral("movimientos_ms=%1").arg(mediana(movimientos)));
    linea(QStringLiteral("verificacion_ms=%1").arg(mediana(verificacion)));
    linea(QStringLiteral("purga_ms=%1").arg(mediana(purga)));
    linea(QStringLiteral("archivo_ms=%1").arg(mediana(total)));
    linea(QStringLiteral("ratio_archivo_purga=%1")
              .arg(double(mediana(total)) / double(std::max<qint64>(1, mediana(purga))), 0, 'f', 2));
    linea(QStringLiteral("cpu_purga_ms=%1").arg(mediana(cpuP)));
    linea(QStringLiteral("cpu_archivo_ms=%1").arg(mediana(cpuA)));
    linea(QStringLiteral("archivo_mb=%1").arg(mb(t.bytes)));
    linea(QStringLiteral("copia_mb=%1").arg(mb(copiaBytes)));
    linea(QStringLiteral("ratio_tamano=%1")
              .arg(double(t.bytes) / double(std::max<qint64>(1, copiaBytes)), 0, 'f', 2));
    linea(QStringLiteral("pico_mb=%1")
              .arg(double(*std::max_element(pico.begin(), pico.end())) / 1024, 0, 'f', 1));
    if (o.carpeta.isEmpty())
        for (const char* f : {"bench_archivo.sqlite", "bench_copia.db"})
            QFile::remove(ruta(f));
    return 0;
}
