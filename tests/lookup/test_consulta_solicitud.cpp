// The lookup request: finding the mask, building the statement, the hand-over to the dialog,
// the results handed back and the options consumed by every request.
#include "apoyo/consulta.h"
#include "suite/globales.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QTableView>
#include <sys/stat.h>

using Accion = GuionDialogo::Accion;

namespace {
// A table asked for, the statement the dialog gets and the search field set.
struct Pedido {
    const char* pedido;
    const char* sentencia;
    const char* campo;
};
} // namespace

TEST_F(PruebaConsulta, LasCuatroMascarasPredeterminadas) {
    MascarasPredeterminadasEn(mascaras_);
    const QByteArray antes = LeerBytes(mascaras_);
    const Pedido casos[] = {
        {"V_MA_ARTICULOS", "SELECT DESCRIPCION,IDARTICULO FROM V_MA_ARTICULOS WHERE SUSPENDIDO = 0",
         "DESCRIPCION"},
        {"VT_CLIENTES", "SELECT RAZON_SOCIAL,CODIGO,CONTACTO FROM VT_CLIENTES WHERE Dada_De_Baja = 0",
         "RAZON_SOCIAL"},
        {"VT_PROVEEDORES", "SELECT RAZON_SOCIAL,CODIGO FROM VT_PROVEEDORES WHERE Dada_De_Baja = 0",
         "RAZON_SOCIAL"},
        {"MA_CONTACTOS", "SELECT Nombre_y_Apellido,Domicilio,Localidad,Telefono FROM MA_CONTACTOS",
         "Nombre_y_Apellido"},
        // Any case, surrounding blanks: the table of the mask, not the text asked for.
        {"  vt_clientes ", "SELECT RAZON_SOCIAL,CODIGO,CONTACTO FROM VT_CLIENTES WHERE Dada_De_Baja = 0",
         "RAZON_SOCIAL"},
        {"v_ma_articulos", "SELECT DESCRIPCION,IDARTICULO FROM V_MA_ARTICULOS WHERE SUSPENDIDO = 0",
         "DESCRIPCION"},
        // The label is not a key: no mask, so the name is listed whole.
        {"ARTICULOS", "SELECT * FROM ARTICULOS", ""},
    };
    for (const Pedido& c : casos) {
        ColeccionRef ninguna;
        QString campo;
        const VistoEnDialogo visto = Pedir(QString::fromUtf8(c.pedido), ninguna, QString(), campo);
        ASSERT_TRUE(visto.mostrado) << c.pedido;
        EXPECT_EQ(visto.SQL, QString::fromUtf8(c.sentencia)) << c.pedido;
        EXPECT_EQ(c_->UltimoSQL(), visto.SQL) << c.pedido;
        EXPECT_EQ(campo, QString::fromUtf8(c.campo)) << c.pedido;
        EXPECT_EQ(visto.CampoBusqueda, campo) << c.pedido << ": the dialog gets the field as set";
    }
    EXPECT_EQ(LeerBytes(mascaras_), antes) << "the request never writes the masks file";
}

TEST_F(PruebaConsulta, CampoBusquedaDelLlamador) {
    MascarasPredeterminadasEn(mascaras_);
    ColeccionRef ninguna;
    QString campo = QStringLiteral("CODIGO");
    Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo);
    EXPECT_EQ(campo, QStringLiteral("CODIGO"));
    // Only an exactly empty field is filled.
    campo = QStringLiteral("  ");
    Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo);
    EXPECT_EQ(campo, QStringLiteral("  "));
}

TEST_F(PruebaConsulta, MascarasHechasAMedida) {
    EscribirMascaras(mascaras_,
                     {
                         Mascara("CLI", "VT_CLIENTES", "|RAZON_SOCIAL|CODIGO|CONTACTO|", "CODIGO > 100"),
                         Mascara("PRV", "VT_PROVEEDORES", "|CODIGO|"),
                         Mascara("ART", "V_MA_ARTICULOS", ""),
                         Mascara("RARA", "MA_CONTACTOS", "||Localidad|"),
                         Mascara("COMILLAS", "OTRA", "|RAZON_SOCIAL|",
                                 "RAZON_SOCIAL <> 'O''Brien y Cía' AND \"CODIGO\" > 0"),
                         Mascara("TABLA_LIBRE", "TA_LIBRE", "|A|B|"),
                         Mascara("DOBLE", "VT_CLIENTES", "|CODIGO|"),
                     });
    const Pedido casos[] = {
        // The mask's own filter stands; no default filter is added.
        {"VT_CLIENTES", "SELECT RAZON_SOCIAL,CODIGO,CONTACTO FROM VT_CLIENTES WHERE CODIGO > 100",
         "RAZON_SOCIAL"},
        // One column: no search field.
        {"VT_PROVEEDORES", "SELECT CODIGO FROM VT_PROVEEDORES WHERE Dada_De_Baja = 0", ""},
        // Blank columns: all of them.
        {"V_MA_ARTICULOS", "SELECT * FROM V_MA_ARTICULOS WHERE SUSPENDIDO = 0", ""},
        // ",,Localidad," loses one comma at each end only.
        {"MA_CONTACTOS", "SELECT ,Localidad FROM MA_CONTACTOS", ""},
        // Quotes go through untouched.
        {"OTRA", "SELECT RAZON_SOCIAL FROM OTRA WHERE RAZON_SOCIAL <> 'O''Brien y Cía' AND \"CODIGO\" > 0",
         ""},
        // No default filter for other tables.
        {"ta_libre", "SELECT A,B FROM TA_LIBRE", "A"},
    };
    for (const Pedido& c : casos) {
        ColeccionRef ninguna;
        QString campo;
        const VistoEnDialogo visto = Pedir(QString::fromUtf8(c.pedido), ninguna, QString(), campo);
        EXPECT_EQ(visto.SQL, QString::fromUtf8(c.sentencia)) << c.pedido;
        EXPECT_EQ(campo, QString::fromUtf8(c.campo)) << c.pedido;
    }
}

TEST_F(PruebaConsulta, RellenoConCerosY255) {
    // The suite's own writer leaves characters 0 (or 255) where nothing was assigned.
    QConsulta ceros = Mascara("X", "", "|RAZON_SOCIAL|CODIGO|");
    ceros.Tabla = QStringLiteral("VT_CLIENTES") + QString(89, QChar(0));
    ceros.Filtro = QStringLiteral("CODIGO < 200") + QString(488, QChar(0));
    QConsulta altos = Mascara("Y", "", "|RAZON_SOCIAL|");
    altos.Tabla = QString(3, QChar(0xFF)) + QStringLiteral("VT_PROVEEDORES") + QString(83, QChar(0xFF));
    altos.Filtro = QString(500, QChar(0xFF));
    EscribirMascaras(mascaras_, {ceros, altos});
    ASSERT_EQ(LeerBytes(mascaras_).mid(111, 89), QByteArray(89, '\0'));
    ASSERT_EQ(LeerBytes(mascaras_).mid(1202 + 1202 - 2 - 500, 500), QByteArray(500, '\xFF'));

    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")),
              QStringLiteral("SELECT RAZON_SOCIAL,CODIGO FROM VT_CLIENTES WHERE CODIGO < 200"));
    // A filter made of 255s only is no filter: the default one applies.
    EXPECT_EQ(Sentencia(QStringLiteral("VT_PROVEEDORES")),
              QStringLiteral("SELECT RAZON_SOCIAL FROM VT_PROVEEDORES WHERE Dada_De_Baja = 0"));
}

TEST_F(PruebaConsulta, SinMascaraLaSentenciaPasaTalCual) {
    const QString sentencia =
        QStringLiteral("  SELECT RAZON_SOCIAL FROM VT_CLIENTES WHERE RAZON_SOCIAL = 'O''Brien y Cía' ");

    // Masks in use but no file.
    EXPECT_EQ(Sentencia(sentencia), sentencia);
    EXPECT_FALSE(QFile::exists(mascaras_));

    // Masks off: even a table name that has a mask reaches the dialog as its statement.
    MascarasPredeterminadasEn(mascaras_);
    c_->gUsarMascarasConsultas = Falso;
    ColeccionRef ninguna;
    QString campo;
    EXPECT_EQ(Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo).SQL,
              QStringLiteral("VT_CLIENTES"));
    EXPECT_TRUE(campo.isEmpty());
    EXPECT_EQ(Sentencia(sentencia), sentencia);

    // Any non-zero flag counts as set.
    c_->gUsarMascarasConsultas = 1;
    EXPECT_EQ(Sentencia(QStringLiteral("MA_CONTACTOS")),
              QStringLiteral("SELECT Nombre_y_Apellido,Domicilio,Localidad,Telefono FROM MA_CONTACTOS"));

    // A folder at the path is no file: no mask, the table whole.
    c_->gRutaMascaraConsultas = dir_.path();
    EXPECT_EQ(Sentencia(QStringLiteral("MA_CONTACTOS")), QStringLiteral("SELECT * FROM MA_CONTACTOS"));
}

TEST_F(PruebaConsulta, ArchivosDanados) {
    const QByteArray clientes = CodificarRegistro(Mascara("C", "VT_CLIENTES", "|CODIGO|RAZON_SOCIAL|"));
    const QByteArray contactos = CodificarRegistro(Mascara("K", "MA_CONTACTOS", "|Localidad|"));
    const QString conMascara =
        QStringLiteral("SELECT CODIGO,RAZON_SOCIAL FROM VT_CLIENTES WHERE Dada_De_Baja = 0");
    const QString sinMascara = QStringLiteral("SELECT * FROM VT_CLIENTES WHERE Dada_De_Baja = 0");

    // A torn last record is not read; the whole ones before it are.
    GuardarBytes(mascaras_, clientes + contactos.left(1201));
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), conMascara);
    EXPECT_EQ(Sentencia(QStringLiteral("MA_CONTACTOS")), QStringLiteral("SELECT * FROM MA_CONTACTOS"));

    // Padding after the records, of zeros or of 255s, matches nothing.
    GuardarBytes(mascaras_, clientes + QByteArray(2404, '\0'));
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), conMascara);
    GuardarBytes(mascaras_, clientes + QByteArray(1202, '\xFF'));
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), conMascara);
    EXPECT_TRUE(Guion().Avisos().empty()) << "a torn record or padding is no reason to warn";

    // An empty file, and one that opens but cannot be read.
    GuardarBytes(mascaras_, QByteArray());
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), sinMascara);
    EXPECT_EQ(LeerBytes(mascaras_).size(), 0);
    c_->gRutaMascaraConsultas = QStringLiteral("/proc/self/mem");
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), sinMascara);
    // A pipe at the path is no file: the request must not wait on it.
    const QString tuberia = Ruta(QStringLiteral("tuberia.vlm"));
    ASSERT_EQ(mkfifo(QFile::encodeName(tuberia).constData(), 0600), 0);
    c_->gRutaMascaraConsultas = tuberia;
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")), sinMascara);
    EXPECT_TRUE(Guion().Avisos().empty());
}

// With no mask for it, a table or view name alone lists the whole table (never runs as a
// statement); a masks file that is no run of 1202-byte records is said once, by name.
TEST_F(PruebaConsulta, NombreDeTablaSinMascara) {
    struct Caso {
        const char* pedido;
        const char* sentencia;
    };
    const Caso casos[] = {
        {" VT_CLIENTES ", "SELECT * FROM VT_CLIENTES WHERE Dada_De_Baja = 0"},
        {"ma_contactos", "SELECT * FROM ma_contactos"},
        {"dbo.MA_CONTACTOS", "SELECT * FROM dbo.MA_CONTACTOS"},
        {"[Mis Tablas].\"Una Vista\"", "SELECT * FROM [Mis Tablas].\"Una Vista\""},
        // Anything else is the caller's statement.
        {"SELECT CODIGO FROM VT_CLIENTES", "SELECT CODIGO FROM VT_CLIENTES"},
        {"VT_CLIENTES WHERE CODIGO = 1", "VT_CLIENTES WHERE CODIGO = 1"},
        {"VT_CLIENTES;", "VT_CLIENTES;"},
        {"VT_CLIENTES\n", "VT_CLIENTES\n"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(Sentencia(QString::fromUtf8(c.pedido)), QString::fromUtf8(c.sentencia)) << c.pedido;
    Guion().Limpiar(); // the tables above that do not exist were reported

    // The table is listed: rows and no error report.
    ColeccionRef ninguna;
    QString campo;
    int filas = -1;
    Pedir(QStringLiteral("MA_CONTACTOS"), ninguna, QString(), campo, GuionDialogo::Accion::Cancelar,
          [&](Lib_FrmCons2& d) { filas = d.Lista()->model()->rowCount(); });
    EXPECT_GT(filas, 0);
    EXPECT_TRUE(campo.isEmpty());
    EXPECT_TRUE(Guion().Avisos().empty());

    // A masks file edited as text (LF line ends): said once, naming the file; the name is
    // still listed whole, and the file is left as it was.
    QByteArray texto;
    for (const auto& m : MascarasPredeterminadas)
        texto += CodificarRegistro(Mascara(m.Nombre, m.Tabla, m.Campos)).left(1200) + '\n';
    GuardarBytes(mascaras_, texto);
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")),
              QStringLiteral("SELECT * FROM VT_CLIENTES WHERE Dada_De_Baja = 0"));
    EXPECT_EQ(Sentencia(QStringLiteral("MA_CONTACTOS")), QStringLiteral("SELECT * FROM MA_CONTACTOS"));
    ASSERT_EQ(Guion().Avisos().size(), 1u);
    EXPECT_TRUE(Guion().Avisos()[0].texto.contains(mascaras_)) << Guion().Avisos()[0].texto.toStdString();
    EXPECT_EQ(LeerBytes(mascaras_), texto);
    // Shorter lines, and a record pushed off the grid, are no records either.
    GuardarBytes(mascaras_, "VT_CLIENTES|CODIGO|\r\n");
    c_ = std::make_unique<Lib_ClsCons2>();
    c_->gUsarMascarasConsultas = Verdadero;
    c_->gRutaMascaraConsultas = mascaras_;
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")),
              QStringLiteral("SELECT * FROM VT_CLIENTES WHERE Dada_De_Baja = 0"));
    GuardarBytes(mascaras_,
                 QByteArray(150, '\xFF') + CodificarRegistro(Mascara("C", "VT_CLIENTES", "|CODIGO|")));
    EXPECT_EQ(Sentencia(QStringLiteral("VT_CLIENTES")),
              QStringLiteral("SELECT * FROM VT_CLIENTES WHERE Dada_De_Baja = 0"));
    EXPECT_EQ(Guion().Avisos().size(), 2u) << "once for this request object and file";
    // Mended, the file's masks apply again.
    MascarasPredeterminadasEn(mascaras_);
    EXPECT_EQ(Sentencia(QStringLiteral("VT_PROVEEDORES")),
              QStringLiteral("SELECT RAZON_SOCIAL,CODIGO FROM VT_PROVEEDORES WHERE Dada_De_Baja = 0"));
    EXPECT_EQ(Guion().Avisos().size(), 2u);
}

TEST_F(PruebaConsulta, EntregaAlDialogoYOpcionesConsumidas) {
    MascarasPredeterminadasEn(mascaras_);
    c_->Checks = Verdadero;
    c_->UsaCantidades = Verdadero;
    c_->CampoDevuelto = QStringLiteral("CODIGO");
    ColeccionRef cmps = NuevaColeccion();
    cmps->Add(QStringLiteral("CODIGO"));
    cmps->Add(QStringLiteral("CONTACTO"));
    const ColeccionRef retenida = cmps;
    QString campo;

    const VistoEnDialogo visto = Pedir(QStringLiteral("VT_CLIENTES"), cmps, QStringLiteral("Bod"), campo);
    ASSERT_TRUE(visto.mostrado);
    EXPECT_EQ(visto.FiltroInicial, QStringLiteral("Bod"));
    EXPECT_EQ(visto.CampoBusqueda, QStringLiteral("RAZON_SOCIAL"));
    EXPECT_EQ(visto.gConnString, gSesion().CadenaConexion());
    EXPECT_EQ(visto.CampoDevuelto, QStringLiteral("CODIGO"));
    EXPECT_EQ(visto.CheckBoxes, Verdadero);
    EXPECT_EQ(visto.UsaCantidades, Verdadero);
    EXPECT_EQ(visto.CmpsDevueltos, retenida) << "the caller's collection itself, not a copy";
    ASSERT_TRUE(visto.Valores) << "the dialog makes its own collections when it loads";
    ASSERT_TRUE(visto.Cantidades);

    // Consumed: Checks, CampoDevuelto and the list of columns; UsaCantidades is kept.
    EXPECT_EQ(c_->Checks, Falso);
    EXPECT_TRUE(c_->CampoDevuelto.isEmpty());
    EXPECT_EQ(c_->UsaCantidades, Verdadero);
    EXPECT_FALSE(cmps);
    EXPECT_EQ(retenida->Count(), 0);
    // The dialog went with the request.
    EXPECT_TRUE(visto.dialogo.isNull());

    // Passing the class's own list sets the member to nothing.
    c_->CmpsDevueltos->Add(QStringLiteral("CODIGO"));
    Pedir(QStringLiteral("VT_CLIENTES"), c_->CmpsDevueltos, QString(), campo);
    EXPECT_FALSE(c_->CmpsDevueltos);
    // Nothing passed stays nothing; the flags were off this time.
    ColeccionRef ninguna;
    const VistoEnDialogo segundo = Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo);
    EXPECT_FALSE(segundo.CmpsDevueltos);
    EXPECT_EQ(segundo.CheckBoxes, Falso);
    EXPECT_TRUE(segundo.CampoDevuelto.isEmpty());
}

TEST_F(PruebaConsulta, ResultadosCanceladoAceptadoCerrado) {
    MascarasPredeterminadasEn(mascaras_);
    ColeccionRef ninguna;
    QString campo;

    const VistoEnDialogo cancelado =
        Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo, Accion::Cancelar);
    ASSERT_TRUE(cancelado.mostrado);
    EXPECT_FALSE(c_->Valores) << "a cancelled lookup has no Valores";
    ASSERT_TRUE(c_->Cantidades);
    EXPECT_EQ(c_->Cantidades->Count(), 0);
    EXPECT_EQ(c_->Cantidades, cancelado.Cantidades) << "shared with the dialog, not copied";
    EXPECT_TRUE(c_->ValorDevuelto.isValid());
    EXPECT_EQ(c_->ValorDevuelto.toString(), QString());

    // Accepted with no row selected: empty collections, nothing returned.
    c_->Checks = Verdadero;
    const VistoEnDialogo aceptado =
        Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo, Accion::Aceptar);
    ASSERT_TRUE(aceptado.mostrado);
    ASSERT_TRUE(c_->Valores);
    EXPECT_EQ(c_->Valores, aceptado.Valores);
    EXPECT_EQ(c_->Valores->Count(), 0);
    EXPECT_FALSE(c_->ValorDevuelto.isValid());

    // The operator closes the window.
    c_->ValorDevuelto = QStringLiteral("previo");
    const VistoEnDialogo cerrado =
        Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo, Accion::Cerrar);
    ASSERT_TRUE(cerrado.mostrado);
    ASSERT_TRUE(c_->Valores);
    EXPECT_EQ(c_->Valores->Count(), 0);
    EXPECT_FALSE(c_->ValorDevuelto.isValid());
}

TEST_F(PruebaConsulta, CadaPeticionConSuDialogo) {
    MascarasPredeterminadasEn(mascaras_);
    ColeccionRef ninguna;
    QString campo;
    const VistoEnDialogo primero =
        Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo, Accion::Cancelar,
              [](Lib_FrmCons2& d) { d.setProperty("marcado", true); });
    EXPECT_TRUE(primero.dialogo.isNull());
    bool marcado = true;
    const VistoEnDialogo segundo =
        Pedir(QStringLiteral("VT_CLIENTES"), ninguna, QString(), campo, Accion::Cancelar,
              [&](Lib_FrmCons2& d) { marcado = d.property("marcado").isValid(); });
    ASSERT_TRUE(segundo.mostrado);
    EXPECT_FALSE(marcado);
    EXPECT_NE(primero.Valores, segundo.Valores);
}

TEST_F(PruebaConsulta, AceptadoConLaFilaDeLaClave) {
    // End to end: the mask's statement (with its default filter) is what the dialog lists,
    // the key selects a row, and the accept's values reach the caller.
    MascarasPredeterminadasEn(mascaras_);
    c_->UsaCantidades = Verdadero;
    c_->CampoDevuelto = QStringLiteral("RAZON_SOCIAL");
    ColeccionRef cmps = NuevaColeccion();
    cmps->Add(QStringLiteral("CODIGO"));
    cmps->Add(QStringLiteral("CONTACTO"));
    QString campo;
    int filas = -1;
    const VistoEnDialogo visto =
        Pedir(QStringLiteral("VT_CLIENTES"), cmps, QStringLiteral("bod"), campo, Accion::Aceptar,
              [&](Lib_FrmCons2& d) { filas = d.Lista()->model()->rowCount(); });
    ASSERT_TRUE(visto.mostrado);
    EXPECT_EQ(filas, 2) << "Dada_De_Baja = 0 leaves one customer out";
    ASSERT_TRUE(c_->Valores);
    EXPECT_EQ(c_->Valores->Lista(), QStringList({QStringLiteral("101"), QStringLiteral("Ana")}));
    EXPECT_EQ(c_->ValorDevuelto.toString(), QStringLiteral("Bodegas Ruiz"));
    ASSERT_TRUE(c_->Cantidades);
    EXPECT_EQ(c_->Cantidades->Lista(), QStringList({QString()}));
    EXPECT_EQ(c_->UsaCantidades, Verdadero);
}
