// The demo database: its rows, generated from the options and the seed alone.
#include "demodb.h"
#include "demodb_p.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <numeric>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <tuple>
#include <vector>

namespace demodb {

using namespace detalle;

namespace {

// Independent streams (see Azar).
enum Flujo : quint64 {
    FlujoArticulos = 1,
    FlujoClientes,
    FlujoProveedores,
    FlujoContactos,
    FlujoGrupos,
    FlujoMovimientos,
    FlujoAsientos,
    FlujoSaldoPrevio,
};

// --- Sample texts -------------------------------------------------------------------------

const char* const kNombres[] = {
    "José",   "María",   "Martín", "Lucía", "Sofía",  "Agustín",  "Julián",   "Ramón",   "Inés",   "Begoña",
    "Iñaki",  "Mónica",  "Andrés", "Óscar", "Ángela", "Joaquín",  "Valentín", "Nicolás", "Matías", "Belén",
    "Germán", "Araceli", "Ñuflo",  "Rocío", "Héctor", "Verónica", "Jesús",    "Patricia"};
const char* const kApellidos[] = {
    "Núñez",     "Muñoz",     "Peña",     "Ibáñez",   "Castañeda", "Saldaña",   "Patiño",
    "Zúñiga",    "Pérez",     "González", "Martínez", "Rodríguez", "Fernández", "Gómez",
    "Díaz",      "López",     "Sánchez",  "Ramírez",  "Álvarez",   "Jiménez",   "Hernández",
    "Gutiérrez", "Domínguez", "Benítez",  "Suárez",   "O'Higgins", "O'Connor",  "D'Alessandro",
    "Acuña",     "Montaño",   "Quiñones", "Espinosa", "Ortúzar",   "Echeverría"};
const char* const kLocalidades[] = {
    "Córdoba",   "Río Cuarto",   "San Martín", "Santa Fe",    "Mar del Plata",
    "Neuquén",   "Bahía Blanca", "Tucumán",    "Logroño",     "Málaga",
    "Cádiz",     "Jaén",         "A Coruña",   "León",        "Concepción del Uruguay",
    "Peñíscola", "Villa María",  "Ushuaia",    "San Nicolás", "Añatuya"};
const char* const kCalles[] = {"Av. O'Higgins",
                               "Belgrano",
                               "San Martín",
                               "Rivadavia",
                               "Sarmiento",
                               "Mitre",
                               "Güemes",
                               "Av. Colón",
                               "Peñaloza",
                               "Calle del Carmen",
                               "Almirante Brown",
                               "O'Brien",
                               "Av. de la Constitución",
                               "Ituzaingó",
                               "Pasaje Núñez"};
const char* const kFormas[] = {"S.A.", "S.R.L.", "S.A.S.", "e Hijos", "Hnos.", "y Cía."};
const char* const kRamos[] = {"Distribuidora", "Ferretería",   "Almacén",     "Corralón",   "Panadería",
                              "Librería",      "Autoservicio", "Comercial",   "Industrias", "Molinos",
                              "Laboratorios",  "Transportes",  "Cooperativa", "Bodega"};

struct Producto {
    const char* nombre;
    const char* rubro;
    const char* unidad;
    const char* unidad2; // second unit a movement may use, or ""
    double factorUD;     // CantidadUD = CANTIDAD * factorUD
};

const Producto kProductos[] = {
    {"Tornillo autoperforante", "Bulonería", "UN", "CJ", 0},
    {"Tuerca hexagonal", "Bulonería", "UN", "", 0},
    {"Caño de PVC", "Sanitarios", "MT", "UN", 0.5},
    {"Cable unipolar", "Electricidad", "MT", "", 0},
    {"Pintura látex", "Pinturería", "LT", "", 1},
    {"Azúcar", "Almacén", "KG", "", 0},
    {"Café molido", "Almacén", "KG", "", 2},
    {"Aceite de girasol", "Almacén", "LT", "CJ", 1},
    {"Jabón en polvo", "Limpieza", "KG", "", 0},
    {"Lavandina", "Limpieza", "LT", "", 0},
    {"Cemento portland", "Construcción", "BOL", "KG", 25},
    {"Cerámica esmaltada", "Construcción", "M2", "CJ", 0},
    {"Lámpara LED", "Electricidad", "UN", "", 0},
    {"Guante de seguridad", "Seguridad", "UN", "", 0},
    {"Yerba mate", "Almacén", "KG", "", 1},
    {"Galletitas", "Almacén", "UN", "CJ", 12},
    {"Taladro percutor", "Herramientas", "UN", "", 0},
    {"Amoladora angular", "Herramientas", "UN", "", 0},
    {"Manguera reforzada", "Jardinería", "MT", "", 0},
    {"Vino tinto", "Bebidas", "UN", "CJ", 6},
    {"Pañal descartable", "Perfumería", "UN", "", 0},
    {"Señalizador vial", "Seguridad", "UN", "", 0},
};
const char* const kVariedades[] = {"premium", "económico", "clásico", "reforzado", "de acero",   "de bronce",
                                   "blanco",  "negro",     "extra",   "orgánico",  "tipo \"A\"", "común"};
const char* const kMedidas[] = {"1/2\"",   "3/4\"", "1\"",    "6 mm",    "8 mm", "x 1 kg",
                                "x 500 g", "x 4 l", "x 20 l", "x 100 m", "x 12", "N.º 2",
                                "N.º 8",   "25 kg", "60 W",   "talle L"};
const char* const kMarcas[] = {"Acindar",  "Tigre",       "Peñaflor",      "Ñandú",
                               "O'Brien",  "D'Angelo",    "Bahco",         "Alba",
                               "Dánica",   "Gómez Hnos.", "La Industrial", "Ibáñez",
                               "Cañuelas", "Loma Negra",  "La Serenísima", "Mañanitas"};

const int kDepositos[] = {1, 2, 3, 5};
const char* const kPosiciones[] = {"A-01-01", "A-01-02", "B-02-01", "C-03-04", "D-01-05"};
constexpr int kNumDepositos = int(std::size(kDepositos));
constexpr int kNumPosiciones = int(std::size(kPosiciones));

struct TipoCpte {
    const char* codigo;
    const char* descripcion;
    int signo; // +1 entries, -1 exits, 0 either
    const char* sufijos;
    const char* controladoPor;
    int peso; // relative frequency among ordinary vouchers
};

// Index 0 is the opening balance; index 1 is the purchase receipt of the first year's intake.
const TipoCpte kTipos[] = {
    {"SI", "Saldo Inicial", +1, "X", "Depuracion", 0},
    {"RC", "Remito de Compra", +1, "R", "Compras", 15},
    {"FC", "Factura de Venta", -1, "AB", "Facturacion", 35},
    {"RM", "Remito de Venta", -1, "R", "Ventas", 20},
    {"NC", "Nota de Crédito", +1, "AB", "Facturacion", 5},
    {"AJ", "Ajuste de Stock", 0, "X", "Inventario", 8},
    {"PR", "Parte de Producción", +1, "X", "Produccion", 7},
    {"CO", "Consumo Interno", -1, "X", "Inventario", 5},
    {"DV", "Devolución a Proveedor", -1, "R", "Compras", 5},
};
constexpr int kTipoCompra = 1;

struct Cuenta {
    const char* codigo;
    const char* nombre;
};
const Cuenta kCuentas[] = {
    {"1.1.01.001", "Caja"},
    {"1.1.02.001", "Banco Nación cta. cte."},
    {"1.1.03.001", "Deudores por ventas"},
    {"1.1.04.002", "IVA crédito fiscal"},
    {"1.1.05.001", "Mercaderías"},
    {"2.1.01.001", "Proveedores"},
    {"2.1.03.001", "IVA débito fiscal"},
    {"4.1.01.001", "Ventas"},
    {"5.1.01.001", "Costo de mercaderías vendidas"},
    {"5.2.01.003", "Sueldos y jornales"},
    {"5.2.02.001", "Alquileres"},
    {"5.2.03.004", "Energía eléctrica"},
};
const char* const kMeses[] = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                              "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};

QString U(const char* texto) {
    return QString::fromUtf8(texto);
}

QString Persona(Azar& azar) {
    // One draw per statement: the order of a call's arguments (or of +) is the compiler's
    // choice, and the same seed must give the same file with any compiler.
    const QString apellido = U(azar.elegir(kApellidos));
    QString nombre = U(azar.elegir(kNombres)) + u' ' + apellido;
    if (azar.porCiento(25)) nombre += u' ' + U(azar.elegir(kApellidos));
    return nombre;
}

QString Domicilio(Azar& azar) {
    QString domicilio = QStringLiteral("%1 %2").arg(U(azar.elegir(kCalles))).arg(azar.entre(1, 4999));
    if (azar.porCiento(20))
        domicilio +=
            QStringLiteral(" %1º %2").arg(azar.entre(1, 12)).arg(QChar(char16_t(u'A' + azar.menorQue(6))));
    return domicilio;
}

QString Telefono(Azar& azar) {
    return QStringLiteral("(0%1) 4%2-%3")
        .arg(azar.entre(11, 3999))
        .arg(azar.menorQue(100), 2, 10, QLatin1Char('0'))
        .arg(azar.menorQue(10000), 4, 10, QLatin1Char('0'));
}

QString Cuit(Azar& azar, bool empresa) {
    return QStringLiteral("%1-%2-%3")
        .arg(empresa ? 30 : 20)
        .arg(azar.menorQue(100000000), 8, 10, QLatin1Char('0'))
        .arg(azar.menorQue(10));
}

QString RazonSocial(Azar& azar) {
    switch (azar.menorQue(4)) {
    case 0: {
        const QString forma = U(azar.elegir(kFormas));
        return QStringLiteral("%1 %2").arg(Persona(azar), forma);
    }
    case 1: {
        const QString localidad = U(azar.elegir(kLocalidades));
        return QStringLiteral("%1 %2").arg(U(azar.elegir(kRamos)), localidad);
    }
    case 2: {
        const QString forma = U(azar.elegir(kFormas));
        const QString apellido = U(azar.elegir(kApellidos));
        return QStringLiteral("%1 %2 %3").arg(U(azar.elegir(kRamos)), apellido, forma);
    }
    default:
        return Persona(azar);
    }
}

// --- Dates (days counted from 1 Jan of a base year) ---------------------------------------

QString Fecha(const QDate& dia) {
    return dia.toString(QStringLiteral("yyyy-MM-dd"));
}

// Text of a stored date: date only when segundos < 0.
QString FechaHora(const QDate& dia, int segundos) {
    if (segundos < 0) return Fecha(dia);
    return QStringLiteral("%1 %2:%3:%4")
        .arg(Fecha(dia))
        .arg(segundos / 3600, 2, 10, QLatin1Char('0'))
        .arg(segundos / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(segundos % 60, 2, 10, QLatin1Char('0'));
}

QString FechaCorta(const QDate& dia) {
    return dia.toString(QStringLiteral("dd/MM/yyyy"));
}

// --- Catalogue ----------------------------------------------------------------------------

enum class Control { Ninguno, Lote, Serie };

struct Articulo {
    QString codigo;
    QString descripcion;
    QString descripcionAnterior; // an older wording some movements still carry
    QString unidad;
    QString unidad2;
    QString rubro;
    QString marca;
    double factorUD = 0;
    bool fraccionable = false;
    Control control = Control::Ninguno;
    qint64 precioCentavos = 0;
    bool suspendido = false;
};

bool PorUnidad(const Producto& p) {
    return qstrcmp(p.unidad, "UN") == 0 && !*p.unidad2;
}

Articulo NuevoArticulo(Azar& azar, int indice) {
    // Every fifth article, from the second on, is tracked by serial number: one sold by the unit.
    const bool porSerie = indice % 5 == 3;
    const Producto* producto = &azar.elegir(kProductos);
    while (porSerie && !PorUnidad(*producto))
        producto = &azar.elegir(kProductos);
    const Producto& p = *producto;
    Articulo a;
    const QString nombre = U(p.nombre);
    a.codigo = QStringLiteral("%1-%2")
                   .arg(SinAcentos(nombre).left(3).toUpper())
                   .arg(indice + 1, 5, 10, QLatin1Char('0'));
    a.marca = U(azar.elegir(kMarcas));
    const QString medida = U(azar.elegir(kMedidas));
    const QString variedad = U(azar.elegir(kVariedades));
    a.descripcion = QStringLiteral("%1 %2 %3 %4").arg(nombre, variedad, medida, a.marca).left(60);
    a.descripcionAnterior = a.descripcion.left(53) + QStringLiteral(" (ant.)");
    a.unidad = U(p.unidad);
    a.unidad2 = U(p.unidad2);
    a.rubro = U(p.rubro);
    a.factorUD = p.factorUD;
    a.fraccionable = a.unidad == QLatin1String("KG") || a.unidad == QLatin1String("LT") ||
                     a.unidad == QLatin1String("MT") || a.unidad == QLatin1String("M2");
    // Article 0 is lot-controlled, so there is always an article that can take any number of groups.
    if (indice % 5 == 0)
        a.control = Control::Lote;
    else if (porSerie)
        a.control = Control::Serie;
    a.precioCentavos = azar.entre(150, 2500000);
    a.suspendido = azar.porCiento(6);
    return a;
}

// One balance group: a distinct (article, unit, depot, position, serial, lot, description).
struct Grupo {
    int articulo;
    QString unidad;
    int deposito;
    QString posicion; // null for NULL; the same for serial and lot below
    QString serie;
    QString lote;
    QString descripcion;
};

int Unidades(const Articulo& a) {
    return (a.control == Control::Serie || a.unidad2.isEmpty()) ? 1 : 2;
}

// How many groups an article without lot or serial can have.
int Capacidad(const Articulo& a) {
    return a.control == Control::Ninguno ? Unidades(a) * kNumDepositos * (kNumPosiciones + 1) : INT_MAX;
}

// Variant v of article a, decoded in mixed radix (unit, depot, rest) so that distinct variants
// are distinct groups.
Grupo NuevoGrupo(const std::vector<Articulo>& articulos, int a, int v) {
    const Articulo& art = articulos[a];
    const int unidades = Unidades(art);
    // Each article starts at its own point of the cycle, so that even articles with few groups
    // show positions and several depots among them.
    const int ciclo = unidades * kNumDepositos * (kNumPosiciones + 1);
    v = art.control == Control::Ninguno ? (v + a * 7) % ciclo : v + a * 7 % ciclo;
    Grupo g;
    g.articulo = a;
    g.unidad = v % unidades == 0 ? art.unidad : art.unidad2;
    const int r = v / unidades;
    g.deposito = kDepositos[r % kNumDepositos];
    const int resto = r / kNumDepositos;
    switch (art.control) {
    case Control::Ninguno:
        if (resto > 0) g.posicion = U(kPosiciones[resto - 1]);
        break;
    case Control::Lote:
        if (resto % 4 != 0) g.posicion = U(kPosiciones[resto % kNumPosiciones]);
        g.lote = QStringLiteral("LT-%1").arg(resto + 1, 6, 10, QLatin1Char('0'));
        break;
    case Control::Serie:
        g.serie = QStringLiteral("SN%1-%2")
                      .arg(a + 1, 6, 10, QLatin1Char('0'))
                      .arg(resto + 1, 6, 10, QLatin1Char('0'));
        break;
    }
    g.descripcion = v % 29 == 11 ? art.descripcionAnterior : art.descripcion;
    return g;
}

// Spreads `total` groups over the articles used for stock: evenly, with what the plain articles
// cannot hold going to the lot and serial ones.
std::vector<Grupo> Grupos(const std::vector<Articulo>& articulos, int total) {
    const int n = int(articulos.size());
    const int usados = std::min(n, total);
    std::vector<int> indices(usados), cuantos(usados);
    for (int k = 0; k < usados; ++k)
        indices[k] = int(qint64(k) * n / usados);
    qint64 sobrante = 0;
    std::vector<int> ilimitados;
    for (int k = 0; k < usados; ++k) {
        const int quiere = total / usados + (k < total % usados ? 1 : 0);
        cuantos[k] = std::min(quiere, Capacidad(articulos[indices[k]]));
        sobrante += quiere - cuantos[k];
        if (Capacidad(articulos[indices[k]]) == INT_MAX) ilimitados.push_back(k);
    }
    for (size_t j = 0; j < ilimitados.size() && sobrante > 0; ++j)
        cuantos[ilimitados[j]] += int(sobrante / qint64(ilimitados.size()) +
                                      (qint64(j) < sobrante % qint64(ilimitados.size()) ? 1 : 0));
    std::vector<Grupo> grupos;
    grupos.reserve(total);
    for (int k = 0; k < usados; ++k)
        for (int v = 0; v < cuantos[k]; ++v)
            grupos.push_back(NuevoGrupo(articulos, indices[k], v));
    return grupos;
}

// --- Stock movements ----------------------------------------------------------------------

struct Comprobante {
    int tipo;
    QDate dia;
    int segundos; // -1: date only
    int prefijo;
    QChar sufijo;
    int primeraLinea;
    int lineas;
    int anulado; // 0, 1, or -1 for NULL
    int orden;
    QString fecha() const { return FechaHora(dia, segundos); }
    // The order of the stored texts: the date alone sorts before any time of that day.
    qint64 clave() const { return qint64(dia.toJulianDay()) * 100000 + (segundos < 0 ? 0 : segundos + 1); }
};

struct Linea {
    int grupo;
    double cantidad;
};

double Cantidad(Azar& azar, const Articulo& art, int signo) {
    if (signo == 0) signo = azar.porCiento(50) ? 1 : -1;
    if (art.control == Control::Serie) return signo;
    // Quarters only, so that sums stay exact.
    const double cantidad = art.fraccionable ? azar.entre(1, 800) * 0.25 : double(azar.entre(1, 60));
    return signo * cantidad;
}

class Generador {
public:
    Generador(const QSqlDatabase& db, const OpcionesDemo& o) : db_(db), o_(o) {}

    bool generar(QString* error, ResumenDemo* resumen);

private:
    bool ejercicios(QString* error);
    bool configuracion(QString* error);
    bool tiposComprobante(QString* error);
    bool articulos(QString* error);
    bool terceros(const QString& tabla, Flujo flujo, int porcentajeBajas, QString* error);
    bool contactos(QString* error);
    bool asientos(QString* error);
    bool stock(QString* error, ResumenDemo* resumen);

    bool preparar(QSqlQuery& q, const QString& sql, QString* error) {
        if (q.prepare(sql)) return true;
        PonerError(error, QStringLiteral("%1\n  en: %2").arg(q.lastError().text(), sql));
        return false;
    }
    bool ejecutar(QSqlQuery& q, QString* error) {
        if (q.exec()) return true;
        PonerError(error, q.lastError().text());
        return false;
    }
    static bool preparar(Insercion& q, const QString& sql, QString* error) { return q.preparar(sql, error); }
    static bool ejecutar(Insercion& q, QString* error) { return q.ejecutar(error); }

    const QSqlDatabase& db_;
    const OpcionesDemo& o_;
    std::vector<Articulo> articulos_;
    QStringList nombresClientes_;
    QStringList nombresProveedores_;
};

bool Generador::generar(QString* error, ResumenDemo* resumen) {
    return ejercicios(error) && configuracion(error) && tiposComprobante(error) && articulos(error) &&
           terceros(QStringLiteral("VT_CLIENTES"), FlujoClientes, 7, error) &&
           terceros(QStringLiteral("VT_PROVEEDORES"), FlujoProveedores, 10, error) && contactos(error) &&
           asientos(error) && stock(error, resumen);
}

bool Generador::ejercicios(QString* error) {
    QSqlQuery q(db_);
    if (!preparar(q,
                  QStringLiteral(
                      "INSERT INTO MV_EJERCICIOS (PERIODO, descripcion, \"Fecha Desde\", \"Fecha Hasta\", "
                      "Cerrado, CIERRE) VALUES (?, ?, ?, ?, ?, ?)"),
                  error))
        return false;
    const int primero = o_.primerEjercicio - (o_.conSaldoInicialPrevio ? 1 : 0);
    for (int anio = primero; anio <= o_.ultimoEjercicio; ++anio) {
        const int desdeElUltimo = o_.ultimoEjercicio - anio;
        QVariant cerrado, cierre;
        switch (desdeElUltimo) {
        case 0: // the year in course
            cerrado = 0, cierre = 0;
            break;
        case 1: // marked closed by CIERRE alone
            cerrado = 0, cierre = 1;
            break;
        case 2: // Cerrado never filled in
            cierre = 1;
            break;
        default:
            cerrado = 1, cierre = desdeElUltimo % 2;
        }
        q.bindValue(0, anio);
        q.bindValue(1, QStringLiteral("Ejercicio Económico %1").arg(anio));
        q.bindValue(2, Fecha(QDate(anio, 1, 1)));
        q.bindValue(3, Fecha(QDate(anio, 12, 31)));
        q.bindValue(4, cerrado);
        q.bindValue(5, cierre);
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::configuracion(QString* error) {
    struct Fila {
        const char* grupo;
        const char* clave;
        QString valor;
    };
    std::vector<Fila> filas = {
        {"DATOS", "fechaoperdesde", FechaCorta(QDate(o_.ultimoEjercicio, 1, 1))},
        {"DATOS", "fechaoperhasta", FechaCorta(QDate(o_.ultimoEjercicio, 12, 31))},
        {"GENERAL", "NombreEmpresa", QStringLiteral("Distribuidora Peñaflor S.R.L.")},
        {"CONSULTAS", "MostrarStockenConsultas", QStringLiteral("SI")},
        {"GENERAL", "TituloClientes", QStringLiteral("Clientes")},
        {"GENERAL", "TituloProveedores", QStringLiteral("Proveedores")},
        {"CONSULTAS", "EXIGECLAVECONSULTALIKEARTICULOS", QStringLiteral("NO")},
        {"CONSULTAS", "UsaConsultaLike", QStringLiteral("SI")},
        {"GENERAL", "CantidadDecimales", QStringLiteral("2")},
        {"GENERAL", "UsaMultilesMonedas", QStringLiteral("NO")},
        {"COLORES", "CFondo", QStringLiteral("12648447")}, // 0xC0FFFF, pale yellow
        {"COLORES", "CLetra", QStringLiteral("0")},
        {"MODULOS", "ModuloOrdenDeTrabajo", QStringLiteral("SI")},
    };
    if (o_.conSaldoInicialPrevio)
        filas.push_back({"DATOS", "FECHAULTIMADEPURACION", FechaCorta(QDate(o_.primerEjercicio - 1, 1, 1))});
    QSqlQuery q(db_);
    if (!preparar(q, QStringLiteral("INSERT INTO TA_CONFIGURACION (Grupo, CLAVE, VALOR) VALUES (?, ?, ?)"),
                  error))
        return false;
    for (const Fila& f : filas) {
        q.bindValue(0, U(f.grupo));
        q.bindValue(1, U(f.clave));
        q.bindValue(2, f.valor);
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::tiposComprobante(QString* error) {
    QSqlQuery q(db_);
    if (!preparar(q, QStringLiteral("INSERT INTO V_TA_CPTE (Codigo, Descripcion) VALUES (?, ?)"), error))
        return false;
    for (const TipoCpte& t : kTipos) {
        if (!o_.conTipoSI && QLatin1String(t.codigo) == QLatin1String("SI")) continue;
        q.bindValue(0, U(t.codigo));
        q.bindValue(1, U(t.descripcion));
        if (!ejecutar(q, error)) return false;
    }
    // Types that move no stock.
    for (const auto& [codigo, descripcion] :
         {std::pair{"OC", "Orden de Compra"}, std::pair{"PE", "Pedido"}}) {
        q.bindValue(0, U(codigo));
        q.bindValue(1, U(descripcion));
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::articulos(QString* error) {
    const int cuantos = std::max(o_.filasConsulta, o_.movimientos > 0 ? 1 : 0);
    Azar azar(o_.semilla, FlujoArticulos);
    articulos_.reserve(cuantos);
    Insercion q(db_);
    if (!preparar(q,
                  QStringLiteral(
                      "INSERT INTO V_MA_ARTICULOS (IDARTICULO, DESCRIPCION, IDUNIDAD, RUBRO, MARCA, PRECIO, "
                      "SUSPENDIDO) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                  error))
        return false;
    for (int i = 0; i < cuantos; ++i) {
        articulos_.push_back(NuevoArticulo(azar, i));
        const Articulo& a = articulos_.back();
        q.texto(0, a.codigo);
        q.texto(1, a.descripcion);
        q.texto(2, a.unidad);
        q.texto(3, a.rubro);
        q.texto(4, a.marca);
        q.real(5, double(a.precioCentavos) / 100.0);
        q.entero(6, a.suspendido ? 1 : 0);
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::terceros(const QString& tabla, Flujo flujo, int porcentajeBajas, QString* error) {
    Azar azar(o_.semilla, flujo);
    QStringList& nombres = flujo == FlujoClientes ? nombresClientes_ : nombresProveedores_;
    Insercion q(db_);
    if (!preparar(q,
                  QStringLiteral(
                      "INSERT INTO %1 (CODIGO, RAZON_SOCIAL, CONTACTO, DOMICILIO, LOCALIDAD, TELEFONO, CUIT, "
                      "Dada_De_Baja) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(tabla),
                  error))
        return false;
    for (int i = 0; i < o_.filasConsulta; ++i) {
        const QString razon = RazonSocial(azar).left(60);
        nombres.append(razon);
        q.entero(0, i + 1);
        q.texto(1, razon);
        q.texto(2, Persona(azar).left(50));
        q.texto(3, Domicilio(azar));
        q.texto(4, U(azar.elegir(kLocalidades)));
        q.texto(5, Telefono(azar));
        q.texto(6, Cuit(azar, !razon.contains(u' ') || azar.porCiento(70)));
        q.entero(7, azar.porCiento(porcentajeBajas) ? 1 : 0);
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::contactos(QString* error) {
    Azar azar(o_.semilla, FlujoContactos);
    Insercion q(db_);
    if (!preparar(
            q,
            QStringLiteral("INSERT INTO MA_CONTACTOS (Nombre_y_Apellido, Domicilio, Localidad, Telefono) "
                           "VALUES (?, ?, ?, ?)"),
            error))
        return false;
    for (int i = 0; i < o_.filasConsulta; ++i) {
        q.texto(0, Persona(azar).left(60));
        q.texto(1, Domicilio(azar));
        q.texto(2, U(azar.elegir(kLocalidades)));
        q.texto(3, Telefono(azar));
        if (!ejecutar(q, error)) return false;
    }
    return true;
}

bool Generador::asientos(QString* error) {
    struct Asiento {
        int anio;
        QDate dia;
        int lineas;
        int orden;
    };
    Azar azar(o_.semilla, FlujoAsientos);
    const int anios = o_.ultimoEjercicio - o_.primerEjercicio + 1;
    std::vector<Asiento> lista;
    for (int resto = o_.asientos; resto > 0;) {
        int lineas = std::min<int>(resto, int(azar.entre(2, 4)));
        if (resto - lineas == 1) ++lineas; // no one-line entry at the end
        const int orden = int(lista.size());
        // Every year gets an entry before any gets a second one.
        const int anio = o_.primerEjercicio + (orden < anios ? orden : int(azar.menorQue(anios)));
        const QDate dia = QDate(anio, 1, 1).addDays(azar.menorQue(QDate(anio, 1, 1).daysInYear()));
        lista.push_back({anio, dia, lineas, orden});
        resto -= lineas;
    }
    std::sort(lista.begin(), lista.end(), [](const Asiento& a, const Asiento& b) {
        return std::tie(a.dia, a.orden) < std::tie(b.dia, b.orden);
    });
    Insercion q(db_);
    if (!preparar(q,
                  QStringLiteral(
                      "INSERT INTO MV_ASIENTOS (PERIODO, NROASIENTO, FECHA, CUENTA, DEBE, HABER, LEYENDA) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                  error))
        return false;
    int anioActual = 0, numero = 0;
    for (const Asiento& asiento : lista) {
        if (asiento.anio != anioActual) anioActual = asiento.anio, numero = 0;
        ++numero;
        const QString mes = U(kMeses[asiento.dia.month() - 1]);
        QString leyenda;
        switch (azar.menorQue(6)) {
        case 0:
            leyenda =
                QStringLiteral("Venta s/Fc. A 0001-%1").arg(azar.entre(1, 99999999), 8, 10, QLatin1Char('0'));
            break;
        case 1:
            leyenda = QStringLiteral("Cobranza a ") +
                      (nombresClientes_.isEmpty() ? Persona(azar) : azar.elegir(nombresClientes_));
            break;
        case 2:
            leyenda = QStringLiteral("Pago a ") +
                      (nombresProveedores_.isEmpty() ? Persona(azar) : azar.elegir(nombresProveedores_));
            break;
        case 3:
            leyenda = QStringLiteral("Sueldos de %1 de %2").arg(mes).arg(asiento.anio);
            break;
        case 4:
            leyenda = QStringLiteral("Alquiler del depósito, %1").arg(mes);
            break;
        default:
            leyenda = QStringLiteral("Depósito en Banco Nación");
        }
        leyenda = leyenda.left(60);
        // Debits on every line but the last, which credits their sum.
        qint64 total = 0;
        for (int l = 0; l < asiento.lineas; ++l) {
            const bool ultima = l == asiento.lineas - 1;
            const qint64 centavos = ultima ? total : azar.entre(1000, 5000000);
            total += ultima ? 0 : centavos;
            QString periodo = QString::number(asiento.anio);
            if (o_.periodoConBlancos && azar.porCiento(1)) periodo += u' ';
            q.texto(0, periodo);
            q.entero(1, numero);
            q.texto(2, Fecha(asiento.dia));
            q.texto(3, U(azar.elegir(kCuentas).codigo));
            q.real(4, ultima ? 0.0 : double(centavos) / 100.0);
            q.real(5, ultima ? double(centavos) / 100.0 : 0.0);
            q.texto(6, leyenda);
            if (!ejecutar(q, error)) return false;
        }
    }
    return true;
}

bool Generador::stock(QString* error, ResumenDemo* resumen) {
    if (o_.movimientos <= 0) return true;
    const int objetivo = o_.gruposObjetivo > 0 ? o_.gruposObjetivo : std::max(1, o_.movimientos / 10);
    const std::vector<Grupo> grupos = Grupos(articulos_, objetivo);
    const int g = int(grupos.size());

    Azar azar(o_.semilla, FlujoMovimientos);
    std::vector<Comprobante> comprobantes;
    std::vector<Linea> lineas;
    lineas.reserve(o_.movimientos);
    comprobantes.reserve(o_.movimientos / 3 + 1);

    auto nuevoComprobante = [&](int tipo, QDate dia, int segundos, int anulado, int cuantas,
                                const std::function<int()>& grupo) {
        const TipoCpte& t = kTipos[tipo];
        Comprobante c{tipo,
                      dia,
                      segundos,
                      int(azar.entre(1, 3)),
                      QChar(QLatin1Char(t.sufijos[azar.menorQue(qint64(qstrlen(t.sufijos)))])),
                      int(lineas.size()),
                      cuantas,
                      anulado,
                      int(comprobantes.size())};
        for (int i = 0; i < cuantas; ++i) {
            const int cual = grupo();
            lineas.push_back({cual, Cantidad(azar, articulos_[grupos[cual].articulo], t.signo)});
        }
        comprobantes.push_back(c);
    };
    auto horaAzar = [&]() { return int(azar.entre(8 * 3600, 20 * 3600 - 1)); };

    // The first year's intake: every group gets a valid purchase, so the number of groups at
    // any later cut-off is known.
    std::vector<int> orden(g);
    std::iota(orden.begin(), orden.end(), 0);
    for (int i = g - 1; i > 0; --i)
        std::swap(orden[i], orden[azar.menorQue(i + 1)]);
    const int cubiertos = std::min(g, o_.movimientos);
    const QDate inicio(o_.primerEjercicio, 1, 1);
    for (int hechos = 0; hechos < cubiertos;) {
        const int cuantas = std::min<int>(cubiertos - hechos, int(azar.entre(1, 10)));
        const QDate dia = inicio.addDays(azar.menorQue(inicio.daysInYear()));
        nuevoComprobante(kTipoCompra, dia, azar.porCiento(10) ? horaAzar() : -1, 0, cuantas,
                         [&]() { return orden[hechos++]; });
    }

    // Ordinary vouchers over all the years.
    const int pesoTotal = std::accumulate(std::begin(kTipos), std::end(kTipos), 0,
                                          [](int s, const TipoCpte& t) { return s + t.peso; });
    const QDate fin(o_.ultimoEjercicio, 12, 31);
    const int anios = o_.ultimoEjercicio - o_.primerEjercicio + 1;
    for (int resto = o_.movimientos - cubiertos, n = 0; resto > 0; ++n) {
        int tipo = 0;
        for (int elegido = int(azar.menorQue(pesoTotal)); elegido >= kTipos[tipo].peso; ++tipo)
            elegido -= kTipos[tipo].peso;
        QDate dia = inicio.addDays(azar.menorQue(inicio.daysTo(fin) + 1));
        int segundos = azar.porCiento(10) ? horaAzar() : -1;
        int anulado = azar.porCiento(o_.porcentajeAnulados) ? 1 : (azar.menorQue(200) == 0 ? -1 : 0);
        // The first vouchers make sure that even a small file has the awkward cases: a closing
        // with a time of day on every Dec 31, an annulled voucher, one with Anulado NULL, and one
        // on a Jan 1. Later ones get them at random.
        const int especial = n < anios + 3 ? n - anios : 2 + int(azar.menorQue(100));
        if (n < anios || especial == 3 || especial == 4 || especial == 5) {
            const int anio =
                n < anios ? o_.primerEjercicio + n : o_.primerEjercicio + int(azar.menorQue(anios));
            dia = QDate(anio, 12, 31);
            segundos = azar.porCiento(20) ? 23 * 3600 + 59 * 60 + 59 : horaAzar();
        } else if (especial == 0) {
            anulado = 1;
        } else if (especial == 1) {
            anulado = -1;
        } else if (especial == 2) {
            dia = QDate(o_.primerEjercicio + int(azar.menorQue(anios)), 1, 1);
            segundos = azar.porCiento(50) ? 0 : -1;
        }
        const int cuantas = std::min<int>(resto, int(azar.entre(1, 8)));
        nuevoComprobante(tipo, dia, segundos, anulado, cuantas, [&]() { return int(azar.menorQue(g)); });
        resto -= cuantas;
    }

    // Rows in date order, voucher numbers growing with it.
    std::sort(comprobantes.begin(), comprobantes.end(), [](const Comprobante& a, const Comprobante& b) {
        return std::pair(a.clave(), a.orden) < std::pair(b.clave(), b.orden);
    });

    Insercion q(db_);
    if (!preparar(
            q,
            QStringLiteral(
                "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, "
                "DESCRIPCION, IDUNIDAD, CANTIDAD, CantidadUD, IdDeposito, IdPosicion, NroSerie, "
                "NroLote, Anulado, ControladoPor) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            error))
        return false;

    int secuenciaPrevia = 0;
    if (o_.conSaldoInicialPrevio) {
        // What an earlier purge left: one row per article and unit, nothing below that. Some of
        // the articles only, so that it adds about 1% to the groups of a large file.
        Azar previo(o_.semilla, FlujoSaldoPrevio);
        const QString fecha = Fecha(QDate(o_.primerEjercicio - 1, 12, 31));
        const int filasPrevias = std::max(20, g / 100);
        int& secuencia = secuenciaPrevia;
        int ultimoArticulo = -1;
        for (const Grupo& gr : grupos) {
            if (gr.articulo == ultimoArticulo) continue;
            if (secuencia == filasPrevias) break;
            ultimoArticulo = gr.articulo;
            const Articulo& art = articulos_[gr.articulo];
            q.texto(0, QStringLiteral("SI"));
            q.texto(1, o_.comprobanteSIPrevio);
            q.entero(2, ++secuencia);
            q.texto(3, fecha);
            q.texto(4, art.codigo);
            q.texto(5, art.descripcion);
            q.texto(6, art.unidad);
            q.real(7, Cantidad(previo, art, +1));
            q.nulo(8);
            q.nulo(9);
            q.nulo(10);
            q.nulo(11);
            q.nulo(12);
            q.entero(13, 0);
            q.texto(14, QStringLiteral("Depuracion"));
            if (!ejecutar(q, error)) return false;
        }
    }

    std::vector<int> numeros(std::size(kTipos) * 4, 0);
    for (const Comprobante& c : comprobantes) {
        const TipoCpte& t = kTipos[c.tipo];
        const QString tc = U(t.codigo);
        const QString numero = QStringLiteral("%1%2%3")
                                   .arg(c.prefijo, 4, 10, QLatin1Char('0'))
                                   .arg(++numeros[c.tipo * 4 + c.prefijo], 8, 10, QLatin1Char('0'))
                                   .arg(c.sufijo);
        const QString fecha = c.fecha();
        const QString controladoPor = U(t.controladoPor);
        for (int i = 0; i < c.lineas; ++i) {
            const Linea& l = lineas[c.primeraLinea + i];
            const Grupo& gr = grupos[l.grupo];
            const Articulo& art = articulos_[gr.articulo];
            q.texto(0, tc);
            q.texto(1, numero);
            q.entero(2, i + 1);
            q.texto(3, fecha);
            q.texto(4, art.codigo);
            q.texto(5, gr.descripcion);
            q.texto(6, gr.unidad);
            q.real(7, l.cantidad);
            q.real(8, l.cantidad * art.factorUD);
            q.entero(9, gr.deposito);
            q.texto(10, gr.posicion);
            q.texto(11, gr.serie);
            q.texto(12, gr.lote);
            if (c.anulado < 0)
                q.nulo(13);
            else
                q.entero(13, c.anulado);
            q.texto(14, controladoPor);
            if (!ejecutar(q, error)) return false;
        }
    }
    resumen->grupos = cubiertos;
    resumen->gruposSaldoPrevio = secuenciaPrevia;
    return true;
}

bool Validar(const OpcionesDemo& o, QString* error) {
    QStringList faltas;
    if (o.asientos < 0) faltas << QStringLiteral("asientos negativo");
    if (o.movimientos < 0) faltas << QStringLiteral("movimientos negativo");
    if (o.gruposObjetivo < 0) faltas << QStringLiteral("grupos negativo");
    if (o.filasConsulta < 0) faltas << QStringLiteral("filas de consulta negativo");
    if (o.porcentajeAnulados < 0 || o.porcentajeAnulados > 100)
        faltas << QStringLiteral("porcentaje de anulados fuera de 0..100");
    if (o.primerEjercicio < 1901 || o.ultimoEjercicio > 9998 || o.primerEjercicio > o.ultimoEjercicio)
        faltas << QStringLiteral("ejercicios fuera de rango");
    if (o.conSaldoInicialPrevio && o.comprobanteSIPrevio.size() != 13)
        faltas << QStringLiteral("el comprobante SI previo debe tener 13 caracteres");
    if (faltas.isEmpty()) return true;
    PonerError(error, QStringLiteral("Opciones no válidas: %1").arg(faltas.join(QStringLiteral("; "))));
    return false;
}

} // namespace

bool CrearBaseDemo(const QString& ruta, const OpcionesDemo& opciones, QString* error, ResumenDemo* resumen) {
    QElapsedTimer reloj;
    reloj.start();
    ArchivoNuevo archivo(ruta);
    if (!Validar(opciones, error) || !archivo.preparar(error)) return false;
    ResumenDemo cuentas;
    {
        Conexion conexion(archivo.rutaTemporal());
        if (!conexion.abrir(error)) return false;
        const QSqlDatabase db = conexion.db();
        // A file of its own until it is complete: nothing to protect.
        if (!Ejecutar(db, QStringLiteral("PRAGMA journal_mode = MEMORY"), error) ||
            !Ejecutar(db, QStringLiteral("PRAGMA synchronous = OFF"), error) ||
            !Ejecutar(db, QStringLiteral("PRAGMA cache_size = -65536"), error))
            return false;
        for (const QString& sql : SentenciasTablas())
            if (!Ejecutar(db, sql, error)) return false;
        if (!Ejecutar(db, QStringLiteral("BEGIN"), error)) return false;
        {
            Generador generador(db, opciones);
            if (!generador.generar(error, &cuentas)) return false;
        }
        if (!Ejecutar(db, QStringLiteral("COMMIT"), error)) return false;
        // Indexes after the rows: building them once is much faster than maintaining them.
        if (opciones.conIndices)
            for (const QString& sql : SentenciasIndices())
                if (!Ejecutar(db, sql, error)) return false;
        if (!Ejecutar(db, QStringLiteral("ANALYZE"), error)) return false;
    }
    if (!archivo.confirmar(error)) return false;
    if (resumen) {
        resumen->grupos = cuentas.grupos;
        resumen->gruposSaldoPrevio = cuentas.gruposSaldoPrevio;
        if (!ContarFilas(ruta, &resumen->filasPorTabla, error)) return false;
        resumen->milisegundos = reloj.elapsed();
    }
    return true;
}

} // namespace demodb
