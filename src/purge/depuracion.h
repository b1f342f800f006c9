#pragma once
// The purge of one closed fiscal year, without a window: the count, the validation, the
// confirmation, the journal purge and the stock purge with opening balances. It works on the
// session, the operator seam and the progress display; the window and the unattended mode
// both run it and show its result.
#include "purge/archivo_depuracion.h"
#include "purge/cerrojo_depuracion.h"
#include "purge/marca_depuracion.h"
#include "purge/pasos_depuracion.h"
#include "suite/error.h"
#include "suite/recordset.h"

#include <memory>
#include <optional>
#include <QString>
#include <QStringList>
#include <QVariant>

class Avance;
class OfertaCompactacion;
class Operador;
class Sesion;

// How a run of the purge ended.
enum class Desenlace {
    Ninguno,
    SinCodigo,    // nothing typed
    Rechazado,    // the year does not exist or is not closed
    SinDatos,     // the year has no journal entries left
    NoConfirmado, // the operator answered No
    Completo,     // everything done
    Incompleto,   // it ran to the end, but some of it was not done (the message says what)
    Fallo         // left half way (Abort, or a value it could not do without)
};

// What the purge shows besides its messages: the window shows it, the unattended mode not.
class VistaDepuracion {
public:
    virtual ~VistaDepuracion() = default;
    virtual void MostrarDescripcion(const QString& texto) = 0; // the validated year's
    virtual void MostrarBasura(bool visible) = 0;              // something left to purge
};

struct ResultadoDepuracion {
    Desenlace desenlace = Desenlace::Ninguno;
    QString motivo;                  // what was not done, when incomplete
    std::optional<bool> hayError;    // the window's HayError, when this run set it
    bool depuracionIniciada = false; // the purge itself ran: the program ends
};

// The year's dates as the purge uses them.
struct FechasEjercicio {
    QString desde; // "Fecha Desde" as text: the operating period and the purge date
    QString hasta; // "Fecha Hasta" as text: the operating period
    QString corte; // the date of "Fecha Hasta", its time of day left out: the stock's cut-off
};

// What the dry run found, read with the purge's own statements.
struct Simulacion {
    Desenlace desenlace = Desenlace::Ninguno; // Rechazado, SinDatos or Completo
    QString descripcion;
    long asientos = 0;
    FechasEjercicio fechas;
    bool hayTipoSI = false;
    QString comprobante;
    long renglones = 0;
    double cantidad = 0;
    long validos = 0, anulados = 0;
    // The operating period as the purge would put it back (no value: the key has no row).
    std::optional<QVariant> periodoDesde, periodoHasta;
    // The interrupted purge of this year that the purge would finish.
    std::optional<MarcaDepuracion> pendiente;
    // Where the archive would go (empty: --sin-archivo), the rows it would hold, and the
    // interrupted purge's archive it could not continue.
    QString archivo, archivoAnterior;
    qint64 filasArchivo = 0;
    bool continuaArchivo = false;
};

class Depuracion {
public:
    Depuracion(Sesion& sesion, Operador& operador, Avance& avance, VistaDepuracion* vista = nullptr);
    // On the process-wide session, operator and progress display.
    explicit Depuracion(VistaDepuracion* vista = nullptr);
    Depuracion(const Depuracion&) = delete;
    Depuracion& operator=(const Depuracion&) = delete;

    // What "&Aceptar" does: take the purge lock, count the year's entries, validate the year,
    // ask, purge. When an earlier purge of that year was interrupted, it offers to finish it
    // instead; while one of another year is unfinished, or another station holds the lock, it
    // refuses. The lock is held from before the count to the end, the question included.
    ResultadoDepuracion Ejecutar(const QString& codigo);
    // Validates the year (a refusal is shown); returns true when it is refused. The year's
    // row is left in rsEjercicio.
    bool ValidarEjercicio(const QString& codigo, Recordset& rsEjercicio);
    // Sets the operating period to the year, deletes its journal entries, runs the stock
    // purge, records the purge date and puts the operating period back. Failures are
    // handled inside with the operator's Abort/Retry/Ignore box. What would make the stock
    // purge fail for a reason known in advance refuses the purge before anything changes. Its
    // progress record is claimed before the first change and removed when nothing is left to
    // do; with the record of an interrupted purge of the year (read by Ejecutar) it takes that
    // one over and finishes it.
    void PurgarAsientos(QString& codigo);
    // Carries the stock up to the cut-off forward as one "SI" voucher and deletes the
    // movements up to that date, all in one transaction.
    void PurgarStock(QString& fechaCorte);
    // Reads what the purge would do; writes nothing. Failures raise ErrorSistema.
    Simulacion Simular(const QString& codigo);
    // The progress record of an interrupted purge, if one was left. Raises ErrorSistema when
    // the record cannot be read back safely (malformed, or on several rows).
    std::optional<MarcaDepuracion> LeerMarca();
    // Whether another process holds the purge lock now; never takes it.
    bool OtraEstacionDepura();
    // The suite user this run's record names as its owner (empty: the login name).
    void EstablecerUsuario(const QString& usuario) { usuario_ = usuario; }
    // Whether and where the purge archives what it deletes (the window always does).
    void EstablecerArchivo(const OpcionesArchivo& opciones) { opcionesArchivo_ = opciones; }
    // The archive of the last run (empty: none).
    QString RutaArchivo() const { return archivo_ ? archivo_->Ruta() : QString(); }
    // The window's offer in the success message ("Compactar ahora"); none: the plain message.
    void OfrecerAlTerminar(OfertaCompactacion* oferta) { oferta_ = oferta; }

    enum class ResultadoStock {
        NoEjecutada, // never ran
        Completa,    // committed (or nothing to carry)
        SinTipoSI,   // the "SI" voucher type is missing: nothing touched
        Fallida      // a failure, an abandonment or a lost transaction: rolled back
    };
    ResultadoStock Resultado() const { return resultadoStock_; }
    // Why the stock purge did not complete (empty when it did).
    QString Motivo() const { return motivoStock_; }
    Desenlace UltimoDesenlace() const { return desenlace_; }

    // A year code that may go into a statement: digits only, within 32 bits.
    static bool EsCodigoEjercicio(const QString& codigo);
    // The confirmation question for n journal entries; with the archive's path when given.
    static QString TextoPregunta(long n, const QString& archivo = {});
    // The lines that name the archive in the final message.
    QString TextoArchivo() const;
    // The question that offers to finish the interrupted purge of a year.
    static QString TextoPendiente(qint64 ejercicio);
    // The refusal of a purge of another year while that one is unfinished.
    static QString TextoOtroPendiente(const QString& codigo, qint64 ejercicio);
    // The refusal while another station holds the purge lock: the holder's year, user, station
    // and start from its record, or, before it wrote one, only that the purge is open there.
    static QString TextoOcupado(const std::optional<MarcaDepuracion>& marca);
    // A year with no journal entries left.
    static QString TextoSinDatos();
    // The voucher number after the highest existing one (Null or empty: the first one).
    // Raises Errores::Desbordamiento when the number part would need more than 8 digits, or
    // when the highest one is negative.
    static QString SiguienteComprobante(const QVariant& maximo);
    // The year's dates from its row; raises an error when one is Null or not a date.
    static FechasEjercicio FechasDe(const QVariant& desde, const QVariant& hasta);
    // Whether a year row is closed: Cerrado true, or Cerrado Null and CIERRE true (the rule
    // that lists the years). Raises an error when a mark is not a logical value.
    static bool EstaCerrado(const QVariant& cerrado, const QVariant& cierre);

private:
    // What the stock purge will meet, read before anything changes.
    struct PrevisionStock {
        bool hayTipoSI = false;
        qint64 movimientos = 0; // valid movements up to the cut-off
        QString comprobante;    // the next voucher, when the type exists
        // Why the stock purge would certainly fail, as the operator is told (empty: it would not).
        QString impedimento;
        int estilo = 0;
        QString titulo;
    };
    PrevisionStock PreverStock(const FechasEjercicio& fechas);
    // Takes the purge lock; refuses (another holds it) or fails with false.
    bool TomarCerrojo(PasosDepuracion& pasos);
    // The record, to name the holder in a refusal; nothing when it cannot be read.
    std::optional<MarcaDepuracion> MarcaDelOtro();
    // Runs an owner-checked statement on the record: true when it changed its row. `queda` is
    // the value the row then holds (none: removed), to check when the driver gives no count.
    bool CambiarMarca(const QString& sql, const std::optional<QString>& queda);
    QString Literal(const QString& valor) const;
    // Steps of Ejecutar.
    bool Contar(PasosDepuracion& pasos, const QString& codigo, long& n);
    bool Validar(PasosDepuracion& pasos, const QString& codigo, ResultadoDepuracion& r);
    bool AdmitirPendiente(PasosDepuracion& pasos, const QString& codigo, ResultadoDepuracion& r);
    void Preguntar(PasosDepuracion& pasos, const QString& codigo, long n, ResultadoDepuracion& r);
    void Confirmar(PasosDepuracion& pasos, const QString& codigo, const QString& pregunta,
                   ResultadoDepuracion& r);
    // Phases of the journal purge; each returns false when the purge must stop.
    bool LeerPeriodo(PasosDepuracion& pasos);
    bool LeerEjercicio(PasosDepuracion& pasos, const QString& codigo);
    bool ComprobarStock(PasosDepuracion& pasos);
    // The archive: chosen, the folder checked, the file opened, before anything changes.
    void ElegirArchivo(const QString& codigo);
    bool ComprobarArchivo(PasosDepuracion& pasos, const QString& codigo);
    bool ArchivarConfiguracion(PasosDepuracion& pasos);
    void AnotarArchivo(MarcaDepuracion& m) const;
    bool AnotarInicio(PasosDepuracion& pasos, const QString& codigo);
    bool FijarPeriodo(PasosDepuracion& pasos);
    bool BorrarAsientos(PasosDepuracion& pasos, const QString& codigo);
    bool DepurarStock(PasosDepuracion& pasos);
    bool RegistrarFecha(PasosDepuracion& pasos);
    bool ReponerPeriodo(PasosDepuracion& pasos);
    bool QuitarMarca(PasosDepuracion& pasos);
    void MarcarStock();
    void Abandonar(PasosDepuracion& pasos);
    void InformarFin(PasosDepuracion& pasos);
    // A database step of the journal purge; when it is ignored, `pendiente` says what was not done.
    bool PasoDeDatos(PasosDepuracion& pasos, const QString& pendiente, const std::function<void()>& paso);
    std::optional<QVariant> LeerValor(const QString& sql);
    void GuardarValor(const QString& sql, const QVariant& valor);
    void ReponerDesde();
    void ReponerHasta();
    QString TextoIncompleto() const;
    void Basura(bool visible);

    Sesion& sesion_;
    Operador& operador_;
    Avance& avance_;
    VistaDepuracion* vista_;

    Recordset rs_;
    Recordset rsEjercicio_;
    bool hayError_ = false;
    QString descripcion_; // the validated year's
    Desenlace desenlace_ = Desenlace::Ninguno;
    // The operating period as it was (no value: its row is missing, so it is not written).
    std::optional<QVariant> guardadoDesde_, guardadoHasta_;
    bool periodoCambiado_ = false, repuestoDesde_ = false, repuestoHasta_ = false;
    FechasEjercicio fechas_;
    QStringList pendientes_; // database steps of the journal purge that were ignored
    bool asientosBorrados_ = false;
    ResultadoStock resultadoStock_ = ResultadoStock::NoEjecutada;
    QString motivoStock_;
    // The record of an interrupted purge that Ejecutar found, and the record of this run: written
    // by it (propia) or taken over from the interrupted one.
    std::optional<MarcaDepuracion> pendiente_;
    std::optional<MarcaDepuracion> marca_;
    bool marcaPropia_ = false, marcaQuitada_ = false;
    bool stockIniciado_ = false;
    // The record's value as this run stored it last, and as the stock transaction rewrote it.
    QString valorMarca_, valorHecho_;
    QString usuario_;
    OfertaCompactacion* oferta_ = nullptr;
    std::unique_ptr<CerrojoDepuracion> cerrojo_;
    OpcionesArchivo opcionesArchivo_;
    std::unique_ptr<ArchivoDepuracion> archivo_;
    bool archivoElegido_ = false; // by Ejecutar, for the purge it confirms
    bool rechazado_ = false;      // refused before anything changed
};
