#pragma once
// The suite's collection: 1-based, keeps insertion order, shared by reference.
// A ColeccionRef that is null is "nothing", which is not the same as an empty collection.
#include "suite/error.h"
#include <memory>
#include <QString>
#include <QStringList>

class Coleccion {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    void Add(const QString& valor) { items_.append(valor); }
    // 1-based; raises the runtime's error 5 outside 1..Count.
    QString Item(int indice) const {
        if (indice < 1 || indice > Count())
            throw ErrorSistema(Errores::LlamadaNoValida,
                               QStringLiteral("Llamada a procedimiento o argumento no válido"));
        return items_.at(indice - 1);
    }
    void Remove(int indice) {
        if (indice < 1 || indice > Count())
            throw ErrorSistema(Errores::LlamadaNoValida,
                               QStringLiteral("Llamada a procedimiento o argumento no válido"));
        items_.removeAt(indice - 1);
    }
    const QStringList& Lista() const { return items_; }

private:
    QStringList items_;
};

using ColeccionRef = std::shared_ptr<Coleccion>;
inline ColeccionRef NuevaColeccion() {
    return std::make_shared<Coleccion>();
}

// The suite's 16-bit flags: true is -1, false is 0.
using Bandera = qint16;
inline constexpr Bandera Verdadero = -1;
inline constexpr Bandera Falso = 0;
