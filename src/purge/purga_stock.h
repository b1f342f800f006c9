#pragma once
// One run of the stock purge: the opening balances up to the cut-off written as one "SI"
// voucher and the movements up to that date deleted, all in one transaction. Its phases
// follow the numbered steps; each returns false when the purge must stop.
#include "purge/depuracion.h"
#include "purge/pasos_depuracion.h"
#include "suite/recordset.h"
#include "suite/transaccion.h"

#include <functional>
#include <optional>
#include <QString>
#include <QVariant>
#include <vector>

class PurgaStock {
public:
    // marcar, when given, runs inside the transaction right before the commit: the purge's
    // record says there that the stock is done, so the two commit or roll back together.
    PurgaStock(Sesion& sesion, Operador& operador, Avance& avance, const QString& fechaCorte,
               std::function<void()> marcar = {});
    PurgaStock(const PurgaStock&) = delete;
    PurgaStock& operator=(const PurgaStock&) = delete;

    void Ejecutar();
    // The voucher number after the highest existing one, checked unused: raises ErrorSistema
    // when it would need a ninth digit (Desbordamiento) or already exists (LlamadaNoValida).
    static QString SiguienteLibre(Sesion& sesion, const QVariant& maximo);
    Depuracion::ResultadoStock Resultado() const { return resultado_; }
    QString Motivo() const { return motivo_; }
    // Whether a step failed at all (the window's HayError).
    bool HuboError() const { return huboError_; }

private:
    bool TipoSI();
    bool AbrirTransaccion();
    bool Numerar();
    bool AbrirAvance();
    bool LeerSaldos();
    bool CerrarSinSaldos();
    bool Columnas();
    bool GenerarSaldos();
    bool LeerLote();
    bool InsertarLote();
    // The article of a row of the batch: its code trimmed, a blank and its description.
    QString Articulo(int fila) const;
    bool Borrar();
    bool Marcar();
    bool Confirmar();
    // Closes the balances and commits; the transaction is over.
    bool Cometer();
    // Rolls back what the purge did; a failed rollback is added to the reason.
    void Deshacer();
    void Concluir();
    // Runs one step of a kind; inside the transaction, a transaction the database ended by
    // itself ends the purge whatever the answer.
    bool Paso(ClasePaso clase, const std::function<void()>& paso);

    Sesion& sesion_;
    Operador& operador_;
    Avance& avance_;
    const QString fechaCorte_;
    const std::function<void()> marcar_;
    PasosDepuracion pasos_;
    Depuracion::ResultadoStock resultado_ = Depuracion::ResultadoStock::Fallida;
    QString motivo_;
    QString falloAlDeshacer_;
    bool huboError_ = false;

    Recordset rs_;
    bool existe_ = false;
    bool nadaQueLlevar_ = false;             // no type "SI", and no movement that would need it
    std::optional<Transaccion> transaccion_; // from the voucher number to the commit
    bool vacio_ = true;
    QString numero_;
    QString fechaSQL_;
    long linea_ = 0;
    // The opening balance goes in batches: up to porLote_ rows per statement, as many as the
    // back end takes parameters for. lote_ holds the batch's values, a row after another.
    int porLote_ = 1;
    int filas_ = 0;
    std::vector<QVariant> lote_;
    QString tipoSQL_, comprobanteSQL_;
    QString sentencia_; // for filasSentencia_ rows
    int filasSentencia_ = 0;
    // Columns of the balance query.
    int cArticulo_ = 0, cDescripcion_ = 0, cUnidad_ = 0, cSaldo_ = 0, cSaldoUD_ = 0;
    int cDeposito_ = 0, cPosicion_ = 0, cSerie_ = 0, cLote_ = 0;
};
