#pragma once
// The purge of one closed fiscal year: the journal purge and the stock purge with opening
// balances, run by the purge window's confirm button.
#include "error.h"

#include <optional>
#include <QString>
#include <QVariant>

class FrmCrb;

class Depuracion {
public:
    explicit Depuracion(FrmCrb& ventana) : ventana_(ventana) {}
    Depuracion(const Depuracion&) = delete;
    Depuracion& operator=(const Depuracion&) = delete;

    // Sets the operating period to the year, deletes its journal entries, runs the stock
    // purge, records the purge date and puts the operating period back. Failures are
    // handled inside with the operator's Abort/Retry/Ignore box.
    void PurgarAsientos(QString& codigo);
    // Carries the stock up to the cut-off forward as one "SI" voucher and deletes the
    // movements up to that date, all in one transaction.
    void PurgarStock(QString& fechaCorte);

    enum class ResultadoStock {
        NoEjecutada, // never ran
        Completa,    // committed (or nothing to carry)
        SinTipoSI,   // the "SI" voucher type is missing: nothing touched
        Fallida      // a failure, an abandonment or a lost transaction: rolled back
    };
    ResultadoStock Resultado() const { return resultado_; }
    // Why the stock purge did not complete (empty when it did).
    QString Motivo() const { return motivo_; }

    // A year code that may go into a statement: digits only, within 32 bits.
    static bool EsCodigoEjercicio(const QString& codigo);
    // The confirmation question for n journal entries.
    static QString TextoPregunta(long n);
    // The voucher number after the highest existing one (Null or empty: the first one).
    // Raises Errores::Desbordamiento when the number part would need more than 8 digits.
    static QString SiguienteComprobante(const QVariant& maximo);
    // The closing deletion: every movement up to the cut-off except the new voucher's rows.
    static QString SentenciaBorrado(const QString& fechaSQL, const QString& comprobanteSQL);
    // The balance query, grouped as the opening balance keeps it.
    static QString SentenciaSaldos(const QString& fechaSQL);

private:
    FrmCrb& ventana_;
    ResultadoStock resultado_ = ResultadoStock::NoEjecutada;
    QString motivo_;
};
