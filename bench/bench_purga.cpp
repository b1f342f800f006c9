// Benchmark of the year purge against its set-based floor. Builds a demo database with N stock
// movements, copies it twice and, in the same run:
//   (a) applies the set-based equivalent to one copy: one INSERT ... SELECT ... GROUP BY and one
//       DELETE, in one transaction;
//   (b) runs the real purge on a second copy through the purge engine the window runs, offscreen,
//       with the operator's answers scripted, without its archive (--sin-archivo);
//   (c) the same on a third copy, writing and verifying its archive as the window does.
// Both copies must end with the same stock balances per group. The pair runs twice: as it is,
// and with a wait of L ms added to every statement sent, as a network round trip costs.
//
//   bench_purga [--movimientos N] [--ejercicio AAAA] [--carpeta dir] [--semilla S]
//               [--latencia-ms L]
//
// Prints one figure per line, "sentencias=N" (the statements the real purge sent) and, last,
// "ratio=R" and "ratio_lan=R" with R = real purge time without the archive / set-based time,
// without and with the latency (L = 0.3 unless given; 0 leaves the second pair out), and
// "ratio_archivo=R" the same with the archive. "archivo_mb" is the archive's size, "pico_mb" the
// peak resident memory of the purge with its archive and "pico_sin_archivo_mb" without.
// "listados_ms" is the time of the two listings printed from that archive, as the purge prints
// them, timed apart from the purge. "copia_mb" is the size of the same rows in an SQLite copy
// (tables declared as the source declares them, without its secondary indexes, VACUUMed), and
// "ratio_tamano=R" the archive's size / the copy's.
#include "demodb.h"
#include "purge/archivo.h"
#include "purge/depuracion.h"
#include "purge/frmcrb.h"
#include "purge/listados.h"
#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/operador.h"

#include <cstdio>
#include <memory>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {
struct Opciones {
    int movimientos = 1000000;
    int ejercicio = 2023;
    QString carpeta;
    quint64 semilla = 1;
    double latenciaMs = 0.3;
};

// A network round trip: waits without yielding, so that the time added is the same however
// loaded the machine is.
void esperar(double ms) {
    if (ms <= 0) return;
    QElapsedTimer reloj;
    reloj.start();
    const qint64 hasta = qint64(ms * 1e6);
    while (reloj.nsecsElapsed() < hasta) {
    }
}

void linea(const QString& texto) {
    std::printf("%s\n", texto.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void fallar(const QString& texto) {
    std::fprintf(stderr, "bench_purga: %s\n", texto.toLocal8Bit().constData());
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
        else if (a == QLatin1String("--semilla"))
            o.semilla = valor().toULongLong(&ok);
        else if (a == QLatin1String("--latencia-ms"))
            o.latenciaMs = valor().toDouble(&ok);
        else
            return false;
        if (!ok) fallar(QStringLiteral("valor no válido para %1").arg(a));
    }
    return o.movimientos > 0 && o.latenciaMs >= 0;
}

// A connection of the bench's own to the file at `ruta`, for the length of `cuerpo`; closed and
// removed after it, so that the name can be used again. With `exigir` false a connection that
// fails to open is handed on as it is.
template <class Cuerpo>
void conConexion(const QString& ruta, const QString& nombre, Cuerpo&& cuerpo, bool exigir = true) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nombre);
        db.setDatabaseName(ruta);
        if (!db.open() && exigir) fallar(db.lastError().text());
        cuerpo(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(nombre);
}

// The set-based purge of the stock: what a single statement per step does in the database.
struct TiemposConjunto {
    qint64 insercion = 0, borrado = 0, total = 0, filas = 0, sentencias = 0;
};
TiemposConjunto purgaPorConjuntos(const QString& ruta, const QDate& corte, double latenciaMs) {
    TiemposConjunto t;
    conConexion(ruta, QStringLiteral("bench-conjunto"), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        auto ejecutar = [&](const QString& sql) {
            ++t.sentencias;
            esperar(latenciaMs);
            if (!q.exec(sql)) fallar(sql + QStringLiteral(": ") + q.lastError().text());
        };
        const QString fecha =
            QStringLiteral("'") + corte.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("'");
        QElapsedTimer reloj;
        reloj.start();
        ejecutar(QStringLiteral("BEGIN"));
        ejecutar(QStringLiteral("SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI'"));
        const QVariant maximo = q.next() ? q.value(0) : QVariant();
        q.finish();
        const QString numero =
            QStringLiteral("'") + Depuracion::SiguienteComprobante(maximo) + QStringLiteral("'");
        ejecutar(QStringLiteral(
                     "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, "
                     "IDUNIDAD, CANTIDAD, ControladoPor, IdDeposito, IdPosicion, NroSerie, NroLote, "
                     "CantidadUD) SELECT 'SI', %1, ROW_NUMBER() OVER (), %2, IDArticulo, Descripcion, "
                     "IDUnidad, SUM(Cantidad), 'Depuracion', IdDeposito, IdPosicion, NroSerie, NroLote, "
                     "SUM(CantidadUD) FROM V_MV_Stock WHERE FECHA <= %2 AND COALESCE(Anulado,0) = 0 "
                     "GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, NroSerie, NroLote, "
                     "Descripcion")
                     .arg(numero, fecha));
        t.filas = q.numRowsAffected();
        t.insercion = reloj.elapsed();
        ejecutar(
            QStringLiteral("DELETE FROM V_MV_STOCK WHERE FECHA <= %1 AND NOT (COALESCE(TC,'') = 'SI' AND "
                           "COALESCE(IDCOMPROBANTE,'') = %2)")
                .arg(fecha, numero));
        ejecutar(QStringLiteral("COMMIT"));
        t.total = reloj.elapsed();
        t.borrado = t.total - t.insercion;
    });
    return t;
}

// The real purge, as the operator runs it: load the window, type the year, "&Aceptar", Yes.
struct TiemposPurga {
    qint64 total = 0, saldos = 0, inserciones = 0, borrado = 0, sentencias = 0;
    qint64 picoKb = 0, archivoBytes = 0;
    QString archivo; // the archive's path
    bool exito = false;
    QString ultimoMensaje;
};
// The peak resident memory since the last reset (kB), and the reset itself.
qint64 picoKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("VmHWM:")) return l.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
void reiniciarPico() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

TiemposPurga purgaReal(const QString& ruta, const QString& carpeta, int ejercicio, double latenciaMs,
                       bool conArchivo) {
    TiemposPurga t;
    const QString archivos = QDir(carpeta).filePath(QStringLiteral("archivos"));
    QDir(archivos).removeRecursively();
    QDir().mkpath(archivos);
    EstablecerCarpetaAplicacion(carpeta);
    EstablecerLineaComandos(
        QStringLiteral("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=bench;@Caja=1;").arg(ruta));
    auto guion = std::make_unique<OperadorGuion>();
    OperadorGuion* operadorGuion = guion.get();
    auto anterior = InstalarOperador(std::move(guion));
    {
        FrmCrb ventana;
        ventana.Form_Load();
        if (operadorGuion->Terminado() || !gSesion().Conectado())
            fallar(QStringLiteral("no se pudo abrir la base"));
        // Marks taken from the statements as they go, without touching the purge itself.
        QElapsedTimer reloj;
        qint64 tSaldos = -1, tPrimera = -1, tBorrado = -1, tFin = -1;
        gSesion().AntesDeEjecutar = [&](const QString& sql) {
            ++t.sentencias;
            esperar(latenciaMs);
            if (tPrimera < 0 && sql.startsWith(QLatin1String("INSERT INTO V_MV_STOCK")))
                tPrimera = reloj.elapsed();
            else if (tSaldos < 0 && sql.startsWith(QLatin1String("SELECT IDArticulo, SUM(Cantidad)")))
                tSaldos = reloj.elapsed();
            else if (tBorrado < 0 &&
                     sql.startsWith(QLatin1String("DELETE FROM v_mv_stock"), Qt::CaseInsensitive))
                tBorrado = reloj.elapsed();
            else if (sql.startsWith(QLatin1String("COMMIT TRANSACTION")))
                tFin = reloj.elapsed();
        };
        operadorGuion->Responder(Respuesta::Si);
        t.sentencias = 0;
        Depuracion depuracion;
        depuracion.EstablecerArchivo(OpcionesArchivo{conArchivo, archivos, {}, false});
        reiniciarPico();
        reloj.start();
        const ResultadoDepuracion r = depuracion.Ejecutar(QString::number(ejercicio));
        t.total = reloj.elapsed();
        t.picoKb = picoKb();
        t.archivo = depuracion.RutaArchivo();
        if (!t.archivo.isEmpty()) t.archivoBytes = QFileInfo(t.archivo).size();
        gSesion().AntesDeEjecutar = nullptr;
        if (tSaldos >= 0 && tPrimera >= 0) t.saldos = tPrimera - tSaldos;
        if (tPrimera >= 0 && tBorrado >= 0) t.inserciones = tBorrado - tPrimera;
        if (tBorrado >= 0 && tFin >= 0) t.borrado = tFin - tBorrado;
        if (!operadorGuion->Avisos().empty()) t.ultimoMensaje = operadorGuion->Avisos().back().texto;
        t.exito = r.desenlace == Desenlace::Completo;
        gSesion().Desconectar();
    }
    InstalarOperador(std::move(anterior));
    ReiniciarModGlobal();
    ReiniciarComponentes();
    return t;
}

QList<demodb::SaldoStock> saldos(const QString& ruta, const QDate& hasta) {
    demodb::OpcionesSaldo o;
    o.hasta = hasta;
    o.anuladoNuloValido = true;
    QList<demodb::SaldoStock> r;
    QString error;
    if (!demodb::SaldosStock(ruta, o, &r, &error)) fallar(error);
    for (auto& s : r)
        s.movimientos = 0;
    return r;
}

// The archived rows (journal, stock movements, opening balances) copied into a fresh SQLite
// file, each table declared with its source table's own statement (no secondary index), then
// VACUUMed: the size the same rows take in the database's engine. Returns its bytes.
qint64 tamanoCopia(const QString& origen, const QString& archivo, const QString& copia) {
    QFile::remove(copia);
    conConexion(copia, QStringLiteral("bench-copia"), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        auto ejecutar = [&](const QString& sql) {
            if (!q.exec(sql)) fallar(sql.left(200) + QStringLiteral(": ") + q.lastError().text());
        };
        ejecutar(QStringLiteral("ATTACH DATABASE '%1' AS o").arg(QString(origen).replace('\'', "''")));
        ejecutar(QStringLiteral("ATTACH DATABASE '%1' AS a").arg(QString(archivo).replace('\'', "''")));
        static const QRegularExpression cabecera(
            QStringLiteral("^\\s*CREATE\\s+TABLE\\s+(\"[^\"]+\"|\\S+)\\s*\\("),
            QRegularExpression::CaseInsensitiveOption);
        const std::pair<const char*, const char*> tablas[] = {{kTablaAsientos, "MV_ASIENTOS"},
                                                              {kTablaMovimientos, "V_MV_STOCK"},
                                                              {kTablaSaldoInicial, "V_MV_STOCK"}};
        ejecutar(QStringLiteral("BEGIN"));
        for (const auto& [destino, fuente] : tablas) {
            ejecutar(QStringLiteral("SELECT sql FROM o.sqlite_master WHERE type = 'table' AND name = '%1'")
                         .arg(QLatin1String(fuente)));
            if (!q.next()) fallar(QStringLiteral("no está la tabla %1").arg(QLatin1String(fuente)));
            QString ddl = q.value(0).toString();
            q.finish();
            ddl.replace(cabecera, QStringLiteral("CREATE TABLE main.\"%1\" (").arg(QLatin1String(destino)));
            ejecutar(ddl);
            QStringList columnas;
            ejecutar(
                QStringLiteral("SELECT name FROM pragma_table_info('%1', 'o')").arg(QLatin1String(fuente)));
            while (q.next())
                columnas << QStringLiteral("\"%1\"").arg(q.value(0).toString());
            // A source rowid the archive kept in a column of its own goes back to being the rowid.
            ejecutar(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('%1', 'a') WHERE name = '%2'")
                         .arg(QLatin1String(destino), QLatin1String(kColumnaRowid)));
            const bool conRowid = q.next() && q.value(0).toLongLong() > 0;
            q.finish();
            ejecutar(QStringLiteral("INSERT INTO main.\"%1\" (%2%3) SELECT %4%3 FROM a.\"%1\" ORDER BY rowid")
                         .arg(QLatin1String(destino), conRowid ? QStringLiteral("rowid, ") : QString(),
                              columnas.join(QStringLiteral(", ")),
                              conRowid ? QStringLiteral("\"%1\", ").arg(QLatin1String(kColumnaRowid))
                                       : QString()));
        }
        ejecutar(QStringLiteral("COMMIT"));
        ejecutar(QStringLiteral("DETACH DATABASE o"));
        ejecutar(QStringLiteral("DETACH DATABASE a"));
        ejecutar(QStringLiteral("VACUUM"));
    });
    return QFileInfo(copia).size();
}

qint64 contar(const QString& ruta, const QString& sql) {
    qint64 n = -1;
    conConexion(
        ruta, QStringLiteral("bench-contar"),
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (db.isOpen() && q.exec(sql) && q.next()) n = q.value(0).toLongLong();
        },
        false);
    return n;
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    Opciones o;
    if (!leerOpciones(QApplication::arguments(), o)) {
        std::fprintf(stderr, "uso: bench_purga [--movimientos N] [--ejercicio AAAA] [--carpeta dir] "
                             "[--semilla S] [--latencia-ms L]\n");
        return 64;
    }
    QTemporaryDir temporal;
    const QString carpeta = o.carpeta.isEmpty() ? temporal.path() : o.carpeta;
    if (!QDir().mkpath(carpeta)) fallar(QStringLiteral("no se puede crear %1").arg(carpeta));
    auto ruta = [&](const char* nombre) { return QDir(carpeta).filePath(QString::fromLatin1(nombre)); };
    const QString origen = ruta("bench_origen.db");
    const QDate corte(o.ejercicio, 12, 31);

    demodb::OpcionesDemo demo;
    demo.semilla = o.semilla;
    demo.movimientos = o.movimientos;
    demo.gruposObjetivo = std::max(1, o.movimientos / 10);
    demo.asientos = std::max(2000, o.movimientos / 20);
    demo.filasConsulta = std::max(200, std::min(20000, o.movimientos / 50));
    QString error;
    demodb::ResumenDemo resumen;
    if (!demodb::CrearBaseDemo(origen, demo, &error, &resumen)) fallar(error);
    const QString hasta =
        QStringLiteral("'") + corte.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("'");
    linea(QStringLiteral("movimientos=%1").arg(o.movimientos));
    linea(QStringLiteral("grupos=%1").arg(saldos(origen, corte).size()));
    linea(
        QStringLiteral("movimientos_a_borrar=%1")
            .arg(contar(origen, QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= ") + hasta)));
    linea(QStringLiteral("asientos_del_ejercicio=%1")
              .arg(contar(origen, QStringLiteral(
                                      "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = %1")
                                      .arg(o.ejercicio))));
    linea(QStringLiteral("generacion_ms=%1").arg(resumen.milisegundos));

    // One pair of runs, each on its own copy of the demo database: the set-based purge and the
    // real one, with `latencia` ms per statement. Returns real / set-based.
    bool iguales = true;
    double ratioArchivo = 0, ratioTamano = 0;
    auto par = [&](double latencia, const QString& sufijo) {
        const QString conjunto = ruta("bench_conjunto.db"), real = ruta("bench_real.db"),
                      conArchivo = ruta("bench_archivo.db");
        for (const QString& copia : {conjunto, real, conArchivo}) {
            QFile::remove(copia);
            if (!QFile::copy(origen, copia)) fallar(QStringLiteral("no se pudo copiar a %1").arg(copia));
        }
        const TiemposConjunto a = purgaPorConjuntos(conjunto, corte, latencia);
        linea(QStringLiteral("conjunto_insert_select_ms%1=%2 (filas %3)")
                  .arg(sufijo)
                  .arg(a.insercion)
                  .arg(a.filas));
        linea(QStringLiteral("conjunto_delete_ms%1=%2").arg(sufijo).arg(a.borrado));
        linea(QStringLiteral("conjunto_ms%1=%2").arg(sufijo).arg(a.total));
        linea(QStringLiteral("sentencias_conjunto%1=%2").arg(sufijo).arg(a.sentencias));

        const TiemposPurga b = purgaReal(real, carpeta, o.ejercicio, latencia, false);
        if (!b.exito) fallar(QStringLiteral("la depuración no terminó con éxito: %1").arg(b.ultimoMensaje));
        const TiemposPurga c = purgaReal(conArchivo, carpeta, o.ejercicio, latencia, true);
        if (!c.exito)
            fallar(QStringLiteral("la depuración con archivo no terminó con éxito: %1").arg(c.ultimoMensaje));
        linea(QStringLiteral("real_con_archivo_ms%1=%2").arg(sufijo).arg(c.total));
        if (sufijo.isEmpty()) {
            linea(QStringLiteral("archivo_mb=%1").arg(double(c.archivoBytes) / (1 << 20), 0, 'f', 1));
            linea(QStringLiteral("pico_sin_archivo_mb=%1").arg(double(b.picoKb) / 1024, 0, 'f', 1));
            linea(QStringLiteral("pico_mb=%1").arg(double(c.picoKb) / 1024, 0, 'f', 1));
            ratioArchivo = double(c.total) / double(std::max<qint64>(1, a.total));
            // The listings the purge prints from its archive, apart from its time.
            const QString carpetaListados = QDir(carpeta).filePath(QStringLiteral("listados"));
            QDir().mkpath(carpetaListados);
            QElapsedTimer reloj;
            reloj.start();
            const ResultadoListados listados = EmitirListadosDepuracion(c.archivo, carpetaListados);
            const qint64 msListados = reloj.elapsed();
            if (!listados.Bien())
                fallar(QStringLiteral("los listados no se hicieron: %1").arg(listados.error));
            linea(QStringLiteral("listados_ms=%1").arg(msListados));
            const qint64 copia = tamanoCopia(origen, c.archivo, ruta("bench_copia.db"));
            linea(QStringLiteral("copia_mb=%1").arg(double(copia) / (1 << 20), 0, 'f', 1));
            ratioTamano = double(c.archivoBytes) / double(std::max<qint64>(1, copia));
            if (o.carpeta.isEmpty()) {
                QFile::remove(ruta("bench_copia.db"));
                QDir(carpetaListados).removeRecursively();
            }
        }
        linea(QStringLiteral("real_consulta_de_saldos_ms%1=%2").arg(sufijo).arg(b.saldos));
        linea(QStringLiteral("real_inserciones_ms%1=%2").arg(sufijo).arg(b.inserciones));
        linea(QStringLiteral("real_borrado_ms%1=%2").arg(sufijo).arg(b.borrado));
        linea(QStringLiteral("real_ms%1=%2").arg(sufijo).arg(b.total));
        linea(QStringLiteral("sentencias%1=%2").arg(sufijo).arg(b.sentencias));

        for (const QDate& d : {corte, QDate()}) {
            const auto x = saldos(conjunto, d), y = saldos(real, d), z = saldos(conArchivo, d);
            if (x != y || x != z) {
                iguales = false;
                linea(QStringLiteral("saldos_distintos%1_al=%2 (%3 contra %4 grupos)")
                          .arg(sufijo)
                          .arg(d.isValid() ? d.toString(Qt::ISODate) : QStringLiteral("final"))
                          .arg(x.size())
                          .arg(y.size()));
            }
        }
        if (o.carpeta.isEmpty())
            for (const QString& f : {conjunto, real, conArchivo})
                QFile::remove(f);
        return double(b.total) / double(std::max<qint64>(1, a.total));
    };
    const double ratio = par(0, QString());
    double ratioLan = 0;
    if (o.latenciaMs > 0) {
        linea(QStringLiteral("latencia_ms=%1").arg(o.latenciaMs));
        ratioLan = par(o.latenciaMs, QStringLiteral("_lan"));
    }
    linea(QStringLiteral("saldos_iguales=%1").arg(iguales ? QStringLiteral("si") : QStringLiteral("no")));
    if (o.carpeta.isEmpty()) QFile::remove(origen);
    linea(QStringLiteral("ratio=%1").arg(ratio, 0, 'f', 2));
    linea(QStringLiteral("ratio_archivo=%1").arg(ratioArchivo, 0, 'f', 2));
    linea(QStringLiteral("ratio_tamano=%1").arg(ratioTamano, 0, 'f', 2));
    if (o.latenciaMs > 0) linea(QStringLiteral("ratio_lan=%1").arg(ratioLan, 0, 'f', 2));
    return iguales ? 0 : 2;
}
