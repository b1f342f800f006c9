#include "purge/depuracion.h"

#include "purge/compactacion.h"
#include "purge/listados.h"
#include "purge/purga_stock.h"
#include "purge/sentencias_depuracion.h"
#include "suite/globales.h"
#include "suite/operador.h"

#include <cmath>
#include <limits>
#include <QDateTime>
#include <QRegularExpression>
#include <QScopeGuard>

namespace S = SentenciasDepuracion;

namespace {
const QString kAviso = QStringLiteral("Aviso al operador");
const QChar CR(u'\r');

const QString kNadaCambio = QStringLiteral("No se modificó nada.");
const QString kFaltaSI =
    QStringLiteral("DEBE DAR DE ALTA EN TABLA DE COMPROBANTES EL CODIGO SI PARA SALDO INICIAL...");

const QString kExito = QStringLiteral("        El proceso finalizó con éxito!!!        ") + CR +
                       QStringLiteral("Luego del proceso de depuración es recomendable realizar una "
                                      "compactación de la base de datos.");

bool valorLogico(const QVariant& v, const QString& campo) {
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    bool ok = true;
    const double d = v.toDouble(&ok);
    if (!ok)
        throw ErrorSistema(
            Errores::TiposNoCoinciden,
            QStringLiteral("No coinciden los tipos: el campo %1 no es un valor lógico").arg(campo));
    return d != 0;
}

// The day of a date value as text: a time of day stored with it is left out.
QString textoDelDia(const QVariant& v) {
    if (v.typeId() == QMetaType::QDateTime) return TextoEstandar(QVariant(v.toDateTime().date()));
    const QString t = TextoEstandar(v).trimmed();
    static const QRegularExpression conHora(
        QStringLiteral("^(\\S.*\\S)\\s+\\d{1,2}:\\d{2}(:\\d{2}(\\.\\d+)?)?$"));
    const auto m = conHora.match(t);
    return m.hasMatch() ? m.captured(1) : t;
}

// An owner-checked statement on the record changed nothing: the record is no longer this run's.
ErrorSistema marcaAjena() {
    return ErrorSistema(
        Errores::FilaNoEncontrada,
        QStringLiteral("La marca de depuración pendiente (clave %1 de TA_CONFIGURACION) ya no es "
                       "la de esta depuración: otro proceso la cambió o la eliminó.")
            .arg(MarcaDepuracion::Clave));
}

QString textoDeValor(const std::optional<QVariant>& v) {
    if (!v) return QStringLiteral("(sin valor)");
    return v->isNull() ? QStringLiteral("(sin valor)") : v->toString();
}
} // namespace

Depuracion::Depuracion(Sesion& sesion, Operador& operador, Avance& avance, VistaDepuracion* vista)
    : sesion_(sesion), operador_(operador), avance_(avance), vista_(vista) {}

Depuracion::Depuracion(VistaDepuracion* vista) : Depuracion(gSesion(), operador(), gAvance(), vista) {}

bool Depuracion::EsCodigoEjercicio(const QString& codigo) {
    const QString c = codigo.trimmed();
    if (c.isEmpty() || c.size() > 10) return false;
    for (QChar ch : c)
        if (ch < u'0' || ch > u'9') return false;
    return c.toLongLong() <= 2147483647LL;
}

QString Depuracion::TextoPregunta(long n, const QString& archivo) {
    const QString guardado =
        archivo.isEmpty()
            ? QString()
            : QStringLiteral("Lo que se elimina se guardará antes en el archivo de depuración:") + CR +
                  archivo + CR + CR;
    return QStringLiteral(
               "Se eliminarán físicamente los registros correspondientes al ejercicio seleccionado (") +
           QString::number(n) + QStringLiteral(" registros)") + CR + CR +
           QStringLiteral(
               "Antes de realizar este proceso es recomendable realizar una copia de resguardo de la") +
           CR +
           QStringLiteral(
               "                 base de datos y Emitir los listados correspondientes.              ") +
           CR + CR + guardado +
           QStringLiteral(
               "                     ¿Realmente desea ejecutar este proceso?                        ") +
           CR;
}

QString Depuracion::TextoPendiente(qint64 ejercicio) {
    const QString anio = QString::number(ejercicio);
    return QStringLiteral("Atención, la depuración del ejercicio %1 quedó sin terminar.").arg(anio) + CR +
           CR + QStringLiteral("Se completará lo que falta y se restaurará el período operativo") + CR +
           QStringLiteral("que había antes de la depuración.") + CR + CR +
           QStringLiteral("¿Desea terminar ahora la depuración del ejercicio %1?").arg(anio);
}

QString Depuracion::TextoOtroPendiente(const QString& codigo, qint64 ejercicio) {
    const QString anio = QString::number(ejercicio);
    return QStringLiteral("No se puede depurar el ejercicio %1: la depuración del ejercicio %2 quedó sin "
                          "terminar.")
               .arg(codigo.trimmed(), anio) +
           CR + QStringLiteral("Termine primero la depuración del ejercicio %1.").arg(anio);
}

QString Depuracion::TextoOcupado(const std::optional<MarcaDepuracion>& marca) {
    const QString despues =
        QStringLiteral("No se puede depurar mientras tanto: vuelva a intentarlo cuando termine.");
    if (!marca)
        return QStringLiteral(
                   "Otra estación tiene abierta la depuración de ejercicios y todavía no la confirmó.") +
               CR + despues;
    const QString otra =
        QStringLiteral("Otra estación está depurando el ejercicio %1.").arg(marca->ejercicio) + CR;
    if (!marca->dueno) return otra + despues;
    auto nombre = [](const QString& t) { return t.trimmed().isEmpty() ? QStringLiteral("(sin nombre)") : t; };
    return otra +
           QStringLiteral("La inició el usuario %1 en la estación %2, el %3.")
               .arg(nombre(marca->dueno->usuario), nombre(marca->dueno->equipo), marca->dueno->inicio) +
           CR + despues;
}

QString Depuracion::TextoSinDatos() {
    return QStringLiteral("No se han encontrado datos para depurar, el ejercicio ya ha sido depurado!!!!");
}

QString Depuracion::SiguienteComprobante(const QVariant& maximo) {
    if (!maximo.isValid() || maximo.isNull()) return QStringLiteral("000100000001X");
    const QString m = maximo.toString();
    const double actual = Val(m.mid(4, 8));
    // A minus sign, like a ninth digit, makes a 14-character number that no longer reads by
    // position.
    if (actual < 0)
        throw ErrorSistema(Errores::Desbordamiento,
                           QStringLiteral("Desbordamiento: el número del comprobante de saldo inicial %1 es "
                                          "negativo y el siguiente no tendría 8 dígitos. No se puede generar "
                                          "el saldo inicial: corrija la numeración de los comprobantes SI.")
                               .arg(m));
    const double siguiente = std::round(actual + 1);
    if (siguiente > 99999999.0)
        throw ErrorSistema(
            Errores::Desbordamiento,
            QStringLiteral("Desbordamiento: el comprobante de saldo inicial siguiente a %1 necesita "
                           "más de 8 dígitos. No se puede generar el saldo inicial.")
                .arg(m));
    return m.left(4) + QString::number(qint64(siguiente)).rightJustified(8, u'0') + m.mid(12, 1);
}

FechasEjercicio Depuracion::FechasDe(const QVariant& desde, const QVariant& hasta) {
    FechasEjercicio f;
    f.desde = TextoEstandar(desde);
    f.hasta = TextoEstandar(hasta);
    f.corte = textoDelDia(hasta);
    // Both must be dates the statements can take before anything is written.
    gUtilidades().FechaSQL(textoDelDia(desde));
    gUtilidades().FechaSQL(f.corte);
    return f;
}

bool Depuracion::EstaCerrado(const QVariant& cerrado, const QVariant& cierre) {
    if (!cerrado.isNull()) return valorLogico(cerrado, QStringLiteral("Cerrado"));
    return !cierre.isNull() && valorLogico(cierre, QStringLiteral("CIERRE"));
}

void Depuracion::Basura(bool visible) {
    if (vista_) vista_->MostrarBasura(visible);
}

// ---- The confirm button ---------------------------------------------------------------------

ResultadoDepuracion Depuracion::Ejecutar(const QString& texto) {
    PasosDepuracion pasos([this](const ErrorSistema& e) {
        return operador_.ReportarError(e, QStringLiteral("CmdAceptar_Click"));
    });
    ResultadoDepuracion r;
    r.desenlace = Desenlace::Fallo;
    const QString codigo = texto.trimmed();

    bool vacio = false;
    if (!pasos(ClasePaso::Prescindible, [&] {
            vacio = codigo.isEmpty();
            if (vacio)
                operador_.MsgBox(QStringLiteral("Debe informar el numero de ejercicio a depurar"),
                                 Estilo::SoloAceptar);
        }))
        return r;
    if (vacio) {
        r.desenlace = Desenlace::SinCodigo;
        return r;
    }
    // The purge lock, before anything of the purge is read; held through the question, and
    // released however this ends.
    const auto soltar = qScopeGuard([this] { cerrojo_.reset(); });
    if (!TomarCerrojo(pasos)) {
        r.desenlace = desenlace_;
        return r;
    }
    long n = 0;
    if (!Contar(pasos, codigo, n)) return r;
    if (!Validar(pasos, codigo, r)) return r;
    if (!AdmitirPendiente(pasos, codigo, r)) return r;
    Preguntar(pasos, codigo, n, r);
    return r;
}

bool Depuracion::Validar(PasosDepuracion& pasos, const QString& codigo, ResultadoDepuracion& r) {
    // A validation that failed and was ignored refuses the year.
    bool validado = false;
    if (!pasos(ClasePaso::Prescindible, [&] {
            r.hayError = false;
            r.hayError = ValidarEjercicio(codigo, rsEjercicio_);
            validado = true;
        }))
        return false;
    if (!validado || hayError_) {
        pasos(ClasePaso::Prescindible, [&] {
            if (rs_.Abierto()) sesion_.CerrarRecordset(rs_);
        });
        r.desenlace = Desenlace::Rechazado;
        return false;
    }
    return true;
}

bool Depuracion::AdmitirPendiente(PasosDepuracion& pasos, const QString& codigo, ResultadoDepuracion& r) {
    // The record of an interrupted purge decides what this run may do. While the purge of
    // another year is unfinished, no other starts: its record holds the operating period to put
    // back, and a second purge would overwrite that.
    pendiente_.reset();
    if (!pasos(ClasePaso::Esencial, [&] { pendiente_ = LeerMarca(); })) return false;
    if (!pendiente_ || pendiente_->ejercicio == codigo.toLongLong()) return true;
    r.hayError = hayError_ = true;
    r.desenlace = Desenlace::Rechazado;
    pasos(ClasePaso::Prescindible, [&] {
        operador_.MsgBox(TextoOtroPendiente(codigo, pendiente_->ejercicio), Estilo::Critico, kAviso);
    });
    pasos(ClasePaso::Prescindible, [&] {
        if (rs_.Abierto()) sesion_.CerrarRecordset(rs_);
    });
    return false;
}

void Depuracion::Preguntar(PasosDepuracion& pasos, const QString& codigo, long n, ResultadoDepuracion& r) {
    if (!pasos(ClasePaso::Prescindible, [&] { Basura(n > 0 || pendiente_); })) return;
    // An interrupted purge is finished even when its journal is already gone. The question
    // names the archive the purge will write.
    if ((pendiente_ || n > 0) && !pasos(ClasePaso::Esencial, [&] { ElegirArchivo(codigo); })) return;
    if (pendiente_) {
        QString pregunta = TextoPendiente(pendiente_->ejercicio);
        if (archivo_)
            pregunta +=
                QString(CR) + CR +
                (archivo_->Continua()
                     ? QStringLiteral("Se seguirá usando el archivo de depuración:")
                     : QStringLiteral("Lo que falta se guardará en un archivo de depuración nuevo:")) +
                CR + archivo_->Ruta();
        Confirmar(pasos, codigo, pregunta, r);
        return;
    }
    if (n > 0) {
        Confirmar(pasos, codigo, TextoPregunta(n, archivo_ ? archivo_->Ruta() : QString()), r);
        return;
    }
    // Nothing to purge.
    r.desenlace = Desenlace::SinDatos;
    if (!pasos(ClasePaso::Prescindible, [&] { operador_.MsgBox(TextoSinDatos(), Estilo::Informacion); }))
        return;
    pasos(ClasePaso::Prescindible, [&] {
        if (rs_.Abierto()) sesion_.CerrarRecordset(rs_);
    });
}

bool Depuracion::Contar(PasosDepuracion& pasos, const QString& codigo, long& n) {
    // A code that is not a plain whole number never goes into a statement: the validation
    // refuses it as a year that does not exist. A count that cannot be read stops here
    // rather than report a year with nothing to purge.
    if (!EsCodigoEjercicio(codigo)) return true;
    if (!pasos(ClasePaso::Esencial, [&] {
            sesion_.AbrirRecordset(S::ContarAsientos(codigo), rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura,
                                   -1);
        }))
        return false;
    return pasos(ClasePaso::Esencial, [&] {
        if (rs_.BOF()) return;
        rs_.MoveFirst();
        bool ok = false;
        const qlonglong valor = rs_.Fields(QStringLiteral("Registros")).Value().toLongLong(&ok);
        if (!ok || valor > std::numeric_limits<qint32>::max() || valor < std::numeric_limits<qint32>::min())
            throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
        n = long(valor);
    });
}

void Depuracion::Confirmar(PasosDepuracion& pasos, const QString& codigo, const QString& pregunta,
                           ResultadoDepuracion& r) {
    Respuesta respuesta = Respuesta::No;
    if (!pasos(ClasePaso::Prescindible,
               [&] { respuesta = operador_.MsgBox(pregunta, Estilo::Informacion | Estilo::SiNo, kAviso); }))
        return;
    if (respuesta != Respuesta::Si) {
        r.desenlace = Desenlace::NoConfirmado;
        return;
    }
    if (!pasos(ClasePaso::Prescindible, [&] {
            QString c = codigo;
            PurgarAsientos(c);
        }))
        return;
    // Refused before anything changed: the window stays, as after a refused year.
    r.depuracionIniciada = !rechazado_;
    r.desenlace = desenlace_;
    r.hayError = hayError_;
    if (desenlace_ == Desenlace::Incompleto) {
        QStringList lineas = TextoIncompleto().split(CR);
        lineas.removeFirst();
        r.motivo = lineas.join(u' ');
    }
}

bool Depuracion::TomarCerrojo(PasosDepuracion& pasos) {
    if (cerrojo_ && cerrojo_->Tomado()) return true;
    desenlace_ = Desenlace::Fallo;
    auto cerrojo = std::make_unique<CerrojoDepuracion>(sesion_);
    CerrojoDepuracion::Estado estado = CerrojoDepuracion::Estado::Libre;
    if (!pasos(ClasePaso::Esencial, [&] { estado = cerrojo->Tomar(); })) return false;
    if (estado != CerrojoDepuracion::Estado::Ajeno) {
        cerrojo_ = std::move(cerrojo);
        return true;
    }
    // Another station is purging: nothing else is read, nothing is written.
    desenlace_ = Desenlace::Rechazado;
    rechazado_ = true;
    const auto marca = MarcaDelOtro();
    pasos(ClasePaso::Prescindible, [&] { operador_.MsgBox(TextoOcupado(marca), Estilo::Critico, kAviso); });
    return false;
}

std::optional<MarcaDepuracion> Depuracion::MarcaDelOtro() {
    try {
        return LeerMarca();
    } catch (const ErrorSistema&) {
        return std::nullopt;
    }
}

bool Depuracion::OtraEstacionDepura() {
    if (cerrojo_ && cerrojo_->Tomado()) return false;
    return CerrojoDepuracion(sesion_).Probar() == CerrojoDepuracion::Estado::Ajeno;
}

QString Depuracion::Literal(const QString& valor) const {
    return sesion_.ValorSQL(valor, QStringLiteral("'")).toString();
}

bool Depuracion::CambiarMarca(const QString& sql, const std::optional<QString>& queda) {
    const qint64 filas = sesion_.Ejecutar(sql);
    if (filas >= 0) return filas > 0;
    // No count from the driver: the row itself tells.
    const auto marca = LeerMarca();
    return queda ? marca && marca->leido == *queda : !marca || marca->leido != valorMarca_;
}

bool Depuracion::ValidarEjercicio(const QString& texto, Recordset& rsEjercicio) {
    hayError_ = false;
    const QString codigo = texto.trimmed();
    auto rechazar = [this](const QString& t) {
        hayError_ = true;
        operador_.MsgBox(t, Estilo::Critico, kAviso);
    };
    auto descripcion = [this](const QString& t) {
        descripcion_ = t;
        if (vista_) vista_->MostrarDescripcion(t);
    };
    if (codigo.isEmpty()) {
        rechazar(QStringLiteral("Debe ingresar código de ejercicio"));
        return hayError_;
    }
    // A code that is not a plain whole number never reaches a statement.
    if (!EsCodigoEjercicio(codigo) ||
        !sesion_.Existe(QStringLiteral("MV_EJERCICIOS"), codigo, QStringLiteral("PERIODO"), &rsEjercicio,
                        TipoClave::Entero, QString())) {
        descripcion(QStringLiteral("..."));
        rechazar(QStringLiteral("Ejercicio inexistente!!!"));
        return hayError_;
    }
    descripcion(sesion_
                    .ValorCampo(QStringLiteral("MV_EJERCICIOS"), codigo, QStringLiteral("descripcion"),
                                QStringLiteral("PERIODO"), TipoClave::Entero, QString())
                    .toString());
    // Closed by the rule that lists the years: a new year row usually has Cerrado Null.
    const QVariant cerrado = rsEjercicio.Fields(QStringLiteral("Cerrado")).Value();
    const QVariant cierre =
        cerrado.isNull() ? rsEjercicio.Fields(QStringLiteral("CIERRE")).Value() : QVariant();
    if (!EstaCerrado(cerrado, cierre)) rechazar(QStringLiteral("El Ejercicio a depurar debe estar cerrado"));
    return hayError_;
}

// ---- The journal purge ----------------------------------------------------------------------

void Depuracion::PurgarAsientos(QString& codigo) {
    PasosDepuracion pasos([this](const ErrorSistema& e) {
        Basura(true);
        return operador_.MsgBox(QStringLiteral("Se ha producido el siguiente error:") + e.Descripcion,
                                Estilo::AnularReintentarOmitir | Estilo::Critico, kAviso);
    });
    guardadoDesde_.reset();
    guardadoHasta_.reset();
    periodoCambiado_ = repuestoDesde_ = repuestoHasta_ = false;
    fechas_ = {};
    pendientes_.clear();
    asientosBorrados_ = false;
    resultadoStock_ = ResultadoStock::NoEjecutada;
    motivoStock_.clear();
    marca_.reset();
    marcaPropia_ = marcaQuitada_ = stockIniciado_ = rechazado_ = false;
    valorMarca_.clear();
    valorHecho_.clear();
    // Chosen by Ejecutar for the question it asked; chosen here otherwise.
    if (!std::exchange(archivoElegido_, false)) archivo_.reset();

    // Held already when Ejecutar ran first.
    if (!TomarCerrojo(pasos)) return;
    // Read from the very rows that FijarPeriodo changes, so that ReponerPeriodo puts back exactly
    // that.
    if (!LeerPeriodo(pasos)) return Abandonar(pasos);
    // The year, with every value the rest needs checked before anything changes.
    if (!LeerEjercicio(pasos, codigo)) return Abandonar(pasos);
    // What would stop the stock purge for a reason known now stops the purge here, before the
    // journal goes and there is no way back.
    if (!ComprobarStock(pasos)) return Abandonar(pasos);
    // The archive's folder and file, checked and opened before anything changes.
    if (!ComprobarArchivo(pasos, codigo)) return Abandonar(pasos);
    // The purge's record, before the first change; it names the archive.
    if (!AnotarInicio(pasos, codigo)) return Abandonar(pasos);
    // The configuration rows as they were, before the period moves.
    if (!ArchivarConfiguracion(pasos)) return Abandonar(pasos);
    if (!FijarPeriodo(pasos)) return Abandonar(pasos);
    if (!BorrarAsientos(pasos, codigo)) return Abandonar(pasos);
    if (!DepurarStock(pasos)) return Abandonar(pasos);
    if (!RegistrarFecha(pasos)) return Abandonar(pasos);
    if (!ReponerPeriodo(pasos)) return Abandonar(pasos);
    // The record goes last, once nothing is left to do.
    if (!QuitarMarca(pasos)) return Abandonar(pasos);
    InformarFin(pasos);
}

std::optional<QVariant> Depuracion::LeerValor(const QString& sql) {
    sesion_.AbrirRecordset(sql, rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    if (rs_.BOF()) return std::nullopt;
    return rs_.Fields(QStringLiteral("Valor")).Value();
}

void Depuracion::GuardarValor(const QString& sql, const QVariant& valor) {
    sesion_.AbrirRecordset(sql, rs_, Cursor::Dinamico, Bloqueo::Optimista, -1);
    if (rs_.BOF()) return;
    rs_.Fields(QStringLiteral("Valor")).setValue(valor);
    rs_.Update();
}

std::optional<MarcaDepuracion> Depuracion::LeerMarca() {
    Recordset rs;
    sesion_.AbrirRecordset(S::Marca(), rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    if (rs.BOF()) {
        sesion_.CerrarRecordset(rs);
        return std::nullopt;
    }
    const QVariant valor = rs.Fields(QStringLiteral("Valor")).Value();
    int filas = 0;
    for (; !rs.Eof(); rs.MoveNext())
        ++filas;
    sesion_.CerrarRecordset(rs);
    if (filas > 1)
        throw ErrorSistema(Errores::LlamadaNoValida,
                           QStringLiteral("La marca de depuración pendiente (clave %1 de TA_CONFIGURACION) "
                                          "está en %2 filas. No se puede saber cuál vale; deje una sola "
                                          "antes de depurar.")
                               .arg(MarcaDepuracion::Clave)
                               .arg(filas));
    return MarcaDepuracion::Decodificar(valor);
}

bool Depuracion::LeerPeriodo(PasosDepuracion& pasos) {
    // Finishing an interrupted purge: the rows may hold the year's dates by now, its record
    // holds the period as it was before that purge began.
    if (pendiente_) {
        guardadoDesde_ = pendiente_->desde;
        guardadoHasta_ = pendiente_->hasta;
        return true;
    }
    // Without the period as it was there would be nothing to put back.
    return pasos(ClasePaso::Esencial, [&] { guardadoDesde_ = LeerValor(S::PeriodoDesde()); }) &&
           pasos(ClasePaso::Esencial, [&] { guardadoHasta_ = LeerValor(S::PeriodoHasta()); });
}

bool Depuracion::LeerEjercicio(PasosDepuracion& pasos, const QString& codigo) {
    QVariant desde, hasta;
    return pasos(
               ClasePaso::Esencial,
               [&] {
                   if (!EsCodigoEjercicio(codigo))
                       throw ErrorSistema(
                           Errores::LlamadaNoValida,
                           QStringLiteral("El código de ejercicio '%1' no es un número válido").arg(codigo));
                   sesion_.AbrirRecordset(S::Ejercicio(codigo), rs_, Cursor::Dinamico, Bloqueo::Optimista,
                                          -1);
               }) &&
           pasos(ClasePaso::Esencial, [&] { desde = rs_.Fields(QStringLiteral("Fecha Desde")).Value(); }) &&
           pasos(ClasePaso::Esencial, [&] { hasta = rs_.Fields(QStringLiteral("Fecha Hasta")).Value(); }) &&
           pasos(ClasePaso::Esencial, [&] { fechas_ = FechasDe(desde, hasta); }) &&
           pasos(ClasePaso::Prescindible, [&] { sesion_.CerrarRecordset(rs_); });
}

bool Depuracion::AnotarInicio(PasosDepuracion& pasos, const QString& codigo) {
    const DuenoDepuracion dueno = DuenoDepuracion::Nuevo(
        gEquipo().NombreEquipo(), usuario_.isEmpty() ? gEquipo().UsuarioEquipo() : usuario_);
    // The record of an interrupted purge: its owner holds no lock any more (this run holds it),
    // so this run takes it over, and only this run changes it from now on.
    if (pendiente_)
        return pasos(ClasePaso::Esencial, [&] {
            MarcaDepuracion m = *pendiente_;
            m.dueno = dueno;
            AnotarArchivo(m);
            const QString valor = m.Codificar();
            if (!CambiarMarca(S::ReescribirMarca(Literal(valor), Literal(pendiente_->leido)), valor))
                throw ErrorSistema(
                    Errores::FilaNoEncontrada,
                    QStringLiteral("La marca de depuración pendiente (clave %1 de TA_CONFIGURACION) "
                                   "cambió mientras se la leía: otro proceso la tomó. %2")
                        .arg(MarcaDepuracion::Clave, kNadaCambio));
            marca_ = m;
            valorMarca_ = valor;
        });
    // A purge that could not be finished after a power cut does not start.
    bool reclamada = false;
    if (!pasos(ClasePaso::Esencial, [&] {
            MarcaDepuracion m{codigo.toLongLong(),
                              MarcaDepuracion::Fase::Asientos,
                              guardadoDesde_,
                              guardadoHasta_,
                              dueno,
                              {},
                              {},
                              QString()};
            AnotarArchivo(m);
            const QString valor = m.Codificar();
            if (valor.size() > MarcaDepuracion::kLargoMaximo)
                throw ErrorSistema(Errores::Desbordamiento,
                                   QStringLiteral("El período operativo (fechaoperdesde y fechaoperhasta) es "
                                                  "demasiado largo para anotarlo en la marca de depuración "
                                                  "pendiente: %1 caracteres, caben %2. No se modificó nada.")
                                       .arg(valor.size())
                                       .arg(MarcaDepuracion::kLargoMaximo));
            // Inserted only when no record exists, in one statement.
            reclamada = CambiarMarca(S::ReclamarMarca(Literal(valor)), valor);
            if (!reclamada) return;
            marca_ = m;
            valorMarca_ = valor;
            marcaPropia_ = true;
        }))
        return false;
    if (reclamada) return true;
    // Another run claimed the record first (a station with no lock to hold): its purge is its own.
    rechazado_ = true;
    const auto otra = MarcaDelOtro();
    pasos(ClasePaso::Prescindible, [&] { operador_.MsgBox(TextoOcupado(otra), Estilo::Critico, kAviso); });
    return false;
}

void Depuracion::MarcarStock() {
    // Runs inside the stock transaction: the "S" commits or rolls back with the stock.
    MarcaDepuracion hecha = *marca_;
    hecha.fase = MarcaDepuracion::Fase::StockHecho;
    const QString valor = hecha.Codificar();
    if (!CambiarMarca(S::ReescribirMarca(Literal(valor), Literal(valorMarca_)), valor)) throw marcaAjena();
    valorHecho_ = valor;
}

bool Depuracion::QuitarMarca(PasosDepuracion& pasos) {
    if (!marca_ || resultadoStock_ != ResultadoStock::Completa || !asientosBorrados_ ||
        !pendientes_.isEmpty())
        return true;
    return PasoDeDatos(pasos,
                       QStringLiteral("No se quitó la marca de depuración pendiente (%1): la próxima "
                                      "depuración del ejercicio %2 la dará por terminada.")
                           .arg(MarcaDepuracion::Clave)
                           .arg(marca_->ejercicio),
                       [&] {
                           if (!CambiarMarca(S::QuitarMarca(Literal(valorMarca_)), std::nullopt))
                               throw marcaAjena();
                           marcaQuitada_ = true;
                       });
}

Depuracion::PrevisionStock Depuracion::PreverStock(const FechasEjercicio& fechas) {
    const QString corte = gUtilidades().FechaSQL(fechas.corte);
    PrevisionStock p;
    auto impedir = [&](const QString& texto, int estilo = Estilo::Critico, const QString& titulo = kAviso) {
        p.impedimento = texto;
        p.estilo = estilo;
        p.titulo = titulo;
        return p;
    };
    p.hayTipoSI = sesion_.Existe(QStringLiteral("V_TA_CPTE"), QStringLiteral("SI"), QStringLiteral("Codigo"),
                                 nullptr, TipoClave::Texto, QString());
    // One pass: what would be carried, and a bound of every balance.
    sesion_.AbrirRecordset(S::CotaSaldos(corte), rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    double cota = 0;
    if (!rs_.BOF()) {
        p.movimientos = rs_.Valor(0).toLongLong();
        cota = std::max(std::abs(rs_.Valor(1).toDouble()), std::abs(rs_.Valor(2).toDouble()));
    }
    sesion_.CerrarRecordset(rs_);
    if (!p.hayTipoSI) return p.movimientos > 0 ? impedir(kFaltaSI, Estilo::SoloAceptar, QString()) : p;
    try {
        Recordset rs;
        sesion_.AbrirRecordset(S::MaximoComprobante(false), rs, Cursor::SoloAdelante, Bloqueo::SoloLectura,
                               -1);
        const QVariant maximo = rs.BOF() ? QVariant() : rs.Valor(0);
        sesion_.CerrarRecordset(rs);
        p.comprobante = PurgaStock::SiguienteLibre(sesion_, maximo);
    } catch (const ErrorSistema& e) {
        if (e.Numero != Errores::Desbordamiento && e.Numero != Errores::LlamadaNoValida) throw;
        return impedir(e.Descripcion + CR + kNadaCambio);
    }
    // A sum can overflow only past the bound's limit (SQLite sums whole numbers in 64 bits; a
    // server's integer column may sum in 32): only then are the balances summed here, as the
    // stock purge will sum them.
    const double limite = sesion_.EsSQLite() ? std::ldexp(1.0, 62) : std::ldexp(1.0, 31);
    if (!(cota < limite)) {
        try {
            sesion_.AbrirRecordset(S::Saldos(corte), rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
            while (!rs_.BOF() && !rs_.Eof())
                rs_.MoveNext();
            sesion_.CerrarRecordset(rs_);
        } catch (const ErrorSistema& e) {
            // Only an overflow is a reason known in advance; any other failure is reported as such.
            if (!e.Descripcion.contains(QLatin1String("overflow"), Qt::CaseInsensitive)) throw;
            if (rs_.Abierto()) sesion_.CerrarRecordset(rs_);
            return impedir(QStringLiteral("No se pueden sumar los saldos del stock al %1: %2")
                               .arg(fechas.corte, e.Descripcion.trimmed()) +
                           CR +
                           QStringLiteral("Corrija las cantidades de los movimientos antes de depurar. ") +
                           kNadaCambio);
        }
    }
    return p;
}

bool Depuracion::ComprobarStock(PasosDepuracion& pasos) {
    // An interrupted purge that committed its stock carries nothing again.
    if (pendiente_ && pendiente_->fase == MarcaDepuracion::Fase::StockHecho) return true;
    PrevisionStock p;
    if (!pasos(ClasePaso::Esencial, [&] { p = PreverStock(fechas_); })) return false;
    if (p.impedimento.isEmpty()) return true;
    rechazado_ = true;
    pasos(ClasePaso::Prescindible, [&] { operador_.MsgBox(p.impedimento, p.estilo, p.titulo); });
    return false;
}

bool Depuracion::FijarPeriodo(PasosDepuracion& pasos) {
    return pasos(ClasePaso::Prescindible,
                 [&] {
                     periodoCambiado_ = true;
                     GuardarValor(S::PeriodoDesde(), fechas_.desde);
                 }) &&
           pasos(ClasePaso::Prescindible, [&] {
               periodoCambiado_ = true;
               GuardarValor(S::PeriodoHasta(), fechas_.hasta);
           });
}

bool Depuracion::PasoDeDatos(PasosDepuracion& pasos, const QString& pendiente,
                             const std::function<void()>& paso) {
    if (!pasos(ClasePaso::Datos, paso)) return false;
    if (pasos.UltimoOmitido()) pendientes_ << pendiente;
    return true;
}

bool Depuracion::BorrarAsientos(PasosDepuracion& pasos, const QString& codigo) {
    return pasos(ClasePaso::Datos, [&] {
        // Archived and verified first, then deleted in one transaction.
        if (archivo_)
            archivo_->DepurarAsientos(codigo, S::BorrarAsientos(codigo));
        else
            sesion_.Ejecutar(S::BorrarAsientos(codigo));
        asientosBorrados_ = true;
    });
}

void Depuracion::ElegirArchivo(const QString& codigo) {
    archivo_.reset();
    archivoElegido_ = false;
    if (!opcionesArchivo_.archivar) return;
    archivo_ = std::make_unique<ArchivoDepuracion>(sesion_, opcionesArchivo_,
                                                   usuario_.isEmpty() ? gEquipo().UsuarioEquipo() : usuario_);
    archivo_->Elegir(codigo, pendiente_);
    archivoElegido_ = true;
}

bool Depuracion::ComprobarArchivo(PasosDepuracion& pasos, const QString& codigo) {
    if (!opcionesArchivo_.archivar) return true;
    if (!archivo_ && !pasos(ClasePaso::Esencial, [&] { ElegirArchivo(codigo); })) return false;
    qint64 filas = 0;
    if (!pasos(ClasePaso::Esencial,
               [&] { filas = archivo_->ContarFilas(codigo, gUtilidades().FechaSQL(fechas_.corte)); }))
        return false;
    try {
        archivo_->Comprobar(filas);
        archivo_->Abrir(codigo, fechas_.desde, fechas_.hasta, fechas_.corte);
        return true;
    } catch (const ErrorSistema& e) {
        // Refused before anything changed, as any other reason known in advance.
        rechazado_ = true;
        pasos(ClasePaso::Prescindible,
              [&] { operador_.MsgBox(e.Descripcion + CR + kNadaCambio, Estilo::Critico, kAviso); });
        return false;
    }
}

bool Depuracion::ArchivarConfiguracion(PasosDepuracion& pasos) {
    if (!archivo_) return true;
    return pasos(ClasePaso::Esencial, [&] { archivo_->ArchivarConfiguracion(); });
}

void Depuracion::AnotarArchivo(MarcaDepuracion& m) const {
    if (!archivo_) return;
    m.archivo = archivo_->Nombre();
    m.equipoArchivo = gEquipo().NombreEquipo();
}

QString Depuracion::TextoArchivo() const {
    if (!archivo_ || !archivo_->Abierto()) return {};
    return QStringLiteral("Archivo de depuración: %1").arg(archivo_->Ruta()) + CR +
           QStringLiteral(
               "(%1 asientos, %2 movimientos de stock y %3 renglones de saldo inicial guardados en "
               "esta ejecución)")
               .arg(archivo_->Asientos())
               .arg(archivo_->FilasMovimientos())
               .arg(archivo_->Renglones());
}

bool Depuracion::DepurarStock(PasosDepuracion& pasos) {
    stockIniciado_ = true;
    // The interrupted purge committed its stock: it is not carried twice.
    if (marca_ && marca_->fase == MarcaDepuracion::Fase::StockHecho) {
        resultadoStock_ = ResultadoStock::Completa;
        return pasos(ClasePaso::Prescindible, [&] { Basura(false); });
    }
    return pasos(ClasePaso::Prescindible, [&] { PurgarStock(fechas_.corte); }) &&
           pasos(ClasePaso::Prescindible, [&] { Basura(false); });
}

bool Depuracion::RegistrarFecha(PasosDepuracion& pasos) {
    return PasoDeDatos(
        pasos, QStringLiteral("No se registró la fecha de la última depuración (FECHAULTIMADEPURACION)."),
        [&] {
            sesion_.AbrirRecordset(S::FechaUltimaDepuracion(), rs_, Cursor::Dinamico, Bloqueo::Optimista, -1);
            if (rs_.BOF()) rs_.AddNew();
            rs_.Fields(QStringLiteral("Grupo")).setValue(QStringLiteral("DATOS"));
            rs_.Fields(QStringLiteral("Clave")).setValue(QStringLiteral("FECHAULTIMADEPURACION"));
            rs_.Fields(QStringLiteral("Valor")).setValue(fechas_.desde);
            rs_.Update();
            rs_.Close();
        });
}

void Depuracion::ReponerDesde() {
    repuestoDesde_ = true;
    if (guardadoDesde_) GuardarValor(S::PeriodoDesde(), *guardadoDesde_);
}

void Depuracion::ReponerHasta() {
    repuestoHasta_ = true;
    if (guardadoHasta_) GuardarValor(S::PeriodoHasta(), *guardadoHasta_);
}

bool Depuracion::ReponerPeriodo(PasosDepuracion& pasos) {
    auto pendiente = [](const QString& clave, const QString& durante, const std::optional<QVariant>& antes) {
        return QStringLiteral("No se restauró el período operativo: %1 quedó en %2 y debe volver a %3.")
            .arg(clave, durante, textoDeValor(antes));
    };
    return PasoDeDatos(pasos, pendiente(QStringLiteral("fechaoperdesde"), fechas_.desde, guardadoDesde_),
                       [&] { ReponerDesde(); }) &&
           PasoDeDatos(pasos, pendiente(QStringLiteral("fechaoperhasta"), fechas_.hasta, guardadoHasta_),
                       [&] { ReponerHasta(); });
}

void Depuracion::Abandonar(PasosDepuracion& pasos) {
    // Left half way: the operating period goes back all the same, if it was touched.
    desenlace_ = rechazado_ ? Desenlace::Rechazado : Desenlace::Fallo;
    bool repuesto = true;
    if (periodoCambiado_ && !repuestoDesde_)
        repuesto = pasos(ClasePaso::Datos, [&] { ReponerDesde(); }) && !pasos.UltimoOmitido();
    if (periodoCambiado_ && !repuestoHasta_)
        repuesto = pasos(ClasePaso::Datos, [&] { ReponerHasta(); }) && !pasos.UltimoOmitido() && repuesto;
    // Left before the journal or the stock was touched, with the period back: the database is
    // as it was, so this purge's record goes too. Otherwise it stays for the next run to finish.
    // Only while it is still this run's: another's record is never removed.
    if (marcaPropia_ && !marcaQuitada_ && !asientosBorrados_ && !stockIniciado_ && repuesto)
        pasos(ClasePaso::Datos,
              [&] { marcaQuitada_ = CambiarMarca(S::QuitarMarca(Literal(valorMarca_)), std::nullopt); });
    // Nothing was deleted and no record names the archive: its file goes too.
    if (archivo_ && (marcaQuitada_ || !marca_) && !asientosBorrados_ && !stockIniciado_)
        archivo_->Descartar();
}

QString Depuracion::TextoIncompleto() const {
    const bool stock = resultadoStock_ == ResultadoStock::Completa;
    QStringList lineas;
    if (asientosBorrados_ && stock)
        lineas << QStringLiteral(
            "Se depuraron los asientos y los movimientos de stock del ejercicio, pero el "
            "proceso NO se completó.");
    else if (asientosBorrados_)
        lineas << QStringLiteral(
            "Se depuraron los asientos del ejercicio, pero NO los movimientos de stock.");
    else if (stock)
        lineas << QStringLiteral(
            "Se depuraron los movimientos de stock, pero NO los asientos del ejercicio.");
    else
        lineas << QStringLiteral("NO se depuraron los asientos del ejercicio ni los movimientos de stock.");
    if (!stock) {
        lineas << (motivoStock_.isEmpty() ? QStringLiteral("La depuración de stock no llegó a ejecutarse.")
                                          : motivoStock_);
        lineas << QStringLiteral("Los movimientos de stock quedaron tal como estaban antes del proceso.");
    }
    if (!asientosBorrados_) lineas << QStringLiteral("Los asientos del ejercicio quedaron sin eliminar.");
    lineas << pendientes_;
    if (marca_ && !marcaQuitada_)
        lineas << QStringLiteral("La depuración del ejercicio %1 queda pendiente: vuelva a ejecutarla para "
                                 "terminarla.")
                      .arg(marca_->ejercicio);
    const QString archivo = TextoArchivo();
    if (!archivo.isEmpty()) lineas << archivo;
    return lineas.join(CR);
}

void Depuracion::InformarFin(PasosDepuracion& pasos) {
    if (resultadoStock_ == ResultadoStock::Completa && asientosBorrados_ && pendientes_.isEmpty()) {
        desenlace_ = Desenlace::Completo;
        // The year's listings, printed from the verified archive once nothing can undo the purge
        // any more: a failure to print them is said and changes nothing (the archive is the safety).
        QString texto = kExito;
        QString carpetaListados;
        if (const QString archivo = TextoArchivo(); !archivo.isEmpty()) texto += QString(CR) + CR + archivo;
        if (archivo_ && archivo_->Abierto() && opcionesArchivo_.listados) {
            avance_.Iniciar(QStringLiteral("Listados del ejercicio"));
            const ResultadoListados listados =
                EmitirListadosDepuracion(archivo_->Ruta(), opcionesArchivo_.carpetaListados, &avance_);
            avance_.Cerrar();
            texto += QString(CR) + listados.Texto(archivo_->Ruta());
            carpetaListados = listados.Carpeta();
        }
        pasos(ClasePaso::Prescindible, [&] {
            if (oferta_)
                oferta_->MensajeFinal(operador_, avance_, texto, Estilo::Informacion, kAviso,
                                      carpetaListados);
            else
                operador_.MsgBox(texto, Estilo::Informacion, kAviso);
        });
        return;
    }
    // Something was not done: the last message says what, and does not claim success.
    desenlace_ = Desenlace::Incompleto;
    pasos(ClasePaso::Prescindible, [&] { operador_.MsgBox(TextoIncompleto(), Estilo::Critico, kAviso); });
}

void Depuracion::PurgarStock(QString& fechaCorte) {
    valorHecho_.clear();
    std::function<void()> marcar;
    if (marca_) marcar = [this] { MarcarStock(); };
    PurgaStock purga(sesion_, operador_, avance_, fechaCorte, marcar, archivo_.get());
    purga.Ejecutar();
    resultadoStock_ = purga.Resultado();
    motivoStock_ = purga.Motivo();
    if (purga.HuboError()) hayError_ = true;
    if (marca_ && resultadoStock_ == ResultadoStock::Completa && !valorHecho_.isEmpty()) {
        marca_->fase = MarcaDepuracion::Fase::StockHecho;
        valorMarca_ = valorHecho_;
    }
}

// ---- The dry run ----------------------------------------------------------------------------

Simulacion Depuracion::Simular(const QString& texto) {
    Simulacion s;
    const QString codigo = texto.trimmed();
    // Another station is purging: said as the purge would say it. The lock is only tested.
    if (OtraEstacionDepura()) {
        operador_.MsgBox(TextoOcupado(MarcaDelOtro()), Estilo::Critico, kAviso);
        s.desenlace = Desenlace::Rechazado;
        return s;
    }
    if (ValidarEjercicio(codigo, rsEjercicio_)) {
        s.desenlace = Desenlace::Rechazado;
        return s;
    }
    s.descripcion = descripcion_;
    const auto marca = LeerMarca();
    if (marca && marca->ejercicio != codigo.toLongLong()) {
        operador_.MsgBox(TextoOtroPendiente(codigo, marca->ejercicio), Estilo::Critico, kAviso);
        s.desenlace = Desenlace::Rechazado;
        return s;
    }
    s.pendiente = marca;
    auto primerValor = [&](const QString& sql) {
        sesion_.AbrirRecordset(sql, rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        const QVariant v = rs_.BOF() ? QVariant() : rs_.Valor(0);
        sesion_.CerrarRecordset(rs_);
        return v;
    };
    s.asientos = long(primerValor(S::ContarAsientos(codigo)).toLongLong());
    if (s.asientos == 0 && !marca) {
        operador_.MsgBox(TextoSinDatos(), Estilo::Informacion);
        s.desenlace = Desenlace::SinDatos;
        return s;
    }

    // Finishing an interrupted purge puts back the period its record kept.
    s.periodoDesde = marca ? marca->desde : LeerValor(S::PeriodoDesde());
    s.periodoHasta = marca ? marca->hasta : LeerValor(S::PeriodoHasta());
    sesion_.AbrirRecordset(S::Ejercicio(codigo), rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    s.fechas = FechasDe(rs_.Fields(QStringLiteral("Fecha Desde")).Value(),
                        rs_.Fields(QStringLiteral("Fecha Hasta")).Value());
    sesion_.CerrarRecordset(rs_);
    s.desenlace = Desenlace::Completo;
    if (opcionesArchivo_.archivar) {
        ArchivoDepuracion archivo(sesion_, opcionesArchivo_, usuario_);
        archivo.Elegir(codigo, marca);
        s.archivo = archivo.Ruta();
        s.archivoAnterior = archivo.Anterior();
        s.continuaArchivo = archivo.Continua();
        s.filasArchivo = archivo.ContarFilas(codigo, gUtilidades().FechaSQL(s.fechas.corte));
    }
    // Its stock committed already: nothing of it would run again.
    if (marca && marca->fase == MarcaDepuracion::Fase::StockHecho) return s;

    // What would refuse the purge refuses the dry run, with the same message.
    const PrevisionStock p = PreverStock(s.fechas);
    if (!p.impedimento.isEmpty()) {
        operador_.MsgBox(p.impedimento, p.estilo, p.titulo);
        s.desenlace = Desenlace::Rechazado;
        return s;
    }
    s.hayTipoSI = p.hayTipoSI;
    s.comprobante = p.comprobante;
    if (!s.hayTipoSI) return s;
    const QString corte = gUtilidades().FechaSQL(s.fechas.corte);
    sesion_.AbrirRecordset(S::Saldos(corte), rs_, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
    while (!rs_.BOF() && !rs_.Eof()) {
        ++s.renglones;
        s.cantidad += gUtilidades().SinNulo(rs_.Fields(QStringLiteral("SALDOCANTIDAD")).Value()).toDouble();
        rs_.MoveNext();
    }
    sesion_.CerrarRecordset(rs_);
    s.validos = long(primerValor(S::ContarBorrado(corte, false)).toLongLong());
    s.anulados = long(primerValor(S::ContarBorrado(corte, true)).toLongLong());
    return s;
}
