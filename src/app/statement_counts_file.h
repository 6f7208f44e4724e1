#pragma once
// For measurements from outside the process: when QS_STATEMENT_COUNTS names
// a file, the program keeps its data layer's counts there, one line
// "statements commits preparations", rewritten within 100 ms of a change
// while events run. Without the variable nothing happens.

class QObject;

namespace app {

void keepStatementCountsWhenAsked(QObject* owner);

} // namespace app
