#pragma once
// The purge's own progress record: one row of TA_CONFIGURACION, written before the purge changes
// anything and removed once nothing is left to do. A purge killed half way leaves it behind, and
// the next purge of the same year reads it to finish the job: the year, how far it got, and
// the operating period as it was before the first run (the period rows themselves may already
// hold the year's dates by then).
//
// Its value is short text, readable from any station:
//   <year>;<phase>;<start>;<end>
// phase "A" while the stock is still to be carried, "S" once the stock transaction committed
// (that transaction itself writes the "S"); start and end are the period's "fechaoperdesde" and
// "fechaoperhasta" as they were: "-" when the key had no row, "N" when its value was Null, or
// the text's length, ":" and the text ("10:01/01/2025").
#include <optional>
#include <QString>
#include <QVariant>

struct MarcaDepuracion {
    enum class Fase {
        Asientos,  // the stock is not carried yet
        StockHecho // the stock transaction committed
    };
    qint64 ejercicio = 0;
    Fase fase = Fase::Asientos;
    // The operating period before the purge. No value: the key has no row (it is not written).
    std::optional<QVariant> desde, hasta;

    QString Codificar() const;
    // Reads a stored value; raises ErrorSistema, saying what is wrong, when it is not one.
    static MarcaDepuracion Decodificar(const QVariant& valor);

    static const QString Clave; // "DEPURACIONPENDIENTE"
    // The width of TA_CONFIGURACION.VALOR in the suite's schema.
    static constexpr int kLargoMaximo = 255;
};
