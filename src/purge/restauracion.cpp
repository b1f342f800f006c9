#include "purge/restauracion.h"

#include "purge/archivo.h"
#include "purge/archivo_origen.h"
#include "purge/cerrojo_depuracion.h"
#include "purge/marca_depuracion.h"
#include "purge/sentencias_depuracion.h"
#include "suite/sesion.h"

#include <algorithm>
#include <memory>
#include <QDate>
#include <QDateTime>
#include <QScopeGuard>
#include <vector>

namespace S = SentenciasDepuracion;

namespace {

// A refusal: nothing was changed, and the text says why.
struct Rechazo {
    QString texto;
};

const QString kFechaUltima = QStringLiteral("FECHAULTIMADEPURACION");

// Where each archived table goes back, and whether a server identity column there takes the
// archive's ids (a table does, with IDENTITY_INSERT; the stock's view does not).
struct Destino {
    const char* tabla;
    const char* origen;
    bool idsEnServidor;
};
constexpr Destino kAsientos{kTablaAsientos, "MV_ASIENTOS", true};
constexpr Destino kMovimientos{kTablaMovimientos, "V_MV_STOCK", false};

// "dd/MM/yyyy" as the purge writes it, or an ISO date; invalid otherwise.
QDate LeerFecha(const QString& texto) {
    const QString t = texto.trimmed();
    for (const char* formato : {"dd/MM/yyyy", "d/M/yyyy", "yyyy-MM-dd"}) {
        const QDate d = QDate::fromString(t.left(10), QString::fromLatin1(formato));
        if (d.isValid()) return d;
    }
    return QDate::fromString(t, QStringLiteral("d/M/yyyy"));
}

int IndiceColumna(const TablaArchivo& t, const QString& nombre) {
    for (size_t i = 0; i < t.columnas.size(); ++i)
        if (t.columnas[i].nombre.compare(nombre, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QString Corchetes(const QString& nombre) {
    return QStringLiteral("[") + nombre + QStringLiteral("]");
}

class Restaurador {
public:
    Restaurador(Sesion& sesion, const LectorArchivo& archivo, ResultadoRestauracion& r, bool simular)
        : sesion_(sesion), archivo_(archivo), r_(r), simular_(simular) {}

    // The archive's own checks, before the database is touched.
    void ComprobarArchivo() {
        archivo_.ExigirIntegro();
        r_.ejercicio = archivo_.ValorManifiesto(QStringLiteral("ejercicio"));
        const QString anterior = archivo_.ValorManifiesto(QStringLiteral("archivo_anterior"));
        if (!anterior.isEmpty())
            throw Rechazo{
                QStringLiteral("El archivo %1 continúa el archivo %2 de una depuración interrumpida: "
                               "guarda solo una parte del ejercicio, y la restauración necesita "
                               "el ejercicio entero.")
                    .arg(archivo_.Ruta(), anterior)};
        fechaDepuracion_ = LeerFecha(archivo_.ValorManifiesto(QStringLiteral("fecha_desde")));
        if (r_.ejercicio.isEmpty() || !fechaDepuracion_.isValid())
            throw Rechazo{
                QStringLiteral("El archivo %1 no dice qué ejercicio depuró ni con qué fecha: no es un "
                               "archivo de depuración completo.")
                    .arg(archivo_.Ruta())};
        for (const char* nombre : {kTablaAsientos, kTablaConfiguracion})
            if (!archivo_.Tabla(QString::fromLatin1(nombre)))
                throw Rechazo{QStringLiteral("El archivo %1 no tiene la tabla %2: no es un archivo de "
                                             "depuración completo.")
                                  .arg(archivo_.Ruta(), QString::fromLatin1(nombre))};
        // Movements without the opening balance that replaced them would count the stock twice.
        if (!archivo_.Tabla(QString::fromLatin1(kTablaMovimientos)) !=
            !archivo_.Tabla(QString::fromLatin1(kTablaSaldoInicial)))
            throw Rechazo{
                QStringLiteral("El archivo %1 tiene una de las tablas %2 y %3 sin la otra: no es un "
                               "archivo de depuración completo.")
                    .arg(archivo_.Ruta(), QString::fromLatin1(kTablaMovimientos),
                         QString::fromLatin1(kTablaSaldoInicial))};
        for (const Destino& d : {kAsientos, kMovimientos}) {
            const TablaArchivo* t = archivo_.Tabla(QString::fromLatin1(d.tabla));
            if (t && t->origen.compare(QString::fromLatin1(d.origen), Qt::CaseInsensitive) != 0)
                throw Rechazo{QStringLiteral("La tabla %1 del archivo %2 viene de %3, no de %4.")
                                  .arg(t->nombre, archivo_.Ruta(), t->origen, QString::fromLatin1(d.origen))};
        }
        LeerConfiguracion();
    }

    // The database's checks, inside the transaction: nothing may change between them and the
    // writes.
    void ComprobarBase() {
        ComprobarMarca();
        ComprobarFecha();
        ComprobarSaldos();
    }

    void Escribir() {
        BorrarSaldos();
        if (archivo_.Tabla(QString::fromLatin1(kTablaMovimientos))) r_.movimientos = Reinsertar(kMovimientos);
        r_.asientos = Reinsertar(kAsientos);
        ReponerFecha();
    }

    void Contar() {
        if (const TablaArchivo* t = archivo_.Tabla(QString::fromLatin1(kTablaMovimientos)))
            r_.movimientos = t->filas;
        r_.asientos = archivo_.Tabla(QString::fromLatin1(kTablaAsientos))->filas;
    }

private:
    // FECHAULTIMADEPURACION's row as it was before the purge, from the archived configuration.
    void LeerConfiguracion() {
        const TablaArchivo& t = *archivo_.Tabla(QString::fromLatin1(kTablaConfiguracion));
        const int clave = IndiceColumna(t, QStringLiteral("CLAVE"));
        if (clave < 0)
            throw Rechazo{QStringLiteral("La tabla %1 del archivo %2 no tiene la columna CLAVE.")
                              .arg(t.nombre, archivo_.Ruta())};
        archivo_.Recorrer(t.nombre, [&](const Dato* fila) {
            if (ValorDeDato(fila[clave]).toString().trimmed().compare(kFechaUltima, Qt::CaseInsensitive) != 0)
                return true;
            // The purge writes these three; any other column it leaves alone.
            for (const char* nombre : {"Grupo", "CLAVE", "VALOR"}) {
                const int i = IndiceColumna(t, QString::fromLatin1(nombre));
                if (i >= 0) filaFecha_.emplace_back(t.columnas[size_t(i)].nombre, ValorDeDato(fila[i]));
            }
            habiaFecha_ = true;
            return false;
        });
        if (habiaFecha_)
            for (const auto& [nombre, valor] : filaFecha_)
                if (nombre.compare(QStringLiteral("VALOR"), Qt::CaseInsensitive) == 0)
                    r_.fechaAnterior = valor.isNull() ? QString() : valor.toString();
    }

    void ComprobarMarca() {
        Recordset rs;
        sesion_.AbrirRecordset(S::Marca(), rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        const auto cerrar = qScopeGuard([&] { sesion_.CerrarRecordset(rs); });
        if (rs.BOF()) return;
        QString cual;
        try {
            cual =
                QStringLiteral(" (ejercicio %1)")
                    .arg(MarcaDepuracion::Decodificar(rs.Fields(QStringLiteral("Valor")).Value()).ejercicio);
        } catch (const ErrorSistema&) {
        }
        throw Rechazo{QStringLiteral("La base de datos tiene una depuración sin terminar%1: termínela antes "
                                     "de restaurar un ejercicio.")
                          .arg(cual)};
    }

    void ComprobarFecha() {
        Recordset rs;
        sesion_.AbrirRecordset(S::FechaUltimaDepuracion(), rs, Cursor::SoloAdelante, Bloqueo::SoloLectura,
                               -1);
        QString texto;
        const bool hay = !rs.BOF();
        if (hay) texto = rs.Fields(QStringLiteral("Valor")).Value().toString();
        sesion_.CerrarRecordset(rs);
        const QDate enLaBase = LeerFecha(texto);
        if (enLaBase.isValid() && enLaBase > fechaDepuracion_)
            throw Rechazo{QStringLiteral("La base de datos registra una depuración posterior (%1 %2): el "
                                         "ejercicio %3 de este archivo no puede restaurarse sobre ella.")
                              .arg(kFechaUltima, texto.trimmed(), r_.ejercicio)};
        if (enLaBase != fechaDepuracion_)
            throw Rechazo{
                QStringLiteral("La base de datos no registra la depuración de este archivo (%1 %2, y "
                               "el archivo depuró el ejercicio %3 con fecha %4): ¿ya se restauró?")
                    .arg(kFechaUltima, hay ? texto.trimmed() : QStringLiteral("no existe"), r_.ejercicio,
                         archivo_.ValorManifiesto(QStringLiteral("fecha_desde")))};
    }

    // The opening-balance rows of the purge must be in the database as the archive has them.
    void ComprobarSaldos() {
        const TablaArchivo* t = archivo_.Tabla(QString::fromLatin1(kTablaSaldoInicial));
        if (!t || t->filas == 0) return;
        const int columna = IndiceColumna(*t, QStringLiteral("IDCOMPROBANTE"));
        if (columna < 0)
            throw Rechazo{QStringLiteral("La tabla %1 del archivo %2 no tiene la columna IDCOMPROBANTE.")
                              .arg(t->nombre, archivo_.Ruta())};
        archivo_.Recorrer(t->nombre, [&](const Dato* fila) {
            r_.comprobante = ValorDeDato(fila[columna]).toString();
            return false;
        });
        condicionSaldos_ = QStringLiteral("TC = 'SI' AND IDCOMPROBANTE = ") +
                           sesion_.ValorSQL(r_.comprobante, QStringLiteral("'")).toString();
        // Locked until the end, as the purge locks the stock: nothing comes between.
        const TablaArchivo enLaBase =
            HuellaOrigen(sesion_, DescribirTabla(sesion_, QStringLiteral("V_MV_STOCK")), condicionSaldos_,
                         simular_ ? BloqueoLectura::Ninguno : BloqueoLectura::Tabla);
        const bool mismasColumnas =
            std::equal(enLaBase.columnas.begin(), enLaBase.columnas.end(), t->columnas.begin(),
                       t->columnas.end(), [](const ColumnaArchivo& a, const ColumnaArchivo& b) {
                           return a.nombre.compare(b.nombre, Qt::CaseInsensitive) == 0;
                       });
        const QString que =
            QStringLiteral("Los renglones de saldo inicial que generó la depuración (comprobante "
                           "SI %1)")
                .arg(r_.comprobante);
        if (enLaBase.filas != t->filas)
            throw Rechazo{que + QStringLiteral(" ya no son los del archivo: la base de datos tiene %1 y el "
                                               "archivo %2. Sin ellos no se sabe qué quitar.")
                                    .arg(enLaBase.filas)
                                    .arg(t->filas)};
        if (!mismasColumnas || enLaBase.sha256 != t->sha256)
            throw Rechazo{que + QStringLiteral(" fueron modificados después de la depuración: restaurar "
                                               "perdería esos cambios.")};
        r_.saldos = t->filas;
    }

    void BorrarSaldos() {
        if (r_.saldos == 0) return;
        const qint64 n = sesion_.Ejecutar(QStringLiteral("DELETE FROM V_MV_STOCK WHERE ") + condicionSaldos_);
        if (n >= 0 && n != r_.saldos)
            throw ErrorSistema(
                Errores::BaseDeDatos,
                QStringLiteral("se quitaron %1 renglones de saldo inicial y el archivo tiene %2")
                    .arg(n)
                    .arg(r_.saldos));
    }

    // The archive's columns that go into the table, as the table names them.
    struct ColumnasDestino {
        std::vector<int> indices; // the archive's columns that go in
        std::vector<bool> fechas; // dates that a server reads better as dates than as text
        QStringList nombres;
        bool identidad = false;
    };
    ColumnasDestino Columnas(const Destino& destino, const TablaArchivo& t, const QString& tabla,
                             bool servidor) {
        // The database's columns: every archived one must be there.
        QStringList enLaBase;
        for (const ColumnaArchivo& c : DescribirTabla(sesion_, tabla).columnas)
            enLaBase << c.nombre;
        ColumnasDestino r;
        for (size_t i = 0; i < t.columnas.size(); ++i) {
            const ColumnaArchivo& c = t.columnas[i];
            if (c.nombre == QLatin1String(kColumnaRowid)) {
                if (servidor) continue;
                r.nombres << QStringLiteral("rowid");
            } else {
                if (c.nombre.contains(QChar(']')) || !enLaBase.contains(c.nombre, Qt::CaseInsensitive))
                    throw Rechazo{QStringLiteral("La tabla %1 de la base de datos no tiene la columna %2 que "
                                                 "guarda el archivo.")
                                      .arg(tabla, c.nombre)};
                if (servidor && c.tipo.contains(QLatin1String("identity"), Qt::CaseInsensitive)) {
                    if (!destino.idsEnServidor) {
                        r_.idsNuevos = true;
                        continue;
                    }
                    r.identidad = true;
                }
                r.nombres << Corchetes(c.nombre);
            }
            r.indices.push_back(int(i));
            r.fechas.push_back(servidor && ClaseDeTipo(c.tipo) == ClaseCanonica::Fecha);
        }
        return r;
    }

    // A server reads a date text by its language; a date value it does not.
    static QVariant ComoFecha(const QVariant& v) {
        if (v.typeId() != QMetaType::QString) return v;
        const QString s = v.toString().trimmed().replace(QChar('T'), QChar(' '));
        for (const char* formato : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd"}) {
            const QDateTime d = QDateTime::fromString(s, QString::fromLatin1(formato));
            if (d.isValid()) return d;
        }
        return v;
    }

    // Inserts the archived rows into their table, a batch of rows per statement; returns the count.
    qint64 Reinsertar(const Destino& destino) {
        const TablaArchivo& t = *archivo_.Tabla(QString::fromLatin1(destino.tabla));
        const QString tabla = QString::fromLatin1(destino.origen);
        const ColumnasDestino columnas = Columnas(destino, t, tabla, !sesion_.EsSQLite());
        const std::vector<int>& indices = columnas.indices;
        const std::vector<bool>& fechas = columnas.fechas;
        const QStringList& nombres = columnas.nombres;
        const bool identidad = columnas.identidad;
        const int n = int(indices.size());
        const int porSentencia = std::clamp(sesion_.LimiteParametros() / std::max(n, 1), 1, 100);
        const QString cabeza = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(tabla, nombres.join(u','));
        QString fila =
            QStringLiteral("(") + QStringList(n, QStringLiteral("?")).join(u',') + QStringLiteral(")");
        const auto sentencia = [&](int filas) { return cabeza + QStringList(filas, fila).join(u','); };
        if (identidad) sesion_.Ejecutar(QStringLiteral("SET IDENTITY_INSERT %1 ON").arg(tabla));
        QVariantList lote;
        lote.reserve(qsizetype(porSentencia) * n);
        qint64 total = 0;
        const QString completa = sentencia(porSentencia);
        const auto enviar = [&] {
            const int filas = int(lote.size() / std::max(n, 1));
            if (filas == 0) return;
            sesion_.EjecutarConValores(filas == porSentencia ? completa : sentencia(filas), lote);
            total += filas;
            lote.clear();
        };
        archivo_.Recorrer(t.nombre, [&](const Dato* datos) {
            for (int k = 0; k < n; ++k) {
                const QVariant v = ValorDeDato(datos[indices[size_t(k)]]);
                lote << (fechas[size_t(k)] ? ComoFecha(v) : v);
            }
            if (lote.size() >= qsizetype(porSentencia) * n) enviar();
            return true;
        });
        enviar();
        if (identidad) sesion_.Ejecutar(QStringLiteral("SET IDENTITY_INSERT %1 OFF").arg(tabla));
        if (total != t.filas)
            throw ErrorSistema(Errores::BaseDeDatos,
                               QStringLiteral("se reinsertaron %1 filas de %2 y el archivo "
                                              "tiene %3")
                                   .arg(total)
                                   .arg(tabla)
                                   .arg(t.filas));
        return total;
    }

    void ReponerFecha() {
        const QString donde = QStringLiteral(" WHERE RTRIM(LTRIM(CLAVE)) = '%1'").arg(kFechaUltima);
        if (!habiaFecha_) {
            sesion_.Ejecutar(QStringLiteral("DELETE FROM TA_CONFIGURACION") + donde);
            return;
        }
        QStringList asignaciones;
        for (const auto& [nombre, valor] : filaFecha_)
            asignaciones << Corchetes(nombre) + QStringLiteral(" = ") +
                                sesion_.ValorSQL(valor, QStringLiteral("'")).toString();
        if (sesion_.Ejecutar(QStringLiteral("UPDATE TA_CONFIGURACION SET ") +
                             asignaciones.join(QStringLiteral(", ")) + donde) == 0)
            throw ErrorSistema(
                Errores::BaseDeDatos,
                QStringLiteral("no se encontró la fila de %1 que hay que reponer").arg(kFechaUltima));
    }

    Sesion& sesion_;
    const LectorArchivo& archivo_;
    ResultadoRestauracion& r_;
    const bool simular_; // reads only: no transaction, no lock held
    QDate fechaDepuracion_;
    bool habiaFecha_ = false;
    std::vector<std::pair<QString, QVariant>> filaFecha_;
    QString condicionSaldos_;
};

} // namespace

ResultadoRestauracion Restaurar(Sesion& sesion, const QString& ruta, bool simular) {
    ResultadoRestauracion r;
    const auto rechazar = [&](const QString& texto) {
        r.desenlace = DesenlaceRestauracion::Rechazado;
        r.mensaje = texto;
        return r;
    };
    std::unique_ptr<LectorArchivo> archivo;
    std::unique_ptr<Restaurador> restaurador;
    try {
        archivo = std::make_unique<LectorArchivo>(ruta);
        restaurador = std::make_unique<Restaurador>(sesion, *archivo, r, simular);
        restaurador->ComprobarArchivo();
    } catch (const Rechazo& e) {
        return rechazar(e.texto);
    } catch (const ErrorSistema& e) {
        return rechazar(e.Descripcion);
    }

    // Held to the end: no purge starts meanwhile, and no other restore. The dry run only tests
    // it, as the purge's does, so that it runs where it cannot write.
    CerrojoDepuracion cerrojo(sesion);
    try {
        if ((simular ? cerrojo.Probar() : cerrojo.Tomar()) == CerrojoDepuracion::Estado::Ajeno)
            return rechazar(
                QStringLiteral("Otra estación está depurando o restaurando esta base de datos: la "
                               "restauración no puede hacerse ahora."));
    } catch (const ErrorSistema& e) {
        r.mensaje = e.Descripcion;
        return r;
    }
    const auto deshacer = qScopeGuard([&] {
        if (!sesion.EnTransaccion()) return;
        try {
            sesion.DeshacerTransaccion();
        } catch (const ErrorSistema&) {
            // The database drops what was not committed anyway.
        }
    });
    try {
        if (!simular) sesion.IniciarTransaccion();
        restaurador->ComprobarBase();
        if (simular) {
            restaurador->Contar();
            r.desenlace = DesenlaceRestauracion::Simulado;
            return r;
        }
        restaurador->Escribir();
        sesion.ConfirmarTransaccion();
        r.desenlace = DesenlaceRestauracion::Restaurado;
    } catch (const Rechazo& e) {
        return rechazar(e.texto);
    } catch (const ErrorSistema& e) {
        r.desenlace = DesenlaceRestauracion::Fallo;
        r.mensaje = QStringLiteral("No se pudo restaurar el ejercicio %1 desde %2: %3")
                        .arg(r.ejercicio, archivo->Ruta(), e.Descripcion);
    }
    return r;
}
