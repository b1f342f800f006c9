#pragma once
// The smaller suite components: INI files, workstation identity, the auxiliary component.
#include <QString>
#include <QVariant>

// The value of a key in a section of an INI text (section and key ignoring case), or the
// default. Bytes that are not UTF-8 are read as Latin-1.
QString ValorIni(const QByteArray& contenido, const QString& seccion, const QString& clave,
                 const QString& porDefecto);

class ArchivoIni {
public:
    // The key's value in that section of that file, or the default when the key (or the
    // file) is absent. Section and key match ignoring case. A bare file name is looked for
    // as BuscarArchivoAplicacion says (beside the executable, then the system and user folders).
    QString LeerValor(const QString& archivo, const QString& seccion, const QString& clave,
                      const QVariant& porDefecto) const;
};

class Equipo {
public:
    QString NombreEquipo() const;  // host name
    QString UsuarioEquipo() const; // login name
};

class Auxiliar {
public:
    void Inicializar(const QString& carpetaAplicacion) { carpeta_ = carpetaAplicacion; }
    QString Carpeta() const { return carpeta_; }

private:
    QString carpeta_;
};
