#pragma once
// The restore of a purged year from its archive (purge/archivo.h), in one transaction on the
// session: the journal and the stock movements go back with their ids, the opening-balance rows
// the purge inserted go, and FECHAULTIMADEPURACION goes back to what it was (or its row goes,
// when it had none). The operating period is never touched: a finished purge left it as it was,
// and the suite may have moved it since.
//
// It refuses, changing nothing, an archive that is not a verified one or whose rows no longer
// match its digests, a database whose opening-balance rows of that purge were changed or are
// gone, a database purged again later (or one that does not show this purge at all), a database
// with an unfinished purge, and a moment when another station holds the purge lock.
//
// On SQLite (either driver) every row goes back with its id. On SQL Server an identity column
// takes explicit ids only on a table (MV_ASIENTOS, with IDENTITY_INSERT); the stock movements go
// in through the view V_MV_STOCK, where the server numbers them anew.
#include <optional>
#include <QString>

class Sesion;

enum class DesenlaceRestauracion {
    Restaurado,
    Simulado,  // everything checked, nothing written
    Rechazado, // refused before any change
    Fallo      // failed and rolled back: nothing changed
};

struct ResultadoRestauracion {
    DesenlaceRestauracion desenlace = DesenlaceRestauracion::Fallo;
    QString mensaje; // why it was refused or failed
    QString ejercicio;
    qint64 asientos = 0, movimientos = 0, saldos = 0;
    QString comprobante; // the opening-balance voucher removed (empty: none)
    // FECHAULTIMADEPURACION as it goes back; no value: its row goes.
    std::optional<QString> fechaAnterior;
    // The ids the server numbered anew instead of taking the archive's (SQL Server's view).
    bool idsNuevos = false;
};

// Restores the archive at `ruta` on the session, holding the purge lock. With `simular` it
// makes the same checks reading only (it tests the lock, takes no transaction) and writes nothing.
ResultadoRestauracion Restaurar(Sesion& sesion, const QString& ruta, bool simular);
