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
// quotes, possibly qualified by schema and database ("dbo.VT_CLIENTES").
bool EsNombreDeTabla(const QString& texto) {
    static const QRegularExpression nombre(QStringLiteral(
        R"(^(?:[\p{L}_#@][\p{L}\p{N}_@$#]*|\[[^\]]+\]|"[^"]+")(?:\.(?:[\p{L}_#@][\p{L}\p{N}_@$#]*|\[[^\]]+\]|"[^"]+")){0,3}$)"));
    return nombre.match(texto).hasMatch();
}

// A file answers to the path: a plain file (not a folder, and not a pipe or a device, whose
// opening or reading could wait for ever).
bool ArchivoPresente(const QString& ruta) {
    return !ruta.isEmpty() && QFileInfo(ruta).isFile();
}

} // namespace

void Lib_ClsCons2::ConsultaSearch(QString SQL, ColeccionRef& CmpsDevueltosArg, const QString& Clave,
                                  QString& CampoBusqueda) {
    Trampa paso = Trampa::Silenciosa();
    Privado& d = *d_;

    // One dialog per request, created when first touched and released at the end. It is a
    // local, so that a request started from inside another one's dialog gets its own.
    std::unique_ptr<Lib_FrmCons2> instancia;
    QPointer<Lib_FrmCons2> vigilado;
    auto dialogo = [&]() -> Lib_FrmCons2& {
        if (!instancia) {
            if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
                throw ErrorSistema(Errores::LlamadaNoValida,
                                   QStringLiteral("La consulta necesita una aplicación con ventanas"));
            instancia = std::make_unique<Lib_FrmCons2>();
            vigilado = instancia.get();
        }
        if (!vigilado) {
            // Deleted by someone else while shown: do not delete it twice.
            (void)instancia.release();
            throw ErrorSistema(Errores::LlamadaNoValida,
                               QStringLiteral("El diálogo de la consulta ya no existe"));
        }
        return *instancia;
    };

    // 1.
    QString copia;
    paso([&] { copia = SQL; });

    // 2. The mask of the table asked for, when masks are in use and the file is there.
    // Steps 3 to 8: the statement a mask gives (table, column list and filter as cleaned).
    auto deMascara = [&](const QString& tabla, const QString& campos, const QString& filtroMascara) {
        QString lista;
        QString filtro;
        paso([&] {
            lista =
                Recortar(d.UtilidadesConsulta().Reemplazar(campos, QStringLiteral("|"), QStringLiteral(",")));
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
            copia = QStringLiteral("SELECT ") + lista + QStringLiteral(" FROM ") + tabla;
            if (!Recortar(filtro).isEmpty()) copia += QStringLiteral(" WHERE ") + filtro;
        });
    };
    if (gUsarMascarasConsultas != 0) {
        bool hallada = false;
        bool malFormado = false;
        if (ArchivoPresente(gRutaMascaraConsultas)) {
            paso([&] { malFormado = MascarasFueraDeRegistros(gRutaMascaraConsultas); });
            if (malFormado) {
                // Said once for the file; its records are not trusted.
                paso([&] {
                    if (d.avisadoMascaras == gRutaMascaraConsultas) return;
                    d.avisadoMascaras = gRutaMascaraConsultas;
                    operador().MsgBox(
                        QStringLiteral(
                            "El archivo de máscaras de consultas \"%1\" no está hecho de registros de "
                            "1202 bytes (¿fue editado a mano?). Las consultas se muestran sin máscara.")
                            .arg(QDir::toNativeSeparators(gRutaMascaraConsultas)),
                        Exclamacion, QStringLiteral("Aviso al Operador"));
                });
            }
        }
        if (ArchivoPresente(gRutaMascaraConsultas) && !malFormado) {
            std::optional<LectorMascaras> lector;
            paso([&] { lector.emplace(gRutaMascaraConsultas); });
            paso([&] {
                if (!lector) return;
                const QString buscada = Recortar(copia);
                while (lector->Siguiente(d.Mascara)) {
                    const QString tabla = Recortar(
                        d.UtilidadesConsulta().QuitarCaracteres(d.Mascara.Tabla, QChar(0), QChar(0xFF)));
                    if (MismoNombre(tabla, buscada)) {
                        hallada = true;
                        break;
                    }
                }
            });
            if (hallada) {
                QString tabla;
                QString filtro;
                paso([&] {
                    tabla = Recortar(
                        d.UtilidadesConsulta().QuitarCaracteres(d.Mascara.Tabla, QChar(0), QChar(0xFF)));
                });
                paso([&] {
                    filtro = Recortar(
                        d.UtilidadesConsulta().QuitarCaracteres(d.Mascara.Filtro, QChar(0), QChar(0xFF)));
                });
                deMascara(tabla, d.Mascara.Campos, filtro);
            }
            paso([&] {
                if (lector) lector->Cerrar();
            });
        }
        // No mask for a plain table or view name: the whole table, as a mask with no
        // columns and no filter would list it (a name alone is no statement to run).
        if (!hallada && EsNombreDeTabla(Recortar(copia))) deMascara(Recortar(copia), QString(), QString());
    }

    // 3. Hand-over, in this order.
    paso([&] { dialogo().FiltroInicial = Clave; });
    paso([&] { dialogo().CampoBusqueda = CampoBusqueda; });
    paso([&] {
        d.ultimoSQL = copia;
        dialogo().SQL = copia;
    });
    paso([&] { dialogo().gConnString = gConnString; });
    paso([&] { dialogo().CampoDevuelto = CampoDevuelto; });
    paso([&] { dialogo().CheckBoxes = Checks; });
    paso([&] { dialogo().UsaCantidades = UsaCantidades; });

    // 4. The dialog makes its own result collections when it loads.
    paso([&] { Valores = nullptr; });
    paso([&] { Cantidades = nullptr; });
    paso([&] { dialogo().CmpsDevueltos = nullptr; });
    paso([&] { dialogo().Valores = nullptr; });
    paso([&] { dialogo().Cantidades = nullptr; });
    paso([&] { dialogo().CmpsDevueltos = CmpsDevueltosArg; });
    paso([&] { dialogo().Valores = Valores; });
    paso([&] { dialogo().Cantidades = Cantidades; });

    // 5.
    paso([&] { dialogo().Mostrar(); });

    // 6.
    paso([&] { Checks = Falso; });

    // 7. Shared, not copied.
    paso([&] { Valores = dialogo().Valores; });
    paso([&] { Cantidades = dialogo().Cantidades; });
    paso([&] { ValorDevuelto = dialogo().ValorDevuelto; });

    // 8.
    paso([&] { dialogo().CampoDevuelto = QString(); });
    paso([&] { CampoDevuelto = QString(); });

    // 9. The caller's list is consumed.
    paso([&] {
        while (CmpsDevueltosArg && CmpsDevueltosArg->Count() >= 1)
            CmpsDevueltosArg->Remove(1);
    });
    paso([&] { CmpsDevueltosArg = nullptr; });

    // 10. The class keeps its references to the results; the dialog goes.
    if (instancia) {
        paso([&] { dialogo().Valores = nullptr; });
        paso([&] { dialogo().Cantidades = nullptr; });
        paso([&] { dialogo().Descargar(); });
        paso([&] {
            if (vigilado)
                instancia.reset();
            else
                (void)instancia.release();
        });
    }
}
