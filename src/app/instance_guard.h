#pragma once
// The single-instance guard as the operator meets it. A copy goes on only
// when the mark says no other copy runs; a mark that cannot be read or
// taken stops it too, with the reason, since two copies would run two
// imports at once.

class QObject;

namespace app {

// Start-up step: true when no other copy runs. Otherwise the operator is
// told why this copy ends.
bool noOtherCopyRuns();

// Takes the mark for as long as `owner` lives; false when it cannot be
// taken, and then, when `tell`, the operator is told why.
bool holdMarkFor(QObject* owner, bool tell);

} // namespace app
