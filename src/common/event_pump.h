#pragma once
// The one call long runs make between rows so the window stays alive and
// notifications can be handled nested inside the run. Tests replace it to
// count turns or to raise a notification from inside a run.

#include <functional>

namespace common {

void pumpEvents();

// Replaces the pump; an empty function restores the default
// (QCoreApplication::processEvents, at most one turn every few
// milliseconds).
void setEventPump(std::function<void()> pump);

} // namespace common
