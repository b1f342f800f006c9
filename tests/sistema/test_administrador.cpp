// The administrator's guide says what the tool really sends to the database. From the
// statement logs of real runs (unattended: a refused year, a dry run, a purge with the purge date
// missing and one with it there; then the window's start-up, a refused year in the window and
// the lookup through each default mask):
// - each statement is read for the privilege it needs on which table, and the guide's GRANT
//   lines must cover them all and grant nothing else; a statement of a kind this reading does
//   not know fails the test, so that a new kind is looked at (and granted) before it ships;
// - every statement of the guide's step list must be in a log, each step's in its order
//   within one run (a statement marked "SQL Server only" is not sent here, and one marked
//   "not in every run" need not be).
#include "apoyo/sistema.h"
#include "app/desatendido.h"
#include "app/registro_sentencias.h"
#include "demodb.h"
#include "lookup/lib_clscons2.h"
#include "purge/frmcrb.h"
#include "startup/modglobal.h"
#include "suite/coleccion.h"
#include "suite/globales.h"

#include <map>
#include <optional>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <set>

namespace {

using Permiso = std::pair<QString, QString>; // privilege, table (upper case)

// A log field back to its text (the log writes \\, \n, \r, \t and \xHH).
QString Desescapar(const QString& campo) {
    QString r;
    for (qsizetype i = 0; i < campo.size(); ++i) {
        if (campo[i] != u'\\' || i + 1 >= campo.size()) {
            r += campo[i];
            continue;
        }
        const QChar c = campo[++i];
        if (c == u'n')
            r += u'\n';
        else if (c == u'r')
            r += u'\r';
        else if (c == u't')
            r += u'\t';
        else if (c == u'x' && i + 2 < campo.size()) {
            r += QChar(campo.mid(i + 1, 2).toUShort(nullptr, 16));
            i += 2;
        } else
            r += c;
    }
    return r;
}

// The statement's words (upper case; a quoted or bracketed name is a word) and punctuation; a
// string literal is one "'" token; comments go.
QStringList Tokens(const QString& sql) {
    QStringList t;
    const qsizetype n = sql.size();
    auto palabra = [](QChar c) {
        return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
    };
    for (qsizetype i = 0; i < n;) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype fin = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = fin < 0 ? n : fin + 2;
        } else if (c == u'\'' || ((c == u'N' || c == u'n') && i + 1 < n && sql[i + 1] == u'\'')) {
            i += c == u'\'' ? 1 : 2;
            while (i < n && !(sql[i] == u'\'' && !(i + 1 < n && sql[i + 1] == u'\'')))
                i += sql[i] == u'\'' ? 2 : 1;
            ++i;
            t << QStringLiteral("'");
        } else if (c == u'"' || c == u'[') {
            const qsizetype fin = sql.indexOf(c == u'"' ? u'"' : u']', i + 1);
            t << sql.mid(i + 1, (fin < 0 ? n : fin) - i - 1).toUpper();
            i = fin < 0 ? n : fin + 1;
        } else if (palabra(c)) {
            const qsizetype desde = i;
            while (i < n && palabra(sql[i]))
                ++i;
            t << sql.mid(desde, i - desde).toUpper();
        } else {
            t << QString(c);
            ++i;
        }
    }
    return t;
}

bool EsPalabra(const QString& t) {
    return !t.isEmpty() && (t[0].isLetter() || t[0] == u'_' || t[0] == u'#');
}

// The object named at t[i] (schema.name gives name); the index after it.
qsizetype Nombre(const QStringList& t, qsizetype i, QString* nombre) {
    nombre->clear();
    if (!EsPalabra(t.value(i))) return i;
    *nombre = t[i++];
    while (t.value(i) == u"." && EsPalabra(t.value(i + 1))) {
        *nombre = t[i + 1];
        i += 2;
    }
    return i;
}

// What a statement needs, or nothing when it is of a kind this reading does not know.
std::optional<std::set<Permiso>> Necesita(const QString& sql) {
    const QStringList t = Tokens(sql);
    const QString verbo = t.value(0);
    std::set<Permiso> r;
    if (verbo == u"BEGIN" || verbo == u"COMMIT" || verbo == u"ROLLBACK") return r;
    QString objeto;
    if (verbo == u"EXEC" || verbo == u"EXECUTE") {
        // SQL Server's system procedures (sp_getapplock, ...) are granted to public.
        Nombre(t, 1, &objeto);
        if (objeto.isEmpty()) return std::nullopt;
        if (!objeto.startsWith(u"SP_")) r.insert({QStringLiteral("EXECUTE"), objeto});
        return r;
    }
    qsizetype i = 1;
    if (verbo == u"INSERT" && t.value(1) == u"INTO") {
        i = Nombre(t, 2, &objeto);
    } else if (verbo == u"UPDATE") {
        i = Nombre(t, 1, &objeto);
    } else if (verbo == u"DELETE") {
        i = Nombre(t, t.value(1) == u"FROM" ? 2 : 1, &objeto);
    } else if (verbo != u"SELECT" || t.contains(QStringLiteral("INTO"))) {
        return std::nullopt;
    }
    if (verbo != u"SELECT") {
        if (objeto.isEmpty()) return std::nullopt;
        r.insert({verbo, objeto});
        // SQL Server checks SELECT on the target of an UPDATE or DELETE that reads its columns.
        if (verbo != u"INSERT" && t.contains(QStringLiteral("WHERE")))
            r.insert({QStringLiteral("SELECT"), objeto});
    }
    // Every table read: each FROM or JOIN, subqueries included, and comma lists after FROM.
    static const QSet<QString> clausulas = {
        "WHERE", "GROUP", "ORDER", "HAVING", "JOIN",      "INNER",  "LEFT", "RIGHT", "FULL",  "CROSS",
        "OUTER", "ON",    "UNION", "EXCEPT", "INTERSECT", "OPTION", "WITH", "SET",   "VALUES"};
    for (qsizetype k = i; k < t.size(); ++k) {
        if (t[k] != u"FROM" && t[k] != u"JOIN") continue;
        qsizetype j = k + 1;
        for (;;) {
            QString tabla;
            j = Nombre(t, j, &tabla);
            if (tabla.isEmpty()) break; // a subquery: its own FROM comes later
            r.insert({QStringLiteral("SELECT"), tabla});
            if (t.value(j) == u"AS")
                j += 2;
            else if (EsPalabra(t.value(j)) && !clausulas.contains(t[j]))
                ++j;
            if (t.value(j) == u"WITH" && t.value(j + 1) == u"(") j = t.indexOf(QStringLiteral(")"), j) + 1;
            if (j <= 0 || t.value(j) != u",") break;
            ++j;
        }
    }
    return r;
}

// The grants written in the guide's SQL: "GRANT A, B ON TABLE TO login;".
std::set<Permiso> Concedidos(const QString& readme) {
    std::set<Permiso> r;
    static const QRegularExpression grant(
        QStringLiteral("GRANT\\s+([A-Z, ]+?)\\s+ON\\s+(\\w+)\\s+TO\\s+\\w+\\s*;"));
    for (auto it = grant.globalMatch(readme); it.hasNext();) {
        const auto m = it.next();
        for (const QString& p : m.captured(1).split(u',', Qt::SkipEmptyParts))
            r.insert({p.trimmed(), m.captured(2).toUpper()});
    }
    return r;
}

QString Texto(const Permiso& p) {
    return QStringLiteral("GRANT %1 ON %2").arg(p.first, p.second);
}

// Where a "--" comment starts on a line of SQL, outside literals; -1 when none.
qsizetype Comentario(const QString& linea) {
    bool enLiteral = false;
    for (qsizetype i = 0; i + 1 < linea.size(); ++i) {
        if (linea[i] == u'\'')
            enLiteral = !enLiteral;
        else if (!enLiteral && linea[i] == u'-' && linea[i + 1] == u'-')
            return i;
    }
    return -1;
}

// A statement of the step list as a pattern: "<placeholder>", "?" and "..." stand for anything,
// blanks for any blanks.
QRegularExpression Patron(const QString& texto) {
    static const QRegularExpression especial(QStringLiteral("<[a-z][a-z0-9 ]*>|\\?|\\.\\.\\.|\\s+"));
    QString p;
    qsizetype i = 0;
    for (auto it = especial.globalMatch(texto); it.hasNext();) {
        const auto m = it.next();
        p += QRegularExpression::escape(texto.mid(i, m.capturedStart() - i));
        p += m.captured().front().isSpace() ? QStringLiteral("\\s*") : QStringLiteral(".*?");
        i = m.capturedEnd();
    }
    p += QRegularExpression::escape(texto.mid(i));
    return QRegularExpression(QStringLiteral("^\\s*") + p + QStringLiteral("\\s*$"),
                              QRegularExpression::DotMatchesEverythingOption);
}

// The statements of each ```sql block of the guide's "What the tool sends" section. A statement
// starts on a line that begins, at the block's indentation, with a verb; other lines continue it.
QList<QStringList> PasosDelReadme(const QString& readme) {
    const qsizetype desde = readme.indexOf(QStringLiteral("### What the tool sends"));
    if (desde < 0) return {};
    const qsizetype hasta = readme.indexOf(QStringLiteral("\n### "), desde + 1);
    static const QRegularExpression verbo(
        QStringLiteral("^(SELECT|INSERT|UPDATE|DELETE|BEGIN|COMMIT|ROLLBACK|EXEC)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QList<QStringList> pasos;
    QStringList paso;
    QString actual;
    bool dentro = false, omitida = false;
    qsizetype sangria = 0;
    auto cerrar = [&] {
        if (!omitida && !actual.trimmed().isEmpty()) paso << actual.simplified();
        actual.clear();
    };
    for (const QString& linea : readme.mid(desde, hasta - desde).split(u'\n')) {
        const QString t = linea.trimmed();
        if (!dentro) {
            dentro = t == u"```sql";
            sangria = linea.indexOf(u'`');
            paso.clear();
            continue;
        }
        if (t == u"```") {
            cerrar();
            pasos << paso;
            dentro = false;
            continue;
        }
        const qsizetype c = Comentario(linea);
        const QString codigo = c < 0 ? linea : linea.left(c);
        if (codigo.trimmed().isEmpty()) continue;
        if (linea.indexOf(QRegularExpression(QStringLiteral("\\S"))) == sangria &&
            verbo.match(codigo.trimmed()).hasMatch()) {
            cerrar();
            const QString nota = c < 0 ? QString() : linea.mid(c);
            omitida = nota.contains(QStringLiteral("SQL Server only")) ||
                      nota.contains(QStringLiteral("not in every run"));
        }
        actual += u' ' + codigo;
    }
    return pasos;
}

// The statements of a statement log, in order.
QStringList Sentencias(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList r;
    for (const QString& linea : QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList campos = linea.split(u'\t');
        EXPECT_EQ(campos.size(), 3) << linea.toStdString();
        r << Desescapar(campos.value(1));
    }
    return r;
}

// Whether the patterns match statements of the run in their order.
bool EnOrden(const QList<QRegularExpression>& patrones, const QStringList& corrida) {
    qsizetype j = 0;
    for (const QRegularExpression& p : patrones) {
        while (j < corrida.size() && !p.match(corrida[j]).hasMatch())
            ++j;
        if (j++ >= corrida.size()) return false;
    }
    return true;
}

class SeccionDelAdministrador : public PruebaSistema {};

} // namespace

TEST_F(SeccionDelAdministrador, PermisosYSentenciasSonLosDelRegistro) {
    const QString base = Ruta("conta.db");
    ASSERT_TRUE(CrearDemo(base, {.asientos = 200, .movimientos = 600, .filasConsulta = 5}));
    // The first purge inserts the purge date; the second finds it and updates it.
    EjecutarSql(base, {"DELETE FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'"});

    // The unattended runs, as the administrator starts them, each with a log of its own.
    QProcessEnvironment entorno = EntornoSinPantalla();
    entorno.remove(QStringLiteral("QT_QPA_PLATFORM"));
    struct Paso {
        const char* ejercicio;
        const char* modo;
        int estado;
    };
    QList<QStringList> corridas;
    for (const Paso& k :
         {Paso{"2025", "--confirmar", Salida::Rechazado}, Paso{"2021", "--confirmar", Salida::Depurado},
          Paso{"2022", "--simular", Salida::Depurado}, Paso{"2022", "--confirmar", Salida::Depurado}}) {
        const QString registro = Ruta(QStringLiteral("corrida%1.log").arg(corridas.size()));
        const Corrida c = CorrerPrograma(CRIBANZAS_BIN,
                                         {"--desatendido", "--ejercicio", k.ejercicio, k.modo,
                                          "--registro-sentencias", registro, LineaDeSuite(base)},
                                         entorno);
        ASSERT_EQ(c.estado, k.estado) << k.ejercicio << k.modo << c.errores.toStdString();
        corridas << Sentencias(registro);
    }
    {
        // The window's start-up and a refused year, and the lookups of the suite's screens.
        const QString registro = Ruta("ventana.log");
        RegistroSentencias log(registro);
        ASSERT_TRUE(log.Abierto());
        gSesion().Observador = [&log](const SentenciaSesion& s) { log.Observar(s); };
        EstablecerLineaComandos(LineaDeSuite(base));
        FrmCrb frm;
        frm.Form_Load();
        ASSERT_FALSE(Guion().Terminado());
        frm.txtfields->setEditText(QStringLiteral("2025"));
        frm.CmdAceptar_Click();
        QTimer cerrar; // closes each lookup dialog as it shows
        cerrar.setInterval(5);
        QObject::connect(&cerrar, &QTimer::timeout, [] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
        });
        cerrar.start();
        for (const char* tabla : {"V_MA_ARTICULOS", "VT_CLIENTES", "VT_PROVEEDORES", "MA_CONTACTOS"}) {
            ColeccionRef ninguna;
            QString campo;
            gConsulta().ConsultaSearch(QString::fromLatin1(tabla), ninguna, QString(), campo);
        }
        gSesion().Observador = nullptr;
        corridas << Sentencias(registro);
    }

    std::map<Permiso, QString> necesarios; // each with the first statement that needs it
    QStringList ilegibles;
    int sentencias = 0;
    for (const QStringList& corrida : corridas)
        for (const QString& sql : corrida) {
            ++sentencias;
            const auto necesita = Necesita(sql);
            if (!necesita)
                ilegibles << sql;
            else
                for (const Permiso& p : *necesita)
                    necesarios.emplace(p, sql);
        }
    EXPECT_GT(sentencias, 100);
    EXPECT_TRUE(ilegibles.isEmpty()) << "statements of an unknown kind:\n"
                                     << ilegibles.join(u'\n').toStdString();

    QFile f(README_MD);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString readme = QString::fromUtf8(f.readAll());
    const std::set<Permiso> concedidos = Concedidos(readme);
    ASSERT_FALSE(concedidos.empty()) << "no GRANT in " << README_MD;
    QStringList faltan, sobran;
    for (const auto& [permiso, sql] : necesarios)
        if (!concedidos.count(permiso)) faltan << Texto(permiso) + QStringLiteral("    -- ") + sql.left(120);
    for (const Permiso& p : concedidos)
        if (!necesarios.count(p)) sobran << Texto(p);
    EXPECT_TRUE(faltan.isEmpty()) << "missing from the administrator's guide:\n"
                                  << faltan.join(u'\n').toStdString();
    EXPECT_TRUE(sobran.isEmpty()) << "granted but never used:\n" << sobran.join(u'\n').toStdString();

    // The step list: each statement sent, each step's statements in one run in their order.
    const QList<QStringList> pasos = PasosDelReadme(readme);
    EXPECT_GE(pasos.size(), 7);
    int comprobadas = 0;
    for (qsizetype n = 0; n < pasos.size(); ++n) {
        QList<QRegularExpression> patrones;
        for (const QString& texto : pasos[n]) {
            patrones << Patron(texto);
            ++comprobadas;
            bool enviada = false;
            for (const QStringList& corrida : corridas)
                enviada = enviada || EnOrden({patrones.back()}, corrida);
            EXPECT_TRUE(enviada) << "step " << n + 1 << " of the administrator's guide, never sent:\n"
                                 << texto.toStdString();
        }
        bool enOrden = false;
        for (const QStringList& corrida : corridas)
            enOrden = enOrden || EnOrden(patrones, corrida);
        EXPECT_TRUE(enOrden) << "step " << n + 1 << " of the administrator's guide, not in the order sent:\n"
                             << pasos[n].join(u'\n').toStdString();
    }
    std::printf(
        "[ administrador ] %d statements logged, %d grants needed, %d statements of the guide checked\n",
        sentencias, int(necesarios.size()), comprobadas);
}
