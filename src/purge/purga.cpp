// The confirm button of the purge window: count, validate, ask, purge, leave.
#include "depuracion.h"
#include "frmcrb.h"
#include "globales.h"
#include "operador.h"
#include "trampa.h"

#include <limits>
#include <QComboBox>

void FrmCrb::CmdAceptar_Click() {
    Trampa trampa = Trampa::ConReporte(QStringLiteral("CmdAceptar_Click"));
    const QString aviso = QStringLiteral("Aviso al operador");
    auto codigo = [this] { return txtfields->currentText().trimmed(); };
    Recordset rs;
    long n = 0;
    QString pregunta;
    bool vacio = false;
    bool validado = false;
    UltimoDesenlace = Desenlace::Fallo;
    MotivoIncompleto.clear();

    // 1
    if (!trampa([&] {
            vacio = codigo().isEmpty();
            if (vacio)
                operador().MsgBox(QStringLiteral("Debe informar el numero de ejercicio a depurar"),
                                  Estilo::SoloAceptar);
        }))
        return;
    if (vacio) {
        UltimoDesenlace = Desenlace::SinCodigo;
        return;
    }
    // 2, 3. A code that is not a plain whole number never goes into a statement: the
    // validation refuses it as a year that does not exist.
    if (!trampa([&] {
            if (!Depuracion::EsCodigoEjercicio(codigo())) return;
            gSesion().AbrirRecordset(
                QStringLiteral(
                    "SELECT count(PERIODO) as Registros FROM MV_ASIENTOS WHERE CONVERT(INT,PERIODO) = ") +
                    codigo(),
                rs, Cursor::SoloAdelante, Bloqueo::SoloLectura, -1);
        }))
        return;
    if (!trampa([&] {
            if (!Depuracion::EsCodigoEjercicio(codigo())) return;
            if (!rs.BOF()) {
                rs.MoveFirst();
                bool ok = false;
                const qlonglong valor = rs.Fields(QStringLiteral("Registros")).Value().toLongLong(&ok);
                if (!ok || valor > std::numeric_limits<qint32>::max() ||
                    valor < std::numeric_limits<qint32>::min())
                    throw ErrorSistema(Errores::Desbordamiento, QStringLiteral("Desbordamiento"));
                n = long(valor);
            }
        }))
        return;
    // 4
    if (!trampa([&] { pregunta = Depuracion::TextoPregunta(n); })) return;
    // 5, 6. A validation that failed and was ignored does not let the purge go on.
    if (!trampa([&] {
            ValidarEjercicio(txtfields);
            validado = true;
        }))
        return;
    bool rechazado = false;
    if (!trampa([&] {
            rechazado = HayError || !validado;
            if (!rechazado) return;
            txtfields->setFocus();
            if (rs.Abierto()) gSesion().CerrarRecordset(rs);
        }))
        return;
    if (rechazado) {
        UltimoDesenlace = Desenlace::Rechazado;
        return;
    }
    // 7
    if (!trampa([&] { MostrarBasura(n > 0); })) return;
    // 8
    if (n > 0) {
        int respuesta = 0;
        if (!trampa(
                [&] { respuesta = operador().MsgBox(pregunta, Estilo::Informacion | Estilo::SiNo, aviso); }))
            return;
        if (respuesta != Respuesta::Si) {
            UltimoDesenlace = Desenlace::NoConfirmado;
            return;
        }
        if (!trampa([&] {
                QString c = codigo();
                Depuracion depuracion(*this);
                depuracion.PurgarAsientos(c);
            }))
            return;
        trampa([&] {
            short cancelar = 0;
            Form_Unload(cancelar);
        });
        return;
    }
    // 9
    UltimoDesenlace = Desenlace::SinDatos;
    if (!trampa([&] {
            operador().MsgBox(
                QStringLiteral(
                    "No se han encontrado datos para depurar, el ejercicio ya ha sido depurado!!!!"),
                Estilo::Informacion);
        }))
        return;
    trampa([&] {
        if (rs.Abierto()) gSesion().CerrarRecordset(rs);
    });
}
