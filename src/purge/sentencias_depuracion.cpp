#include "purge/sentencias_depuracion.h"

#include "purge/marca_depuracion.h"

namespace SentenciasDepuracion {

QString ContarAsientos(const QString& codigo) {
    return QStringLiteral(
               "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = ") +
           codigo;
}

QString Ejercicio(const QString& codigo) {
    return QStringLiteral("SELECT * FROM MV_EJERCICIOS WHERE CONVERT(INT,PERIODO) = ") + codigo;
}

QString PeriodoDesde() {
    return QStringLiteral("SELECT valor FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'");
}

QString PeriodoHasta() {
    return QStringLiteral("SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'fechaoperhasta'");
}

QString FechaUltimaDepuracion() {
    return QStringLiteral(
        "SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = 'FECHAULTIMADEPURACION'");
}

QString Marca() {
    return QStringLiteral("SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = '%1'")
        .arg(MarcaDepuracion::Clave);
}

QString ReclamarMarca(const QString& valorSQL) {
    return QStringLiteral("INSERT INTO TA_CONFIGURACION (Grupo, CLAVE, VALOR) SELECT 'DATOS', '%1', ")
               .arg(MarcaDepuracion::Clave) +
           valorSQL +
           QStringLiteral(
               " WHERE NOT EXISTS (SELECT * FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = '%1')")
               .arg(MarcaDepuracion::Clave);
}

QString ReescribirMarca(const QString& nuevoSQL, const QString& anteriorSQL) {
    return QStringLiteral("UPDATE TA_CONFIGURACION SET VALOR = ") + nuevoSQL +
           QStringLiteral(" WHERE RTRIM(LTRIM(CLAVE)) = '%1' AND VALOR = ").arg(MarcaDepuracion::Clave) +
           anteriorSQL;
}

QString QuitarMarca(const QString& valorSQL) {
    return QStringLiteral("DELETE FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = '%1' AND VALOR = ")
               .arg(MarcaDepuracion::Clave) +
           valorSQL;
}

namespace {
const QString kRecursoCerrojo = QStringLiteral("'Cribanzas.Depuracion'");
}

QString TomarCerrojo() {
    return QStringLiteral(
               "EXEC sp_getapplock @Resource = %1, @LockMode = 'Exclusive', @LockOwner = 'Session', "
               "@LockTimeout = 0")
        .arg(kRecursoCerrojo);
}

QString ModoCerrojo() {
    return QStringLiteral("SELECT APPLOCK_MODE('public', %1, 'Session') AS Modo").arg(kRecursoCerrojo);
}

QString ProbarCerrojo() {
    return QStringLiteral("SELECT APPLOCK_TEST('public', %1, 'Exclusive', 'Session') AS Libre")
        .arg(kRecursoCerrojo);
}

QString SoltarCerrojo() {
    return QStringLiteral("EXEC sp_releaseapplock @Resource = %1, @LockOwner = 'Session'")
        .arg(kRecursoCerrojo);
}

QString BorrarAsientos(const QString& codigo) {
    return QStringLiteral("DELETE MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = ") + codigo.trimmed();
}

QString MaximoComprobante(bool bloquearStock) {
    // An exclusive table lock, held to the end of the transaction (on a view, on every table
    // the view reads). Taken before anything is read, it needs no upgrade, so it cannot
    // deadlock with the other stations' row locks.
    return QStringLiteral("SELECT MAX(IDCOMPROBANTE) AS IDCOMPROBANTE FROM V_MV_STOCK ") +
           (bloquearStock ? QStringLiteral("WITH (TABLOCKX, HOLDLOCK) ") : QString()) +
           QStringLiteral("WHERE TC = 'SI'");
}

QString Saldos(const QString& fechaSQL) {
    // A Null Anulado counts as valid: the closing deletion removes such movements anyway.
    return QStringLiteral("SELECT IDArticulo, SUM(Cantidad) AS SALDOCANTIDAD, ") +
           QStringLiteral("SUM(CantidadUD) AS SALDOCANTIDADUD, IDUnidad, ") +
           QStringLiteral("IdDeposito , IdPosicion, NroSerie, NroLote,Descripcion ") +
           QStringLiteral("From V_MV_Stock  ") + QStringLiteral("WHERE (FECHA <= ") + fechaSQL +
           QStringLiteral(") AND (COALESCE(Anulado,0) = 0) ") +
           QStringLiteral("GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, NroSerie, ") +
           QStringLiteral("NroLote,Descripcion ");
}

QString CotaSaldos(const QString& fechaSQL) {
    return QStringLiteral(
               "SELECT COUNT(*) AS Movimientos, SUM(ABS(CAST(Cantidad AS FLOAT))) AS Cantidades, "
               "SUM(ABS(CAST(CantidadUD AS FLOAT))) AS CantidadesUD From V_MV_Stock WHERE (FECHA <= ") +
           fechaSQL + QStringLiteral(") AND (COALESCE(Anulado,0) = 0)");
}

QString InsercionSaldos(const QString& tipoSQL, const QString& comprobanteSQL, const QString& fechaSQL,
                        int filas) {
    // Depot, position, serial, lot and the second unit go in too: the stock per place, lot
    // and unit is the same after the purge as before.
    const QString fila = QStringLiteral("(") + tipoSQL + QStringLiteral(",") + comprobanteSQL +
                         QStringLiteral(",?,") + fechaSQL +
                         QStringLiteral(",?,?,?,?,'Depuracion',?,?,?,?,?)");
    QString sql = QStringLiteral("INSERT INTO V_MV_STOCK ( ") +
                  QStringLiteral("TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, IDUNIDAD, "
                                 "CANTIDAD,ControladoPor") +
                  QStringLiteral(", IdDeposito, IdPosicion, NroSerie, NroLote, CantidadUD") +
                  QStringLiteral(")VALUES ");
    sql.reserve(sql.size() + filas * (fila.size() + 1));
    for (int i = 0; i < filas; ++i) {
        if (i > 0) sql += u',';
        sql += fila;
    }
    return sql;
}

QString Borrado(const QString& fechaSQL, const QString& comprobanteSQL) {
    // The opening balance just written is dated on the cut-off itself: it must survive.
    return QStringLiteral("Delete v_mv_stock where ") + CondicionBorrado(fechaSQL, comprobanteSQL);
}

QString CondicionBorrado(const QString& fechaSQL, const QString& comprobanteSQL) {
    return QStringLiteral("fecha <= ") + fechaSQL +
           QStringLiteral(" AND NOT (COALESCE(TC,'') = 'SI' AND COALESCE(IDCOMPROBANTE,'') = ") +
           comprobanteSQL + QStringLiteral(")");
}

QString ContarArchivo(const QString& fechaSQL) {
    return QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= ") + fechaSQL;
}

QString CondicionConfiguracion() {
    // The operating period, which the purge puts back, and the date of the last purge, which it
    // leaves.
    return QStringLiteral(
        "RTRIM(LTRIM(CLAVE)) IN ('fechaoperdesde', 'fechaoperhasta', 'FECHAULTIMADEPURACION')");
}

QString ContarBorrado(const QString& fechaSQL, bool anulados) {
    return QStringLiteral("SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= %1 AND COALESCE(Anulado,0) %2 0")
        .arg(fechaSQL, anulados ? QStringLiteral("<>") : QStringLiteral("="));
}

} // namespace SentenciasDepuracion
