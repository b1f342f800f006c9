// The request shown: ConsultaSearch and its dialog (the rest of the class is in
// lib_clscons2_datos.cpp, without widgets).
#include "lookup/lib_clscons2.h"

#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2_p.h"
#include "lookup/lib_frmcons2.h"
#include "suite/operador.h"
#include "suite/trampa.h"
#include "suite/utilidades.h"

#include <optional>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>

namespace {

// Blanks only, as the suite's Trim: tabs and line ends are kept.
QString Recortar(const QString& texto) {
    qsizetype desde = 0;
    qsizetype hasta = texto.size();
    while (desde < hasta && texto.at(desde) == QChar(' '))
        ++desde;
    while (hasta > desde && texto.at(hasta - 1) == QChar(' '))
        --hasta;
    return texto.mid(desde, hasta - desde);
}

bool MismoNombre(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

constexpr int Exclamacion = 48; // the message box's warning icon

// A table or view name and nothing else: one identifier, plain or in brackets or double
// quotes, possibly qualified by schema and database ("dbo.VT_CLIENTES"). "\z", not "$": a
// name followed by a line break is more than a name.
bool EsNombreDeTabla(const QString& texto) {
    static const QRegularExpression nombre(QStringLiteral(
        R"(^(?:[\p{L}_#@][\p{L}\p{N}_@$#]*|\[[^\]]+\]|"[^"]+")(?:\.(?:[\p{L}_#@][\p{L}\p{N}_@$#]*|\[[^\]]+\]|"[^"]+")){0,3}\z)"));
    return nombre.match(texto).hasMatch();
}

// A file answers to the path: a plain file (not a folder, and not a pipe or a device, whose
// opening or reading could wait for ever).
bool ArchivoPresente(const QString& ruta) {
    return !ruta.isEmpty() && QFileInfo(ruta).isFile();
}

// The statement a mask gives: its table, its column list and its filter as cleaned. An
// exactly empty search field takes the list's first column.
void SentenciaDeMascara(Trampa& paso, Utilidades& u, const QString& tabla, const QString& campos,
                        const QString& filtroMascara, QString& CampoBusqueda, QString& sentencia) {
    QString lista;
    QString filtro;
    paso([&] {
        lista = Recortar(u.Reemplazar(campos, QStringLiteral("|"), QStringLiteral(",")));
        if (lista.startsWith(QChar(','))) lista.remove(0, 1);
        if (lista.endsWith(QChar(','))) lista.chop(1);
        if (Recortar(lista).isEmpty()) lista = QStringLiteral("*");
    });
    paso([&] {
        // Only an exactly empty field is filled; a list without "," leaves it empty.
        if (!CampoBusqueda.isEmpty()) return;
        const qsizetype coma = lista.indexOf(QChar(','));
        if (coma >= 0) CampoBusqueda = lista.left(coma);
    });
    paso([&] { filtro = filtroMascara; });
    paso([&] {
        if (!Recortar(filtro).isEmpty()) return;
        if (MismoNombre(tabla, QStringLiteral("VT_PROVEEDORES")) ||
            MismoNombre(tabla, QStringLiteral("VT_CLIENTES")))
            filtro = QStringLiteral("Dada_De_Baja = 0");
        else if (MismoNombre(tabla, QStringLiteral("V_MA_ARTICULOS")))
            filtro = QStringLiteral("SUSPENDIDO = 0");
    });
    paso([&] {
        sentencia = QStringLiteral("SELECT ") + lista + QStringLiteral(" FROM ") + tabla;
        if (!Recortar(filtro).isEmpty()) sentencia += QStringLiteral(" WHERE ") + filtro;
    });
}

// A masks file that is no file of records: said once for the file; its records are not trusted.
bool MascarasMalFormadas(Trampa& paso, QString& avisadas, const QString& ruta) {
    bool malFormado = false;
    paso([&] { malFormado = MascarasFueraDeRegistros(ruta); });
    if (!malFormado) return false;
    paso([&] {
        if (avisadas == ruta) return;
        avisadas = ruta;
        operador().MsgBox(
            QStringLiteral("El archivo de máscaras de consultas \"%1\" no está hecho de registros de "
                           "1202 bytes (¿fue editado a mano?). Las consultas se muestran sin máscara.")
                .arg(QDir::toNativeSeparators(ruta)),
            Exclamacion, QStringLiteral("Aviso al Operador"));
    });
    return true;
}

// Reads the masks file up to the mask of the table asked for (left in mascara); false when
// none has that table.
bool BuscarMascara(Trampa& paso, Utilidades& u, QConsulta& mascara, const QString& ruta,
                   const QString& buscada) {
    std::optional<LectorMascaras> lector;
    bool hallada = false;
    paso([&] { lector.emplace(ruta); });
    paso([&] {
        if (!lector) return;
        while (lector->Siguiente(mascara)) {
            const QString tabla = Recortar(u.QuitarCaracteres(mascara.Tabla, QChar(0), QChar(0xFF)));
            if (MismoNombre(tabla, buscada)) {
                hallada = true;
                break;
            }
        }
    });
    paso([&] {
        if (lector) lector->Cerrar();
    });
    return hallada;
}

// One dialog per request, created when first touched and released at the end. It belongs to
// the request, so that a request started from inside another one's dialog gets its own.
class DialogoDeLaConsulta {
public:
    Lib_FrmCons2& operator()() {
        if (!instancia_) {
            if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
                throw ErrorSistema(Errores::LlamadaNoValida,
                                   QStringLiteral("La consulta necesita una aplicación con ventanas"));
            instancia_ = std::make_unique<Lib_FrmCons2>();
            vigilado_ = instancia_.get();
        }
        if (!vigilado_) {
            // Deleted by someone else while shown: do not delete it twice.
            (void)instancia_.release();
            throw ErrorSistema(Errores::LlamadaNoValida,
                               QStringLiteral("El diálogo de la consulta ya no existe"));
        }
        return *instancia_;
    }
    bool Creado() const { return instancia_ != nullptr; }
    void Liberar() {
        if (vigilado_)
            instancia_.reset();
        else
            (void)instancia_.release();
    }

private:
    std::unique_ptr<Lib_FrmCons2> instancia_;
    QPointer<Lib_FrmCons2> vigilado_;
};

} // namespace

void Lib_ClsCons2::aplicarMascara(Trampa& paso, QString& copia, QString& CampoBusqueda) {
    Privado& d = *d_;
    Utilidades& u = d.UtilidadesConsulta();
    // The mask of the table asked for, when masks are in use and the file is there.
    bool hallada = false;
    if (ArchivoPresente(gRutaMascaraConsultas) &&
        !MascarasMalFormadas(paso, d.avisadoMascaras, gRutaMascaraConsultas) &&
        BuscarMascara(paso, u, d.Mascara, gRutaMascaraConsultas, Recortar(copia))) {
        hallada = true;
        QString tabla;
        QString filtro;
        paso([&] { tabla = Recortar(u.QuitarCaracteres(d.Mascara.Tabla, QChar(0), QChar(0xFF))); });
        paso([&] { filtro = Recortar(u.QuitarCaracteres(d.Mascara.Filtro, QChar(0), QChar(0xFF))); });
        SentenciaDeMascara(paso, u, tabla, d.Mascara.Campos, filtro, CampoBusqueda, copia);
    }
    // No mask for a plain table or view name: the whole table, as a mask with no
    // columns and no filter would list it (a name alone is no statement to run).
    if (!hallada && EsNombreDeTabla(Recortar(copia)))
        SentenciaDeMascara(paso, u, Recortar(copia), QString(), QString(), CampoBusqueda, copia);
}

void Lib_ClsCons2::ConsultaSearch(QString SQL, ColeccionRef& CmpsDevueltosArg, const QString& Clave,
                                  QString& CampoBusqueda) {
    Trampa paso = Trampa::Silenciosa();
    DialogoDeLaConsulta dialogo;

    QString copia;
    paso([&] { copia = SQL; });
    if (gUsarMascarasConsultas != 0) aplicarMascara(paso, copia, CampoBusqueda);

    // Hand-over, in this order.
    paso([&] { dialogo().FiltroInicial = Clave; });
    paso([&] { dialogo().CampoBusqueda = CampoBusqueda; });
    paso([&] {
        d_->ultimoSQL = copia;
        dialogo().SQL = copia;
    });
    paso([&] { dialogo().gConnString = gConnString; });
    paso([&] { dialogo().CampoDevuelto = CampoDevuelto; });
    paso([&] { dialogo().CheckBoxes = Checks; });
    paso([&] { dialogo().UsaCantidades = UsaCantidades; });

    // The dialog makes its own result collections when it loads.
    paso([&] { Valores = nullptr; });
    paso([&] { Cantidades = nullptr; });
    paso([&] { dialogo().CmpsDevueltos = nullptr; });
    paso([&] { dialogo().Valores = nullptr; });
    paso([&] { dialogo().Cantidades = nullptr; });
    paso([&] { dialogo().CmpsDevueltos = CmpsDevueltosArg; });
    paso([&] { dialogo().Valores = Valores; });
    paso([&] { dialogo().Cantidades = Cantidades; });

    paso([&] { dialogo().Mostrar(); });
    paso([&] { Checks = Falso; });

    // The results are shared, not copied.
    paso([&] { Valores = dialogo().Valores; });
    paso([&] { Cantidades = dialogo().Cantidades; });
    paso([&] { ValorDevuelto = dialogo().ValorDevuelto; });
    paso([&] { dialogo().CampoDevuelto = QString(); });
    paso([&] { CampoDevuelto = QString(); });

    // The caller's list is consumed.
    paso([&] {
        while (CmpsDevueltosArg && CmpsDevueltosArg->Count() >= 1)
            CmpsDevueltosArg->Remove(1);
    });
    paso([&] { CmpsDevueltosArg = nullptr; });

    // The class keeps its references to the results; the dialog goes.
    if (dialogo.Creado()) {
        paso([&] { dialogo().Valores = nullptr; });
        paso([&] { dialogo().Cantidades = nullptr; });
        paso([&] { dialogo().Descargar(); });
        paso([&] { dialogo.Liberar(); });
    }
}
