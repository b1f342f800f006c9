#include "purge/compactacion.h"

#include "suite/avance.h"
#include "suite/error.h"
#include "suite/operador.h"
#include "suite/recordset.h"
#include "suite/sesion.h"

#include <algorithm>
#include <cmath>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr qint64 kMargen = qint64(1) << 20;
// VACUUM runs about one progress call (a thousand virtual machine steps) for every 14 kB of
// live pages (measured on the suite's tables: 0.21 to 0.29 calls per 4 kB page).
constexpr double kBytesPorLlamada = 14000;
constexpr int kPasosPorLlamada = 1000;

[[noreturn]] void negar(const QString& texto) {
    throw ErrorSistema(Errores::OperacionNoPermitida, texto);
}

// Straight to SQLite on the session's connection, through either driver: these reads are not
// statements of the purge, nor T-SQL, and stay out of the statement log.
QSqlQuery consultar(Sesion& sesion, const QString& sql) {
    QSqlQuery q(sesion.Base());
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw ErrorSistema(
            Errores::BaseDeDatos,
            QStringLiteral("No se pudo medir la base de datos (%1): %2").arg(sql, q.lastError().text()));
    return q;
}
qint64 numero(Sesion& sesion, const QString& sql) {
    QSqlQuery q = consultar(sesion, sql);
    return q.next() ? q.value(0).toLongLong() : 0;
}
QString texto(Sesion& sesion, const QString& sql) {
    QSqlQuery q = consultar(sesion, sql);
    return q.next() ? q.value(0).toString() : QString();
}

qint64 tamanioEnDisco(const QString& base) {
    qint64 bytes = QFileInfo(base).size();
    const QFileInfo wal(base + QStringLiteral("-wal"));
    if (wal.exists()) bytes += wal.size();
    return bytes;
}

// Free bytes for this user, and the file system's id, of a folder.
bool libre(const QString& carpeta, qint64& bytes, dev_t& disco) {
    const QByteArray c = QFile::encodeName(carpeta);
    struct statvfs v;
    struct stat s;
    if (::statvfs(c.constData(), &v) != 0 || ::stat(c.constData(), &s) != 0) return false;
    bytes = qint64(v.f_bavail) * qint64(v.f_frsize);
    disco = s.st_dev;
    return true;
}

// Where SQLite writes a temporary database: the first of PRAGMA temp_store_directory,
// SQLITE_TMPDIR, TMPDIR, /var/tmp, /usr/tmp, /tmp and the current folder that is a folder this
// process may write in. Empty when the copy goes to memory (temp_store).
QString carpetaTemporal(Sesion& sesion) {
    // Compile-time TEMP_STORE: 0 always files, 1 files unless the pragma says memory, 2 memory
    // unless it says files, 3 always memory. The pragma: 0 default, 1 files, 2 memory.
    int compilado = 1;
    {
        QSqlQuery q = consultar(sesion, QStringLiteral("PRAGMA compile_options"));
        while (q.next()) {
            const QString opcion = q.value(0).toString();
            if (opcion.startsWith(QLatin1String("TEMP_STORE="))) compilado = opcion.mid(11).toInt();
        }
    }
    const qint64 pragma = numero(sesion, QStringLiteral("PRAGMA temp_store"));
    const bool enMemoria =
        compilado == 3 || (compilado == 2 && pragma != 1) || (compilado == 1 && pragma == 2);
    if (enMemoria) return {};
    QStringList candidatas;
    candidatas << texto(sesion, QStringLiteral("PRAGMA temp_store_directory"));
    for (const char* variable : {"SQLITE_TMPDIR", "TMPDIR"})
        candidatas << QFile::decodeName(qgetenv(variable));
    candidatas << QStringLiteral("/var/tmp") << QStringLiteral("/usr/tmp") << QStringLiteral("/tmp")
               << QStringLiteral(".");
    for (const QString& c : candidatas) {
        if (c.isEmpty()) continue;
        const QByteArray n = QFile::encodeName(c);
        struct stat s;
        if (::stat(n.constData(), &s) == 0 && S_ISDIR(s.st_mode) && ::access(n.constData(), W_OK | X_OK) == 0)
            return QFileInfo(c).absoluteFilePath();
    }
    return QStringLiteral(".");
}

// The estimate of VACUUM's share done, on the progress display, from SQLite's progress calls.
struct Seguimiento {
    Avance* avance = nullptr;
    double esperadas = 1;
    qint64 llamadas = 0;
    QElapsedTimer reloj;

    static int Llamada(void* datos) {
        auto* s = static_cast<Seguimiento*>(datos);
        ++s->llamadas;
        if (s->reloj.elapsed() < 100) return 0;
        s->reloj.restart();
        // Nothing may unwind through SQLite; a display that fails does not stop the compaction.
        try {
            const int parte = int(std::min(99.0, 100.0 * double(s->llamadas) / s->esperadas));
            s->avance->Mostrar(QVariant(), QVariant(), QStringLiteral("%1 %").arg(parte));
        } catch (...) {
        }
        return 0;
    }
};

sqlite3* manejadorSqlite(Sesion& sesion) {
    const QVariant h = sesion.Base().driver() ? sesion.Base().driver()->handle() : QVariant();
    if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(h.constData());
    return nullptr;
}

} // namespace

ClaseCompactacion ClaseDeCompactacion(Sesion& sesion) {
    if (!sesion.Conectado()) return ClaseCompactacion::Ninguna;
    if (sesion.EsSQLite()) return ClaseCompactacion::SQLite;
    if (sesion.Motor().contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        return ClaseCompactacion::Servidor;
    return ClaseCompactacion::Ninguna;
}

EspacioCompactacion ComprobarEspacioCompactacion(Sesion& sesion) {
    if (!sesion.Conectado())
        negar(QStringLiteral("No hay conexión con la base de datos: no se puede compactar."));
    if (!sesion.EsSQLite())
        negar(
            QStringLiteral("Esta base de datos no se compacta desde el programa: en SQL Server, reducir sus "
                           "archivos es decisión del administrador de la base de datos."));
    // VACUUM cannot run inside a transaction, and would end the purge's.
    if (sesion.EnTransaccion())
        negar(
            QStringLiteral("No se puede compactar la base de datos mientras hay una transacción en curso."));
    EspacioCompactacion e;
    {
        QSqlQuery q = consultar(sesion, QStringLiteral("PRAGMA database_list"));
        while (q.next())
            if (q.value(1).toString() == QLatin1String("main")) e.base = q.value(2).toString();
    }
    if (e.base.isEmpty())
        negar(QStringLiteral("La base de datos no está en un archivo: no hay nada que compactar."));
    const qint64 pagina = numero(sesion, QStringLiteral("PRAGMA page_size"));
    const qint64 paginas = numero(sesion, QStringLiteral("PRAGMA page_count"));
    const qint64 libres = numero(sesion, QStringLiteral("PRAGMA freelist_count"));
    const bool wal = texto(sesion, QStringLiteral("PRAGMA journal_mode"))
                         .compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    e.bytes = tamanioEnDisco(e.base);
    e.bytesEnUso = (paginas - libres) * pagina;
    // The copy is the live pages; the journal holds each page the copy overwrites, about as many
    // (measured: 1.0 times the new size), and a WAL up to half again as much.
    e.necesarioTemporal = e.bytesEnUso + kMargen;
    e.necesarioBase = qint64(double(e.bytesEnUso) * (wal ? 1.5 : 1.02)) + kMargen;
    e.carpetaBase = QFileInfo(e.base).absolutePath();
    e.carpetaTemporal = carpetaTemporal(sesion);
    dev_t discoBase = 0, discoTemporal = 0;
    if (!libre(e.carpetaBase, e.libreBase, discoBase)) return e;
    if (e.carpetaTemporal.isEmpty()) {
        e.necesarioTemporal = 0;
    } else if (libre(e.carpetaTemporal, e.libreTemporal, discoTemporal)) {
        e.mismoDisco = discoBase == discoTemporal;
    }
    const QString nombre = QFileInfo(e.base).fileName();
    if (e.mismoDisco) {
        const qint64 necesario = e.necesarioBase + e.necesarioTemporal;
        if (e.libreBase < necesario)
            negar(QStringLiteral(
                      "No hay espacio suficiente para compactar la base de datos %1: la copia que hace "
                      "la compactación y su diario necesitan %2 en el disco de la carpeta %3, que tiene "
                      "%4 libres.\rLibere espacio en ese disco e intente de nuevo.")
                      .arg(nombre, TextoTamanio(necesario), e.carpetaBase, TextoTamanio(e.libreBase)));
        return e;
    }
    if (e.libreTemporal >= 0 && e.libreTemporal < e.necesarioTemporal)
        negar(QStringLiteral(
                  "No hay espacio suficiente para compactar la base de datos %1: la copia que hace la "
                  "compactación necesita %2 en la carpeta temporal %3, que tiene %4 libres.\rLibere "
                  "espacio en esa carpeta, o indique otra con la variable de entorno SQLITE_TMPDIR.")
                  .arg(nombre, TextoTamanio(e.necesarioTemporal), e.carpetaTemporal,
                       TextoTamanio(e.libreTemporal)));
    if (e.libreBase < e.necesarioBase)
        negar(QStringLiteral(
                  "No hay espacio suficiente para compactar la base de datos %1: el diario de la "
                  "compactación necesita %2 en la carpeta %3, que tiene %4 libres.\rLibere espacio en "
                  "ese disco e intente de nuevo.")
                  .arg(nombre, TextoTamanio(e.necesarioBase), e.carpetaBase, TextoTamanio(e.libreBase)));
    return e;
}

ResultadoCompactacion Compactar(Sesion& sesion, Avance& avance) {
    const EspacioCompactacion e = ComprobarEspacioCompactacion(sesion);
    QElapsedTimer reloj;
    reloj.start();
    ResultadoCompactacion r;
    r.base = e.base;
    r.antes = e.bytes;
    const QString nombre = QFileInfo(e.base).fileName();
    avance.Iniciar(QStringLiteral("Compactación de la base de datos"));
    const auto cerrar = qScopeGuard([&] { avance.Cerrar(); });
    avance.Mostrar(QStringLiteral("Compactando %1...").arg(nombre),
                   QStringLiteral("Tamaño actual: %1").arg(TextoTamanio(e.bytes)), QStringLiteral("0 %"));
    Seguimiento seguimiento;
    seguimiento.avance = &avance;
    seguimiento.esperadas = std::max(1.0, double(e.bytesEnUso) / kBytesPorLlamada);
    seguimiento.reloj.start();
    sqlite3* const h = manejadorSqlite(sesion);
    if (h) sqlite3_progress_handler(h, kPasosPorLlamada, &Seguimiento::Llamada, &seguimiento);
    const auto quitar = qScopeGuard([h] {
        if (h) sqlite3_progress_handler(h, 0, nullptr, nullptr);
    });
    try {
        sesion.Ejecutar(QStringLiteral("VACUUM"));
        if (QFileInfo::exists(e.base + QStringLiteral("-wal")))
            consultar(sesion, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    } catch (const ErrorSistema& x) {
        // The causes an operator can act on, in Spanish; any other as the driver gave it.
        auto dice = [&](const char* t) {
            return x.Descripcion.contains(QLatin1String(t), Qt::CaseInsensitive);
        };
        const QString motivo =
            dice("locked") || dice("busy")
                ? QStringLiteral(
                      "Otra estación está usando la base de datos: vuelva a intentarlo cuando nadie "
                      "la tenga abierta.")
            : dice("full") ? QStringLiteral("No queda espacio en el disco.")
                           : x.Descripcion;
        throw ErrorSistema(x.Numero, QStringLiteral("No se pudo compactar la base de datos %1; quedó como "
                                                    "estaba.\r%2")
                                         .arg(nombre, motivo));
    }
    r.despues = tamanioEnDisco(e.base);
    r.milisegundos = reloj.elapsed();
    avance.Mostrar(
        QStringLiteral("Base de datos compactada"),
        QStringLiteral("Antes: %1. Ahora: %2.").arg(TextoTamanio(r.antes), TextoTamanio(r.despues)),
        QStringLiteral("100 %"));
    return r;
}

QString TextoCompactacion(const ResultadoCompactacion& r) {
    const qint64 liberado = r.antes - r.despues;
    if (liberado <= 0)
        return QStringLiteral("La base de datos ocupa %1: la compactación no liberó espacio.")
            .arg(TextoTamanio(r.despues));
    return QStringLiteral("La base de datos ocupaba %1 y ahora ocupa %2: se liberaron %3.")
        .arg(TextoTamanio(r.antes), TextoTamanio(r.despues), TextoTamanio(liberado));
}

// ---- SQL Server -----------------------------------------------------------------------------

namespace SentenciasCompactacion {
QString EspacioBase() {
    return QStringLiteral("EXEC sp_spaceused");
}
QString EspacioTabla(const QString& tabla) {
    return QStringLiteral("EXEC sp_spaceused N'%1'")
        .arg(QString(tabla).replace(QChar('\''), QLatin1String("''")));
}
} // namespace SentenciasCompactacion

EspacioServidor MedirEspacioServidor(Sesion& sesion, const QStringList& tablas) {
    EspacioServidor e;
    // The first of sp_spaceused's results: database_name, database_size, unallocated space.
    try {
        Recordset rs;
        sesion.AbrirRecordset(SentenciasCompactacion::EspacioBase(), rs);
        if (!rs.BOF()) {
            e.tamanio = BytesDeTexto(rs[QStringLiteral("database_size")].toString());
            e.sinAsignar = BytesDeTexto(rs[QStringLiteral("unallocated space")].toString());
        }
        rs.Close();
    } catch (const ErrorSistema&) {
    }
    for (const QString& tabla : tablas) {
        EspacioTablaServidor t;
        t.tabla = tabla;
        // name, rows, reserved, data, index_size, unused. A plain view has none: left unknown.
        try {
            Recordset rs;
            sesion.AbrirRecordset(SentenciasCompactacion::EspacioTabla(tabla), rs);
            if (!rs.BOF()) {
                bool ok = false;
                const qint64 filas = rs[QStringLiteral("rows")].toString().trimmed().toLongLong(&ok);
                t.filas = ok ? filas : -1;
                t.reservado = BytesDeTexto(rs[QStringLiteral("reserved")].toString());
                t.datos = BytesDeTexto(rs[QStringLiteral("data")].toString());
                t.indices = BytesDeTexto(rs[QStringLiteral("index_size")].toString());
                t.sinUsar = BytesDeTexto(rs[QStringLiteral("unused")].toString());
            }
            rs.Close();
        } catch (const ErrorSistema&) {
        }
        e.tablas.push_back(t);
    }
    return e;
}

QString TextoEspacioServidor(const EspacioServidor& antes, const EspacioServidor& despues) {
    QStringList lineas;
    for (const EspacioTablaServidor& a : antes.tablas) {
        const auto d = std::find_if(despues.tablas.begin(), despues.tablas.end(),
                                    [&](const EspacioTablaServidor& t) { return t.tabla == a.tabla; });
        if (a.reservado < 0 || d == despues.tablas.end() || d->reservado < 0) continue;
        lineas << QStringLiteral(
                      "%1 ocupaba %2 y ahora ocupa %3: %4 quedaron libres dentro de la base de datos.")
                      .arg(a.tabla, TextoTamanio(a.reservado), TextoTamanio(d->reservado),
                           TextoTamanio(std::max<qint64>(0, a.reservado - d->reservado)));
    }
    if (lineas.isEmpty())
        lineas << QStringLiteral("No se pudo medir el espacio que ocupaban las tablas depuradas.");
    QString archivos = QStringLiteral("Los archivos de la base de datos no se achican");
    if (despues.tamanio >= 0)
        archivos +=
            QStringLiteral(" (ocupan %1, de los que %2 están sin asignar)")
                .arg(TextoTamanio(despues.tamanio), TextoTamanio(std::max<qint64>(0, despues.sinAsignar)));
    lineas << archivos + QStringLiteral(": el espacio liberado queda para los datos nuevos, y reducirlos es "
                                        "decisión del administrador de la base de datos.");
    return lineas.join(QChar('\r'));
}

qint64 BytesDeTexto(const QString& texto) {
    static const QRegularExpression kTamanio(
        QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*(B|KB|MB|GB|TB)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = kTamanio.match(texto);
    if (!m.hasMatch()) return -1;
    const QString unidad = m.captured(2).toUpper();
    const int potencia = unidad == QLatin1String("KB")   ? 1
                         : unidad == QLatin1String("MB") ? 2
                         : unidad == QLatin1String("GB") ? 3
                         : unidad == QLatin1String("TB") ? 4
                                                         : 0;
    return qint64(std::llround(m.captured(1).toDouble() * std::pow(1024.0, potencia)));
}

QString TextoTamanio(qint64 bytes) {
    if (bytes < 0) return QStringLiteral("?");
    if (bytes < (qint64(1) << 20)) return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    const bool gb = bytes >= (qint64(1) << 30);
    const double valor = double(bytes) / double(qint64(1) << (gb ? 30 : 20));
    return QString::number(valor, 'f', 1).replace(QChar('.'), QChar(',')) +
           (gb ? QStringLiteral(" GB") : QStringLiteral(" MB"));
}

QStringList TablasDepuradas() {
    return {QStringLiteral("MV_ASIENTOS"), QStringLiteral("V_MV_STOCK")};
}

OfertaCompactacion::OfertaCompactacion(Sesion& sesion)
    : sesion_(sesion), clase_(ClaseDeCompactacion(sesion)) {
    if (clase_ == ClaseCompactacion::Servidor) antes_ = MedirEspacioServidor(sesion_, TablasDepuradas());
}

void OfertaCompactacion::MensajeFinal(Operador& operador, Avance& avance, const QString& texto, int estilo,
                                      const QString& titulo, const QString& carpetaListados) {
    if (clase_ == ClaseCompactacion::Servidor) {
        const EspacioServidor despues = MedirEspacioServidor(sesion_, TablasDepuradas());
        const QString espacio = TextoEspacioServidor(antes_, despues);
        operador.MsgBoxConBotones(espacio.isEmpty() ? texto : texto + QChar(u'\r') + espacio, {}, estilo,
                                  titulo, carpetaListados);
        return;
    }
    QStringList botones;
    if (clase_ == ClaseCompactacion::SQLite) botones << QStringLiteral("Compactar ahora");
    if (operador.MsgBoxConBotones(texto, botones, estilo, titulo, carpetaListados) != 0 || botones.isEmpty())
        return;
    try {
        const ResultadoCompactacion r = Compactar(sesion_, avance);
        operador.MsgBox(TextoCompactacion(r), Estilo::Informacion, titulo);
    } catch (const ErrorSistema& e) {
        operador.MsgBox(e.Descripcion, Estilo::Critico, titulo);
    }
}
