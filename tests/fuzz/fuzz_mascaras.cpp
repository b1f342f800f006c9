// The masks file: one record's bytes decoded and written back, the reader over a whole file
// of arbitrary bytes, and the lookup request turning the mask it finds into its statement
// (run without an application, so the dialog's steps fail and are skipped, as they may).
#include "fuzz/comun.h"
#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "suite/utilidades.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

constexpr qsizetype Longitud = MascarasArchivo::LongitudRegistro;

const QString& RutaArchivo() {
    static QTemporaryDir carpeta;
    static const QString ruta = carpeta.filePath(MascarasArchivo::NombreArchivo);
    return ruta;
}

QString Recortar(const QString& s) {
    qsizetype a = 0, b = s.size();
    while (a < b && s.at(a) == QChar(' '))
        ++a;
    while (b > a && s.at(b - 1) == QChar(' '))
        --b;
    return s.mid(a, b - a);
}

QString TablaLimpia(const QConsulta& r) {
    QString t = r.Tabla.Texto();
    t.remove(QChar(0));
    t.remove(QChar(0xFF));
    return Recortar(t);
}

void Registro(const QByteArray& bytes) {
    const QConsulta r = DecodificarRegistro(bytes);
    EXIGIR(r.Nombre.Texto().size() == 100 && r.Tabla.Texto().size() == 100 &&
               r.Campos.Texto().size() == 500 && r.Filtro.Texto().size() == 500 &&
               r.FinLinea.Texto().size() == 2,
           QString());
    // Every byte reads back as itself: the code page loses nothing.
    EXIGIR(CodificarRegistro(r) == bytes, QString::fromLatin1(bytes.toHex()));
    QConsulta otro = r;
    otro.FinLinea = QStringLiteral("\r\n");
    const QByteArray escrito = CodificarRegistro(otro);
    EXIGIR(escrito.size() == Longitud && escrito.endsWith("\r\n"), QString());
}

// Fields from any text (surrogates, characters outside the code page, too long, too short).
void RegistroDeTexto(const QString& texto) {
    QConsulta r;
    const qsizetype cuarto = texto.size() / 4;
    r.Nombre = texto.left(cuarto);
    r.Tabla = texto.mid(cuarto, cuarto);
    r.Campos = texto.mid(2 * cuarto, cuarto);
    r.Filtro = texto.mid(3 * cuarto);
    r.FinLinea = QStringLiteral("\r\n");
    const QByteArray bytes = CodificarRegistro(r);
    EXIGIR(bytes.size() == Longitud && bytes.endsWith("\r\n"), texto);
    // What the record holds after writing is what reads back.
    const QConsulta leido = DecodificarRegistro(bytes);
    EXIGIR(CodificarRegistro(leido) == bytes, texto);
}

void LongitudIncorrecta(const QByteArray& bytes) {
    try {
        (void)DecodificarRegistro(bytes);
    } catch (const ErrorSistema& e) {
        EXIGIR(e.Numero == Errores::LlamadaNoValida, e.Descripcion);
        return;
    }
    Violacion("a record of the wrong length is refused", QString::number(bytes.size()));
}

void Peticion(const std::vector<QConsulta>& registros, const QString& pedida) {
    Lib_ClsCons2 consulta;
    consulta.gUsarMascarasConsultas = Verdadero;
    consulta.gRutaMascaraConsultas = RutaArchivo();
    ColeccionRef campos;
    QString campoBusqueda;
    consulta.ConsultaSearch(pedida, campos, QString(), campoBusqueda);
    const QString& sql = consulta.UltimoSQL();

    const QConsulta* hallada = nullptr;
    for (const QConsulta& r : registros)
        if (QString::compare(TablaLimpia(r), Recortar(pedida), Qt::CaseInsensitive) == 0) {
            hallada = &r;
            break;
        }
    const QString detalle = QStringLiteral("pedida [%1] sql [%2]").arg(pedida, sql);
    if (!hallada) {
        // Passed on as asked, or a bare table name listed whole (with its default filter).
        const QString entera = QStringLiteral("SELECT * FROM ") + Recortar(pedida);
        EXIGIR(campoBusqueda.isEmpty(), detalle);
        EXIGIR(sql == pedida || sql == entera || sql.startsWith(entera + QStringLiteral(" WHERE ")), detalle);
        // Nothing that is more than a name (blanks, parentheses, a second statement outside
        // brackets and quotes) is ever taken for one.
        static const QRegularExpression masQueNombre(QStringLiteral(R"(^[^\["]*[\s;(),'][^\]"]*$)"));
        if (masQueNombre.match(Recortar(pedida)).hasMatch()) EXIGIR(sql == pedida, detalle);
        return;
    }
    EXIGIR(sql.startsWith(QStringLiteral("SELECT ")), detalle);
    EXIGIR(sql.contains(QStringLiteral(" FROM ") + TablaLimpia(*hallada)), detalle);
    EXIGIR(campoBusqueda.isEmpty() || sql.startsWith(QStringLiteral("SELECT ") + campoBusqueda + QChar(',')),
           detalle);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (RutaArchivo().isEmpty()) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
    const QByteArray entrada = BytesDe(datos, tamano);

    if (entrada.size() >= Longitud) Registro(entrada.left(Longitud));
    if (entrada.size() != Longitud) LongitudIncorrecta(entrada.left(2 * Longitud));
    RegistroDeTexto(TextoDe(datos, tamano));

    // The whole input as a masks file.
    {
        QFile archivo(RutaArchivo());
        if (!archivo.open(QIODevice::WriteOnly | QIODevice::Truncate))
            Violacion("temporary file", RutaArchivo());
        if (archivo.write(entrada) != entrada.size()) Violacion("temporary file", RutaArchivo());
    }
    const std::vector<QConsulta> registros = LeerMascaras(RutaArchivo());
    EXIGIR(qsizetype(registros.size()) == entrada.size() / Longitud, QString::number(registros.size()));
    for (size_t i = 0; i < registros.size(); ++i)
        EXIGIR(CodificarRegistro(registros[i]) == entrada.mid(qsizetype(i) * Longitud, Longitud),
               QString::number(i));

    // A request for the table of the first record, whatever its case and blanks, and one for
    // a table of the default masks.
    // A file that is not made of whole records is said once and used without masks.
    const std::vector<QConsulta> usados =
        MascarasFueraDeRegistros(RutaArchivo()) ? std::vector<QConsulta>{} : registros;
    if (!registros.empty()) Peticion(usados, QStringLiteral(" ") + TablaLimpia(registros.front()).toLower());
    Peticion(usados, QStringLiteral("VT_CLIENTES"));
    return 0;
}
