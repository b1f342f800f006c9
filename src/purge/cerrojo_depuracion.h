#pragma once
// The purge lock: one purge at a time on a database. A purge holds it from before its first read
// to its end, and it tells every other station that a purge is running or died half way (a dead
// holder no longer holds it).
//
// - SQLite (Qt's driver or the SQLite ODBC driver): a write lock on the file "<database>.lock"
//   beside the database, an open-file-description lock that the kernel drops when the process
//   dies. The database file itself is never locked this way: SQLite's own locks live there.
// - SQL Server: an application lock owned by the session, which goes with the connection.
// - Any other data source has no lock: the purge's owned record is the only guard.
#include <optional>
#include <QString>

class Sesion;

class CerrojoDepuracion {
public:
    enum class Via { Archivo, Servidor, Ninguna };
    enum class Estado {
        Libre,     // nobody holds it
        Propio,    // this object holds it
        Ajeno,     // another process (or another object of this one) holds it
        SinCerrojo // the data source has no lock
    };

    explicit CerrojoDepuracion(Sesion& sesion);
    ~CerrojoDepuracion();
    CerrojoDepuracion(const CerrojoDepuracion&) = delete;
    CerrojoDepuracion& operator=(const CerrojoDepuracion&) = delete;

    // Takes it without waiting: Propio, Ajeno or SinCerrojo. Raises ErrorSistema, saying what
    // to do, when it cannot be taken at all (a lock file that cannot be created or opened).
    Estado Tomar();
    // Whether someone holds it, without taking it (taking it to see would make a purge that
    // starts at that moment find it held). What cannot be tested reads as Libre: only a purge
    // needs the lock, and it takes it.
    Estado Probar();
    void Soltar();
    bool Tomado() const { return archivo_ >= 0 || servidor_; }

    // The lock file of a SQLite database file.
    static QString ArchivoDe(const QString& base);
    // Tests: the kind of lock to use whatever the session is (no value: the session's).
    static void ForzarVia(std::optional<Via> via);

private:
    Via ViaDeLaSesion();
    // The session's SQLite database file (empty: an in-memory one), asked once.
    QString RutaBase();

    Sesion& sesion_;
    std::optional<Via> via_;
    std::optional<QString> base_;
    int archivo_ = -1; // the lock file, while it holds the lock on it
    bool servidor_ = false;
};
