#pragma once
// Every statement of the purge, in one place: the purge and the dry run build them here, so
// what the dry run reads is what the purge reads and writes.
#include <QString>

namespace SentenciasDepuracion {
// The confirmation count of the year's journal entries.
QString ContarAsientos(const QString& codigo);
// The year's row, with its dates.
QString Ejercicio(const QString& codigo);
// The operating period's rows. The two keys are matched differently on purpose: the stored
// rows may carry blanks around "fechaoperhasta".
QString PeriodoDesde();
QString PeriodoHasta();
QString FechaUltimaDepuracion();
// The purge's own progress record (MarcaDepuracion): read, claimed before the first change, and
// removed at the end. Values go in as the literals ValorSQL makes of them. The claim inserts it
// only when no record exists, in one statement; a rewrite or a removal touches it only while it
// still holds the value this run stored: each changes one row or none, and the caller checks.
QString Marca();
QString ReclamarMarca(const QString& valorSQL);
QString ReescribirMarca(const QString& nuevoSQL, const QString& anteriorSQL);
QString QuitarMarca(const QString& valorSQL);
// The purge lock on SQL Server: an application lock owned by the session, so that it goes with
// the connection when the process dies. Taken without waiting; its mode then says whether this
// session holds it. The test never takes it.
QString TomarCerrojo();
QString ModoCerrojo();
QString ProbarCerrojo();
QString SoltarCerrojo();
QString BorrarAsientos(const QString& codigo);
// The highest "SI" voucher. The purge reads it first inside its transaction, with the stock
// table locked until the commit: other stations wait, and no movement can come or change
// between the balances and the deletion. The dry run reads it without a lock.
QString MaximoComprobante(bool bloquearStock);
// The balance query, grouped as the opening balance keeps it.
QString Saldos(const QString& fechaSQL);
// In one pass over what the balance query sums: how many movements, and the sums of the
// quantities' absolute values, which bound every balance (as floating point: they cannot overflow).
QString CotaSaldos(const QString& fechaSQL);
// The opening-balance insert of `filas` rows. Type, voucher, date and "Depuracion" are written
// in; each row has a "?" for the line number, article, description, unit, quantity, depot,
// position, serial, lot and second-unit quantity, in that order.
inline constexpr int kParametrosPorSaldo = 10;
QString InsercionSaldos(const QString& tipoSQL, const QString& comprobanteSQL, const QString& fechaSQL,
                        int filas);
// The closing deletion: every movement up to the cut-off except the new voucher's rows.
QString Borrado(const QString& fechaSQL, const QString& comprobanteSQL);
// The closing deletion's condition (without WHERE): the archive reads the very rows it removes.
QString CondicionBorrado(const QString& fechaSQL, const QString& comprobanteSQL);
// What the closing deletion would remove, valid or annulled (the dry run).
QString ContarBorrado(const QString& fechaSQL, bool anulados);
// The movements up to the cut-off, valid or not: with the journal, the archive's size.
QString ContarArchivo(const QString& fechaSQL);
// The configuration rows the purge changes, as the archive keeps them (without WHERE).
QString CondicionConfiguracion();
} // namespace SentenciasDepuracion
