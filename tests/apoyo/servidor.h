#pragma once
// A double of SQL Server behind a session, answering as the server answers through its ODBC
// driver: "SELECT @@TRANCOUNT" gives the transactions open on the server; a COMMIT or a ROLLBACK
// with none open fails with errors 3902 and 3903; values bound to "?" arrive as they were bound
// (a decimal bound as text is the server's to read). Every other statement succeeds and a SELECT
// gives no row, unless the test makes one fail.
#include "suite/sesion.h"

#include <memory>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

struct ServidorSimulado {
    int transacciones = 0; // @@TRANCOUNT
    // The statement containing this text fails; with error 1205 (a deadlock victim) the server
    // rolls the transaction back, with 2627 (a duplicate key) it keeps it.
    QString falla;
    int numeroDeFalla = 1205;
    // The server has ended the transaction by itself when the COMMIT arrives.
    bool terminaAlConfirmar = false;
    QStringList sentencias;      // as received, transaction statements as "COMMIT"/"ROLLBACK"
    QList<QVariantList> valores; // the values bound to each statement run with "?"

    // The session's next Conectar opens this double, as "Microsoft SQL Server".
    static std::shared_ptr<ServidorSimulado> Instalar(Sesion& sesion);
};
