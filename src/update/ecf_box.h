#pragma once
// Which terminal check box a LICENCA_IF request row names. The boxes are
// Ecf001 .. Ecf040; a request names its box by NUM_ECF ("003" -> Ecf003).
// A NUM_ECF that names no box ("041", "7", "A1") names nothing, and the
// request is then left out rather than failing the whole export.

#include <QString>

namespace update {

// Terminal check boxes of the update window: Ecf001 .. Ecf040.
constexpr int kEcfBoxCount = 40;

// The number (1..40) of the box named "Ecf" + numEcf, or 0 when no box
// has that name.
int caixaDoNumEcf(const QString& numEcf);

} // namespace update
