#pragma once
// The part of an ADO recordset the system uses, on top of Qt SQL.
//
// A recordset is opened by Sesion::AbrirRecordset. Forward-only read-only recordsets stream
// their rows from the database while nothing else runs on the connection; before the
// session runs any other statement it makes every open recordset read the rest of its
// result into memory (as a client cursor does), so walking a recordset while inserting
// is safe on every back end. Other recordsets read their whole result at once.
//
// Fields are found by name ignoring case. Values are QVariant: a Null value is a null
// QVariant (isNull()), distinct from the empty text. A date column reads as QDate (or
// QDateTime when it carries a time) whatever the driver.
//
// An updatable recordset (lock type 3) writes back exactly the row it read: by the table's
// primary key, or without one by all of the row's original values. When that row is gone
// or is not unique, Update fails with a clear error and changes nothing. It never changes
// another row.
#include "suite/error.h"
#include <memory>
#include <QString>
#include <QVariant>

class Sesion;
struct RecordsetDatos;

// The standard text conversion of a value, as Campo::Texto gives it. A Null raises error 94.
QString TextoEstandar(const QVariant& valor);

class Recordset;

// A field of the current row (a light view; valid while the recordset stays on that row).
class Campo {
public:
    QString Name() const;
    QVariant Value() const; // raises 3021-like error 3021 at BOF/EOF
    bool EsNulo() const { return Value().isNull(); }
    // The standard text conversion of the value: dates in FormatoFechaCorta(), numbers with
    // "." and no grouping, booleans as "Verdadero"/"Falso". A Null raises error 94.
    QString Texto() const;
    // Defined size: the declared length of a text column (varchar(40) gives 40); for other
    // types the size in bytes of the type (4 int, 8 float/date, ...); a text without length
    // gives 2147483647.
    long DefinedSize() const;
    // Assigns a new value to the field of the current row (before Update).
    void setValue(const QVariant& valor);

private:
    friend class Recordset;
    Campo(Recordset* rs, int indice) : rs_(rs), indice_(indice) {}
    Recordset* rs_;
    int indice_;
};

class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    bool Abierto() const;
    bool BOF() const; // true when the result has no row (or before the first)
    bool Eof() const;
    void MoveFirst();
    void MoveNext();

    int FieldCount() const;
    Campo Fields(int indice);            // 0-based; raises 3265 outside the range
    Campo Fields(const QString& nombre); // ignoring case; raises 3265 when absent
    // Shorthand for Fields(nombre).Value().
    QVariant operator[](const QString& nombre) { return Fields(nombre).Value(); }

    void AddNew();
    void Update();
    void Close();

    // Value by column index without building a Campo (hot loops).
    const QVariant& Valor(int indice) const;

    // Hot loops over a forward-only result on the SQLite route: from now on the rows are
    // stepped without building their values, and Valor builds one when asked (the same value
    // as before). False, and nothing changes, on any other recordset.
    bool LecturaDirecta();
    // A cell of the current row without building its value: a text (lent in place until the
    // next move), a Null, or Otra (anything else: ask Valor).
    enum class Celda { Nula, Texto, Otra };
    Celda CeldaTexto(int indice, QStringView& texto) const;

private:
    friend class Sesion;
    friend class Campo;
    std::unique_ptr<RecordsetDatos> d_;
};
