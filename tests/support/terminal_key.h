#pragma once
// A terminal's NUM_ECF as the tests register it ("007"): the key of its
// LICENCA_IF row, and the name of its box in the update window ("Ecf007").
// Written out here, not taken from the program, so a wrong form there shows.

#include <QString>

namespace testsupport {

inline QString numEcf(int n)
{
    return QString("%1").arg(n, 3, 10, QChar('0'));
}

} // namespace testsupport
