// The statements the tool sends are T-SQL that SQL Server accepts: the untranslated text of
// every statement of a refused year, a dry run, a completed purge (with its archive's reads) and a lookup
// through each default mask, parsed with sqlfluff's T-SQL grammar. One statement per distinct shape (its
// literals and numbers set aside), each in a file of its own, so that one that does not parse
// cannot hide the next.
#include "apoyo/sistema.h"
#include "demodb.h"
#include "lookup/lib_clscons2.h"
#include "purge/archivo.h"
#include "purge/archivo_origen.h"
#include "purge/depuracion.h"
#include "purge/frmcrb.h"
#include "purge/restauracion.h"
#include "purge/sentencias_depuracion.h"
#include "startup/modglobal.h"
#include "suite/coleccion.h"
#include "suite/globales.h"

#include <map>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>
#include <utility>

namespace {

// The statement with its string literals emptied and its numbers set to 0.
QString Forma(const QString& sql) {
    QString r;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = sql[i];
        if (c == u'\'') {
            qsizetype j = i + 1;
            while (j < n && !(sql[j] == u'\'' && !(j + 1 < n && sql[j + 1] == u'\'')))
                j += sql[j] == u'\'' ? 2 : 1;
            r += QStringLiteral("''");
            i = j + 1;
        } else if (c.isDigit() && (i == 0 || !(sql[i - 1].isLetterOrNumber() || sql[i - 1] == u'_'))) {
            while (i < n && (sql[i].isDigit() || sql[i] == u'.'))
                ++i;
            r += u'0';
        } else {
            r += c;
            ++i;
        }
    }
    return r;
}

// Closes every modal dialog that shows, as an operator pressing Escape would.
class CerrarDialogos {
public:
    CerrarDialogos() {
        reloj_.setInterval(5);
        QObject::connect(&reloj_, &QTimer::timeout, [] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
        });
        reloj_.start();
    }

private:
    QTimer reloj_;
};

class GramaticaTSQL : public PruebaSistema {};

} // namespace

TEST_F(GramaticaTSQL, CadaSentenciaEnviadaEsTSQL) {
    const QString sqlfluff = QStandardPaths::findExecutable(QStringLiteral("sqlfluff"));
    ASSERT_FALSE(sqlfluff.isEmpty()) << "sqlfluff is missing: scripts/dependencias.sh installs it";

    const QString base = Ruta("conta.db");
    ASSERT_TRUE(CrearDemo(base, {.asientos = 400, .movimientos = 2000, .filasConsulta = 20}));

    std::map<QString, QString> formas; // shape -> the first statement of that shape
    gSesion().Observador = [&](const SentenciaSesion& s) {
        if (!s.hecha) return;
        const QString sql = SentenciaConValores(s.sql, s.valores);
        formas.emplace(Forma(sql), sql);
    };
    EstablecerLineaComandos(LineaDeSuite(base));
    FrmCrb frm;
    frm.Form_Load();
    ASSERT_FALSE(Guion().Terminado());
    {
        // The lookup through each default mask, the dialog loaded and closed.
        CerrarDialogos cerrar;
        for (const char* tabla : {"V_MA_ARTICULOS", "VT_CLIENTES", "VT_PROVEEDORES", "MA_CONTACTOS"}) {
            ColeccionRef ninguna;
            QString campo;
            gConsulta().ConsultaSearch(QString::fromLatin1(tabla), ninguna, QString(), campo);
            EXPECT_TRUE(gConsulta().UltimoSQL().contains(QString::fromLatin1(tabla)));
        }
    }
    // Refused years: open, missing; then the dry run and the purge to its end.
    for (const char* anio : {"2025", "1990"}) {
        frm.txtfields->setEditText(QString::fromLatin1(anio));
        frm.CmdAceptar_Click();
    }
    EXPECT_EQ(Depuracion().Simular(QStringLiteral("2022")).desenlace, Desenlace::Completo);
    // The year's archive, for the restore below; its own statements are not the restore's.
    const QString archivo = Ruta("depuracion-2022.sqlite");
    const auto archivar = [&](const char* tabla, const char* origen, const QString& condicion) {
        const auto observador = std::exchange(gSesion().Observador, nullptr);
        auto e =
            QFile::exists(archivo)
                ? EscritorArchivo::Continuar(archivo)
                : EscritorArchivo::Crear(archivo, {{"ejercicio", "2022"}, {"fecha_desde", "01/01/2022"}});
        ArchivarTabla(gSesion(), *e, tabla, DescribirTabla(gSesion(), origen), condicion);
        e->Verificar();
        gSesion().Observador = observador;
    };
    archivar(kTablaConfiguracion, "TA_CONFIGURACION", "RTRIM(LTRIM(CLAVE)) = 'FECHAULTIMADEPURACION'");
    archivar(kTablaAsientos, "MV_ASIENTOS", "CONVERT(INT,PERIODO) = 2022");
    archivar(kTablaMovimientos, "V_MV_STOCK", "fecha <= CONVERT(DATETIME,'20221231',112)");
    Guion().Responder(Respuesta::Si);
    frm.txtfields->setEditText(QStringLiteral("2022"));
    frm.CmdAceptar_Click();
    ASSERT_FALSE(Guion().Avisos().empty());
    EXPECT_TRUE(Guion().Avisos().back().texto.contains("El proceso finalizó con éxito"))
        << Guion().Avisos().back().texto.toStdString();
    // The restore of that purge: one row per statement, so that it adds few shapes.
    const QVariant comprobante = ConsultarValor(
        base, "SELECT MAX(IDCOMPROBANTE) FROM V_MV_STOCK WHERE TC = 'SI' AND FECHA = '2022-12-31'");
    archivar(kTablaSaldoInicial, "V_MV_STOCK",
             QStringLiteral("TC = 'SI' AND IDCOMPROBANTE = '%1'").arg(comprobante.toString()));
    gSesion().setLimiteParametros(16);
    const ResultadoRestauracion restaurada = Restaurar(gSesion(), archivo, false);
    gSesion().setLimiteParametros(0);
    EXPECT_EQ(restaurada.desenlace, DesenlaceRestauracion::Restaurado) << restaurada.mensaje.toStdString();
    gSesion().Observador = nullptr;
    // Sent by the restore only to SQL Server, or only when the purge found no earlier purge date.
    for (const QString& sql : {QStringLiteral("SET IDENTITY_INSERT MV_ASIENTOS ON"),
                               QStringLiteral("SET IDENTITY_INSERT MV_ASIENTOS OFF"),
                               QStringLiteral("DELETE FROM TA_CONFIGURACION WHERE RTRIM(LTRIM(CLAVE)) = "
                                              "'FECHAULTIMADEPURACION'")})
        formas.emplace(Forma(sql), sql);
    // Sent to SQL Server only, when the session asks whether its transaction still stands.
    formas.emplace(QStringLiteral("SELECT @@TRANCOUNT"), QStringLiteral("SELECT @@TRANCOUNT"));
    // Sent to SQL Server only: the purge lock, taken, tested and released.
    namespace S = SentenciasDepuracion;
    for (const QString& sql : {S::TomarCerrojo(), S::ModoCerrojo(), S::ProbarCerrojo(), S::SoltarCerrojo()})
        formas.emplace(Forma(sql), sql);

    // One file per shape, and the grammar's verdict on each.
    const QString carpeta = Ruta("sentencias");
    ASSERT_TRUE(QDir().mkpath(carpeta));
    {
        QFile config(carpeta + "/.sqlfluff");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("[sqlfluff]\ndialect = tsql\nlarge_file_skip_byte_limit = 0\n");
    }
    std::map<QString, QString> porArchivo;
    int k = 0;
    for (const auto& [forma, sql] : formas) {
        const QString nombre = QStringLiteral("%1/s%2.sql").arg(carpeta).arg(++k, 3, 10, QChar('0'));
        QFile f(nombre);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((sql + QStringLiteral(";\n")).toUtf8());
        porArchivo[QFileInfo(nombre).fileName()] = sql;
    }
    // Every kind of statement of the purge and the lookup is among them.
    QStringList todas;
    for (const auto& [forma, sql] : formas)
        todas << sql;
    for (const char* parte :
         {"FROM MV_EJERCICIOS WHERE (CIERRE", "count(PERIODO)", "DELETE MV_ASIENTOS",
          "WITH (TABLOCKX, HOLDLOCK)", "SUM(Cantidad) AS SALDOCANTIDAD", "INSERT INTO V_MV_STOCK",
          "Delete v_mv_stock", "UPDATE TA_CONFIGURACION", "BEGIN TRANSACTION", "COMMIT TRANSACTION",
          "FROM VT_PROVEEDORES", "FROM MA_CONTACTOS", "SELECT COUNT(*) FROM V_MV_STOCK", "WHERE NOT EXISTS",
          "AND VALOR = ", "SUM(ABS(CAST(Cantidad AS FLOAT)))", "sp_getapplock",
          // the reads into the purge archive: the journal under its lock, the movements, the
          // opening balances, the configuration rows by their rowid
          "FROM MV_ASIENTOS WITH (TABLOCKX, HOLDLOCK) WHERE", "FROM V_MV_STOCK WHERE fecha <=",
          "FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE", "rowid AS _rowid_origen",
          // the restore's inserts, the opening balances it removes, the date it puts back
          "INSERT INTO MV_ASIENTOS ([", "DELETE FROM V_MV_STOCK WHERE TC = 'SI'",
          "UPDATE TA_CONFIGURACION SET [Grupo]"})
        EXPECT_FALSE(todas.filter(QString::fromLatin1(parte)).isEmpty()) << parte;

    const Corrida c =
        CorrerPrograma(sqlfluff, {"parse", "--nocolor", "--format", "json", "."}, EntornoSinPantalla(),
                       240000, [&](QProcess& p) { p.setWorkingDirectory(carpeta); });
    ASSERT_TRUE(c.terminada);
    const QJsonDocument json = QJsonDocument::fromJson(c.salida.toUtf8());
    ASSERT_TRUE(json.isArray()) << c.salida.left(2000).toStdString() << c.errores.toStdString();
    QStringList rotas;
    int leidos = 0;
    for (const QJsonValue& v : json.array()) {
        ++leidos;
        const QJsonObject o = v.toObject();
        const QByteArray segmentos =
            QJsonDocument(o.value("segments").toObject()).toJson(QJsonDocument::Compact);
        if (segmentos.contains("\"unparsable\"") || o.value("segments").isNull())
            rotas << porArchivo[QFileInfo(o.value("filepath").toString()).fileName()];
    }
    EXPECT_EQ(leidos, int(formas.size()));
    EXPECT_TRUE(rotas.isEmpty()) << "not T-SQL:\n" << rotas.join("\n").toStdString();
    EXPECT_EQ(c.estado, 0);
    std::printf("[ sqlfluff ] %d statement shapes checked, %d not T-SQL\n", leidos, int(rotas.size()));
}
