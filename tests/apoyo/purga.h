#pragma once
// Support for the purge tests: a small suite database, the window driven end to end with a
// scripted operator, the progress display recorded, and failures injected into chosen
// statements through the session's hook.
#include "apoyo/sistema.h"
#include "demodb.h"
#include "purge/frmcrb.h"
#include "suite/avance.h"

#include <functional>
#include <memory>
#include <QDate>
#include <QVariant>
#include <vector>

struct LlamadaAvance {
    QString tipo; // "Iniciar", "Mostrar", "Cerrar"
    QString linea1, linea2, valor;
};

class VistaGrabada : public AvanceVista {
public:
    explicit VistaGrabada(std::vector<LlamadaAvance>* destino) : destino_(destino) {}
    void Iniciar(const QString& titulo) override {
        destino_->push_back({QStringLiteral("Iniciar"), titulo, {}, {}});
    }
    void Mostrar(const QString& l1, const QString& l2, const QString& v) override {
        if (falloMostrar && *falloMostrar && (*falloMostrar)())
            throw ErrorSistema(Errores::ErrorEntradaSalida, "Falla de pantalla");
        destino_->push_back({QStringLiteral("Mostrar"), l1, l2, v});
    }
    void Cerrar() override { destino_->push_back({QStringLiteral("Cerrar"), {}, {}, {}}); }
    std::function<bool()>* falloMostrar = nullptr;

private:
    std::vector<LlamadaAvance>* destino_;
};

// A failure injected into the statements the session runs: from the nth statement whose
// translated text contains `contiene`, `veces` statements in a row fail (0: all of them).
// With perderTransaccion the database drops the open transaction first, as a deadlock does.
// With lectura it is the rows a recordset reads that fail, counted by the statement as written.
struct Falla {
    QString contiene;
    int ocurrencia = 1;
    int veces = 1;
    bool perderTransaccion = false;
    long numero = Errores::BaseDeDatos;
    bool lectura = false;
    int vistas = 0;
    int lanzadas = 0;
};

// A scripted operator that runs an action (another process lets go of its lock, the disk gets
// room) at the first error prompt, before its queued answer is given.
class OperadorQueLibera : public OperadorGuion {
public:
    std::function<void()> alPrimerError;

protected:
    Respuesta mensaje(const QString& texto, int estilo, const QString& titulo) override;
    Respuesta reporte(const ErrorSistema& error, const QString& procedimiento) override;

private:
    void liberar();
};

// Another connection to the same file holding a lock, as another program of the suite would.
class OtroProceso {
public:
    explicit OtroProceso(const QString& ruta);
    ~OtroProceso();
    OtroProceso(const OtroProceso&) = delete;
    OtroProceso& operator=(const OtroProceso&) = delete;
    // "EXCLUSIVE": nobody reads or writes; "IMMEDIATE": a writer, others still read; "DEFERRED"
    // followed by a read: a reader, whose lock keeps a writer from committing.
    void Tomar(const char* modo);
    void Soltar();

private:
    QString nombre_;
    bool tomado_ = false;
};

// One stock movement for a fixture.
struct Mov {
    QString fecha;
    QString articulo;
    double cantidad = 0;
    QVariant anulado = 0;
    QVariant deposito = 1;
    QVariant posicion = QStringLiteral("P1");
    QVariant serie{};
    QVariant lote{};
    QVariant cantidadUD{};
    QVariant descripcion{}; // invalid: "Artículo <code>"
    QString unidad = QStringLiteral("UN");
    QString tc = QStringLiteral("FC");
    QString comprobante = QStringLiteral("000100000007A");
};
QString InsertarMov(const Mov& m);
// A small stock for a purge of 2022: an earlier opening balance, five groups in 2022 (lots,
// a second unit, another depot) with 30.5 units over them, an annulled row and a later one.
QStringList MovimientosDeMuestra();

// The balances without their count of movements, which a purge changes by design.
QList<demodb::SaldoStock> SinConteo(QList<demodb::SaldoStock> saldos);
// Balances per group of valid movements of the file up to a day, as the purge counts them (Null
// Anulado counts as valid).
QList<demodb::SaldoStock> SaldosValidos(const QString& ruta, const QDate& hasta,
                                        demodb::Agrupacion agrupacion = demodb::Agrupacion::Completa);

class PruebaPurga : public PruebaSistema {
protected:
    void SetUp() override;
    void TearDown() override;

    void Sql(const QStringList& sentencias) { EjecutarSql(base, sentencias); }
    QVariant Valor(const QString& sql) { return ConsultarValor(base, sql); }
    qint64 Contar(const QString& desde) {
        return Valor(QStringLiteral("SELECT COUNT(*) FROM ") + desde).toLongLong();
    }
    // The VALOR of a configuration key (matched trimmed); invalid when there is no row.
    QVariant Config(const QString& clave);
    // SaldosValidos of the test's database.
    QList<demodb::SaldoStock> Saldos(const QDate& hasta,
                                     demodb::Agrupacion agrupacion = demodb::Agrupacion::Completa) {
        return SaldosValidos(base, hasta, agrupacion);
    }

    // Loads the window on the database (with the statement hook and the recorded progress).
    void Abrir();
    // The program started again on the same database: a fresh process state and operator, the
    // window loaded.
    void Reabrir();
    // Types the code and clicks "&Aceptar" (opening the window first when needed).
    void Depurar(const QString& codigo);
    // Statements run that contain a text (case-insensitive).
    QStringList SentenciasCon(const QString& texto) const;
    // The last message shown.
    OperadorGuion::Aviso UltimoAviso() const { return Guion().Avisos().back(); }
    const OperadorGuion& Guion() const { return *guion_; }
    OperadorGuion& Guion() { return *guion_; }
    // The progress calls up to the purge's own display closing (the listings open their own).
    size_t HastaElPrimerCierre() const {
        for (size_t i = 0; i < avance.size(); ++i)
            if (avance[i].tipo == "Cerrar") return i + 1;
        return avance.size();
    }

    QString base;
    std::unique_ptr<FrmCrb> frm;
    std::vector<LlamadaAvance> avance;
    QStringList sentencias; // as sent to SQLite
    QStringList escritas;   // as written, the T-SQL that SQL Server would get
    std::vector<Falla> fallas;
    std::function<bool()> falloMostrar;
    // The session's limit of "?" per statement: 20 sends the opening balance two rows per
    // statement, so that a few groups cross batch boundaries. 0: the back end's own.
    int limiteParametros = 20;
};

// The messages of a purge.
namespace Textos {
inline const QString Exito =
    QStringLiteral("        El proceso finalizó con éxito!!!        \rLuego del proceso de "
                   "depuración es recomendable realizar una compactación de la base de datos.");
inline const QString FaltaSI =
    QStringLiteral("DEBE DAR DE ALTA EN TABLA DE COMPROBANTES EL CODIGO SI PARA SALDO INICIAL...");
inline const QString Aviso = QStringLiteral("Aviso al operador");
// The success message: its fixed text, then the archive's path and counts.
inline bool EsExito(const QString& texto) {
    return texto == Exito ||
           (texto.startsWith(Exito + "\r\rArchivo de depuración: ") && texto.contains(".sqlite\r("));
}
} // namespace Textos
