#pragma once
// The forms of one terminal number: NUM_ECF text ("007"), its integer value
// (7, which picks connection slot 7 and equals BANCO_ID / CAIXA_ID of sale
// rows), "Ecf07" in the sales window's lines and slot names, "Ecf007" for the
// update window's check boxes.

#include <QString>
#include <optional>

namespace terminals {

// Each window owns this many terminal connection slots, numbered 1..33.
constexpr int kSlotCount = 33;

// Whole-number conversion of NUM_ECF: blanks around it, an optional sign and
// leading zeros are accepted; any other text raises db::UsageError whose
// text names the value.
int numeroEcf(const QString& numEcf);
// Same conversion, without raising.
std::optional<int> tryNumeroEcf(const QString& numEcf);

// True for 1..33: the numbers that have a slot.
constexpr bool hasSlot(int n) { return n >= 1 && n <= kSlotCount; }

QString numEcfText(int n);    // 7 -> "007" (the key written back to LICENCA_IF)
QString twoDigits(int n);     // 7 -> "07"
QString ecfLabel(int n);      // 7 -> "Ecf07"
QString ecfBoxName(int n);    // 7 -> "Ecf007" (update window check box)
// "007" -> "Ecf 007": heads a terminal's section of a copy log. The NUM_ECF
// text is kept as the row holds it.
QString logSection(const QString& numEcf);

// Prefixes of the sales window's status lines.
QString onPrefix(int n);      // "Ecf07 - ON - "
QString offPrefix(int n);     // "Ecf07 - OFF - "

} // namespace terminals
