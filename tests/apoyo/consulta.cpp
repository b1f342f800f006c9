#include "apoyo/consulta.h"

#include "suite/globales.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTest>

QConsulta Mascara(const QString& nombre, const QString& tabla, const QString& campos, const QString& filtro) {
    QConsulta m;
    m.Nombre = nombre;
    m.Tabla = tabla;
    m.Campos = campos;
    m.Filtro = filtro;
    m.FinLinea = QStringLiteral("\r\n");
    return m;
}

void EscribirMascaras(const QString& ruta, const std::vector<QConsulta>& registros) {
    QFile::remove(ruta);
    EscritorMascaras escritor(ruta);
    for (const QConsulta& r : registros)
        escritor.Agregar(r);
    escritor.Cerrar();
}

QByteArray LeerBytes(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void GuardarBytes(const QString& ruta, const QByteArray& bytes) {
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

GuionDialogo::GuionDialogo(Accion accion, std::function<void(Lib_FrmCons2&)> antes)
    : accion_(accion), antes_(std::move(antes)) {
    reloj_.setInterval(5);
    QObject::connect(&reloj_, &QTimer::timeout, [this] { Mirar(); });
    reloj_.start();
}

void GuionDialogo::Mirar() {
    auto* d = qobject_cast<Lib_FrmCons2*>(QApplication::activeModalWidget());
    if (!d) {
        if (++vueltas_ > 1000) {
            reloj_.stop();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<Lib_FrmCons2*>(w) && w->isVisible()) w->hide();
        }
        return;
    }
    reloj_.stop();
    visto_.mostrado = true;
    visto_.SQL = d->SQL;
    visto_.CampoDevuelto = d->CampoDevuelto;
    visto_.CmpsDevueltos = d->CmpsDevueltos;
    visto_.CheckBoxes = d->CheckBoxes;
    visto_.gConnString = d->gConnString;
    visto_.FiltroInicial = d->FiltroInicial;
    visto_.CampoBusqueda = d->CampoBusqueda;
    visto_.Valores = d->Valores;
    visto_.Cantidades = d->Cantidades;
    visto_.UsaCantidades = d->UsaCantidades;
    visto_.dialogo = d;
    if (antes_) antes_(*d);
    // The button when the dialog has it, else its key.
    auto pulsar = [d](const char* boton, Qt::Key tecla) {
        if (auto* b = d->findChild<QAbstractButton*>(QLatin1String(boton)))
            b->click();
        else
            QTest::keyClick(d, tecla);
    };
    switch (accion_) {
    case Accion::Cancelar:
        pulsar("CmdCancelar", Qt::Key_Escape);
        break;
    case Accion::Aceptar:
        pulsar("CmdAceptar", Qt::Key_Return);
        break;
    case Accion::Cerrar:
        d->close();
        break;
    }
}

void PruebaConsulta::SetUp() {
    PruebaSistema::SetUp();
    base_ = Ruta(QStringLiteral("conta.db"));
    mascaras_ = Ruta(QStringLiteral("consultas.vlm"));
    EjecutarSql(base_, demodb::SentenciasTablas());
    EjecutarSql(base_,
                {
                    "INSERT INTO V_MA_ARTICULOS (DESCRIPCION, IDARTICULO, SUSPENDIDO) VALUES "
                    "('Aceite de oliva', 'A001', 0), ('Azúcar', 'A002', 1)",
                    "INSERT INTO VT_CLIENTES (RAZON_SOCIAL, CODIGO, CONTACTO, Dada_De_Baja) VALUES "
                    "('Bodegas Ruiz', 101, 'Ana', 0), ('O''Brien y Cía', 102, 'Luis', 0), "
                    "('Cerrajería Sol', 50, 'Eva', 1)",
                    "INSERT INTO VT_PROVEEDORES (RAZON_SOCIAL, CODIGO, Dada_De_Baja) VALUES "
                    "('Harinas del Sur', 7, 0)",
                    "INSERT INTO MA_CONTACTOS (Nombre_y_Apellido, Domicilio, Localidad, Telefono) VALUES "
                    "('Marta Gil', 'Mayor 1', 'Soria', '975000000')",
                });
    gSesion().setDbName(base_);
    gSesion().Conectar();
    ASSERT_TRUE(gSesion().Conectado());
    c_ = std::make_unique<Lib_ClsCons2>();
    c_->gConnString = gSesion().CadenaConexion();
    c_->gUsarMascarasConsultas = Verdadero;
    c_->gRutaMascaraConsultas = mascaras_;
}

void PruebaConsulta::TearDown() {
    c_.reset();
    PruebaSistema::TearDown();
}

VistoEnDialogo PruebaConsulta::Pedir(const QString& sql, ColeccionRef& cmps, const QString& clave,
                                     QString& campoBusqueda, GuionDialogo::Accion accion,
                                     std::function<void(Lib_FrmCons2&)> antes) {
    GuionDialogo guion(accion, std::move(antes));
    c_->ConsultaSearch(sql, cmps, clave, campoBusqueda);
    return guion.Visto();
}

QString PruebaConsulta::Sentencia(const QString& sql) {
    ColeccionRef ninguna;
    QString campo;
    const VistoEnDialogo visto = Pedir(sql, ninguna, QString(), campo);
    EXPECT_TRUE(visto.mostrado);
    EXPECT_EQ(visto.SQL, c_->UltimoSQL());
    return c_->UltimoSQL();
}

void PruebaConsulta::MascarasPredeterminadasEn(const QString& ruta) {
    std::vector<QConsulta> r;
    for (const auto& m : MascarasPredeterminadas)
        r.push_back(Mascara(QString::fromLatin1(m.Nombre), QString::fromLatin1(m.Tabla),
                            QString::fromLatin1(m.Campos)));
    EscribirMascaras(ruta, r);
}
