// Benchmark of the lookup dialog over a large table: load and first paint against the plain
// forward-only read of the same rows (the floor), keystroke searches, a header-click sort and
// the memory the loading takes.
//
//   bench_consulta [--filas N] [--base ruta.db] [--veces K] [--lectura-qt]
//
// --lectura-qt: the dialog reads the rows through Qt's driver, as on ODBC (the figures of the
// general reading, to compare with the SQLite one).
// N rows (1,000,000 by default) in a table of four texts, created once in the temporary
// folder (or at --base) and kept for later runs. K rounds (3) of floor, recordset and dialog,
// each dialog opened through ConsultaSearch with a mask. Each round times its first key in
// the fresh dialog, in the sort column (CODIGO) in odd rounds and in another column
// (DESCRIPCION) in even ones; the last round also times typing in both and in a column of
// numbers sorted by value (a second dialog over the same rows), the header click and the F5
// fill. The memory is the largest growth of any round. A key is timed until its search has
// selected its row and the list has repainted. Prints one figure per line; "ratio_max=" is
// the worst round's dialog load time / that round's floor, "primera_tecla_ms=" the slowest
// first key, and the last line "ratio=R" the median of the rounds' ratios. Exit status 1
// when something went wrong (listed as "fallo:" lines).
#include "demodb.h"
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "lookup/lib_frmcons2.h"
#include "lookup/lib_modeloconsulta.h"
#include "suite/globales.h"
#include "suite/operador.h"
#include "suite/recordset.h"
#include "suite/sesion.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {
const QString Tabla = QStringLiteral("V_BENCH_CONSULTA");
const QString Campos = QStringLiteral("CODIGO,DESCRIPCION,RUBRO,MARCA");

// Resident set now and at its peak (kB), from /proc.
long memoria(const char* clave) {
    std::ifstream f("/proc/self/status");
    std::string linea;
    while (std::getline(f, linea))
        if (linea.rfind(clave, 0) == 0) return std::stol(linea.substr(std::string(clave).size()));
    return -1;
}
long residente() {
    return memoria("VmRSS:");
}
long pico() {
    return memoria("VmHWM:");
}
// Starts the peak count again from the present size (Linux 4.0 and later).
bool reiniciarPico() {
    std::ofstream f("/proc/self/clear_refs");
    if (!f) return false;
    f << "5";
    return bool(f.flush());
}

// CPU time of the process (ms): on a shared machine it tells work from waiting.
double cpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Uso {
    double usuario = 0, sistema = 0;
    long fallos = 0;
};
Uso uso() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return {double(r.ru_utime.tv_sec) * 1e3 + double(r.ru_utime.tv_usec) / 1e3,
            double(r.ru_stime.tv_sec) * 1e3 + double(r.ru_stime.tv_usec) / 1e3, r.ru_minflt};
}

double mediana(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

qint64 contarFilas(const QString& ruta) {
    if (!QFileInfo::exists(ruta)) return -1;
    qint64 n = -1;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-contar"));
        db.setDatabaseName(ruta);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + Tabla) && q.next())
                n = q.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-contar"));
    return n;
}

// Keeps the floor's reading from being optimised away.
volatile qint64 gSumidero = 0;

struct Cifras {
    double piso = 0, carga = 0, ordenar = 0, llenar = 0;
    double pisoCpu = 0, cargaCpu = 0;
    std::vector<double> teclasOrden, teclasOtra, teclasNumero;
    double primeraOrden = 0, primeraOtra = 0, primeraNumero = 0;
    long memoriaCarga = 0, memoriaTras = 0;
    qint64 bytesTexto = 0;
    int filasVistas = 0;
    QStringList fallos;
};

// The floor: every row read with a forward-only query and every value taken as text.
double leerPiso(const QSqlDatabase& db, qint64* bytes) {
    QElapsedTimer t;
    t.start();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.exec(QStringLiteral("SELECT %1 FROM %2").arg(Campos, Tabla));
    qint64 total = 0;
    while (q.next())
        for (int i = 0; i < 4; ++i)
            total += q.value(i).toString().size();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (bytes) {
        // The UTF-8 size of the texts, outside the timing.
        QSqlQuery u(db);
        u.setForwardOnly(true);
        u.exec(QStringLiteral("SELECT %1 FROM %2").arg(Campos, Tabla));
        *bytes = 0;
        while (u.next())
            for (int i = 0; i < 4; ++i)
                *bytes += u.value(i).toString().toUtf8().size();
    }
    gSumidero = gSumidero + total;
    return ms;
}

// The same rows through the suite's recordset alone (what the dialog's reading builds on).
double leerRecordset() {
    QElapsedTimer t;
    t.start();
    Recordset rs;
    gSesion().AbrirRecordset(QStringLiteral("SELECT %1 FROM %2").arg(Campos, Tabla), rs, Cursor::SoloAdelante,
                             Bloqueo::SoloLectura, -1);
    qint64 total = 0;
    while (!rs.Eof()) {
        for (int i = 0; i < 4; ++i) {
            const QVariant& v = rs.Valor(i);
            if (v.metaType().id() == QMetaType::QString)
                total += static_cast<const QString*>(v.constData())->size();
        }
        rs.MoveNext();
    }
    gSesion().CerrarRecordset(rs);
    gSumidero = gSumidero + total;
    return double(t.nsecsElapsed()) / 1e6;
}

// One key into a search box, timed until its search has finished and the list repainted.
double tecla(Lib_FrmCons2* d, QComboBox* caja, QChar c) {
    QElapsedTimer t;
    t.start();
    QTest::keyClick(caja, c.toLatin1());
    do
        QApplication::processEvents();
    while (d->BusquedaPendiente());
    return double(t.nsecsElapsed()) / 1e6;
}

// Types the text into a search box one key at a time, then empties the box.
void teclear(Lib_FrmCons2* d, QComboBox* caja, const QString& texto, std::vector<double>& tiempos) {
    caja->setFocus();
    for (QChar c : texto)
        tiempos.push_back(tecla(d, caja, c));
    caja->clearEditText();
    do
        QApplication::processEvents();
    while (d->BusquedaPendiente());
}

class Vigia : public QObject {
public:
    explicit Vigia(std::function<void()> alPintar) : alPintar_(std::move(alPintar)) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (!hecho_ && e->type() == QEvent::Paint) {
            auto* vista = qobject_cast<QTableView*>(o ? o->parent() : nullptr);
            if (vista && vista->objectName() == QLatin1String("ListView1") && vista->model() &&
                vista->model()->rowCount() > 0) {
                hecho_ = true;
                QTimer::singleShot(0, alPintar_);
            }
        }
        return false;
    }

private:
    std::function<void()> alPintar_;
    bool hecho_ = false;
};
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int filas = 1000000;
    int veces = 3;
    bool lecturaQt = false;
    QString ruta;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        auto valor = [&](const char* nombre) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "falta el valor de %s\n", nombre);
                std::exit(2);
            }
            return args[++i];
        };
        if (args[i] == QLatin1String("--filas")) {
            bool ok = false;
            filas = valor("--filas").toInt(&ok);
            if (!ok || filas < 1) {
                std::fprintf(stderr, "--filas: se espera un número entero positivo\n");
                return 2;
            }
        } else if (args[i] == QLatin1String("--base")) {
            ruta = valor("--base");
        } else if (args[i] == QLatin1String("--veces")) {
            veces = std::max(1, valor("--veces").toInt());
        } else if (args[i] == QLatin1String("--lectura-qt")) {
            lecturaQt = true;
        } else {
            std::fprintf(stderr,
                         "uso: bench_consulta [--filas N] [--base ruta.db] [--veces K] [--lectura-qt]\n");
            return 2;
        }
    }
    if (ruta.isEmpty())
        ruta = QDir::temp().filePath(QStringLiteral("cribanzas_bench_consulta_%1.db").arg(filas));

    // Prompts are answered by script: a benchmark never waits for an operator.
    auto guionPropio = std::make_unique<OperadorGuion>();
    OperadorGuion* guion = guionPropio.get();
    InstalarOperador(std::move(guionPropio));

    if (contarFilas(ruta) != filas) {
        QElapsedTimer t;
        t.start();
        QString error;
        if (!demodb::CrearTablaConsulta(ruta, Tabla, filas, 1, &error)) {
            std::fprintf(stderr, "no se pudo crear la tabla: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("tabla creada: %d filas en %.0f ms (%s)\n", filas, double(t.elapsed()), qPrintable(ruta));
    }

    const QString mascaras = QDir::temp().filePath(QStringLiteral("cribanzas_bench_consultas.vlm"));
    QFile::remove(mascaras);
    {
        QConsulta m;
        m.Nombre = QStringLiteral("BENCH");
        m.Tabla = Tabla;
        m.Campos = QStringLiteral("|CODIGO|DESCRIPCION|RUBRO|MARCA|");
        m.Filtro = QString();
        m.FinLinea = QStringLiteral("\r\n");
        EscritorMascaras escritor(mascaras);
        escritor.Agregar(m);
        escritor.Cerrar();
    }

    gSesion().setDbName(ruta);
    gSesion().LecturaDirecta = !lecturaQt;
    gSesion().Conectar();
    if (!gSesion().Conectado()) {
        std::fprintf(stderr, "no se pudo abrir %s\n", qPrintable(ruta));
        return 1;
    }

    Cifras c;
    leerPiso(gSesion().Base(), &c.bytesTexto); // warms the page cache for every reading
    {
        // The widgets' first use (fonts, style) is paid once by any application before its
        // first lookup: paid here too, outside the timing.
        QTableView vista;
        QComboBox caja(&vista);
        vista.show();
        QApplication::processEvents();
    }

    // Rounds of floor, recordset and dialog, one after the other, so that a change in the
    // machine's load affects both sides of the ratio alike; the figures are medians.
    std::vector<double> pisos, pisosCpu, recordsets, cargas, cargasCpu, ratios;
    for (int vez = 0; vez < veces; ++vez) {
        const bool medirTodo = vez == veces - 1;
        const double antesPiso = cpu();
        const double piso = leerPiso(gSesion().Base(), nullptr);
        pisos.push_back(piso);
        pisosCpu.push_back(cpu() - antesPiso);
        recordsets.push_back(leerRecordset());

        Lib_ClsCons2 consulta;
        consulta.gUsarMascarasConsultas = Verdadero;
        consulta.gRutaMascaraConsultas = mascaras;
        consulta.gConnString = gSesion().CadenaConexion();
        ColeccionRef cmps = NuevaColeccion();
        cmps->Add(QStringLiteral("CODIGO"));
        QString campoBusqueda;

        QApplication::processEvents();
        const long antes = residente();
        const bool picoReiniciado = reiniciarPico();
        QElapsedTimer reloj;
        double carga = 0, cargaCpu = 0, antesCpu = 0;
        Uso usoAntes, usoTras;
        Vigia vigia([&] {
            carga = double(reloj.nsecsElapsed()) / 1e6;
            cargaCpu = cpu() - antesCpu;
            usoTras = uso();
            c.memoriaCarga = std::max(c.memoriaCarga, (picoReiniciado ? pico() : residente()) - antes);
            c.memoriaTras = std::max(c.memoriaTras, residente() - antes);
            auto* d = qobject_cast<Lib_FrmCons2*>(QApplication::activeModalWidget());
            if (!d) return;
            c.filasVistas = d->Modelo()->rowCount();
            // The first key of a fresh dialog: the sort column (CODIGO, ascending after the
            // loading) in odd rounds, another one (DESCRIPCION) in even ones.
            const int primera = vez % 2 == 0 ? 0 : 1;
            d->CajaBusqueda(primera)->setFocus();
            const double ms = tecla(d, d->CajaBusqueda(primera), QChar('t'));
            double& peor = primera == 0 ? c.primeraOrden : c.primeraOtra;
            peor = std::max(peor, ms);
            d->CajaBusqueda(primera)->clearEditText();
            do
                QApplication::processEvents();
            while (d->BusquedaPendiente());
            if (medirTodo) {
                teclear(d, d->CajaBusqueda(0), QStringLiteral("TOR0001234"), c.teclasOrden);
                teclear(d, d->CajaBusqueda(0), QStringLiteral("zzz"), c.teclasOrden);
                teclear(d, d->CajaBusqueda(1), QStringLiteral("tornillo de"), c.teclasOtra);
                teclear(d, d->CajaBusqueda(1), QStringLiteral("zzz"), c.teclasOtra);
                // A header click: DESCRIPCION, descending.
                auto* cabecera = d->Lista()->horizontalHeader();
                const QPoint centro(cabecera->sectionViewportPosition(1) +
                                        std::min(20, cabecera->sectionSize(1) / 2),
                                    cabecera->height() / 2);
                QElapsedTimer t;
                t.start();
                QTest::mouseClick(cabecera->viewport(), Qt::LeftButton, {}, centro);
                QApplication::processEvents();
                c.ordenar = double(t.nsecsElapsed()) / 1e6;
                if (d->SortKey() != 1 || d->SortOrder() != 1) c.fallos << QStringLiteral("el clic no ordenó");
                // F5 and "Llenar Con Posibles Valores" in the RUBRO box.
                guion->ResponderMenu(0);
                t.restart();
                QTest::keyClick(d->CajaBusqueda(2), Qt::Key_F5);
                QApplication::processEvents();
                c.llenar = double(t.nsecsElapsed()) / 1e6;
                if (d->CajaBusqueda(2)->count() != filas) c.fallos << QStringLiteral("F5 no llenó la lista");
                guion->Limpiar();
            }
            d->findChild<QPushButton*>(QStringLiteral("CmdCancelar"))->click();
        });
        app.installEventFilter(&vigia);
        antesCpu = cpu();
        usoAntes = uso();
        reloj.start();
        consulta.ConsultaSearch(Tabla, cmps, QString(), campoBusqueda);
        app.removeEventFilter(&vigia);
        cargas.push_back(carga);
        cargasCpu.push_back(cargaCpu);
        ratios.push_back(piso > 0 ? carga / piso : 0);
        // CPU time counts both threads of the loading; the system part and the page faults
        // tell memory work from computing.
        std::printf(
            "vuelta_%d: piso_ms=%.0f (cpu %.0f) recordset_ms=%.0f carga_ms=%.0f (cpu %.0f, sistema %.0f, "
            "fallos de página %ld) ratio=%.3f\n",
            vez + 1, piso, pisosCpu.back(), recordsets.back(), carga, cargaCpu,
            usoTras.sistema - usoAntes.sistema, usoTras.fallos - usoAntes.fallos, ratios.back());
        if (consulta.Valores) c.fallos << QStringLiteral("la consulta no terminó cancelada");
    }

    {
        // A column of numbers as the sort column: sorted by value, so a search there is a
        // pass over the column rather than a binary search.
        Lib_ClsCons2 consulta;
        consulta.gConnString = gSesion().CadenaConexion();
        ColeccionRef ninguna;
        QString campoBusqueda;
        bool ordenado = false;
        Vigia vigia([&] {
            auto* d = qobject_cast<Lib_FrmCons2*>(QApplication::activeModalWidget());
            if (!d) return;
            ordenado = d->Modelo()->PorValor(0) && d->Modelo()->Texto(0, 0) == QLatin1String("1");
            d->CajaBusqueda(0)->setFocus();
            c.primeraNumero = tecla(d, d->CajaBusqueda(0), QChar('9'));
            d->CajaBusqueda(0)->clearEditText();
            do
                QApplication::processEvents();
            while (d->BusquedaPendiente());
            teclear(d, d->CajaBusqueda(0), QStringLiteral("123456"), c.teclasNumero);
            teclear(d, d->CajaBusqueda(0), QStringLiteral("x"), c.teclasNumero);
            d->findChild<QPushButton*>(QStringLiteral("CmdCancelar"))->click();
        });
        app.installEventFilter(&vigia);
        consulta.ConsultaSearch(
            QStringLiteral("SELECT CAST(SUBSTR(CODIGO, 4) AS INTEGER) AS NUMERO, DESCRIPCION FROM %1")
                .arg(Tabla),
            ninguna, QString(), campoBusqueda);
        app.removeEventFilter(&vigia);
        if (!ordenado) c.fallos << QStringLiteral("la columna de números no quedó ordenada por valor");
    }
    c.piso = mediana(pisos);
    c.pisoCpu = mediana(pisosCpu);
    const double recordset = mediana(recordsets);
    c.carga = mediana(cargas);
    c.cargaCpu = mediana(cargasCpu);

    for (const auto& a : guion->Avisos())
        c.fallos << QStringLiteral("aviso: %1 %2").arg(a.procedimiento, a.texto);
    if (c.filasVistas != filas) c.fallos << QStringLiteral("filas cargadas: %1").arg(c.filasVistas);

    const double mb = 1024.0;
    std::printf("filas=%d\n", filas);
    std::printf("texto_utf8_mb=%.1f\n", double(c.bytesTexto) / (mb * mb));
    std::printf("piso_ms=%.0f (cpu %.0f)\n", c.piso, c.pisoCpu);
    std::printf("recordset_ms=%.0f\n", recordset);
    std::printf("carga_y_pintado_ms=%.0f (cpu %.0f)\n", c.carga, c.cargaCpu);
    std::printf("ratio_cpu=%.3f\n", c.pisoCpu > 0 ? c.cargaCpu / c.pisoCpu : 0.0);
    std::printf("tecla_columna_orden_mediana_ms=%.2f (max %.2f)\n", mediana(c.teclasOrden),
                c.teclasOrden.empty() ? 0.0 : *std::max_element(c.teclasOrden.begin(), c.teclasOrden.end()));
    std::printf("tecla_otra_columna_mediana_ms=%.2f (max %.2f)\n", mediana(c.teclasOtra),
                c.teclasOtra.empty() ? 0.0 : *std::max_element(c.teclasOtra.begin(), c.teclasOtra.end()));
    std::printf("tecla_columna_numerica_mediana_ms=%.2f (max %.2f)\n", mediana(c.teclasNumero),
                c.teclasNumero.empty() ? 0.0
                                       : *std::max_element(c.teclasNumero.begin(), c.teclasNumero.end()));
    std::printf("primera_tecla_ms=%.1f (columna de orden %.1f, otra columna %.1f, columna numérica %.1f)\n",
                std::max({c.primeraOrden, c.primeraOtra, c.primeraNumero}), c.primeraOrden, c.primeraOtra,
                c.primeraNumero);
    std::printf("ordenar_clic_ms=%.0f\n", c.ordenar);
    std::printf("llenar_f5_ms=%.0f\n", c.llenar);
    std::printf("memoria_carga_mb=%.1f (limite %.1f)\n", double(c.memoriaCarga) / mb,
                3.0 * double(c.bytesTexto) / (mb * mb));
    std::printf("memoria_tras_carga_mb=%.1f\n", double(c.memoriaTras) / mb);
    std::printf("pico_proceso_mb=%.1f\n", double(pico()) / mb);
    for (const auto& f : c.fallos)
        std::printf("fallo: %s\n", qPrintable(f));
    std::printf("ratio_max=%.3f\n", ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
    std::printf("ratio=%.3f\n", mediana(ratios));
    gSesion().Desconectar();
    return c.fallos.isEmpty() ? 0 : 1;
}
