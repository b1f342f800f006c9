// The lookup list's model without a database: the Spanish key, stable sorting, and the fast
// search agreeing with a plain scan in view order.
#include "apoyo/entorno.h"
#include "lookup/lib_modeloconsulta.h"
#include "lookup/lib_teclas.h"
#include "lookup/lib_textoconsulta.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <QAbstractItemModelTester>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QPersistentModelIndex>
#include <QRandomGenerator>
#include <QTime>
#include <QVariant>
#include <type_traits>

namespace {
void Cargar(ModeloConsulta& m, const std::vector<QStringList>& filas, int columnas) {
    for (int c = 0; c < columnas; ++c)
        m.AgregarColumna(QStringLiteral("C%1").arg(c));
    m.IniciarCarga();
    for (const auto& f : filas) {
        std::vector<QStringView> celdas(f.begin(), f.end());
        m.AgregarFila(celdas.data(), int(celdas.size()));
    }
    m.TerminarCarga();
}

QStringList Vista(const ModeloConsulta& m, int columna) {
    QStringList r;
    for (int i = 0; i < m.rowCount(); ++i)
        r << m.Texto(i, columna);
    return r;
}

// A text of fewer than `hasta` pieces drawn at random.
QString TextoAzar(QRandomGenerator& azar, const QStringList& piezas, int hasta) {
    QString s;
    const int n = int(azar.bounded(hasta));
    for (int i = 0; i < n; ++i)
        s += piezas[int(azar.bounded(piezas.size()))];
    return s;
}

std::vector<QStringList> FilasAzar(QRandomGenerator& azar, const QStringList& piezas, int hasta, int filas,
                                   int columnas) {
    std::vector<QStringList> r;
    for (int i = 0; i < filas; ++i) {
        QStringList f;
        for (int c = 0; c < columnas; ++c)
            f << TextoAzar(azar, piezas, hasta);
        r.push_back(f);
    }
    return r;
}

// The stored rows in their loading order: the view before any sort.
std::vector<int> OrdenDeCarga(std::size_t filas) {
    std::vector<int> r(filas);
    std::iota(r.begin(), r.end(), 0);
    return r;
}

// What the model's sort must give: a stable sort of the view order `orden` by `clave` of the
// column's texts.
template <typename F>
void OrdenarReferencia(std::vector<int>& orden, const std::vector<QStringList>& filas, int columna,
                       Qt::SortOrder sentido, F clave) {
    std::vector<std::invoke_result_t<F, const QString&>> claves;
    for (const auto& f : filas)
        claves.push_back(clave(f[columna]));
    std::stable_sort(orden.begin(), orden.end(), [&](int a, int b) {
        return sentido == Qt::AscendingOrder ? claves[std::size_t(a)] < claves[std::size_t(b)]
                                             : claves[std::size_t(b)] < claves[std::size_t(a)];
    });
}

using Ordenes = std::vector<std::pair<int, Qt::SortOrder>>;
// Both columns both ways, each sort starting from the order the one before left.
const Ordenes AmbasColumnasYSentidos{
    {0, Qt::AscendingOrder}, {1, Qt::DescendingOrder}, {0, Qt::DescendingOrder}, {1, Qt::AscendingOrder}};

} // namespace

// The Spanish key: blanks at the ends, case and accents do not count; "ñ" is a letter of its
// own, also when written as "n" and a combining tilde.
TEST(TextoConsulta, ClaveEspanola) {
    EXPECT_EQ(Clave(u"  Árbol "), Clave(u"arbol"));
    EXPECT_EQ(Clave(u"\u00A0Ibáñez\u3000"), Clave(u"IBAÑEZ"));
    EXPECT_EQ(Clave(u"N\u0303andu\u0301"), Clave(u"ñandú"));
    EXPECT_NE(Clave(u"nandu"), Clave(u"ñandu"));
    EXPECT_EQ(Clave(u"PINGÜINO Ça"), Clave(u"pinguino ca"));
    EXPECT_LT(Clave(u"Nzzz"), Clave(u"ñ"));
    EXPECT_LT(Clave(u"ñzzz"), Clave(u"o"));
    EXPECT_LT(Clave(u"9"), Clave(u"a"));
}

TEST(TextoConsulta, Cantidades) {
    EXPECT_DOUBLE_EQ(ValorCantidad("2.50"), 2.5);
    EXPECT_DOUBLE_EQ(ValorCantidad(" 7 unidades"), 7);
    EXPECT_DOUBLE_EQ(ValorCantidad("2,50"), 2);
    EXPECT_EQ(FormatoCantidad(2.26, 1), "2.3");
    EXPECT_EQ(FormatoCantidad(0.25, 1), "0.3"); // halves away from zero
    EXPECT_EQ(FormatoCantidad(-0.01, 1), "0.0");
    EXPECT_EQ(FormatoCantidad(1234567.5, 2), "1234567.50"); // no grouping
    {
        ConLocale es(QLocale(QLocale::Spanish, QLocale::Spain));
        EXPECT_DOUBLE_EQ(ValorCantidad("2,50"), 2.5);
        EXPECT_DOUBLE_EQ(ValorCantidad("2.50"), 2.5);
        EXPECT_EQ(FormatoCantidad(3.5, 1), "3,5");
        EXPECT_EQ(FormatoCantidad(1234.5, 2), "1234,50");
    }
}

TEST(TablaTeclas, CodigosDeLaSuite) {
    struct Tecla {
        int qt;
        bool teclado;
        int codigo;
    };
    for (const Tecla& t : std::initializer_list<Tecla>{
             {Qt::Key_Backspace, false, 8}, {Qt::Key_Return, false, 13}, {Qt::Key_Enter, true, 13},
             {Qt::Key_Escape, false, 27},   {Qt::Key_Space, false, 32},  {Qt::Key_PageUp, false, 33},
             {Qt::Key_PageDown, false, 34}, {Qt::Key_Up, false, 38},     {Qt::Key_Down, true, 40},
             {Qt::Key_Insert, false, 45},   {Qt::Key_Delete, false, 46}, {Qt::Key_0, false, 48},
             {Qt::Key_9, false, 57},        {Qt::Key_A, false, 65},      {Qt::Key_Z, false, 90},
             {Qt::Key_0, true, 96},         {Qt::Key_9, true, 105},      {Qt::Key_Asterisk, true, 106},
             {Qt::Key_Plus, true, 107},     {Qt::Key_Minus, true, 109},  {Qt::Key_Period, true, 110},
             {Qt::Key_Slash, true, 111},    {Qt::Key_F1, false, 112},    {Qt::Key_F24, false, 135}})
        EXPECT_EQ(CodigoTecla(t.qt, t.teclado), t.codigo) << t.qt;
    for (int sinCodigo : {Qt::Key_Comma, Qt::Key_Period, Qt::Key_Slash, Qt::Key_Minus, Qt::Key_Tab,
                          Qt::Key_Home, Qt::Key_Ntilde, Qt::Key_Shift})
        EXPECT_EQ(CodigoTecla(sinCodigo, false), 0) << sinCodigo;
    EXPECT_EQ(EstadoMayus(Qt::ShiftModifier | Qt::AltModifier), 5);
    EXPECT_EQ(EstadoMayus(Qt::ControlModifier | Qt::KeypadModifier), 2);
}

TEST(ModeloConsulta, OrdenSinMayusculasEstableYDescendente) {
    ModeloConsulta m;
    Cargar(m,
           {{"beta", "1"},
            {"Alfa", "2"},
            {"BETA", "3"},
            {" alfa", "4"},
            {"Bermejo", "5"},
            {"ábaco", "6"},
            {"", "7"},
            {"Beta", "8"}},
           2);
    m.Ordenar(0, Qt::AscendingOrder);
    // Equal texts (ignoring case, accents and blanks) keep their order.
    EXPECT_EQ(Vista(m, 1), (QStringList{"7", "6", "2", "4", "5", "1", "3", "8"}));
    m.Ordenar(0, Qt::DescendingOrder);
    EXPECT_EQ(Vista(m, 1), (QStringList{"1", "3", "8", "5", "2", "4", "6", "7"}));
    // A sort on another column starts from the current order.
    m.Ordenar(1, Qt::AscendingOrder);
    EXPECT_EQ(Vista(m, 1), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST(ModeloConsulta, PrefijosLargosYLongitudes) {
    ModeloConsulta m;
    Cargar(m,
           {{"CLIENTE NUMERO 00012"},
            {"cliente numero 0001"},
            {"Cliente Numero 00011"},
            {"CLIENTE NUMERO"},
            {"cliente numero 0001"},
            {QString("cliente numero 0001") + QChar(0)}},
           1);
    m.Ordenar(0, Qt::AscendingOrder);
    EXPECT_EQ(Vista(m, 0), (QStringList{"CLIENTE NUMERO", "cliente numero 0001", "cliente numero 0001",
                                        QString("cliente numero 0001") + QChar(0), "Cliente Numero 00011",
                                        "CLIENTE NUMERO 00012"}));
}

TEST(ModeloConsulta, MarcasYCantidadesSiguenASuFila) {
    ModeloConsulta m;
    m.AgregarColumna("NOMBRE");
    m.AgregarColumna("**Cantidad**", true);
    m.IniciarCarga();
    for (const QString t : {"c", "a", "b"}) {
        QStringView celda(t);
        m.AgregarFila(&celda, 1);
    }
    m.TerminarCarga();
    m.Marcar(0, true);
    m.EstablecerTexto(0, 1, "2.0");
    m.EstablecerTexto(0, 0, "no se cambia");
    m.Ordenar(0, Qt::AscendingOrder);
    EXPECT_EQ(Vista(m, 0), (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(m.Marcada(2));
    EXPECT_FALSE(m.Marcada(0));
    EXPECT_EQ(Vista(m, 1), (QStringList{"", "", "2.0"}));
    EXPECT_EQ(m.Buscar(1, u"2"), 2);
}

// Random tables against a plain reference: after each sort (each starting from the order the
// one before left), the view is a stable sort by the reference key, and a search on any column
// (binary on the sort column, a pass on the others) selects the first row in view order whose
// key starts with the query's. `Clave` is the reference where the texts go beyond Latin-1 (long
// shared prefixes over several eight-byte steps, blanks, character 0, combining marks); `Pesos`,
// each letter by its place in the Spanish alphabet (case and accents ignored, "ñ" between "n"
// and "o"), blanks and digits before the letters, is an independent one on Latin-1 texts.
namespace {
std::vector<int> Pesos(const QString& s) {
    static const QString alfabeto = QStringLiteral("abcdefghijklmnñopqrstuvwxyz");
    static const QString acentuadas = QStringLiteral("áéíóúü");
    static const QString llanas = QStringLiteral("aeiouu");
    std::vector<int> r;
    for (QChar c : s.trimmed()) {
        QChar l = c.toLower();
        if (const qsizetype k = acentuadas.indexOf(l); k >= 0) l = llanas[k];
        const qsizetype p = alfabeto.indexOf(l);
        r.push_back(p >= 0 ? 1000 + int(p) : int(l.unicode()));
    }
    return r;
}
template <typename K> bool EmpiezaPor(const K& a, const K& b) {
    return a.size() >= b.size() && std::equal(b.begin(), b.end(), a.begin());
}

template <typename F>
void OrdenYBusquedaContraReferencia(quint32 semilla, const QStringList& piezas, int hasta, int cuantas,
                                    F clave) {
    QRandomGenerator azar(semilla);
    const std::vector<QStringList> filas = FilasAzar(azar, piezas, hasta, cuantas, 3);
    ModeloConsulta m;
    Cargar(m, filas, 3);
    std::vector<int> orden = OrdenDeCarga(filas.size());
    std::vector<QString> busquedas = {QString(), QStringLiteral("  "), QStringLiteral("no hay tal")};
    for (int i = 0; i < 150; ++i)
        busquedas.push_back(TextoAzar(azar, piezas, 5));
    std::vector<std::vector<std::invoke_result_t<F, const QString&>>> claves(3);
    for (const auto& f : filas)
        for (int c = 0; c < 3; ++c)
            claves[std::size_t(c)].push_back(clave(f[c]));
    for (const auto& [columna, sentido] : Ordenes{{0, Qt::AscendingOrder},
                                                  {1, Qt::DescendingOrder},
                                                  {0, Qt::DescendingOrder},
                                                  {2, Qt::AscendingOrder},
                                                  {1, Qt::AscendingOrder}}) {
        OrdenarReferencia(orden, filas, columna, sentido, clave);
        m.Ordenar(columna, sentido);
        for (std::size_t i = 0; i < orden.size(); ++i)
            ASSERT_EQ(m.FilaAlmacenada(int(i)), orden[i])
                << "columna " << columna << " sentido " << sentido << " fila " << i;
        for (const QString& q : busquedas)
            for (int buscada = 0; buscada < 3; ++buscada) {
                int esperada = -1;
                for (std::size_t i = 0; i < orden.size() && esperada < 0; ++i)
                    if (EmpiezaPor(claves[std::size_t(buscada)][std::size_t(orden[i])], clave(q)))
                        esperada = int(i);
                ASSERT_EQ(m.Buscar(buscada, q), esperada)
                    << "orden " << columna << "/" << sentido << " columna " << buscada << " texto '"
                    << q.toStdString() << "'";
            }
    }
}
} // namespace

TEST(ModeloConsulta, OrdenYBusquedaContraReferencia) {
    const auto clave = [](const QString& t) { return Clave(t); };
    {
        SCOPED_TRACE("más allá de Latin-1, prefijos largos");
        OrdenYBusquedaContraReferencia(11,
                                       QStringList{"cliente numero ", "CLIENTE NUMERO ", "0", "1", "00", "a",
                                                   "Á", "é", "Ω", "ß", " ", "\u00A0", "€", "µ", "z", "Ñ",
                                                   "ñandú", "n\u0303", "😀"}
                                           << QString(QChar(0)),
                                       6, 2500, clave);
    }
    {
        SCOPED_TRACE("más allá de Latin-1, piezas cortas y marcas sueltas");
        OrdenYBusquedaContraReferencia(7, {"a", "B",  "ab", "Á",      "á",       "ñ",  "Ñu",    " ",
                                           "z", "zz", "0",  "1",      "be",      "BE", "µ",     "ß",
                                           "n", "N",  "€",  "\u00A0", "n\u0303", "😀",  "\u0301"},
                                       5, 3000, clave);
    }
    {
        SCOPED_TRACE("alfabeto español");
        OrdenYBusquedaContraReferencia(5, {"Ál", "al", "AL", "vár", "var", "ez", "ÉZ", "ñ",
                                           "Ñ",  "n",  "N",  "o",   "ó",   "pé", "PE", "rez",
                                           "z",  " ",  "0",  "9",   "u",   "ü",  "nu", "ÑU"},
                                       5, 1500, Pesos);
    }
}

// The Spanish order and search by hand.
TEST(ModeloConsulta, OrdenYBusquedaEnEspanol) {
    ModeloConsulta m;
    Cargar(m,
           {{"Zulema"},
            {"Pozo"},
            {"Alvear SA"},
            {"Tuerca"},
            {"Ñandú"},
            {"Pérez"},
            {"Álvarez Hnos"},
            {"nube"},
            {"ALVAREZ HNOS"}},
           1);
    m.Ordenar(0, Qt::AscendingOrder);
    EXPECT_EQ(Vista(m, 0), (QStringList{"Álvarez Hnos", "ALVAREZ HNOS", "Alvear SA", "nube", "Ñandú", "Pérez",
                                        "Pozo", "Tuerca", "Zulema"}));
    EXPECT_EQ(m.Buscar(0, u"alv"), 0);
    EXPECT_EQ(m.Buscar(0, u"ÁLVE"), 2);
    EXPECT_EQ(m.Buscar(0, u"n"), 3);
    EXPECT_EQ(m.Buscar(0, u"ñ"), 4);
    EXPECT_EQ(m.Buscar(0, u"ná"), -1);
}

// Qt's own checker of the model's contract (indexes, parents, counts, data by role, and the
// signals around every change) through a load with check boxes and quantities, a sort on each
// column both ways, edits, a reset and a load that comes out sorted. A row followed by a
// persistent index (as a view's selection is) keeps its texts through every sort.
TEST(ModeloConsulta, ContratoDeModeloDeQt) {
    static QStringList fallos;
    fallos.clear();
    const QtMessageHandler anterior =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& contexto, const QString& texto) {
            if (qstrcmp(contexto.category, "qt.modeltest") == 0) fallos << texto;
        });
    {
        ModeloConsulta m;
        QAbstractItemModelTester probador(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
        QRandomGenerator azar(5);
        const std::vector<QStringList> filas = FilasAzar(azar, {"a", "B", "ñ", " ", "1", "Á"}, 5, 300, 2);
        auto cargar = [&](int columnaOrden, Qt::SortOrder sentido) {
            m.QuitarColumnas();
            m.AgregarColumna("C0");
            m.AgregarColumna("C1");
            m.AgregarColumna("**Cantidad**", true);
            m.IniciarCarga(columnaOrden, sentido);
            for (const auto& f : filas) {
                std::vector<QStringView> celdas(f.begin(), f.end());
                m.AgregarFila(celdas.data(), int(celdas.size()));
            }
            m.TerminarCarga();
        };
        m.MostrarMarcas(true);
        cargar(-1, Qt::AscendingOrder);
        ASSERT_EQ(m.rowCount(), int(filas.size()));
        m.Marcar(3, true);
        m.EstablecerTexto(4, 2, "2.0");
        const QPersistentModelIndex seguida = m.index(7, 1);
        const QString texto = m.Texto(7, 0) + u'|' + m.Texto(7, 1);
        for (const auto& [columna, sentido] : AmbasColumnasYSentidos) {
            m.sort(columna, sentido);
            ASSERT_TRUE(seguida.isValid());
            EXPECT_EQ(m.Texto(seguida.row(), 0) + u'|' + m.Texto(seguida.row(), 1), texto);
        }
        m.Limpiar();
        EXPECT_EQ(m.rowCount(), 0);
        cargar(1, Qt::DescendingOrder);
        EXPECT_EQ(m.rowCount(), int(filas.size()));
    }
    qInstallMessageHandler(anterior);
    EXPECT_TRUE(fallos.isEmpty()) << fallos.join(u'\n').toStdString();
}

TEST(ModeloConsulta, SinFilas) {
    ModeloConsulta m;
    Cargar(m, {}, 2);
    m.Ordenar(0, Qt::AscendingOrder);
    EXPECT_EQ(m.Buscar(0, u""), -1);
    EXPECT_EQ(m.Buscar(1, u"x"), -1);
    EXPECT_EQ(m.rowCount(), 0);
}

// Numbers and dates sort by value, before texts (which keep the Spanish order), after Null and
// blank cells; in a column of numbers the search is a pass over the texts, so "9" finds 9.
TEST(ModeloConsulta, NumerosYFechasPorValor) {
    const qint64 grande = (qint64(1) << 53) + 1; // not a double: told from 2^53 by its value
    const std::vector<std::pair<QVariant, QVariant>> celdas = {
        {qlonglong(901), QDate(2024, 1, 2)},
        {qlonglong(88), QDateTime(QDate(2024, 1, 1), QTime(10, 0))},
        {QVariant(), QVariant()},
        {qlonglong(9), QDate(2023, 12, 31)},
        {QStringLiteral("abc"), QStringLiteral("sin fecha")},
        {2.5, QDate(2024, 1, 1)},
        {qlonglong(90), QTime(8, 30)},
        {qlonglong(-5), QDate(1999, 5, 5)},
        {QStringLiteral("  "), QDate(2024, 1, 1)},
        {qlonglong(grande), QVariant()},
        {double(qint64(1) << 53), QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59, 999))},
        {-0.0, QStringLiteral("Ábaco")},
        {qlonglong(89), QVariant()},
        {0, QDate(2024, 1, 2)},
        {true, QDate()},
    };
    ModeloConsulta m;
    m.AgregarColumna("CODIGO");
    m.AgregarColumna("FECHA");
    m.IniciarCarga();
    for (const auto& [codigo, fecha] : celdas) {
        const QString textos[2] = {codigo.isNull() ? QString() : codigo.toString(),
                                   fecha.isNull() ? QString() : fecha.toString()};
        const QStringView vistas[2] = {textos[0], textos[1]};
        const ValorCelda valores[2] = {ValorDeCampo(codigo), ValorDeCampo(fecha)};
        m.AgregarFila(vistas, 2, valores);
    }
    m.TerminarCarga();
    EXPECT_TRUE(m.PorValor(0));
    EXPECT_TRUE(m.PorValor(1));

    // Blank and Null first (in stored order), then -5 < -0.0 = 0 < true = 1 < 2.5 < 9 < 88 <
    // 89 < 90 < 901 < 2^53 < 2^53 + 1, then the texts.
    const std::vector<int> ascendente = {2, 8, 7, 11, 13, 14, 5, 3, 1, 12, 6, 0, 10, 9, 4};
    auto filas = [&] {
        std::vector<int> r;
        for (int i = 0; i < m.rowCount(); ++i)
            r.push_back(m.FilaAlmacenada(i));
        return r;
    };
    m.Ordenar(0, Qt::AscendingOrder);
    EXPECT_EQ(filas(), ascendente);
    EXPECT_EQ(m.Buscar(0, u"9"), 7);   // 9, though 901 and 90 come later and 88 before
    EXPECT_EQ(m.Buscar(0, u"90"), 10); // 90
    EXPECT_EQ(m.Buscar(0, u"ab"), 14);
    for (const char* q : {"", "8", "89", "9007", "-", "0", "x"})
        EXPECT_EQ(m.Buscar(0, QString::fromLatin1(q)), m.BuscarLineal(0, QString::fromLatin1(q))) << q;
    // Descending: the reverse, equal keys still in stored order (-0.0 before 0, blank rows).
    m.Ordenar(0, Qt::DescendingOrder);
    EXPECT_EQ(filas(), (std::vector<int>{4, 9, 10, 0, 6, 12, 1, 3, 5, 14, 11, 13, 7, 2, 8}));
    // Dates: by day and time, a time alone before every date; the empty cells (Null, and the
    // invalid date) and the texts at the ends. Equal keys keep the order the sort found.
    m.Ordenar(1, Qt::AscendingOrder);
    EXPECT_EQ(filas(), (std::vector<int>{9, 12, 14, 2, 6, 7, 3, 10, 5, 8, 1, 0, 13, 11, 4}));
}

// A loading sorted as it goes (runs merged from both ends) gives exactly what a stable sort
// after the loading gives, for texts and values, both ways, with long shared prefixes and
// equal keys.
TEST(ModeloConsulta, CargaOrdenadaIgualAOrdenarDespues) {
    // Seed 2 has texts before the column's first number (their keys change kind mid-loading).
    for (int semilla : {2, 23}) {
        SCOPED_TRACE(semilla);
        QRandomGenerator azar(semilla);
        const QStringList piezas = {"cliente numero ",
                                    "CLIENTE NUMERO ",
                                    "0",
                                    "1",
                                    "a",
                                    "Á",
                                    "ñ",
                                    "Ω",
                                    " ",
                                    QString(QChar(0)),
                                    "z",
                                    "😀"};
        struct Fila {
            QString texto;
            QVariant valor;
        };
        std::vector<Fila> filas;
        for (int i = 0; i < 3000; ++i) {
            Fila f;
            // Most rows share their first twenty characters, the middle of the order among them.
            const bool prefijo = azar.bounded(10) < 7;
            f.texto =
                (prefijo ? QStringLiteral("Cliente Numero 00000") : QString()) + TextoAzar(azar, piezas, 6);
            switch (azar.bounded(5)) {
            case 0:
                f.valor = qlonglong(azar.bounded(40)) - 20;
                break;
            case 1:
                f.valor = double(azar.bounded(40)) / 4 - 5;
                break;
            case 2:
                f.valor = QDate(2024, 1, 1).addDays(azar.bounded(30));
                break;
            case 3:
                f.valor = QVariant();
                break;
            default:
                f.valor = f.texto;
            }
            filas.push_back(f);
        }
        auto cargar = [&](ModeloConsulta& m, int columna, Qt::SortOrder sentido) {
            m.AgregarColumna("TEXTO");
            m.AgregarColumna("VALOR");
            m.FilasPorCorrida(97);
            m.IniciarCarga(columna, sentido);
            for (const Fila& f : filas) {
                const QString valorTexto = f.valor.isNull() ? QString() : f.valor.toString();
                const QStringView vistas[2] = {f.texto, valorTexto};
                const ValorCelda valores[2] = {ValorCelda{}, ValorDeCampo(f.valor)};
                m.AgregarFila(vistas, 2, valores);
            }
            m.CompletarCarga();
            m.TerminarCarga();
        };
        for (int columna : {0, 1})
            for (Qt::SortOrder sentido : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                ModeloConsulta cargado, despues;
                cargar(cargado, columna, sentido);
                cargar(despues, -1, sentido);
                despues.Ordenar(columna, sentido);
                ASSERT_EQ(cargado.rowCount(), int(filas.size()));
                for (int i = 0; i < cargado.rowCount(); ++i) {
                    ASSERT_EQ(cargado.FilaAlmacenada(i), despues.FilaAlmacenada(i))
                        << "columna " << columna << " sentido " << sentido << " fila " << i;
                }
                EXPECT_EQ(cargado.Buscar(columna, u"1"), despues.BuscarLineal(columna, u"1"));
            }
    }
}
