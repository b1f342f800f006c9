#include "lookup/def_qconsulta.h"
#include "lookup/lib_clscons2.h"
#include "startup/modglobal.h"

void CrearMascarasConsultas() {
    // No trap of its own: a failure reaches the start-up's. Each record goes right after the
    // last complete one, so a file that already holds records is appended to, never cut.
    EscritorMascaras archivo(gConsulta().gRutaMascaraConsultas);
    for (const MascaraPredeterminada& m : MascarasPredeterminadas) {
        const qint64 numero = archivo.SiguienteNumero();
        QConsulta& registro = gMascara();
        registro.Nombre = QString::fromLatin1(m.Nombre);
        registro.Tabla = QString::fromLatin1(m.Tabla);
        registro.Campos = QString::fromLatin1(m.Campos);
        registro.Filtro = QString();
        registro.FinLinea = QStringLiteral("\r\n");
        archivo.Escribir(numero, registro);
    }
    archivo.Cerrar();
}
