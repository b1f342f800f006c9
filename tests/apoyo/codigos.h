#pragma once
// Year codes that are no year, as an operator or a caller may type them: every place that takes
// a code (the window, the purge, the session's key look-up) refuses them before any statement.
#include <QStringList>

// clang-format off
inline const QStringList kCodigosHostiles = {
    "2022; DELETE FROM MV_ASIENTOS", "2022; DROP TABLE MV_EJERCICIOS", "1; DROP TABLE x", "2022 OR 1=1",
    "2022;", "'", "2023'", "20x", "20 22", "2022.0", "1e3", "0x10", "--1", "99999999999", "2147483648",
    "٢٠٢٢", "２０２２", "-1", "+1", "-2022", "+2022"};
// clang-format on
// Whole numbers to the session's key look-up, but never a year code.
inline const QStringList kCodigosConSigno = {"-1", "+1", "-2022", "+2022"};
