#pragma once
// The one call long runs make between rows so the window stays alive and
// notifications can be handled nested inside the run. Tests replace it to
// count turns or to raise a notification from inside a run.

#include <QtGlobal>
#include <functional>

namespace common {

void pumpEvents();

// One turn of the event loop while a connect or a statement waits on the
// network. Never the tests' replacement: that stands for a run's turn
// between its rows, and handlers that send statements hold back during a
// statement's wait (db/busy_links.h).
void pumpWhileWaiting();

// Milliseconds since the program's own code last let events run (by either
// call above): a wait lets them run as soon as this reaches its slice, so a
// string of short waits does not keep them out either.
qint64 msSinceEventsRan();

// Replaces the pump; an empty function restores the default
// (QCoreApplication::processEvents, at most one turn every few
// milliseconds).
void setEventPump(std::function<void()> pump);

} // namespace common
