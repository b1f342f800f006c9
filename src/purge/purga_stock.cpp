#include "purge/purga_stock.h"

#include "purge/archivo_depuracion.h"
#include "purge/sentencias_depuracion.h"
#include "suite/globales.h"
#include "suite/operador.h"
#include "suite/utilidades.h"

#include <algorithm>
#include <iterator>
#include <QCoreApplication>

namespace S = SentenciasDepuracion;

namespace {
// The voucher type of the opening balances.
const QString kTipo = QStringLiteral("SI");
const QString kComilla = QStringLiteral("'");
const QString kArroba = QStringLiteral("@");
// SQL Server takes at most 1,000 rows in one VALUES list.
constexpr int kFilasPorLote = 1000;

int indiceCampo(Recordset& rs, const QString& nombre) {
    for (int i = 0; i < rs.FieldCount(); ++i)
        if (rs.Fields(i).Name().compare(nombre, Qt::CaseInsensitive) == 0) return i;
    throw ErrorSistema(Errores::ElementoNoEncontrado,
                       QStringLiteral("No se encontró el elemento en la colección: %1").arg(nombre));
}

} // namespace

PurgaStock::PurgaStock(Sesion& sesion, Operador& operador, Avance& avance, const QString& fechaCorte,
                       std::function<void()> marcar, ArchivoDepuracion* archivo)
    : sesion_(sesion), operador_(operador), avance_(avance), fechaCorte_(fechaCorte),
      marcar_(std::move(marcar)), archivo_(archivo), pasos_([this](const ErrorSistema& e) {
          avance_.Cerrar();
          gUtilidades().IndicarOcupado(false);
          huboError_ = true;
          return operador_.ReportarError(e, QString());
      }) {}

bool PurgaStock::Paso(ClasePaso clase, const std::function<void()>& paso) {
    return pasos_(clase, [&] {
        if (clase == ClasePaso::Prescindible || !transaccion_) return paso();
        auto perderla = [&](const QString& detalle) {
            pasos_.Irrecuperable();
            return ErrorSistema(Errores::TransaccionPerdida,
                                detalle + QStringLiteral(" La base de datos canceló la transacción de la "
                                                         "depuración de stock: no se modificó ningún "
                                                         "movimiento de stock."));
        };
        if (!sesion_.EnTransaccion()) throw perderla(QString());
        try {
            paso();
        } catch (const ErrorSistema& e) {
            if (e.Numero == Errores::TransaccionPerdida || !sesion_.EnTransaccion())
                throw perderla(e.Descripcion);
            throw;
        }
    });
}

void PurgaStock::Ejecutar() {
    // The voucher type first, then everything from the voucher number on in one transaction:
    // all or nothing.
    // The archive reads the movements right after the lock, before the balances are read.
    if (TipoSI() && AbrirTransaccion() && Numerar() && AbrirAvance() && ArchivarMovimientos() &&
        LeerSaldos()) {
        if (vacio_) {
            if (Marcar() && Verificar()) CerrarSinSaldos();
        } else if (GenerarSaldos() && ArchivarSaldos() && Borrar() && Marcar() && Verificar())
            Confirmar();
    }
    Concluir();
}

bool PurgaStock::TipoSI() {
    if (!Paso(ClasePaso::Esencial, [&] {
            existe_ = sesion_.Existe(QStringLiteral("V_TA_CPTE"), kTipo, QStringLiteral("Codigo"), nullptr,
                                     TipoClave::Texto, QString());
        }))
        return false;
    if (existe_) return true;
    // Without the type nothing can be carried; with nothing to carry, nothing needs it.
    qint64 validos = 1;
    if (!Paso(ClasePaso::Esencial, [&] {
            Recordset rs;
            sesion_.AbrirRecordset(S::ContarBorrado(gUtilidades().FechaSQL(fechaCorte_), false), rs);
            validos = rs.BOF() ? 0 : rs.Valor(0).toLongLong();
            rs.Close();
        }))
        return false;
    nadaQueLlevar_ = validos == 0;
    Paso(ClasePaso::Prescindible, [&] {
        operador_.MsgBox(
            QStringLiteral("DEBE DAR DE ALTA EN TABLA DE COMPROBANTES EL CODIGO SI PARA SALDO INICIAL..."),
            Estilo::SoloAceptar);
    });
    if (nadaQueLlevar_) return false;
    resultado_ = Depuracion::ResultadoStock::SinTipoSI;
    motivo_ =
        QStringLiteral("Falta dar de alta el código SI para saldo inicial en la tabla de comprobantes.");
    return false;
}

QString PurgaStock::SiguienteLibre(Sesion& sesion, const QVariant& maximo) {
    const QString numero = Depuracion::SiguienteComprobante(maximo);
    // A highest number that is not of the usual form can give back a number already used; the
    // deletion would keep that old voucher with the new one, and its stock would count twice.
    if (sesion.Existe(QStringLiteral("V_MV_STOCK"), numero, QStringLiteral("IDCOMPROBANTE"), nullptr,
                      TipoClave::Texto, QStringLiteral("TC = 'SI'")))
        throw ErrorSistema(Errores::LlamadaNoValida,
                           QStringLiteral("El comprobante de saldo inicial SI %1, siguiente a %2, ya existe. "
                                          "Corrija la numeración de los comprobantes SI antes de depurar.")
                               .arg(numero, maximo.toString()));
    return numero;
}

bool PurgaStock::AbrirTransaccion() {
    return Paso(ClasePaso::Esencial, [&] { transaccion_.emplace(sesion_); });
}

bool PurgaStock::Numerar() {
    if (!Paso(ClasePaso::Esencial, [&] {
            sesion_.AbrirRecordset(S::MaximoComprobante(true), rs_, Cursor::SoloAdelante,
                                   Bloqueo::SoloLectura, -1);
        }))
        return false;
    if (!Paso(ClasePaso::Esencial, [&] {
            numero_ = SiguienteLibre(
                sesion_, rs_.BOF() ? QVariant() : rs_.Fields(QStringLiteral("IDCOMPROBANTE")).Value());
        }))
        return false;
    linea_ = 1;
    return true;
}

bool PurgaStock::AbrirAvance() {
    return Paso(ClasePaso::Prescindible,
                [&] { avance_.Iniciar(QStringLiteral("Depurando Movimientos de Stock...")); }) &&
           Paso(ClasePaso::Prescindible, [&] {
               avance_.Mostrar(QStringLiteral("Obteniendo Saldo Inicial a la Fecha de Depuración"));
           });
}

bool PurgaStock::LeerSaldos() {
    return Paso(ClasePaso::Esencial,
                [&] {
                    fechaSQL_ = gUtilidades().FechaSQL(fechaCorte_);
                    sesion_.AbrirRecordset(S::Saldos(fechaSQL_), rs_, Cursor::SoloAdelante,
                                           Bloqueo::SoloLectura, -1);
                }) &&
           Paso(ClasePaso::Esencial, [&] { vacio_ = rs_.BOF(); });
}

bool PurgaStock::CerrarSinSaldos() {
    // Nothing to carry: the transaction only read (and marked the stock done).
    if (pasos_.HuboFallo()) return false;
    return Paso(ClasePaso::Prescindible, [&] { avance_.Cerrar(); }) && Cometer();
}

bool PurgaStock::Cometer() {
    return Paso(ClasePaso::Esencial, [&] {
        if (rs_.Abierto()) rs_.Close();
        transaccion_->Cometer();
        transaccion_.reset();
    });
}

bool PurgaStock::Columnas() {
    return Paso(ClasePaso::Esencial, [&] {
        rs_.MoveFirst();
        cArticulo_ = indiceCampo(rs_, QStringLiteral("IdArticulo"));
        cDescripcion_ = indiceCampo(rs_, QStringLiteral("Descripcion"));
        cUnidad_ = indiceCampo(rs_, QStringLiteral("idUnidad"));
        cSaldo_ = indiceCampo(rs_, QStringLiteral("SALDOCANTIDAD"));
        cSaldoUD_ = indiceCampo(rs_, QStringLiteral("SALDOCANTIDADUD"));
        cDeposito_ = indiceCampo(rs_, QStringLiteral("IdDeposito"));
        cPosicion_ = indiceCampo(rs_, QStringLiteral("IdPosicion"));
        cSerie_ = indiceCampo(rs_, QStringLiteral("NroSerie"));
        cLote_ = indiceCampo(rs_, QStringLiteral("NroLote"));
        tipoSQL_ = sesion_.ValorSQL(kTipo, kComilla).toString();
        comprobanteSQL_ = sesion_.ValorSQL(numero_, kComilla).toString();
        porLote_ = std::clamp(sesion_.LimiteParametros() / S::kParametrosPorSaldo, 1, kFilasPorLote);
    });
}

bool PurgaStock::GenerarSaldos() {
    // A batch of rows at a time: one statement, one progress line and one yield per batch.
    if (!Columnas()) return false;
    for (;;) {
        bool finDeDatos = true;
        if (!Paso(ClasePaso::Esencial, [&] { finDeDatos = rs_.Eof(); })) return false;
        if (finDeDatos) return true;
        if (!LeerLote()) return false;
        if (!InsertarLote()) return false;
        // The progress shows the batch's last row.
        if (!Paso(ClasePaso::Prescindible, [&] {
                avance_.Mostrar(QStringLiteral("Generando Saldo Inicial"), Articulo(filas_ - 1),
                                QVariant::fromValue(qlonglong(linea_ + filas_ - 1)));
            }))
            return false;
        if (!Paso(ClasePaso::Prescindible, [&] { QCoreApplication::processEvents(); })) return false;
        linea_ += filas_;
    }
}

bool PurgaStock::LeerLote() {
    lote_.clear();
    filas_ = 0;
    return Paso(ClasePaso::Esencial, [&] {
        // A retried read goes on from the row where it stopped.
        while (filas_ < porLote_ && !rs_.Eof()) {
            if (lote_.size() == size_t(filas_) * S::kParametrosPorSaldo) {
                const QVariant fila[] = {qlonglong(linea_ + filas_), rs_.Valor(cArticulo_),
                                         rs_.Valor(cDescripcion_),   rs_.Valor(cUnidad_),
                                         rs_.Valor(cSaldo_),         rs_.Valor(cDeposito_),
                                         rs_.Valor(cPosicion_),      rs_.Valor(cSerie_),
                                         rs_.Valor(cLote_),          rs_.Valor(cSaldoUD_)};
                static_assert(std::size(fila) == S::kParametrosPorSaldo);
                lote_.insert(lote_.end(), std::begin(fila), std::end(fila));
            }
            rs_.MoveNext();
            ++filas_;
        }
    });
}

QString PurgaStock::Articulo(int fila) const {
    const QVariant* v = lote_.data() + size_t(fila) * S::kParametrosPorSaldo;
    return v[1].toString().trimmed() + u' ' + v[2].toString();
}

bool PurgaStock::InsertarLote() {
    return Paso(ClasePaso::Datos, [&] {
        try {
            // The values as the literals of one insert per row would have written them.
            QVariantList valores;
            valores.reserve(qsizetype(lote_.size()));
            for (int f = 0; f < filas_; ++f) {
                const QVariant* v = lote_.data() + size_t(f) * S::kParametrosPorSaldo;
                valores << v[0];
                for (int c = 1; c < 4; ++c)
                    valores << sesion_.ValorParametro(v[c], kComilla);
                valores << sesion_.ValorParametro(v[4], kArroba);
                for (int c = 5; c < 9; ++c)
                    valores << sesion_.ValorParametro(v[c], EsValorNumerico(v[c]) ? kArroba : kComilla);
                valores << sesion_.ValorParametro(v[9], kArroba);
            }
            if (filasSentencia_ != filas_) {
                sentencia_ = S::InsercionSaldos(tipoSQL_, comprobanteSQL_, fechaSQL_, filas_);
                filasSentencia_ = filas_;
            }
            sesion_.EjecutarConValores(sentencia_, valores);
        } catch (const ErrorSistema& e) {
            // The operator is told which rows failed.
            throw ErrorSistema(e.Numero,
                               e.Descripcion + QStringLiteral("\rSaldo inicial, renglones %1 a %2, desde el "
                                                              "artículo %3.")
                                                   .arg(linea_)
                                                   .arg(linea_ + filas_ - 1)
                                                   .arg(Articulo(0)));
        }
    });
}

bool PurgaStock::Borrar() {
    return Paso(ClasePaso::Prescindible,
                [&] {
                    avance_.Mostrar(
                        QStringLiteral("Eliminando Movimientos de Stock"),
                        QStringLiteral("Este proceso puede demorar unos minutos, por favor sea pasciente..."),
                        QString());
                }) &&
           Paso(ClasePaso::Datos, [&] {
               const qint64 borrados = sesion_.Ejecutar(S::Borrado(fechaSQL_, comprobanteSQL_));
               // Every row deleted is in the archive, and only those.
               if (archivo_ && borrados >= 0 && borrados != archivo_->FilasMovimientos())
                   throw ErrorSistema(
                       Errores::BaseDeDatos,
                       QStringLiteral("Se eliminaban %1 movimientos de stock y la tabla %2 del archivo de "
                                      "depuración %3 guarda %4: se deshace la depuración de stock.")
                           .arg(borrados)
                           .arg(QLatin1String(kTablaMovimientos), archivo_->Ruta())
                           .arg(archivo_->FilasMovimientos()));
           });
}

bool PurgaStock::ArchivarMovimientos() {
    if (!archivo_) return true;
    return Paso(ClasePaso::Esencial, [&] {
        archivo_->ArchivarMovimientos(S::CondicionBorrado(gUtilidades().FechaSQL(fechaCorte_),
                                                          sesion_.ValorSQL(numero_, kComilla).toString()));
    });
}

bool PurgaStock::ArchivarSaldos() {
    if (!archivo_) return true;
    return Paso(ClasePaso::Esencial, [&] {
        // The fixed code plain, as the key column is compared elsewhere; the voucher as inserted.
        archivo_->ArchivarSaldoInicial(QStringLiteral("TC = 'SI' AND IDCOMPROBANTE = ") + comprobanteSQL_);
    });
}

bool PurgaStock::Verificar() {
    if (!archivo_) return true;
    if (pasos_.HuboFallo()) return false;
    return Paso(ClasePaso::Esencial, [&] {
        // Nothing carried and nothing deleted: the archive holds no movement either.
        if (vacio_) {
            archivo_->VaciarMovimientos();
            archivo_->ArchivarSaldoInicial(QStringLiteral("1 = 0"));
        }
        archivo_->VerificarStock();
    });
}

bool PurgaStock::Marcar() {
    if (!marcar_) return true;
    return Paso(ClasePaso::Datos, marcar_);
}

bool PurgaStock::Confirmar() {
    // Commit only when every database step finally succeeded.
    if (pasos_.HuboFallo() || !Cometer()) return false;
    return Paso(ClasePaso::Prescindible, [&] { avance_.Cerrar(); });
}

void PurgaStock::Deshacer() {
    // Not committed: nothing of the stock purge stays. A connection that is gone has lost
    // the transaction already.
    try {
        if (rs_.Abierto()) rs_.Close();
    } catch (...) {
        // The rollback below ends the reading too.
    }
    try {
        transaccion_->Deshacer();
    } catch (const ErrorSistema& e) {
        falloAlDeshacer_ = e.Descripcion;
    }
    transaccion_.reset();
    try {
        avance_.Cerrar();
    } catch (...) {
        // The window is only a view.
    }
}

void PurgaStock::Concluir() {
    const bool sinCommit = transaccion_.has_value();
    if (sinCommit) Deshacer();
    // Rolled back: the archive must not hold the stock's rows, which the database still has.
    if (sinCommit && archivo_) {
        try {
            archivo_->DeshacerStock();
        } catch (const ErrorSistema&) {
            // The rerun takes them out before it archives the stock again.
        }
    }
    if (resultado_ == Depuracion::ResultadoStock::SinTipoSI) return;
    if (!sinCommit && !pasos_.HuboFallo() && (existe_ || nadaQueLlevar_)) {
        resultado_ = Depuracion::ResultadoStock::Completa;
        return;
    }
    resultado_ = Depuracion::ResultadoStock::Fallida;
    motivo_ = pasos_.Motivo().isEmpty()
                  ? QStringLiteral("Se canceló la depuración de stock.")
                  : QStringLiteral("Se produjo el siguiente error: ") + pasos_.Motivo().trimmed();
    if (!falloAlDeshacer_.isEmpty()) motivo_ += u'\r' + falloAlDeshacer_;
}
