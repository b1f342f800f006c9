#include "purge/listados.h"

#include "purge/archivo.h"
#include "purge/archivo_p.h"
#include "purge/listados_formato.h"
#include "purge/listados_tipografia.h"
#include "suite/avance.h"
#include "suite/error.h"

#include <algorithm>
#include <atomic>
#include <cairo-pdf.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <unistd.h>

namespace {

// ---- Page and type --------------------------------------------------------------------------

constexpr double kAnchoA4 = 595.276; // points
constexpr double kAltoA4 = 841.890;
constexpr double kMargen = 28.35;   // 1 cm
constexpr double kTamCuerpo = 8;    // the rows' type, shrunk down to kTamMinimo when columns do not fit
constexpr double kTamLegible = 6.5; // the smallest that keeps most rows on one line
constexpr double kTamMinimo = 5.5;
constexpr double kTamTitulo = 13;
constexpr double kTamDatos = 7.5; // the header's lines under the title
constexpr double kInterlineado = 1.0;
constexpr double kHolgura = 1e-6;
const char kFamilia[] = "DejaVu Sans";
const char kFamiliaNegrita[] = "DejaVu Sans Bold";
const QString kSeparador = QStringLiteral("   ·   ");

double rellenoHorizontal(double tam) {
    return 0.45 * tam;
}
double rellenoVertical(double tam) {
    return 0.16 * tam;
}

// ---- Errors ---------------------------------------------------------------------------------

QString motivoDeSistema(int error) {
    switch (error) {
    case ENOENT:
        return QStringLiteral("la carpeta no existe");
    case EACCES:
    case EPERM:
        return QStringLiteral("no hay permiso para escribir en la carpeta");
    case EROFS:
        return QStringLiteral("la carpeta es de solo lectura");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("no queda espacio en el disco");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

long numeroDeError(int error) {
    switch (error) {
    case ENOENT:
        return Errores::ArchivoNoEncontrado;
    case EACCES:
    case EPERM:
    case EROFS:
        return Errores::PermisoDenegado;
    default:
        return Errores::ErrorEntradaSalida;
    }
}

// ---- The PDF file ---------------------------------------------------------------------------

// The PDF under a temporary name in its folder, renamed over the listing's name once whole.
class ArchivoPdf {
public:
    explicit ArchivoPdf(const QString& ruta) : ruta_(ruta) {
        static std::atomic<unsigned> contador{0};
        const QFileInfo destino(ruta_);
        temporal_ = destino.dir().filePath(QStringLiteral(".%1.%2-%3.parcial")
                                               .arg(destino.fileName())
                                               .arg(::getpid())
                                               .arg(contador.fetch_add(1)));
        fd_ = ::open(QFile::encodeName(temporal_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw ErrorSistema(
                numeroDeError(errno),
                QStringLiteral("No se pudo crear el listado %1: %2").arg(ruta_, motivoDeSistema(errno)));
    }
    ~ArchivoPdf() {
        if (fd_ >= 0) ::close(fd_);
        if (!terminado_) ::unlink(QFile::encodeName(temporal_).constData());
    }
    ArchivoPdf(const ArchivoPdf&) = delete;
    ArchivoPdf& operator=(const ArchivoPdf&) = delete;

    // cairo writes a few bytes at a time: they reach the file in blocks.
    static cairo_status_t Escribir(void* yo, const unsigned char* datos, unsigned int largo) {
        auto* a = static_cast<ArchivoPdf*>(yo);
        a->pendiente_.append(reinterpret_cast<const char*>(datos), largo);
        if (a->pendiente_.size() >= kBloque) a->volcar();
        return a->error_ ? CAIRO_STATUS_WRITE_ERROR : CAIRO_STATUS_SUCCESS;
    }
    // Raises the failure cairo reported, naming the write's cause when it was the disk's.
    void Exigir(cairo_status_t estado) const {
        if (estado == CAIRO_STATUS_SUCCESS) return;
        if (error_) fallarEscritura(error_);
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("No se pudo generar el listado %1 (%2).")
                               .arg(ruta_, QString::fromUtf8(cairo_status_to_string(estado))));
    }
    // Synced, closed and renamed over the listing's name.
    void Terminar() {
        volcar();
        if (error_) fallarEscritura(error_);
        if (::fsync(fd_) != 0) fallarEscritura(errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fallarEscritura(errno);
        if (::rename(QFile::encodeName(temporal_).constData(), QFile::encodeName(ruta_).constData()) != 0)
            fallarEscritura(errno);
        terminado_ = true;
        // The new name lasts only once the folder is on the disk too.
        const int carpeta =
            ::open(QFile::encodeName(QFileInfo(ruta_).path()).constData(), O_RDONLY | O_CLOEXEC);
        if (carpeta >= 0) {
            ::fsync(carpeta);
            ::close(carpeta);
        }
    }

private:
    static constexpr size_t kBloque = 1 << 18;
    void volcar() {
        const char* p = pendiente_.data();
        size_t largo = pendiente_.size();
        while (largo > 0 && error_ == 0) {
            const ssize_t n = ::write(fd_, p, largo);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            p += n;
            largo -= size_t(n);
        }
        pendiente_.clear();
    }
    [[noreturn]] void fallarEscritura(int error) const {
        throw ErrorSistema(
            numeroDeError(error),
            QStringLiteral("No se pudo escribir el listado %1: %2").arg(ruta_, motivoDeSistema(error)));
    }
    QString ruta_, temporal_;
    int fd_ = -1;
    int error_ = 0;
    bool terminado_ = false;
    std::string pendiente_;
};

// ---- The archive's rows, in the listing's order ---------------------------------------------

// The canonical form of a date text, for ORDER BY: "2022-03-01 10:30:00" sorts as dates do,
// whichever form the driver gave.
void claveFecha(sqlite3_context* c, int, sqlite3_value** v) {
    if (sqlite3_value_type(v[0]) != SQLITE_TEXT) {
        sqlite3_result_value(c, v[0]);
        return;
    }
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v[0]));
    std::string s;
    AnexarCampoCanonico(s, ClaseCanonica::Fecha, Dato::DeTexto(p, sqlite3_value_bytes(v[0])));
    if (!s.empty() && s[0] == 'D')
        sqlite3_result_text(c, s.data() + 1, int(s.size()) - 1, SQLITE_TRANSIENT);
    else
        sqlite3_result_value(c, v[0]);
}

// A read-only connection of its own to an archive that LectorArchivo has opened (and so
// checked, and rolled back when a write was cut short): the reader gives the rows in the
// archive's order only.
class Filas {
public:
    explicit Filas(const QString& ruta) : ruta_(ruta) {
        const int rc = sqlite3_open_v2(QFile::encodeName(ruta_).constData(), &db_,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) fallar(rc);
        sqlite3_create_function_v2(db_, "clave_fecha", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   &claveFecha, nullptr, nullptr, nullptr);
    }
    ~Filas() { sqlite3_close(db_); }
    Filas(const Filas&) = delete;
    Filas& operator=(const Filas&) = delete;

    // Every row of the query; the values are valid during the call.
    void Recorrer(const QString& sql, const std::function<void(const Dato*)>& porFila) {
        sqlite3_stmt* s = nullptr;
        const QByteArray texto = sql.toUtf8();
        int rc = sqlite3_prepare_v2(db_, texto.constData(), int(texto.size()), &s, nullptr);
        if (rc != SQLITE_OK) fallar(rc);
        const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guarda(s, &sqlite3_finalize);
        const int n = sqlite3_column_count(s);
        fila_.resize(size_t(n));
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            for (int i = 0; i < n; ++i)
                fila_[size_t(i)] = archivo_p::DatoDeColumna(s, i);
            porFila(fila_.data());
        }
        if (rc != SQLITE_DONE) fallar(rc);
    }

private:
    [[noreturn]] void fallar(int rc) const {
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("No se pudo leer el archivo de depuración %1: %2")
                               .arg(ruta_, archivo_p::TextoErrorSqlite(db_, rc)));
    }
    QString ruta_;
    sqlite3* db_ = nullptr;
    std::vector<Dato> fila_;
};

// ---- What a listing shows -------------------------------------------------------------------

struct Columna {
    QString titulo;
    QString nombre; // in the archive
    FormatoColumna formato;
    bool opcional = false; // shown only when some row has a value
    bool conDatos = false;
    // Measured at one point of type size.
    double natural = 0;                           // the widest value (and total)
    std::vector<std::uint32_t> histograma;        // values by width, in quarter points
    double encabezado = 0, palabraEncabezado = 0; // the heading, bold
    SumaExacta suma;
    std::string total; // amounts: the total as shown
    // Laid out, in points at the listing's size.
    bool partible = false; // a value may take more than one line
    double ancho = 0;      // the text's room
    double x = 0;          // left edge of the text

    bool EsTexto() const { return formato.clase == FormatoColumna::Clase::Texto; }
    Alineacion Alinear() const {
        return formato.clase == FormatoColumna::Clase::Entero ||
                       formato.clase == FormatoColumna::Clase::Decimal
                   ? Alineacion::Derecha
                   : Alineacion::Izquierda;
    }
    // The width that leaves all but one in fifty values on one line.
    double Percentil98() const {
        const auto valores = std::accumulate(histograma.begin(), histograma.end(), std::uint64_t(0));
        std::uint64_t vistos = 0;
        for (size_t i = 0; i < histograma.size(); ++i) {
            vistos += histograma[i];
            if (vistos * 50 >= valores * 49) return std::min(natural, (double(i) + 1) / 4);
        }
        return natural;
    }
};

struct Documento {
    Listado listado = Listado::LibroDiario;
    QString titulo;
    QStringList datos;        // the header's lines under the title
    QString operador, asunto; // the PDF's author and subject
    QString tabla;
    std::vector<Columna> columnas;
    QString orden; // ORDER BY
    qint64 filas = 0;
    // Laid out.
    bool horizontal = false;
    double tam = kTamCuerpo;
};

QString normalizado(const QString& nombre) {
    QString r;
    for (const QChar c : nombre)
        if (c.isLetterOrNumber()) r += c.toUpper();
    return r;
}

QString citado(const QString& nombre) {
    return archivo_p::Citado(nombre);
}

// The journal: every column of the source table, in its order.
void columnasDelDiario(Documento& d, const TablaArchivo& tabla) {
    static const QRegularExpression kNumero(
        QStringLiteral("^(NRO|NUM|NUMERO|NO|N)?(ASIENTO|ASTO)(NRO|NUM|NUMERO)?$"));
    static const QRegularExpression kFecha(
        QStringLiteral("^FECHA(ASIENTO|CONTABLE|ASTO)?$|^FEC(ASIENTO|ASTO)$"));
    QString numero, fecha, primeraFecha;
    for (const ColumnaArchivo& c : tabla.columnas) {
        if (c.nombre == QLatin1String(kColumnaRowid)) continue;
        Columna col;
        col.titulo = col.nombre = c.nombre;
        col.formato = FormatoDeTipo(c.tipo);
        d.columnas.push_back(std::move(col));
        const QString n = normalizado(c.nombre);
        const bool esFecha = d.columnas.back().formato.clase == FormatoColumna::Clase::Fecha;
        if (numero.isEmpty() && kNumero.match(n).hasMatch()) numero = c.nombre;
        if (fecha.isEmpty() && esFecha && kFecha.match(n).hasMatch()) fecha = c.nombre;
        if (primeraFecha.isEmpty() && esFecha) primeraFecha = c.nombre;
    }
    if (fecha.isEmpty()) fecha = primeraFecha;
    QStringList orden;
    // Entry numbers by value (stored as numbers or as texts), then as stored when not numbers.
    if (!numero.isEmpty())
        orden << QStringLiteral("CAST(%1 AS NUMERIC)").arg(citado(numero)) << citado(numero);
    if (!fecha.isEmpty()) orden << QStringLiteral("clave_fecha(%1)").arg(citado(fecha));
    orden << QStringLiteral("rowid");
    d.orden = orden.join(QStringLiteral(", "));
}

// The carried stock: the columns the opening balances are grouped by.
void columnasDeExistencias(Documento& d, const TablaArchivo& tabla) {
    enum class Rol { Articulo, Deposito, Cantidad, Otro };
    struct Buscada {
        const char* titulo;
        QStringList nombres;
        bool opcional;
        Rol rol;
    };
    const Buscada buscadas[] = {
        {"Artículo", {"IDARTICULO", "ARTICULO", "CODARTICULO", "CODIGOARTICULO"}, false, Rol::Articulo},
        {"Descripción", {"DESCRIPCION", "DESCRIPCIONARTICULO", "DESCARTICULO"}, false, Rol::Otro},
        {"Unidad", {"IDUNIDAD", "UNIDAD", "UNIDADMEDIDA"}, false, Rol::Otro},
        {"Depósito", {"IDDEPOSITO", "DEPOSITO", "CODDEPOSITO"}, false, Rol::Deposito},
        {"Posición", {"IDPOSICION", "POSICION"}, true, Rol::Otro},
        {"Serie", {"NROSERIE", "SERIE", "NUMEROSERIE"}, true, Rol::Otro},
        {"Lote", {"NROLOTE", "LOTE", "NUMEROLOTE"}, true, Rol::Otro},
        {"Cantidad", {"CANTIDAD"}, false, Rol::Cantidad},
    };
    QString articulo, deposito;
    for (const Buscada& b : buscadas) {
        for (const ColumnaArchivo& c : tabla.columnas) {
            if (!b.nombres.contains(normalizado(c.nombre))) continue;
            Columna col;
            col.titulo = QString::fromUtf8(b.titulo);
            col.nombre = c.nombre;
            col.formato = FormatoDeTipo(c.tipo);
            col.opcional = b.opcional;
            if (b.rol == Rol::Articulo) articulo = c.nombre;
            if (b.rol == Rol::Deposito) deposito = c.nombre;
            // The quantity is what the listing totals, whatever its declared type.
            if (b.rol == Rol::Cantidad) {
                col.formato.clase = FormatoColumna::Clase::Decimal;
                col.formato.importe = true;
            }
            d.columnas.push_back(std::move(col));
            break;
        }
    }
    QStringList orden;
    if (!articulo.isEmpty()) orden << citado(articulo) + QStringLiteral(" COLLATE NOCASE");
    if (!deposito.isEmpty())
        orden << QStringLiteral("CAST(%1 AS NUMERIC)").arg(citado(deposito)) << citado(deposito);
    orden << QStringLiteral("rowid");
    d.orden = orden.join(QStringLiteral(", "));
}

QString seleccion(const Documento& d, const std::function<bool(const Columna&)>& incluir) {
    QStringList nombres;
    for (const Columna& c : d.columnas)
        if (incluir(c)) nombres << citado(c.nombre);
    if (nombres.isEmpty()) nombres << QStringLiteral("NULL");
    return QStringLiteral("SELECT %1 FROM %2").arg(nombres.join(QStringLiteral(", ")), citado(d.tabla));
}

// ---- Progress -------------------------------------------------------------------------------

// How far a listing has got, written by the thread that prints it and read by the caller's,
// which alone may touch the progress display.
struct Marcha {
    std::atomic<int> milesimas{0}; // share done
    std::atomic<int> pagina{0}, paginas{0};
    void Fijar(double fraccion) { milesimas = int(std::clamp(fraccion, 0.0, 1.0) * 1000); }
};

// ---- Laying out -----------------------------------------------------------------------------

// Gives each column at least base[i] and at most tope[i], sharing what is left equally.
std::vector<double> repartir(const std::vector<double>& base, const std::vector<double>& tope,
                             double disponible) {
    std::vector<double> r = base;
    double resto = disponible - std::accumulate(base.begin(), base.end(), 0.0);
    std::vector<size_t> abiertas;
    for (size_t i = 0; i < base.size(); ++i)
        if (tope[i] > base[i]) abiertas.push_back(i);
    std::sort(abiertas.begin(), abiertas.end(),
              [&](size_t a, size_t b) { return tope[a] - base[a] < tope[b] - base[b]; });
    for (size_t k = 0; k < abiertas.size() && resto > 0; ++k) {
        const size_t i = abiertas[k];
        const double parte = resto / double(abiertas.size() - k);
        const double dado = std::min(parte, tope[i] - base[i]);
        r[i] += dado;
        resto -= dado;
    }
    return r;
}

class Maquetador {
public:
    explicit Maquetador(Fuente& normal) : normal_(normal) {}

    // Chooses the orientation, the type size and the columns' widths.
    void Disponer(Documento& d) {
        auto& cols = d.columnas;
        const size_t n = cols.size();
        // 1. Everything on one line, headings whole: upright, else across.
        for (const bool horizontal : {false, true}) {
            std::vector<double> w(n);
            for (size_t i = 0; i < n; ++i)
                w[i] = std::max(cols[i].natural, cols[i].encabezado) * kTamCuerpo;
            if (probar(d, horizontal, kTamCuerpo, w, w)) return;
        }
        // 2. Texts as wide as all but their widest values, numbers and dates whole: upright, else
        // across, with the type a little smaller if need be.
        const auto casiTodo = [&](bool horizontal, double tam) {
            std::vector<double> base(n), tope(n);
            for (size_t i = 0; i < n; ++i) {
                const Columna& c = cols[i];
                base[i] = std::max(c.EsTexto() ? c.Percentil98() : c.natural, c.palabraEncabezado) * tam;
                tope[i] = std::max({c.natural, c.encabezado, base[i] / tam}) * tam;
            }
            return probar(d, horizontal, tam, base, tope);
        };
        if (casiTodo(false, kTamCuerpo)) return;
        for (double tam = kTamCuerpo; tam >= kTamLegible - kHolgura; tam -= 0.5)
            if (casiTodo(true, tam)) return;
        // 3. Across, texts down to a dozen characters, the type smaller when needed.
        for (double tam = kTamCuerpo; tam >= kTamMinimo - kHolgura; tam -= 0.5) {
            std::vector<double> base(n), tope(n);
            const double docena = 12 * normal_.Ancho("n");
            for (size_t i = 0; i < n; ++i) {
                const Columna& c = cols[i];
                base[i] =
                    std::max(c.EsTexto() ? std::min(c.natural, docena) : c.natural, c.palabraEncabezado) *
                    tam;
                tope[i] = std::max({c.natural, c.encabezado, base[i] / tam}) * tam;
            }
            if (probar(d, true, tam, base, tope)) return;
        }
        // 4. Too many columns for a page: the smallest type, numbers and dates whole, headings and
        // texts broken anywhere.
        const double letra = normal_.Ancho("W");
        std::vector<double> base(n), tope(n);
        for (size_t i = 0; i < n; ++i) {
            const Columna& c = cols[i];
            base[i] = (c.EsTexto() ? std::min(c.natural, letra) : c.natural) * kTamMinimo;
            tope[i] = (c.EsTexto() ? std::max({c.natural, c.encabezado, letra}) : c.natural) * kTamMinimo;
        }
        if (probar(d, true, kTamMinimo, base, tope)) return;
        // 5. The type as small as one letter and its margins in each column need, every column
        // at least that wide and the rest shared out: nothing is lost, however many the columns.
        const double tam =
            std::min(kTamMinimo, (kAltoA4 - 2 * kMargen) /
                                     (double(std::max<size_t>(n, 1)) * (letra + 2 * rellenoHorizontal(1))));
        for (size_t i = 0; i < n; ++i) {
            base[i] = letra * tam;
            tope[i] = std::max({cols[i].natural, cols[i].encabezado, letra}) * tam;
        }
        probar(d, true, tam, base, tope);
    }

private:
    bool probar(Documento& d, bool horizontal, double tam, const std::vector<double>& base,
                const std::vector<double>& tope) {
        const double util = (horizontal ? kAltoA4 : kAnchoA4) - 2 * kMargen -
                            double(d.columnas.size()) * 2 * rellenoHorizontal(tam);
        if (std::accumulate(base.begin(), base.end(), 0.0) > util + kHolgura) return false;
        std::vector<double> w = repartir(base, tope, util);
        for (size_t i = 0; i < w.size(); ++i)
            d.columnas[i].partible = w[i] < d.columnas[i].natural * tam - kHolgura;
        fijar(d, horizontal, tam, w);
        return true;
    }
    // Widths set; what the page has left goes evenly to the columns, a little each.
    void fijar(Documento& d, bool horizontal, double tam, std::vector<double> w) {
        const double util = (horizontal ? kAltoA4 : kAnchoA4) - 2 * kMargen;
        const double relleno = rellenoHorizontal(tam);
        const double ocupado = std::accumulate(w.begin(), w.end(), 0.0) + double(w.size()) * 2 * relleno;
        const double extra =
            std::min(4 * tam, std::max(0.0, util - ocupado) / double(std::max<size_t>(w.size(), 1)));
        double x = kMargen;
        for (size_t i = 0; i < w.size(); ++i) {
            Columna& c = d.columnas[i];
            c.ancho = w[i] + extra;
            c.x = x + relleno;
            x += c.ancho + 2 * relleno;
        }
        d.horizontal = horizontal;
        d.tam = tam;
    }
    Fuente& normal_;
};

// ---- Pages ----------------------------------------------------------------------------------

// Places rows of so many lines on pages of the body's height; a row taller than a page is
// continued on the next ones, line by line. The same sequence of rows gives the same pages.
class Paginador {
public:
    struct Tramo {
        int pagina;
        double y, alto;   // from the body's top
        int desde, hasta; // the row's lines
    };
    Paginador(double alto, double altoLinea, double relleno)
        : alto_(alto), linea_(altoLinea), relleno_(relleno) {}
    double Alto(int lineas) const { return lineas * linea_ + 2 * relleno_; }
    int Paginas() const { return pagina_; }

    template <class F> void Colocar(int lineas, F&& alTramo) {
        const double h = Alto(lineas);
        if (pagina_ == 0) nueva();
        if (usado_ + h <= alto_ + kHolgura) {
            alTramo(Tramo{pagina_, usado_, h, 0, lineas});
            usado_ += h;
            return;
        }
        if (usado_ > 0) nueva();
        if (h <= alto_ + kHolgura) {
            alTramo(Tramo{pagina_, 0, h, 0, lineas});
            usado_ = h;
            return;
        }
        const int porPagina = std::max(1, int((alto_ - 2 * relleno_ + kHolgura) / linea_));
        for (int desde = 0; desde < lineas; desde += porPagina) {
            if (desde > 0) nueva();
            const int hasta = std::min(lineas, desde + porPagina);
            alTramo(Tramo{pagina_, 0, Alto(hasta - desde), desde, hasta});
            usado_ = Alto(hasta - desde);
        }
    }
    // A block that stays whole (the totals): on this page when it fits, else on a new one.
    template <class F> void Reservar(double h, F&& alBloque) {
        if (pagina_ == 0 || (usado_ > 0 && usado_ + h > alto_ + kHolgura)) nueva();
        alBloque(pagina_, usado_);
        usado_ += h;
    }

private:
    void nueva() {
        ++pagina_;
        usado_ = 0;
    }
    double alto_, linea_, relleno_;
    int pagina_ = 0;
    double usado_ = 0;
};

class Impresor {
public:
    Impresor(const QString& archivo, Marcha& marcha)
        : mapa_(pango_cairo_font_map_new()), normal_(mapa_.get(), kFamilia),
          negrita_(mapa_.get(), kFamiliaNegrita), filas_(archivo), marcha_(marcha) {}
    Impresor(const Impresor&) = delete;
    Impresor& operator=(const Impresor&) = delete;

    ListadoEmitido Imprimir(Documento& d, const QString& ruta);

private:
    void Medir(Documento& d);
    void Geometria(const Documento& d);
    int Paginar(const Documento& d);
    void Dibujar(const Documento& d, ArchivoPdf& pdf, int paginas);
    void DibujarEncabezado(cairo_t* cr, const Documento& d, int pagina, int paginas);
    int LineasDeFila(const Documento& d, const Dato* fila, const std::vector<int>& indices);
    // The rows of the page being filled are kept and drawn once it is complete: every other one
    // on a grey stripe, all the stripes in one fill (a fill per row costs cairo as much as a
    // row's text).
    void GuardarFila(const Documento& d, const Paginador::Tramo& t, bool franja);
    void DibujarFilas(cairo_t* cr, const Documento& d);
    void DibujarTotales(cairo_t* cr, const Documento& d, double usado);

    struct Soltar {
        void operator()(PangoFontMap* p) const { g_object_unref(p); }
    };
    std::unique_ptr<PangoFontMap, Soltar> mapa_; // before the fonts, which use it
    Fuente normal_, negrita_;
    Filas filas_;
    Marcha& marcha_;
    // Geometry of the pages of the listing being printed.
    double anchoPagina_ = 0, altoPagina_ = 0;
    double altoLinea_ = 0, rellenoV_ = 0;
    double yEncabezadoColumnas_ = 0, altoEncabezadoColumnas_ = 0, yCuerpo_ = 0, altoCuerpo_ = 0;
    double altoTotales_ = 0;
    std::vector<std::vector<TramoTexto>> lineasEncabezado_;
    std::vector<std::vector<TramoTexto>> lineasDatos_; // the header's lines under the title
    std::vector<QByteArray> datosUtf8_;
    // Scratch for a row.
    std::vector<std::string> textos_;
    std::vector<std::vector<TramoTexto>> tramos_;
    // The rows of the page being filled (the first enPagina_ of them; the rest are kept for
    // their buffers).
    struct FilaDePagina {
        Paginador::Tramo tramo;
        bool franja = false;
        std::vector<std::string> textos;
        std::vector<std::vector<TramoTexto>> tramos;
    };
    std::vector<FilaDePagina> filasDePagina_;
    size_t enPagina_ = 0;
};

void Impresor::Medir(Documento& d) {
    std::string texto;
    NumeroDecimal numero;
    qint64 leidas = 0;
    // The rows' order does not bear on widths and totals: the archive's own, with no sort.
    filas_.Recorrer(seleccion(d, [](const Columna&) { return true; }), [&](const Dato* fila) {
        for (size_t i = 0; i < d.columnas.size(); ++i) {
            Columna& c = d.columnas[i];
            const Dato& v = fila[i];
            if (v.tipo == Dato::Tipo::Nulo) continue;
            texto.clear();
            AnexarValor(texto, c.formato, v);
            if (!texto.empty()) c.conDatos = true;
            const double ancho = normal_.Ancho(texto);
            c.natural = std::max(c.natural, ancho);
            const size_t casilla = std::min(size_t(ancho * 4), size_t(4000));
            if (c.histograma.size() <= casilla) c.histograma.resize(casilla + 1, 0);
            ++c.histograma[casilla];
            if (c.formato.importe && NumeroDeValor(c.formato, v, numero)) c.suma.Agregar(numero);
        }
        if (++leidas % 4096 == 0) marcha_.Fijar(0.2 * double(leidas) / double(std::max<qint64>(d.filas, 1)));
    });
    d.filas = leidas;
    std::erase_if(d.columnas, [](const Columna& c) { return c.opcional && !c.conDatos; });
    for (Columna& c : d.columnas) {
        const QByteArray titulo = c.titulo.toUtf8();
        c.encabezado = negrita_.Ancho(titulo.toStdString());
        c.palabraEncabezado = negrita_.AnchoPalabraMasLarga(titulo.toStdString());
        if (c.formato.importe) {
            AnexarNumeroEspanol(c.total, c.suma.Total(), c.formato.decimales);
            c.natural = std::max(c.natural, negrita_.Ancho(c.total));
        }
    }
}

// Where things go on every page, once the columns are laid out.
void Impresor::Geometria(const Documento& d) {
    anchoPagina_ = d.horizontal ? kAltoA4 : kAnchoA4;
    altoPagina_ = d.horizontal ? kAnchoA4 : kAltoA4;
    const double util = anchoPagina_ - 2 * kMargen;
    altoLinea_ = (normal_.Ascenso() + normal_.Descenso()) * d.tam * kInterlineado;
    rellenoV_ = rellenoVertical(d.tam);
    double y = kMargen + (negrita_.Ascenso() + negrita_.Descenso()) * kTamTitulo * 1.15;
    lineasDatos_.clear();
    datosUtf8_.clear();
    for (const QString& linea : d.datos) {
        datosUtf8_.push_back(linea.toUtf8());
        lineasDatos_.emplace_back();
        normal_.Partir(datosUtf8_.back().toStdString(), kTamDatos, util, lineasDatos_.back());
        y += double(lineasDatos_.back().size()) * (normal_.Ascenso() + normal_.Descenso()) * kTamDatos * 1.15;
    }
    yEncabezadoColumnas_ = y + 5;
    int lineas = 1;
    lineasEncabezado_.assign(d.columnas.size(), {});
    for (size_t i = 0; i < d.columnas.size(); ++i) {
        const QByteArray titulo = d.columnas[i].titulo.toUtf8();
        lineas = std::max(lineas, negrita_.Partir(titulo.toStdString(), d.tam, d.columnas[i].ancho + kHolgura,
                                                  lineasEncabezado_[i]));
    }
    altoEncabezadoColumnas_ = lineas * altoLinea_ + 2 * rellenoV_;
    yCuerpo_ = yEncabezadoColumnas_ + altoEncabezadoColumnas_ + 1;
    altoCuerpo_ = altoPagina_ - kMargen - yCuerpo_;
    // A rule, the count, and the totals under their columns.
    altoTotales_ = 3 + 2 * altoLinea_ + 3 * rellenoV_;
}

int Impresor::LineasDeFila(const Documento& d, const Dato* fila, const std::vector<int>& indices) {
    int lineas = 1;
    for (size_t k = 0; k < indices.size(); ++k) {
        const Columna& c = d.columnas[size_t(indices[k])];
        std::string& texto = textos_[size_t(indices[k])];
        std::vector<TramoTexto>& tramos = tramos_[size_t(indices[k])];
        texto.clear();
        AnexarValor(texto, c.formato, fila[k]);
        if (c.partible) {
            lineas = std::max(lineas, normal_.Partir(texto, d.tam, c.ancho + kHolgura, tramos));
        } else {
            tramos.assign(1, TramoTexto{0, int(texto.size())});
        }
    }
    return lineas;
}

int Impresor::Paginar(const Documento& d) {
    Paginador p(altoCuerpo_, altoLinea_, rellenoV_);
    const auto nada = [](const Paginador::Tramo&) {};
    std::vector<int> partibles;
    for (size_t i = 0; i < d.columnas.size(); ++i)
        if (d.columnas[i].partible) partibles.push_back(int(i));
    if (partibles.empty() || d.filas == 0) {
        // Every row takes one line: no need to read them.
        for (qint64 i = 0; i < std::max<qint64>(d.filas, 1); ++i)
            p.Colocar(1, nada);
    } else {
        textos_.assign(d.columnas.size(), {});
        tramos_.assign(d.columnas.size(), {});
        qint64 leidas = 0;
        const QString sql = seleccion(d, [](const Columna& c) { return c.partible; }) +
                            QStringLiteral(" ORDER BY ") + d.orden;
        filas_.Recorrer(sql, [&](const Dato* fila) {
            p.Colocar(LineasDeFila(d, fila, partibles), nada);
            if (++leidas % 4096 == 0) marcha_.Fijar(0.2 + 0.1 * double(leidas) / double(d.filas));
        });
    }
    p.Reservar(altoTotales_, [](int, double) {});
    return p.Paginas();
}

void Impresor::DibujarEncabezado(cairo_t* cr, const Documento& d, int pagina, int paginas) {
    const double derecha = anchoPagina_ - kMargen;
    cairo_set_source_rgb(cr, 0, 0, 0);
    double y = kMargen + negrita_.Ascenso() * kTamTitulo;
    const QByteArray titulo = d.titulo.toUtf8();
    negrita_.Dibujar(cr, titulo.toStdString(), kTamTitulo, kMargen, y, Alineacion::Izquierda);
    negrita_.Vaciar(cr);
    const QByteArray numero = QStringLiteral("Página %1 de %2").arg(pagina).arg(paginas).toUtf8();
    normal_.Dibujar(cr, numero.toStdString(), 9, derecha, y, Alineacion::Derecha);
    y = kMargen + (negrita_.Ascenso() + negrita_.Descenso()) * kTamTitulo * 1.15;
    const double altoDatos = (normal_.Ascenso() + normal_.Descenso()) * kTamDatos * 1.15;
    for (size_t k = 0; k < lineasDatos_.size(); ++k) {
        const std::string_view texto(datosUtf8_[k].constData(), size_t(datosUtf8_[k].size()));
        for (const TramoTexto& t : lineasDatos_[k]) {
            normal_.Dibujar(cr, texto.substr(size_t(t.desde), size_t(t.hasta - t.desde)), kTamDatos, kMargen,
                            y + normal_.Ascenso() * kTamDatos, Alineacion::Izquierda);
            y += altoDatos;
        }
    }
    normal_.Vaciar(cr);
    // The column headings, on a grey band between two rules.
    const double yc = yEncabezadoColumnas_;
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_rectangle(cr, kMargen, yc, derecha - kMargen, altoEncabezadoColumnas_);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.6);
    cairo_move_to(cr, kMargen, yc);
    cairo_line_to(cr, derecha, yc);
    cairo_move_to(cr, kMargen, yc + altoEncabezadoColumnas_);
    cairo_line_to(cr, derecha, yc + altoEncabezadoColumnas_);
    cairo_stroke(cr);
    for (size_t i = 0; i < d.columnas.size(); ++i) {
        const Columna& c = d.columnas[i];
        const QByteArray t = c.titulo.toUtf8();
        const std::string_view texto(t.constData(), size_t(t.size()));
        double base = yc + rellenoV_ + normal_.Ascenso() * d.tam;
        for (const TramoTexto& l : lineasEncabezado_[i]) {
            const auto linea = texto.substr(size_t(l.desde), size_t(l.hasta - l.desde));
            negrita_.Dibujar(cr, linea, d.tam, c.Alinear() == Alineacion::Derecha ? c.x + c.ancho : c.x, base,
                             c.Alinear());
            base += altoLinea_;
        }
    }
    negrita_.Vaciar(cr);
}

void Impresor::Dibujar(const Documento& d, ArchivoPdf& pdf, int paginas) {
    cairo_surface_t* superficie =
        cairo_pdf_surface_create_for_stream(&ArchivoPdf::Escribir, &pdf, anchoPagina_, altoPagina_);
    const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> guardaSuperficie(
        superficie, &cairo_surface_destroy);
    pdf.Exigir(cairo_surface_status(superficie));
    cairo_pdf_surface_set_metadata(superficie, CAIRO_PDF_METADATA_TITLE, d.titulo.toUtf8().constData());
    cairo_pdf_surface_set_metadata(superficie, CAIRO_PDF_METADATA_AUTHOR, d.operador.toUtf8().constData());
    cairo_pdf_surface_set_metadata(superficie, CAIRO_PDF_METADATA_SUBJECT, d.asunto.toUtf8().constData());
    cairo_pdf_surface_set_metadata(superficie, CAIRO_PDF_METADATA_CREATOR, "Cribanzas");
    cairo_t* cr = cairo_create(superficie);
    const std::unique_ptr<cairo_t, void (*)(cairo_t*)> guardaContexto(cr, &cairo_destroy);

    std::vector<int> todas(d.columnas.size());
    std::iota(todas.begin(), todas.end(), 0);
    textos_.assign(d.columnas.size(), {});
    tramos_.assign(d.columnas.size(), {});
    enPagina_ = 0;
    Paginador p(altoCuerpo_, altoLinea_, rellenoV_);
    int pagina = 0;
    const auto aPagina = [&](int nueva) {
        if (nueva == pagina) return;
        DibujarFilas(cr, d);
        if (pagina > 0) {
            cairo_show_page(cr);
            pdf.Exigir(cairo_status(cr));
        }
        pagina = nueva;
        DibujarEncabezado(cr, d, pagina, paginas);
        marcha_.pagina = pagina;
        marcha_.Fijar(0.3 + 0.7 * double(pagina) / double(std::max(paginas, 1)));
    };
    qint64 indice = 0;
    filas_.Recorrer(seleccion(d, [](const Columna&) { return true; }) + QStringLiteral(" ORDER BY ") +
                        d.orden,
                    [&](const Dato* fila) {
                        p.Colocar(LineasDeFila(d, fila, todas), [&](const Paginador::Tramo& t) {
                            aPagina(t.pagina);
                            GuardarFila(d, t, indice % 2 == 1);
                        });
                        ++indice;
                    });
    if (d.filas == 0) {
        p.Colocar(1, [&](const Paginador::Tramo& t) {
            aPagina(t.pagina);
            normal_.Dibujar(cr, "No hay renglones que listar.", d.tam, kMargen + rellenoHorizontal(d.tam),
                            yCuerpo_ + t.y + rellenoV_ + normal_.Ascenso() * d.tam, Alineacion::Izquierda);
            normal_.Vaciar(cr);
        });
    }
    p.Reservar(altoTotales_, [&](int nueva, double usado) {
        aPagina(nueva);
        DibujarFilas(cr, d);
        DibujarTotales(cr, d, usado);
    });
    if (p.Paginas() != paginas)
        throw ErrorSistema(Errores::ErrorEntradaSalida,
                           QStringLiteral("El listado %1 no se compaginó igual dos veces (%2 y %3 páginas).")
                               .arg(d.titulo)
                               .arg(paginas)
                               .arg(p.Paginas()));
    cairo_show_page(cr);
    pdf.Exigir(cairo_status(cr));
    cairo_surface_finish(superficie);
    pdf.Exigir(cairo_surface_status(superficie));
}

void Impresor::GuardarFila(const Documento& d, const Paginador::Tramo& t, bool franja) {
    if (enPagina_ == filasDePagina_.size()) filasDePagina_.emplace_back();
    FilaDePagina& f = filasDePagina_[enPagina_++];
    f.tramo = t;
    f.franja = franja;
    f.textos.resize(d.columnas.size());
    f.tramos.resize(d.columnas.size());
    for (size_t i = 0; i < d.columnas.size(); ++i) {
        f.textos[i].assign(textos_[i]);
        f.tramos[i].assign(tramos_[i].begin(), tramos_[i].end());
    }
}

void Impresor::DibujarFilas(cairo_t* cr, const Documento& d) {
    const double derecha = anchoPagina_ - kMargen;
    bool franjas = false;
    for (size_t k = 0; k < enPagina_; ++k) {
        const Paginador::Tramo& t = filasDePagina_[k].tramo;
        if (!filasDePagina_[k].franja) continue;
        cairo_rectangle(cr, kMargen, yCuerpo_ + t.y, derecha - kMargen, t.alto);
        franjas = true;
    }
    if (franjas) {
        cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
    }
    for (size_t k = 0; k < enPagina_; ++k) {
        const FilaDePagina& f = filasDePagina_[k];
        for (size_t i = 0; i < d.columnas.size(); ++i) {
            const Columna& c = d.columnas[i];
            const std::string_view texto = f.textos[i];
            const auto& lineas = f.tramos[i];
            double base = yCuerpo_ + f.tramo.y + rellenoV_ + normal_.Ascenso() * d.tam;
            for (int l = f.tramo.desde; l < std::min(f.tramo.hasta, int(lineas.size())); ++l) {
                const TramoTexto& t = lineas[size_t(l)];
                normal_.Dibujar(cr, texto.substr(size_t(t.desde), size_t(t.hasta - t.desde)), d.tam,
                                c.Alinear() == Alineacion::Derecha ? c.x + c.ancho : c.x, base, c.Alinear());
                base += altoLinea_;
            }
        }
        normal_.Vaciar(cr);
    }
    enPagina_ = 0;
}

void Impresor::DibujarTotales(cairo_t* cr, const Documento& d, double usado) {
    double y = yCuerpo_ + usado + 1.5;
    cairo_set_line_width(cr, 0.8);
    cairo_move_to(cr, kMargen, y);
    cairo_line_to(cr, anchoPagina_ - kMargen, y);
    cairo_stroke(cr);
    y += 1.5 + rellenoV_ + negrita_.Ascenso() * d.tam;
    std::string cuenta = "Totales: ";
    NumeroDecimal n;
    n.enteros = std::to_string(d.filas);
    AnexarNumeroEspanol(cuenta, n, 0);
    cuenta += d.filas == 1 ? " renglón" : " renglones";
    negrita_.Dibujar(cr, cuenta, d.tam, kMargen + rellenoHorizontal(d.tam), y, Alineacion::Izquierda);
    y += altoLinea_;
    for (const Columna& c : d.columnas)
        if (c.formato.importe) negrita_.Dibujar(cr, c.total, d.tam, c.x + c.ancho, y, Alineacion::Derecha);
    negrita_.Vaciar(cr);
}

ListadoEmitido Impresor::Imprimir(Documento& d, const QString& ruta) {
    Medir(d);
    Maquetador(normal_).Disponer(d);
    Geometria(d);
    const int paginas = Paginar(d);
    marcha_.paginas = paginas;
    ArchivoPdf pdf(ruta);
    Dibujar(d, pdf, paginas);
    pdf.Terminar();
    marcha_.Fijar(1);
    return ListadoEmitido{d.listado, d.titulo, ruta, d.filas, paginas, d.horizontal};
}

} // namespace

QString RutaListado(const QString& rutaArchivo, Listado listado, const QString& carpeta) {
    const QFileInfo archivo(rutaArchivo);
    const QDir dir(carpeta.isEmpty() ? archivo.absolutePath() : carpeta);
    return dir.absoluteFilePath(archivo.completeBaseName() + (listado == Listado::LibroDiario
                                                                  ? QStringLiteral("-libro-diario.pdf")
                                                                  : QStringLiteral("-existencias.pdf")));
}

namespace {

// A value of the archive's manifest, on one line: a line break in a value would print over the
// next line.
QString ValorDelManifiesto(const LectorArchivo& archivo, const char* clave) {
    return archivo.ValorManifiesto(QString::fromLatin1(clave)).simplified();
}

// The two lines under each listing's title: the database and the year, the purge and the archive.
QStringList LineasDeDatos(const LectorArchivo& archivo) {
    const auto valor = [&](const char* clave) { return ValorDelManifiesto(archivo, clave); };
    const QString ejercicio = valor("ejercicio");
    QStringList linea1, linea2;
    linea1 << QStringLiteral("Base de datos: %1").arg(valor("base"));
    if (!valor("servidor").isEmpty()) linea1 << QStringLiteral("Servidor: %1").arg(valor("servidor"));
    if (!ejercicio.isEmpty())
        linea1 << QStringLiteral("Ejercicio %1, del %2 al %3")
                      .arg(ejercicio, FechaParaListado(valor("fecha_desde")),
                           FechaParaListado(valor("fecha_hasta")));
    linea2 << QStringLiteral("Depuración: %1").arg(FechaParaListado(valor("inicio")));
    if (!valor("operador").isEmpty()) linea2 << QStringLiteral("Operador: %1").arg(valor("operador"));
    if (!valor("equipo").isEmpty()) linea2 << QStringLiteral("Equipo: %1").arg(valor("equipo"));
    linea2 << QStringLiteral("Archivo: %1").arg(QFileInfo(archivo.Ruta()).fileName());
    return {linea1.join(kSeparador), linea2.join(kSeparador)};
}

// A listing to print, on a thread of its own.
struct Trabajo {
    Documento d;
    QString ruta;
    Marcha marcha;
    std::future<ListadoEmitido> hecho;
};

// The listings the archive has tables for, described.
std::vector<std::unique_ptr<Trabajo>> Trabajos(const LectorArchivo& archivo, const QString& rutaArchivo,
                                               const QString& carpeta) {
    const auto valor = [&](const char* clave) { return ValorDelManifiesto(archivo, clave); };
    const QString ejercicio = valor("ejercicio");
    const QStringList datos = LineasDeDatos(archivo);
    QString corte = valor("fecha_corte");
    if (corte.isEmpty()) corte = valor("fecha_hasta");
    std::vector<std::unique_ptr<Trabajo>> trabajos;
    for (const Listado listado : {Listado::LibroDiario, Listado::Existencias}) {
        const bool diario = listado == Listado::LibroDiario;
        const TablaArchivo* tabla =
            archivo.Tabla(QString::fromLatin1(diario ? kTablaAsientos : kTablaSaldoInicial));
        if (!tabla) continue;
        auto t = std::make_unique<Trabajo>();
        Documento& d = t->d;
        d.listado = listado;
        d.titulo = diario ? QStringLiteral("Libro Diario %1").arg(ejercicio)
                          : QStringLiteral("Existencias al %1").arg(FechaParaListado(corte));
        d.datos = datos;
        d.operador = valor("operador");
        d.asunto = QStringLiteral("Depuración del ejercicio %1 de %2").arg(ejercicio, valor("base"));
        d.tabla = tabla->nombre;
        d.filas = tabla->filas;
        if (diario)
            columnasDelDiario(d, *tabla);
        else
            columnasDeExistencias(d, *tabla);
        t->ruta = RutaListado(rutaArchivo, listado, carpeta);
        trabajos.push_back(std::move(t));
    }
    return trabajos;
}

// Each listing's page, and the share of the work done, weighed by rows.
void MostrarMarcha(Avance& avance, const std::vector<std::unique_ptr<Trabajo>>& trabajos) {
    QStringList lineas;
    qint64 hechas = 0, total = 0;
    for (const auto& t : trabajos) {
        const int pagina = t->marcha.pagina, paginas = t->marcha.paginas;
        lineas << (pagina > 0
                       ? QStringLiteral("%1: página %2 de %3").arg(t->d.titulo).arg(pagina).arg(paginas)
                       : QStringLiteral("%1: preparando").arg(t->d.titulo));
        hechas += t->marcha.milesimas * std::max<qint64>(t->d.filas, 1);
        total += 1000 * std::max<qint64>(t->d.filas, 1);
    }
    avance.Mostrar(QStringLiteral("Emitiendo los listados de la depuración"), lineas.join(kSeparador),
                   QStringLiteral("%1 %").arg(total ? hechas * 100 / total : 100));
}

} // namespace

std::vector<ListadoEmitido> EmitirListados(const QString& rutaArchivo, const OpcionesListados& opciones) {
    const LectorArchivo archivo(rutaArchivo);
    if (opciones.verificarArchivo) archivo.ExigirIntegro();
    std::vector<std::unique_ptr<Trabajo>> trabajos = Trabajos(archivo, rutaArchivo, opciones.carpeta);
    // Each listing on a thread of its own (cairo's PDF output is most of the work, and the two
    // share nothing); this thread shows the progress.
    const QString archivoLeido = archivo.Ruta();
    for (auto& t : trabajos)
        // Where no thread can be had, the listing is printed on this one, when its turn comes.
        t->hecho = std::async(std::launch::async | std::launch::deferred, [&archivoLeido, &t = *t] {
            Impresor impresor(archivoLeido, t.marcha);
            return impresor.Imprimir(t.d, t.ruta);
        });
    const auto mostrar = [&] {
        if (opciones.avance) MostrarMarcha(*opciones.avance, trabajos);
    };
    for (auto& t : trabajos)
        while (t->hecho.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout)
            mostrar();
    mostrar();
    // Every listing that could be made is made; then the first failure is told.
    std::vector<ListadoEmitido> hechos;
    for (auto& t : trabajos)
        hechos.push_back(t->hecho.get());
    return hechos;
}

QStringList ResultadoListados::Rutas() const {
    QStringList rutas;
    for (const auto& l : emitidos)
        rutas << l.ruta;
    return rutas;
}

QString ResultadoListados::Carpeta() const {
    return emitidos.empty() ? QString() : QFileInfo(emitidos.front().ruta).absolutePath();
}

QString ResultadoListados::Texto(const QString& rutaArchivo) const {
    const QChar cr(u'\r');
    QStringList lineas;
    if (!emitidos.empty()) {
        lineas << QStringLiteral("Listados del ejercicio:");
        for (const auto& l : emitidos)
            lineas << QStringLiteral("  %1 (%2)").arg(l.ruta, l.titulo);
    }
    if (!Bien()) {
        lineas << QStringLiteral("No se pudieron emitir los listados del ejercicio: %1").arg(error);
        lineas << QStringLiteral("La depuración queda hecha: el archivo %1 guarda lo eliminado, y los "
                                 "listados se emiten desde él con:")
                      .arg(rutaArchivo);
        lineas << QStringLiteral("  cribanzas --desatendido --listados-de \"%1\"").arg(rutaArchivo);
    }
    return lineas.join(cr);
}

ResultadoListados EmitirListadosDepuracion(const QString& rutaArchivo, const QString& carpeta,
                                           Avance* avance) {
    ResultadoListados r;
    OpcionesListados opciones;
    opciones.carpeta = carpeta;
    opciones.verificarArchivo = false;
    opciones.avance = avance;
    try {
        r.emitidos = EmitirListados(rutaArchivo, opciones);
    } catch (const ErrorSistema& e) {
        r.error = e.Descripcion;
    } catch (const std::bad_alloc&) {
        r.error = QStringLiteral("no hubo memoria suficiente.");
    } catch (const std::exception& e) {
        r.error = QString::fromLocal8Bit(e.what());
    }
    return r;
}
