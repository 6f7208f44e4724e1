#pragma once
// Zero padding of decimal texts (comma as decimal separator) to a fixed width,
// as terminal numbers, receipt numbers and customer ids are written.

#include <QString>

namespace common {

// Integer part of s, then exactly d decimals (cut, never rounded; padded with
// "0"), then "0" in front up to w characters. Longer results are never cut.
// Only the comma is special: signs, dots and blanks stay where they are.
QString Formatar_Numero(const QString& s, int w, int d);

} // namespace common
