#pragma once
// A transaction on a session, held by scope: it begins when built, and rolls back when it goes
// out of scope uncommitted (an error thrown half way undoes everything). It takes the write
// lock each route needs: BEGIN IMMEDIATE on SQLite; on SQL Server the statements inside carry
// their locking hints.
class Sesion;

class Transaccion {
public:
    // Begins a transaction on the session; raises ErrorSistema when it cannot. When the
    // session already has one open, the guard joins it and leaves its end to whoever opened it.
    explicit Transaccion(Sesion& sesion);
    // Rolls back when still open. A failed rollback cannot be thrown from here: its message goes
    // to the warning channel (standard error). Call Deshacer to handle it yourself.
    ~Transaccion();
    Transaccion(const Transaccion&) = delete;
    Transaccion& operator=(const Transaccion&) = delete;

    // Commits. On failure the transaction stays this guard's: the database may still hold it (a
    // retried commit may go) or have ended it, and the guard rolls back what is left.
    void Cometer();
    // Rolls back now; raises ErrorSistema ("No se pudo deshacer la transacción: ...") when the
    // database refuses. The transaction is over either way. Nothing happens when already over.
    void Deshacer();
    // Whether the guard still has to commit or roll back its own transaction.
    bool Abierta() const { return abierta_; }

private:
    Sesion& sesion_;
    bool abierta_ = false;
};
