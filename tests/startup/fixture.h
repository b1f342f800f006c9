#pragma once
#include <QStringList>

// The tables the start-up and the window read, with a few years.
inline QStringList EsquemaInicio() {
    return {
        "CREATE TABLE TA_CONFIGURACION (Grupo varchar(30), CLAVE varchar(60) COLLATE NOCASE, VALOR "
        "varchar(255))",
        "CREATE TABLE MV_EJERCICIOS (PERIODO integer PRIMARY KEY, descripcion varchar(50), \"Fecha Desde\" "
        "DATE, "
        "\"Fecha Hasta\" DATE, Cerrado integer, CIERRE integer)",
        "INSERT INTO MV_EJERCICIOS VALUES (2021, 'Ejercicio 2021', '2021-01-01', '2021-12-31', 1, 1)",
        "INSERT INTO MV_EJERCICIOS VALUES (2022, 'Ejercicio 2022', '2022-01-01', '2022-12-31', 1, 0)",
        "INSERT INTO MV_EJERCICIOS VALUES (2023, 'Ejercicio 2023 (cierre)', '2023-01-01', '2023-12-31', 0, "
        "1)",
        "INSERT INTO MV_EJERCICIOS VALUES (2024, 'Ejercicio 2024', '2024-01-01', '2024-12-31', NULL, 1)",
        "INSERT INTO MV_EJERCICIOS VALUES (2025, 'Ejercicio 2025', '2025-01-01', '2025-12-31', 0, 0)",
    };
}
