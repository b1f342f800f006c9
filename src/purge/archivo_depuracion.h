#pragma once
// The purge's own archive: which file it writes, the checks before any change, and the steps
// that archive and verify each phase's rows before they are deleted.
//
// - The journal: read under a table lock inside the transaction that deletes it, verified on
//   disk, then deleted; a deletion whose count differs from the archive's rolls back.
// - The stock: the movements to delete and the opening balances inserted, archived inside the
//   stock transaction after its lock, and verified before its commit.
// - A table verified for rows that then stayed in the database (a rollback, a killed process
//   before the commit) is taken out again, now or by the rerun, so that the archive never holds
//   rows the database still has.
// A rerun of an interrupted purge keeps writing the archive its record names when this station
// reaches it; otherwise it writes a new one whose manifest names the first.
#include "purge/archivo.h"
#include "purge/marca_depuracion.h"

#include <memory>
#include <optional>
#include <QString>

class Sesion;

struct OpcionesArchivo {
    bool archivar = true;    // false: --sin-archivo (the administrator keeps a backup instead)
    QString carpeta;         // empty: the INI key CarpetaArchivo, else the user's data folder
    QString carpetaListados; // the year's listings (empty: beside the archive)
    bool listados = true;    // false: the archive only (the benchmark times the listings apart)
};

class ArchivoDepuracion {
public:
    ArchivoDepuracion(Sesion& sesion, const OpcionesArchivo& opciones, const QString& usuario);
    ~ArchivoDepuracion();
    ArchivoDepuracion(const ArchivoDepuracion&) = delete;
    ArchivoDepuracion& operator=(const ArchivoDepuracion&) = delete;

    // The folder an option names, else the INI key, else the default.
    static QString CarpetaElegida(const QString& opcion);

    // Chooses the file for a purge of the year: the interrupted purge's own when it is in the
    // folder and verified, a new one otherwise. Reads no database.
    void Elegir(const QString& codigo, const std::optional<MarcaDepuracion>& pendiente);
    QString Ruta() const { return ruta_; }
    QString Nombre() const;
    // The interrupted purge's archive that this run could not continue (empty: none).
    QString Anterior() const { return anterior_; }
    bool Continua() const { return continuar_; }

    // Before any change: the folder exists (the default one is made) and can be written, the
    // file is not there yet, and the free space holds about `filas` rows. Raises ErrorSistema
    // naming the folder.
    void Comprobar(qint64 filas);
    // Rows the purge of the year would archive, counted (journal and stock up to the cut-off).
    qint64 ContarFilas(const QString& codigo, const QString& fechaSQL);
    // Creates the file, or continues the chosen one.
    void Abrir(const QString& codigo, const QString& desde, const QString& hasta, const QString& corte);
    // The configuration rows the purge changes, as they are now, verified. Kept when the
    // continued archive has them.
    void ArchivarConfiguracion();
    // The journal phase: archive, verify, delete in one transaction; the count deleted must be
    // the archive's. Nothing is deleted when anything fails. Returns the rows deleted.
    qint64 DepurarAsientos(const QString& codigo, const QString& sentenciaBorrado);

    // Stock phase, inside the stock transaction.
    void ArchivarMovimientos(const QString& condicion);
    // Nothing was deleted after all: the movements' table goes back to empty.
    void VaciarMovimientos();
    void ArchivarSaldoInicial(const QString& condicion);
    qint64 FilasMovimientos() const { return movimientos_; }
    void VerificarStock();
    // The stock transaction did not commit: its tables are taken out of the archive.
    void DeshacerStock();

    bool Abierto() const { return bool(escritor_); }
    // Nothing was deleted: a file this run made goes (a continued one stays).
    void Descartar();

    qint64 Asientos() const { return asientos_; }
    qint64 Renglones() const { return renglones_; }

private:
    bool TieneTabla(const QString& tabla) const;
    void Escritor() const;
    void Reabrir();
    // The first name from ruta on ("-2", "-3"... before ".sqlite") that no file has.
    static QString SiguienteLibre(const QString& ruta);

    Sesion& sesion_;
    OpcionesArchivo opciones_;
    QString usuario_;
    QString ruta_, anterior_;
    bool continuar_ = false;
    QStringList tablas_; // verified tables of the file
    std::unique_ptr<EscritorArchivo> escritor_;
    qint64 asientos_ = 0, movimientos_ = 0, renglones_ = 0;
    bool stockEscrito_ = false;
};
