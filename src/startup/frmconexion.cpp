#include "startup/frmconexion.h"

#include "suite/interfaz_qt.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
// What an item of the source list stands for.
enum class Elemento { Origen, Archivo, ElegirArchivo };
constexpr int RolElemento = Qt::UserRole;
constexpr int RolNombre = Qt::UserRole + 1;

Elemento elementoDe(const QComboBox* c, int i) {
    return static_cast<Elemento>(c->itemData(i, RolElemento).toInt());
}

// Restores the cursor however the attempt ends.
struct CursorOcupado {
    CursorOcupado() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CursorOcupado() { QApplication::restoreOverrideCursor(); }
    CursorOcupado(const CursorOcupado&) = delete;
    CursorOcupado& operator=(const CursorOcupado&) = delete;
};
} // namespace

FrmConexion::FrmConexion(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmConexion"));
    setWindowTitle(QStringLiteral("Conexión con la base de datos"));

    auto* intro = new QLabel(QStringLiteral("Elija la base de datos de la suite con la que trabajar."), this);
    CmbOrigen = new QComboBox(this);
    CmbOrigen->setObjectName(QStringLiteral("CmbOrigen"));
    CmbOrigen->setMinimumContentsLength(36);
    CmbOrigen->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    txtUsuario = new QLineEdit(this);
    txtUsuario->setObjectName(QStringLiteral("txtUsuario"));
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    lblFallo = new QLabel(this);
    lblFallo->setObjectName(QStringLiteral("lblFallo"));
    lblFallo->setWordWrap(true);
    lblFallo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFallo->setStyleSheet(QStringLiteral("color: #a00000"));
    lblFallo->hide();
    CmdConectar = new QPushButton(QStringLiteral("Conectar"), this);
    CmdConectar->setObjectName(QStringLiteral("CmdConectar"));
    CmdConectar->setDefault(true);
    CmdCancelar = new QPushButton(QStringLiteral("Cancelar"), this);
    CmdCancelar->setObjectName(QStringLiteral("CmdCancelar"));
    CmdCancelar->setAutoDefault(false);

    disponer(intro);
    QWidget* foco = llenarOrigenes();
    elegidoAntes_ = CmbOrigen->currentIndex();
    ajustarLogin();
    foco->setFocus();

    connect(CmbOrigen, &QComboBox::activated, this, &FrmConexion::CmbOrigen_Activated);
    connect(CmdConectar, &QPushButton::clicked, this, &FrmConexion::CmdConectar_Click);
    connect(CmdCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FrmConexion::disponer(QLabel* intro) {
    auto etiqueta = [this](const QString& texto, QWidget* control) {
        auto* l = new QLabel(texto, this);
        l->setBuddy(control);
        return l;
    };
    auto* grilla = new QGridLayout(this);
    grilla->addWidget(intro, 0, 0, 1, 2);
    grilla->addWidget(etiqueta(QStringLiteral("&Origen de datos:"), CmbOrigen), 1, 0);
    grilla->addWidget(CmbOrigen, 1, 1);
    grilla->addWidget(etiqueta(QStringLiteral("&Usuario:"), txtUsuario), 2, 0);
    grilla->addWidget(txtUsuario, 2, 1);
    grilla->addWidget(etiqueta(QStringLiteral("C&ontraseña:"), txtPassword), 3, 0);
    grilla->addWidget(txtPassword, 3, 1);
    grilla->addWidget(lblFallo, 4, 0, 1, 2);
    auto* botones = new QHBoxLayout;
    botones->addStretch();
    botones->addWidget(CmdConectar);
    botones->addWidget(CmdCancelar);
    grilla->addLayout(botones, 5, 0, 1, 2);
    grilla->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(CmbOrigen, txtUsuario);
    setTabOrder(txtUsuario, txtPassword);
    setTabOrder(txtPassword, CmdConectar);
    setTabOrder(CmdConectar, CmdCancelar);
}

QWidget* FrmConexion::llenarOrigenes() {
    for (const OrigenDatos& o : OrigenesDeDatos()) {
        const QString texto =
            o.descripcion.isEmpty() ? o.nombre : QStringLiteral("%1 (%2)").arg(o.nombre, o.descripcion);
        CmbOrigen->addItem(texto);
        CmbOrigen->setItemData(CmbOrigen->count() - 1, int(Elemento::Origen), RolElemento);
        CmbOrigen->setItemData(CmbOrigen->count() - 1, o.nombre, RolNombre);
    }
    CmbOrigen->addItem(QStringLiteral("Archivo SQLite…"));
    CmbOrigen->setItemData(CmbOrigen->count() - 1, int(Elemento::ElegirArchivo), RolElemento);

    // The last choice, preselected; its user too, never a password.
    QWidget* foco = CmbOrigen;
    CmbOrigen->setCurrentIndex(0);
    if (const auto ultima = UltimaEleccion()) {
        if (ultima->tipo == TipoOrigen::ArchivoSqlite) {
            CmbOrigen->setCurrentIndex(agregarArchivo(ultima->origen));
        } else {
            const int i = CmbOrigen->findData(ultima->origen, RolNombre, Qt::MatchFixedString);
            if (i >= 0) {
                CmbOrigen->setCurrentIndex(i);
                txtUsuario->setText(ultima->usuario);
                if (!ultima->usuario.isEmpty()) foco = txtPassword;
            }
        }
    }
    return foco;
}

FrmConexion::~FrmConexion() = default;

std::optional<EleccionConexion> FrmConexion::Eleccion() const {
    const int i = CmbOrigen->currentIndex();
    if (i < 0) return std::nullopt;
    switch (elementoDe(CmbOrigen, i)) {
    case Elemento::Origen:
        return EleccionConexion{TipoOrigen::Odbc, CmbOrigen->itemData(i, RolNombre).toString(),
                                txtUsuario->text(), txtPassword->text()};
    case Elemento::Archivo:
        return EleccionConexion{
            TipoOrigen::ArchivoSqlite, CmbOrigen->itemData(i, RolNombre).toString(), {}, {}};
    case Elemento::ElegirArchivo:
        break;
    }
    return std::nullopt;
}

void FrmConexion::setVisible(bool visible) {
    // Placed once, at its final size, before QDialog would place it from a provisional one.
    if (visible && !isVisible()) {
        adjustSize();
        CentrarFormulario(this);
    }
    QDialog::setVisible(visible);
}

void FrmConexion::CmbOrigen_Activated(int indice) {
    if (elementoDe(CmbOrigen, indice) == Elemento::ElegirArchivo && !elegirArchivo())
        CmbOrigen->setCurrentIndex(elegidoAntes_);
    elegidoAntes_ = CmbOrigen->currentIndex();
    ajustarLogin();
}

void FrmConexion::CmdConectar_Click() {
    if (!Eleccion() && !elegirArchivo()) return;
    elegidoAntes_ = CmbOrigen->currentIndex();
    ajustarLogin();
    const EleccionConexion eleccion = *Eleccion();
    std::optional<QString> fallo;
    {
        setEnabled(false);
        const CursorOcupado ocupado;
        fallo = ConectarEleccion(eleccion);
        setEnabled(true);
    }
    if (fallo) {
        mostrarFallo(*fallo);
        return;
    }
    RecordarEleccion(eleccion);
    accept();
}

bool FrmConexion::elegirArchivo() {
    QString carpeta = QDir::homePath();
    for (int i = CmbOrigen->count() - 1; i >= 0; --i)
        if (elementoDe(CmbOrigen, i) == Elemento::Archivo) {
            carpeta = QFileInfo(CmbOrigen->itemData(i, RolNombre).toString()).absolutePath();
            break;
        }
    const QString ruta = QFileDialog::getOpenFileName(
        this, QStringLiteral("Archivo SQLite"), carpeta,
        QStringLiteral("Bases de datos SQLite (*.db *.sqlite *.sqlite3);;Todos los archivos (*)"));
    if (ruta.isEmpty()) return false;
    CmbOrigen->setCurrentIndex(agregarArchivo(ruta));
    return true;
}

int FrmConexion::agregarArchivo(const QString& ruta) {
    const QString absoluta = QFileInfo(ruta).absoluteFilePath();
    const int existente = CmbOrigen->findData(absoluta, RolNombre, Qt::MatchExactly);
    if (existente >= 0) return existente;
    // Files go right before "Archivo SQLite…", which stays last.
    const int i = CmbOrigen->count() - 1;
    CmbOrigen->insertItem(i, QDir::toNativeSeparators(absoluta));
    CmbOrigen->setItemData(i, int(Elemento::Archivo), RolElemento);
    CmbOrigen->setItemData(i, absoluta, RolNombre);
    CmbOrigen->setItemData(i, absoluta, Qt::ToolTipRole);
    return i;
}

void FrmConexion::ajustarLogin() {
    // A SQLite file has no login.
    const bool login =
        CmbOrigen->currentIndex() < 0 || elementoDe(CmbOrigen, CmbOrigen->currentIndex()) == Elemento::Origen;
    txtUsuario->setEnabled(login);
    txtPassword->setEnabled(login);
}

void FrmConexion::mostrarFallo(const QString& texto) {
    lblFallo->setText(QString(texto).replace(QChar('\r'), QChar('\n')));
    lblFallo->show();
    QLineEdit* campo = txtPassword->isEnabled() ? txtPassword : nullptr;
    if (campo) {
        campo->setFocus();
        campo->selectAll();
    } else {
        CmbOrigen->setFocus();
    }
}

void InstalarDialogoConexion() {
    InstalarSelectorConexion([] {
        FrmConexion dialogo;
        return dialogo.exec() == QDialog::Accepted;
    });
}
