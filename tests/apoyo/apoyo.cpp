#include "apoyo.h"

#include "globales.h"
#include "modglobal.h"

void PruebaSistema::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion(dir_.path());
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    anterior_ = InstalarOperador(std::move(guion));
}

void PruebaSistema::TearDown() {
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion({});
    InstalarOperador(std::move(anterior_));
    guion_ = nullptr;
}

QString PruebaSistema::LineaPara(const QString& ruta, const QString& extra) {
    return QStringLiteral("@Server=;@DbName=%1;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;%2")
        .arg(ruta, extra);
}

QStringList PruebaSistema::Textos() const {
    QStringList r;
    for (const auto& a : guion_->Avisos())
        r << a.texto;
    return r;
}
