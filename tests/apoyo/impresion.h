#pragma once
// How GoogleTest prints the values tests compare: texts as text (not as a list of characters)
// and stock balances field by field (not as "208-byte object"). Every support header includes
// it, so that every test prints them the same way.
#include "demodb.h"

#include <ostream>
#include <QList>
#include <QString>

inline void PrintTo(const QString& texto, std::ostream* os) {
    *os << '"' << texto.toStdString() << '"';
}
// For messages: EXPECT_...() << texto.
inline std::ostream& operator<<(std::ostream& os, const QString& texto) {
    return os << texto.toStdString();
}

namespace demodb {
// "A1 | UN | 1 | P1 | - | L1 | Art uno: 12.5 (UD 1) en 3 movimientos" (- for NULL).
void PrintTo(const SaldoStock& saldo, std::ostream* os);
// One balance a line.
void PrintTo(const QList<SaldoStock>& saldos, std::ostream* os);
} // namespace demodb
