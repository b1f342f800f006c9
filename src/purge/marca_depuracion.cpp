#include "purge/marca_depuracion.h"

#include "suite/error.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>

const QString MarcaDepuracion::Clave = QStringLiteral("DEPURACIONPENDIENTE");

namespace {
QString codificarValor(const std::optional<QVariant>& v) {
    if (!v) return QStringLiteral("-");
    if (v->isNull()) return QStringLiteral("N");
    const QString t = v->toString();
    return QString::number(t.size()) + u':' + t;
}

[[noreturn]] void invalida(const QString& valor, const QString& porque) {
    throw ErrorSistema(
        Errores::LlamadaNoValida,
        QStringLiteral("La marca de depuración pendiente (clave %1 de TA_CONFIGURACION) no es válida: %2 "
                       "(valor \"%3\"). No se puede saber qué quedó sin terminar ni cuál era el período "
                       "operativo; revise el período operativo y elimine esa fila antes de depurar.")
            .arg(MarcaDepuracion::Clave, porque, valor.left(MarcaDepuracion::kLargoMaximo)));
}

// One value of the period at pos; pos ends after it.
std::optional<QVariant> leerValor(const QString& t, qsizetype& pos) {
    if (pos >= t.size()) invalida(t, QStringLiteral("falta un valor del período"));
    if (t[pos] == u'-') {
        ++pos;
        return std::nullopt;
    }
    if (t[pos] == u'N') {
        ++pos;
        return QVariant();
    }
    qsizetype fin = pos;
    while (fin < t.size() && fin - pos < 4 && t[fin] >= u'0' && t[fin] <= u'9')
        ++fin;
    if (fin == pos || fin >= t.size() || t[fin] != u':')
        invalida(t, QStringLiteral("un valor del período no tiene su largo"));
    const qsizetype largo = t.mid(pos, fin - pos).toLongLong();
    if (largo > t.size() - fin - 1) invalida(t, QStringLiteral("un valor del período está cortado"));
    pos = fin + 1 + largo;
    return QVariant(t.mid(fin + 1, largo));
}
// A field of the owner up to the next ";" at pos; pos ends on that ";".
QString leerCampo(const QString& t, qsizetype& pos) {
    const qsizetype fin = t.indexOf(u';', pos);
    if (fin <= pos) invalida(t, QStringLiteral("el dueño de la marca está incompleto"));
    const QString campo = t.mid(pos, fin - pos);
    pos = fin;
    return campo;
}

QString texto(const QString& t, qsizetype& pos) {
    const std::optional<QVariant> v = leerValor(t, pos);
    if (!v || v->isNull()) invalida(t, QStringLiteral("el dueño de la marca está incompleto"));
    return v->toString();
}
} // namespace

DuenoDepuracion DuenoDepuracion::Nuevo(const QString& equipo, const QString& usuario) {
    DuenoDepuracion d;
    d.corrida = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
    // ASCII digits whatever the locale: any station reads it.
    d.inicio = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    d.equipo = equipo;
    d.usuario = usuario;
    return d;
}

QString MarcaDepuracion::Codificar() const {
    const QString base = QString::number(ejercicio) + u';' + (fase == Fase::StockHecho ? u'S' : u'A') + u';' +
                         codificarValor(desde) + u';' + codificarValor(hasta);
    if (!dueno) return base;
    QString equipo = dueno->equipo, usuario = dueno->usuario, equipoDelArchivo = equipoArchivo;
    for (;;) {
        QString t = base + u';' + dueno->corrida + u';' + dueno->inicio + u';' +
                    codificarValor(QVariant(equipo)) + u';' + codificarValor(QVariant(usuario));
        if (!archivo.isEmpty())
            t += u';' + codificarValor(QVariant(archivo)) + u';' + codificarValor(QVariant(equipoDelArchivo));
        if (t.size() <= kLargoMaximo || (equipo.isEmpty() && usuario.isEmpty() && equipoDelArchivo.isEmpty()))
            return t;
        // Who is purging is told as far as it fits; the period and the archive's name must fit whole.
        QString* largo = &usuario;
        for (QString* s : {&equipo, &equipoDelArchivo})
            if (s->size() > largo->size()) largo = s;
        largo->chop(1);
    }
}

MarcaDepuracion MarcaDepuracion::Decodificar(const QVariant& valor) {
    if (valor.isNull()) invalida(QString(), QStringLiteral("está vacía"));
    const QString t = valor.toString();
    MarcaDepuracion m;
    const qsizetype p1 = t.indexOf(u';');
    const QString anio = t.left(p1);
    bool ok = !anio.isEmpty() && anio.size() <= 10;
    for (QChar c : anio)
        ok = ok && c >= u'0' && c <= u'9';
    m.ejercicio = ok ? anio.toLongLong() : 0;
    if (p1 < 0 || !ok || m.ejercicio > 2147483647LL)
        invalida(t, QStringLiteral("el ejercicio no es un número"));
    if (t.size() < p1 + 3 || t[p1 + 2] != u';' || (t[p1 + 1] != u'A' && t[p1 + 1] != u'S'))
        invalida(t, QStringLiteral("no dice hasta dónde llegó la depuración"));
    m.fase = t[p1 + 1] == u'S' ? Fase::StockHecho : Fase::Asientos;
    qsizetype pos = p1 + 3;
    m.desde = leerValor(t, pos);
    if (pos >= t.size() || t[pos] != u';') invalida(t, QStringLiteral("falta el fin del período"));
    ++pos;
    m.hasta = leerValor(t, pos);
    m.leido = t;
    if (pos == t.size()) return m;
    if (t[pos] != u';') invalida(t, QStringLiteral("sobra texto al final"));
    DuenoDepuracion d;
    d.corrida = leerCampo(t, ++pos);
    d.inicio = leerCampo(t, ++pos);
    d.equipo = texto(t, ++pos);
    if (pos >= t.size() || t[pos] != u';')
        invalida(t, QStringLiteral("el dueño de la marca está incompleto"));
    d.usuario = texto(t, ++pos);
    m.dueno = d;
    if (pos == t.size()) return m;
    if (t[pos] != u';') invalida(t, QStringLiteral("sobra texto al final"));
    m.archivo = texto(t, ++pos);
    if (pos >= t.size() || t[pos] != u';')
        invalida(t, QStringLiteral("el archivo de depuración de la marca está incompleto"));
    m.equipoArchivo = texto(t, ++pos);
    if (pos != t.size()) invalida(t, QStringLiteral("sobra texto al final"));
    return m;
}
