#include "depuracion.h"

#include "frmcrb.h"
#include "globales.h"
#include "operador.h"
#include "trampa.h"
#include "utilidades.h"

#include <cmath>
#include <QCoreApplication>
#include <vector>

namespace {
const QString kAviso = QStringLiteral("Aviso al operador");
const QChar CR(u'\r');

// The operating period's rows, found as steps 7 and 8 find them (the two keys are matched
// differently on purpose: the stored rows may carry blanks around "fechaoperhasta").
const QString kSqlDesde = QStringLiteral("SELECT valor FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'");
const QString kSqlHasta =
    QStringLiteral("SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'fechaoperhasta'");

// Keeps the window's buttons and close box idle while the purge runs.
class PurgaEnCurso {
public:
    explicit PurgaEnCurso(bool& bandera) : bandera_(bandera), anterior_(bandera) { bandera_ = true; }
    ~PurgaEnCurso() { bandera_ = anterior_; }
    PurgaEnCurso(const PurgaEnCurso&) = delete;
    PurgaEnCurso& operator=(const PurgaEnCurso&) = delete;

private:
    bool& bandera_;
    bool anterior_;
};

int indiceCampo(Recordset& rs, const QString& nombre) {
    for (int i = 0; i < rs.FieldCount(); ++i)
        if (rs.Fields(i).Name().compare(nombre, Qt::CaseInsensitive) == 0) return i;
    throw ErrorSistema(Errores::ElementoNoEncontrado,
                       QStringLiteral("No se encontró el elemento en la colección: %1").arg(nombre));
}

bool esNumero(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}
} // namespace

bool Depuracion::EsCodigoEjercicio(const QString& codigo) {
    const QString c = codigo.trimmed();
    if (c.isEmpty() || c.size() > 10) return false;
    for (QChar ch : c)
        if (ch < u'0' || ch > u'9') return false;
    return c.toLongLong() <= 2147483647LL;
}

QString Depuracion::TextoPregunta(long n) {
    return QStringLiteral(
               "Se eliminarán físicamente los registros correspondientes al ejercicio seleccionado (") +
           QString::number(n) + QStringLiteral(" registros)") + CR + CR +
           QStringLiteral(
               "Antes de realizar este proceso es recomendable realizar una copia de resguardo de la") +
           CR +
           QStringLiteral(
               "                 base de datos y Emitir los listados correspondientes.              ") +
           CR + CR +
           QStringLiteral(
               "                     ¿Realmente desea ejecutar este proceso?                        ") +
           CR;
}

QString Depuracion::SiguienteComprobante(const QVariant& maximo) {
    if (!maximo.isValid() || maximo.isNull()) return QStringLiteral("000100000001X");
    const QString m = maximo.toString();
    const double siguiente = std::round(Val(m.mid(4, 8)) + 1);
    // A ninth digit would make a 14-character number that no longer reads by position.
    if (std::fabs(siguiente) > 99999999.0)
        throw ErrorSistema(
            Errores::Desbordamiento,
            QStringLiteral("Desbordamiento: el comprobante de saldo inicial siguiente a %1 necesita "
                           "más de 8 dígitos. No se puede generar el saldo inicial.")
                .arg(m));
    QString numero = QString::number(qint64(std::fabs(siguiente))).rightJustified(8, u'0');
    if (siguiente < 0) numero.prepend(u'-');
    return m.left(4) + numero + m.mid(12, 1);
}

QString Depuracion::SentenciaSaldos(const QString& fechaSQL) {
    // A Null Anulado counts as valid: the closing deletion removes such movements anyway.
    return QStringLiteral("SELECT IDArticulo, SUM(Cantidad) AS SALDOCANTIDAD, ") +
           QStringLiteral("SUM(CantidadUD) AS SALDOCANTIDADUD, IDUnidad, ") +
           QStringLiteral("IdDeposito , IdPosicion, NroSerie, NroLote,Descripcion ") +
           QStringLiteral("From V_MV_Stock  ") + QStringLiteral("WHERE (FECHA <= ") + fechaSQL +
           QStringLiteral(") AND (COALESCE(Anulado,0) = 0) ") +
           QStringLiteral("GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, NroSerie, ") +
           QStringLiteral("NroLote,Descripcion ");
}

QString Depuracion::SentenciaBorrado(const QString& fechaSQL, const QString& comprobanteSQL) {
    // The opening balance just written is dated on the cut-off itself: it must survive.
    return QStringLiteral("Delete v_mv_stock where fecha <= ") + fechaSQL +
           QStringLiteral(" AND NOT (COALESCE(TC,'') = 'SI' AND COALESCE(IDCOMPROBANTE,'') = ") +
           comprobanteSQL + QStringLiteral(")");
}

void Depuracion::PurgarAsientos(QString& codigo) {
    PurgaEnCurso enCurso(ventana_.purgando_);
    Trampa trampa([this](const ErrorSistema& e) {
        ventana_.MostrarBasura(true);
        return operador().MsgBox(QStringLiteral("Se ha producido el siguiente error:") + e.Descripcion,
                                 Estilo::AnularReintentarOmitir | Estilo::Critico, kAviso);
    });
    Recordset rs;
    // The operating period as it was: no value when its row is missing (then it is not written).
    std::optional<QVariant> guardadoDesde, guardadoHasta;
    bool leidoDesde = false, leidoHasta = false;
    QString inicio, fin;
    bool periodoCambiado = false;
    bool repuestoDesde = false, repuestoHasta = false;

    auto leer = [&](const QString& sql, std::optional<QVariant>& guardado) {
        gSesion().AbrirRecordset(sql, rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        guardado.reset();
        if (!rs.BOF()) guardado = rs.Fields(QStringLiteral("Valor")).Value();
    };
    auto guardar = [&](const QString& sql, const QVariant& valor) {
        gSesion().AbrirRecordset(sql, rs, Cursor::Dinamico, Bloqueo::Optimista, -1);
        if (!rs.BOF()) {
            rs.Fields(QStringLiteral("Valor")).setValue(valor);
            rs.Update();
        }
    };
    auto reponerDesde = [&] {
        repuestoDesde = true;
        if (guardadoDesde) guardar(kSqlDesde, *guardadoDesde);
    };
    auto reponerHasta = [&] {
        repuestoHasta = true;
        if (guardadoHasta) guardar(kSqlHasta, *guardadoHasta);
    };
    // Left through Abort: the operating period goes back all the same, if it was touched.
    auto abandonar = [&] {
        ventana_.UltimoDesenlace = FrmCrb::Desenlace::Fallo;
        if (!periodoCambiado) return;
        if (!repuestoDesde) trampa(reponerDesde);
        if (!repuestoHasta) trampa(reponerHasta);
    };

    // 1, 2. Read from the very rows that 7 and 8 change, so 13 and 14 put back exactly that.
    if (!trampa([&] {
            leer(kSqlDesde, guardadoDesde);
            leidoDesde = true;
        }))
        return abandonar();
    if (!trampa([&] {
            leer(kSqlHasta, guardadoHasta);
            leidoHasta = true;
        }))
        return abandonar();
    // Without the period as it was there would be nothing to put back: stop, having changed nothing.
    if (!leidoDesde || !leidoHasta) return abandonar();

    // 3 to 6
    if (!trampa([&] {
            if (!EsCodigoEjercicio(codigo))
                throw ErrorSistema(
                    Errores::LlamadaNoValida,
                    QStringLiteral("El código de ejercicio '%1' no es un número válido").arg(codigo));
            gSesion().AbrirRecordset(
                QStringLiteral("SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = ") + codigo, rs,
                Cursor::Dinamico, Bloqueo::Optimista, -1);
        }))
        return abandonar();
    if (!trampa([&] { inicio = rs.Fields(QStringLiteral("Fecha Desde")).Texto(); })) return abandonar();
    if (!trampa([&] { fin = rs.Fields(QStringLiteral("Fecha Hasta")).Texto(); })) return abandonar();
    if (!trampa([&] { gSesion().CerrarRecordset(rs); })) return abandonar();

    // 7, 8
    if (!trampa([&] {
            periodoCambiado = true;
            guardar(kSqlDesde, inicio);
        }))
        return abandonar();
    if (!trampa([&] {
            periodoCambiado = true;
            guardar(kSqlHasta, fin);
        }))
        return abandonar();

    // 9
    if (!trampa([&] {
            gSesion().Ejecutar(QStringLiteral("DELETE MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = ") +
                               codigo.trimmed());
        }))
        return abandonar();
    // 10
    if (!trampa([&] { PurgarStock(fin); })) return abandonar();
    // 11
    if (!trampa([&] { ventana_.MostrarBasura(false); })) return abandonar();
    // 12
    if (!trampa([&] {
            gSesion().AbrirRecordset(
                QStringLiteral(
                    "SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'FECHAULTIMADEPURACION'"),
                rs, Cursor::Dinamico, Bloqueo::Optimista, -1);
            if (rs.BOF()) rs.AddNew();
            rs.Fields(QStringLiteral("Grupo")).setValue(QStringLiteral("DATOS"));
            rs.Fields(QStringLiteral("Clave")).setValue(QStringLiteral("FECHAULTIMADEPURACION"));
            rs.Fields(QStringLiteral("Valor")).setValue(inicio);
            rs.Update();
            rs.Close();
        }))
        return abandonar();
    // 13, 14
    if (!trampa(reponerDesde)) return abandonar();
    if (!trampa(reponerHasta)) return abandonar();

    // 15
    if (resultado_ == ResultadoStock::Completa) {
        ventana_.UltimoDesenlace = FrmCrb::Desenlace::Completo;
        trampa([&] {
            operador().MsgBox(
                QStringLiteral("        El proceso finalizó con éxito!!!        ") + CR +
                    QStringLiteral("Luego del proceso de depuración es recomendable realizar una "
                                   "compactación de la base de datos."),
                Estilo::Informacion, kAviso);
        });
    } else {
        // The journal is gone and the year is recorded, but the stock is as it was: say so.
        ventana_.UltimoDesenlace = FrmCrb::Desenlace::Incompleto;
        if (motivo_.isEmpty()) motivo_ = QStringLiteral("La depuración de stock no llegó a ejecutarse.");
        ventana_.MotivoIncompleto = motivo_;
        trampa([&] {
            operador().MsgBox(
                QStringLiteral("Se depuraron los asientos del ejercicio, pero NO los movimientos de stock.") +
                    CR + motivo_ + CR +
                    QStringLiteral("Los movimientos de stock quedaron tal como estaban antes del proceso."),
                Estilo::Critico, kAviso);
        });
    }
}

void Depuracion::PurgarStock(QString& fechaCorte) {
    resultado_ = ResultadoStock::Fallida;
    motivo_.clear();

    // What a failing step is: a failure of the progress display may be ignored without effect;
    // a failure of the database makes the whole stock purge roll back, and where the flow
    // cannot go on without the step, Ignore ends it like Abort.
    enum class Clase { Pantalla, Datos, Esencial };
    Clase clase = Clase::Pantalla;
    bool fallida = false;
    bool perdida = false;
    bool enTransaccion = false;
    QString errorFallo;

    Trampa trampa([&](const ErrorSistema& e) {
        gAvance().Cerrar();
        gUtilidades().IndicarOcupado(false);
        ventana_.HayError = true;
        const int r = gUtilidades().ReportarError(e);
        if (r == 4 && !perdida) return r;
        if (clase == Clase::Pantalla && r == 5) return r;
        if (!fallida || perdida) errorFallo = e.Descripcion;
        fallida = true;
        if (perdida || (r == 5 && clase == Clase::Esencial)) return 3;
        return r;
    });
    // Runs one step of the given class; inside the transaction a transaction the database
    // ended by itself ends the purge whatever the answer.
    auto paso = [&](Clase c, const std::function<void()>& f) {
        clase = c;
        return trampa([&] {
            if (c == Clase::Pantalla || !enTransaccion) return f();
            auto perderla = [&](const QString& detalle) {
                perdida = true;
                return ErrorSistema(Errores::TransaccionPerdida,
                                    detalle + QStringLiteral(" La base de datos canceló la transacción de la "
                                                             "depuración de stock: no se modificó ningún "
                                                             "movimiento de stock."));
            };
            if (!gSesion().EnTransaccion()) throw perderla(QString());
            try {
                f();
            } catch (const ErrorSistema& e) {
                if (e.Numero == Errores::TransaccionPerdida || !gSesion().EnTransaccion())
                    throw perderla(e.Descripcion);
                throw;
            }
        });
    };

    Recordset rs;
    const QString tipo = QStringLiteral("SI"); // 1
    bool existe = false;
    QString numero;
    QString fechaSQL;
    long linea = 0;
    bool vacio = true;

    auto cuerpo = [&]() -> void {
        // 2, 3
        if (!paso(Clase::Esencial, [&] {
                existe = gSesion().Existe(QStringLiteral("V_TA_CPTE"), tipo, QStringLiteral("Codigo"),
                                          nullptr, TipoClave::Texto, QString());
            }))
            return;
        if (!existe) {
            paso(Clase::Pantalla, [&] {
                operador().MsgBox(
                    QStringLiteral(
                        "DEBE DAR DE ALTA EN TABLA DE COMPROBANTES EL CODIGO SI PARA SALDO INICIAL..."),
                    Estilo::SoloAceptar);
            });
            resultado_ = ResultadoStock::SinTipoSI;
            motivo_ = QStringLiteral(
                "Falta dar de alta el código SI para saldo inicial en la tabla de comprobantes.");
            return;
        }
        // Everything from the voucher number on runs in one transaction: all or nothing.
        if (!paso(Clase::Esencial, [&] {
                if (!gSesion().EnTransaccion()) gSesion().IniciarTransaccion();
                enTransaccion = true;
            }))
            return;
        // 4, 5, 6
        if (!paso(Clase::Esencial, [&] {
                gSesion().AbrirRecordset(
                    QStringLiteral(
                        "SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK WHERE TC = 'SI'"),
                    rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
            }))
            return;
        if (!paso(Clase::Esencial, [&] {
                const QVariant maximo =
                    rs.BOF() ? QVariant() : rs.Fields(QStringLiteral("IDCOMPROBANTE")).Value();
                numero = SiguienteComprobante(maximo);
                // A highest number that is not of the usual form can give back a number already
                // used; the deletion would keep that old voucher with the new one, and its stock
                // would count twice.
                if (gSesion().Existe(QStringLiteral("V_MV_STOCK"), numero, QStringLiteral("IDCOMPROBANTE"),
                                     nullptr, TipoClave::Texto, QStringLiteral("TC = 'SI'")))
                    throw ErrorSistema(
                        Errores::LlamadaNoValida,
                        QStringLiteral(
                            "El comprobante de saldo inicial SI %1, siguiente a %2, ya existe. Corrija "
                            "la numeración de los comprobantes SI antes de depurar.")
                            .arg(numero, maximo.toString()));
            }))
            return;
        linea = 1;
        // 7, 8
        if (!paso(Clase::Pantalla,
                  [&] { gAvance().Iniciar(QStringLiteral("Depurando Movimientos de Stock..."), false); }))
            return;
        if (!paso(Clase::Pantalla, [&] {
                gAvance().Mostrar(false, QStringLiteral("Obteniendo Saldo Inicial a la Fecha de Depuración"));
            }))
            return;
        // 9, 10
        if (!paso(Clase::Esencial, [&] {
                fechaSQL = gUtilidades().FechaSQL(fechaCorte);
                gSesion().AbrirRecordset(SentenciaSaldos(fechaSQL), rs, Cursor::SoloAdelante,
                                         Bloqueo::SoloLectura, -1);
            }))
            return;
        if (!paso(Clase::Esencial, [&] { vacio = rs.BOF(); })) return;
        if (vacio) {
            // Nothing to carry: the transaction only read.
            if (!paso(Clase::Pantalla, [&] { gAvance().Cerrar(); })) return;
            paso(Clase::Esencial, [&] {
                if (rs.Abierto()) rs.Close();
                gSesion().ConfirmarTransaccion();
                enTransaccion = false;
            });
            return;
        }

        // 11
        int cArticulo = 0, cDescripcion = 0, cUnidad = 0, cSaldo = 0, cSaldoUD = 0;
        int cDeposito = 0, cPosicion = 0, cSerie = 0, cLote = 0;
        QString cabecera;
        if (!paso(Clase::Esencial, [&] {
                rs.MoveFirst();
                cArticulo = indiceCampo(rs, QStringLiteral("IdArticulo"));
                cDescripcion = indiceCampo(rs, QStringLiteral("Descripcion"));
                cUnidad = indiceCampo(rs, QStringLiteral("idUnidad"));
                cSaldo = indiceCampo(rs, QStringLiteral("SALDOCANTIDAD"));
                cSaldoUD = indiceCampo(rs, QStringLiteral("SALDOCANTIDADUD"));
                cDeposito = indiceCampo(rs, QStringLiteral("IdDeposito"));
                cPosicion = indiceCampo(rs, QStringLiteral("IdPosicion"));
                cSerie = indiceCampo(rs, QStringLiteral("NroSerie"));
                cLote = indiceCampo(rs, QStringLiteral("NroLote"));
                // Depot, position, serial, lot and the second unit go in too: the stock per
                // place, lot and unit is the same after the purge as before.
                cabecera =
                    QStringLiteral("INSERT INTO V_MV_STOCK ( ") +
                    QStringLiteral("TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, IDUNIDAD, "
                                   "CANTIDAD,ControladoPor") +
                    QStringLiteral(", IdDeposito, IdPosicion, NroSerie, NroLote, CantidadUD") +
                    QStringLiteral(")VALUES (") + gSesion().ValorSQL(tipo, QStringLiteral("'")).toString() +
                    QStringLiteral(",") + gSesion().ValorSQL(numero, QStringLiteral("'")).toString() +
                    QStringLiteral(",");
            }))
            return;
        const QString comilla = QStringLiteral("'");
        const QString arroba = QStringLiteral("@");
        auto literal = [&](const QVariant& v, const QString& delimitador) {
            return gSesion().ValorSQL(v, delimitador).toString();
        };
        QString sql;
        for (;;) {
            bool finDeDatos = true;
            if (!paso(Clase::Esencial, [&] { finDeDatos = rs.Eof(); })) return;
            if (finDeDatos) break;
            // 11.1
            if (!paso(Clase::Datos, [&] {
                    const QVariant& deposito = rs.Valor(cDeposito);
                    const QVariant& posicion = rs.Valor(cPosicion);
                    const QVariant& serie = rs.Valor(cSerie);
                    const QVariant& lote = rs.Valor(cLote);
                    sql = cabecera;
                    sql += QString::number(linea);
                    sql += u',';
                    sql += fechaSQL;
                    sql += u',';
                    sql += literal(rs.Valor(cArticulo), comilla);
                    sql += u',';
                    sql += literal(rs.Valor(cDescripcion), comilla);
                    sql += u',';
                    sql += literal(rs.Valor(cUnidad), comilla);
                    sql += u',';
                    sql += literal(rs.Valor(cSaldo), arroba);
                    sql += QStringLiteral(",'Depuracion'");
                    for (const QVariant* v : {&deposito, &posicion, &serie, &lote}) {
                        sql += u',';
                        sql += literal(*v, esNumero(*v) ? arroba : comilla);
                    }
                    sql += u',';
                    sql += literal(rs.Valor(cSaldoUD), arroba);
                    sql += u')';
                    gSesion().Ejecutar(sql);
                }))
                return;
            // 11.2
            if (!paso(Clase::Pantalla, [&] {
                    gAvance().Mostrar(false, QStringLiteral("Generando Saldo Inicial"),
                                      rs.Valor(cArticulo).toString().trimmed() + u' ' +
                                          rs.Valor(cDescripcion).toString(),
                                      QVariant::fromValue(qlonglong(linea)));
                }))
                return;
            // 11.3
            if (!paso(Clase::Pantalla, [&] { QCoreApplication::processEvents(); })) return;
            // 11.4, 11.5
            ++linea;
            if (!paso(Clase::Esencial, [&] { rs.MoveNext(); })) return;
        }
        // 12
        if (!paso(Clase::Pantalla, [&] {
                gAvance().Mostrar(
                    false, QStringLiteral("Eliminando Movimientos de Stock"),
                    QStringLiteral("Este proceso puede demorar unos minutos, por favor sea pasciente..."),
                    QString());
            }))
            return;
        // 13
        if (!paso(Clase::Datos, [&] {
                gSesion().Ejecutar(
                    SentenciaBorrado(fechaSQL, gSesion().ValorSQL(numero, comilla).toString()));
            }))
            return;
        // Commit only when every database step finally succeeded.
        if (fallida) return;
        if (!paso(Clase::Esencial, [&] {
                if (rs.Abierto()) rs.Close();
                gSesion().ConfirmarTransaccion();
                enTransaccion = false;
            }))
            return;
        // 14
        paso(Clase::Pantalla, [&] { gAvance().Cerrar(); });
    };
    cuerpo();

    if (enTransaccion) {
        // Not committed: nothing of the stock purge stays. A connection that is gone has
        // lost the transaction already.
        try {
            if (rs.Abierto()) rs.Close();
        } catch (...) {
        }
        try {
            if (gSesion().EnTransaccion()) gSesion().DeshacerTransaccion();
        } catch (...) {
        }
        enTransaccion = false;
        fallida = true;
        try {
            gAvance().Cerrar();
        } catch (...) {
        }
    }
    if (resultado_ == ResultadoStock::SinTipoSI) return;
    if (!fallida && existe) {
        resultado_ = ResultadoStock::Completa;
        return;
    }
    resultado_ = ResultadoStock::Fallida;
    motivo_ = errorFallo.isEmpty() ? QStringLiteral("Se canceló la depuración de stock.")
                                   : QStringLiteral("Se produjo el siguiente error: ") + errorFallo.trimmed();
}
