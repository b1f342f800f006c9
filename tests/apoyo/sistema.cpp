#include "apoyo/sistema.h"

#include "startup/modglobal.h"
#include "suite/globales.h"
#include "suite/ubicaciones.h"

void PruebaSistema::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion(dir_.path());
    // Files of the machine's /etc/cribanzas or of the user's folder must not leak into a test.
    entorno_.Fijar(VariableCarpetaSistema, Ruta("sistema").toLocal8Bit());
    entorno_.Fijar("XDG_CONFIG_HOME", Ruta("usuario").toLocal8Bit());
    // The purge archives go to the test's own data folder.
    entorno_.Fijar("XDG_DATA_HOME", Ruta("datos").toLocal8Bit());
    auto guion = std::make_unique<OperadorGuion>();
    guion_ = guion.get();
    anterior_ = InstalarOperador(std::move(guion));
}

void PruebaSistema::TearDown() {
    ReiniciarModGlobal();
    ReiniciarComponentes();
    EstablecerCarpetaAplicacion({});
    entorno_.Restaurar();
    InstalarOperador(std::move(anterior_));
    guion_ = nullptr;
}

QStringList EsquemaInicio() {
    return demodb::SentenciasTablas() +
           QStringList{
               "INSERT INTO MV_EJERCICIOS VALUES (2021, 'Ejercicio 2021', '2021-01-01', '2021-12-31', 1, 1)",
               "INSERT INTO MV_EJERCICIOS VALUES (2022, 'Ejercicio 2022', '2022-01-01', '2022-12-31', 1, 0)",
               "INSERT INTO MV_EJERCICIOS VALUES (2023, 'Ejercicio 2023 (cierre)', '2023-01-01', "
               "'2023-12-31', 0, 1)",
               "INSERT INTO MV_EJERCICIOS VALUES (2024, 'Ejercicio 2024', '2024-01-01', '2024-12-31', NULL, "
               "1)",
               "INSERT INTO MV_EJERCICIOS VALUES (2025, 'Ejercicio 2025', '2025-01-01', '2025-12-31', 0, 0)",
           };
}

QStringList PruebaSistema::Textos() const {
    QStringList r;
    for (const auto& a : guion_->Avisos())
        r << a.texto;
    return r;
}
