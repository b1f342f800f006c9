#pragma once
// The purge's own progress record: one row of TA_CONFIGURACION, written before the purge changes
// anything and removed once nothing is left to do. A purge killed half way leaves it behind, and
// the next purge of the same year reads it to finish the job: the year, how far it got, and
// the operating period as it was before the first run (the period rows themselves may already
// hold the year's dates by then). It also names its owner, the run that wrote it: only that run
// changes or removes it, and another station is told who is purging.
//
// Its value is short text, readable from any station:
//   <year>;<phase>;<start>;<end>;<run>;<started>;<station>;<user>
// phase "A" while the stock is still to be carried, "S" once the stock transaction committed
// (that transaction itself writes the "S"); start and end are the period's "fechaoperdesde" and
// "fechaoperhasta" as they were: "-" when the key had no row, "N" when its value was Null, or
// the text's length, ":" and the text ("10:01/01/2025"). The owner follows: an id unique to the
// run, when it started (dd/MM/yyyy hh:mm:ss), and the station and user as length and text.
// Records written before owners were kept end after the period. A purge that writes an archive
// adds its file name and the station that wrote it, as length and text, so that a rerun keeps
// using that file (or names it in a new one when it cannot reach it).
#include <optional>
#include <QString>
#include <QVariant>

struct DuenoDepuracion {
    QString corrida; // unique to the run that wrote the record
    QString inicio;  // when that run claimed it, dd/MM/yyyy hh:mm:ss
    QString equipo;  // its station
    QString usuario; // the suite's user of that session

    // A new owner for this run, started now.
    static DuenoDepuracion Nuevo(const QString& equipo, const QString& usuario);
    bool operator==(const DuenoDepuracion&) const = default;
};

struct MarcaDepuracion {
    enum class Fase {
        Asientos,  // the stock is not carried yet
        StockHecho // the stock transaction committed
    };
    qint64 ejercicio = 0;
    Fase fase = Fase::Asientos;
    // The operating period before the purge. No value: the key has no row (it is not written).
    std::optional<QVariant> desde, hasta;
    // No value: a record written before owners were kept.
    std::optional<DuenoDepuracion> dueno;
    // The purge archive's file name (no folder) and the station that wrote it; empty: none.
    QString archivo, equipoArchivo;
    // The stored value it was read from (empty for one not read from the table).
    QString leido;

    // The value to store. Stations and user are shortened when the whole would not fit the
    // column; nothing else is.
    QString Codificar() const;
    // Reads a stored value; raises ErrorSistema, saying what is wrong, when it is not one.
    static MarcaDepuracion Decodificar(const QVariant& valor);

    static const QString Clave; // "DEPURACIONPENDIENTE"
    // The width of TA_CONFIGURACION.VALOR in the suite's schema.
    static constexpr int kLargoMaximo = 255;
};
