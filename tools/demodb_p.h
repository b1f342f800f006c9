#pragma once
// Internals shared by the demodb sources.
#include <iterator>
#include <memory>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryFile>
#include <QtGlobal>

namespace demodb::detalle {

// A connection of its own, with a unique name, removed on destruction. Every QSqlQuery on it
// must be gone before the destructor runs.
class Conexion {
public:
    explicit Conexion(const QString& ruta);
    ~Conexion();
    Conexion(const Conexion&) = delete;
    Conexion& operator=(const Conexion&) = delete;

    bool abrir(QString* error);
    QSqlDatabase db() const;

private:
    QString nombre_;
};

// splitmix64: the same sequence on every platform and library.
class Azar {
public:
    explicit Azar(quint64 semilla) : estado_(semilla) {}
    // An independent stream for one part of the data, so that the size of one table does not
    // change the contents of another.
    Azar(quint64 semilla, quint64 flujo) : estado_(semilla ^ (flujo * 0xd1b54a32d192ed03ULL)) { siguiente(); }

    quint64 siguiente() {
        quint64 z = (estado_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // 0 <= r < n (0 when n is 0).
    qint64 menorQue(qint64 n) { return n > 0 ? qint64(siguiente() % quint64(n)) : 0; }
    qint64 entre(qint64 desde, qint64 hasta) { return desde + menorQue(hasta - desde + 1); }
    bool porCiento(int p) { return menorQue(100) < p; }
    template <typename Lista> const auto& elegir(const Lista& l) { return l[menorQue(qint64(std::size(l)))]; }

private:
    quint64 estado_;
};

// Many rows through one prepared statement. Goes through SQLite's own interface when the
// connection exposes a handle of the same SQLite library this was built with: binding through
// QSqlQuery costs several times as much as the insert itself. Falls back to QSqlQuery otherwise.
class Insercion {
public:
    explicit Insercion(const QSqlDatabase& db);
    ~Insercion();
    Insercion(const Insercion&) = delete;
    Insercion& operator=(const Insercion&) = delete;

    bool preparar(const QString& sql, QString* error);
    // Parameters are numbered from 0. A null QString binds NULL.
    void texto(int i, const QString& valor);
    void entero(int i, qint64 valor);
    void real(int i, double valor);
    void nulo(int i);
    bool ejecutar(QString* error);
    bool directa() const; // through SQLite's own interface

private:
    struct Datos;
    std::unique_ptr<Datos> d_;
};

bool Ejecutar(const QSqlDatabase& db, const QString& sql, QString* error);
void PonerError(QString* error, const QString& texto);
// Plain ASCII letters of a text ("Caño" gives "Cano"), for codes.
QString SinAcentos(const QString& texto);
// A database file built beside its final path and moved over it only once complete, so that a
// failure leaves whatever was there. The temporary file goes away with this object.
class ArchivoNuevo {
public:
    explicit ArchivoNuevo(const QString& ruta);
    ~ArchivoNuevo();
    ArchivoNuevo(const ArchivoNuevo&) = delete;
    ArchivoNuevo& operator=(const ArchivoNuevo&) = delete;

    // False (with the reason) when the final path holds something that is not a SQLite database.
    bool preparar(QString* error);
    QString rutaTemporal() const;
    // Every connection to the temporary file must be closed by now.
    bool confirmar(QString* error);

private:
    QString ruta_;
    std::unique_ptr<QTemporaryFile> temporal_;
};

} // namespace demodb::detalle
