#include "ejecutar_desatendido.h"

#include "depuracion.h"
#include "frmcrb.h"
#include "globales.h"
#include "modglobal.h"

#include <QComboBox>
#include <QLabel>
#include <QLocale>

namespace {
QVariant primerValor(const QString& sql) {
    Recordset rs;
    gSesion().AbrirRecordset(sql, rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    QVariant v;
    if (!rs.BOF()) v = rs.Valor(0);
    gSesion().CerrarRecordset(rs);
    return v;
}

QString texto(const QVariant& v) {
    return v.isNull() ? QStringLiteral("(sin valor)") : v.toString();
}

// What the purge would do, read with the purge's own statements; nothing is written.
int Simular(FrmCrb& ventana, const QString& codigo, FILE* salida) {
    if (ventana.ValidarEjercicio(ventana.txtfields)) return Salida::Rechazado;
    const long asientos =
        primerValor(QStringLiteral(
                        "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = ") +
                    codigo)
            .toLongLong();

    Recordset anio;
    gSesion().AbrirRecordset(QStringLiteral("SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = ") +
                                 codigo,
                             anio, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    const QString desde = anio.Fields(QStringLiteral("Fecha Desde")).Texto();
    const QString hasta = anio.Fields(QStringLiteral("Fecha Hasta")).Texto();
    gSesion().CerrarRecordset(anio);
    const QString corte = gUtilidades().FechaSQL(hasta);

    const bool hayTipo = gSesion().Existe(QStringLiteral("V_TA_CPTE"), QStringLiteral("SI"),
                                          QStringLiteral("Codigo"), nullptr, TipoClave::Texto, QString());
    const QString comprobante = Depuracion::SiguienteComprobante(primerValor(
        QStringLiteral("SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK WHERE TC = 'SI'")));
    Recordset saldos;
    gSesion().AbrirRecordset(Depuracion::SentenciaSaldos(corte), saldos, Cursor::SoloAdelante,
                             Bloqueo::SoloLectura, -1);
    long filas = 0;
    double cantidad = 0;
    while (!saldos.BOF() && !saldos.Eof()) {
        ++filas;
        cantidad += gUtilidades().SinNulo(saldos.Fields(QStringLiteral("SALDOCANTIDAD")).Value()).toDouble();
        saldos.MoveNext();
    }
    gSesion().CerrarRecordset(saldos);
    const long validos =
        primerValor(
            QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= %1 AND COALESCE(Anulado,0) = 0")
                .arg(corte))
            .toLongLong();
    const long anulados =
        primerValor(
            QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= %1 AND COALESCE(Anulado,0) <> 0")
                .arg(corte))
            .toLongLong();
    const QString operDesde = Cfg(QStringLiteral("fechaoperdesde"));
    const QString operHasta = Cfg(QStringLiteral("fechaoperhasta"));

    auto linea = [&](const QString& t) { std::fprintf(salida, "%s\n", t.toLocal8Bit().constData()); };
    linea(QStringLiteral("Simulación de la depuración del ejercicio %1 (%2), nada se escribe:")
              .arg(codigo, ventana.lblDesc->text()));
    linea(QStringLiteral("  Asientos a eliminar: %1").arg(asientos));
    linea(QStringLiteral("  Fecha de corte del stock: %1").arg(hasta));
    if (hayTipo) {
        linea(QStringLiteral("  Comprobante de saldo inicial: SI %1").arg(comprobante));
        linea(QStringLiteral("  Renglones de saldo inicial: %1 (cantidad total %2)")
                  .arg(filas)
                  .arg(QLocale::c().toString(cantidad, 'f', 4)));
        linea(QStringLiteral("  Movimientos de stock a eliminar: %1 (%2 válidos, %3 anulados)")
                  .arg(validos + anulados)
                  .arg(validos)
                  .arg(anulados));
    } else {
        linea(QStringLiteral("  Falta el tipo de comprobante SI: el stock no se depuraría."));
    }
    linea(QStringLiteral("  Período operativo durante la depuración: %1 a %2").arg(desde, hasta));
    linea(QStringLiteral("  Período operativo que se restaura: %1 a %2")
              .arg(texto(operDesde), texto(operHasta)));
    linea(QStringLiteral("  Fecha de última depuración que se registra: %1").arg(desde));
    return asientos > 0 ? Salida::Depurado : Salida::NadaQueDepurar;
}
} // namespace

int EjecutarDesatendido(const OpcionesDesatendido& o, FILE* salida) {
    EstablecerLineaComandos(o.linea);
    FrmCrb ventana;
    ventana.Form_Load();
    if (operador().Terminado())
        return *operador().CodigoFin() == 0 ? Salida::Incompleto : Salida::SinConexion;
    if (!gSesion().Conectado()) return Salida::SinConexion;
    ventana.txtfields->setEditText(o.ejercicio);
    const QString codigo = o.ejercicio.trimmed();

    if (o.simular) {
        try {
            return Simular(ventana, codigo, salida);
        } catch (const ErrorSistema& e) {
            operador().ReportarError(e, QStringLiteral("Simulacion"));
            return Salida::Incompleto;
        }
    }

    ventana.CmdAceptar_Click();
    switch (ventana.UltimoDesenlace) {
    case FrmCrb::Desenlace::Completo:
        return Salida::Depurado;
    case FrmCrb::Desenlace::SinCodigo:
    case FrmCrb::Desenlace::Rechazado:
        return Salida::Rechazado;
    case FrmCrb::Desenlace::SinDatos:
        return Salida::NadaQueDepurar;
    default:
        return Salida::Incompleto;
    }
}
