#pragma once
// Bounded waits: pump events until a condition holds or the time is up.

#include <functional>

namespace testsupport {

// Bound for a run through a real window (an import, a check): a sanitizer
// build on two busy cores can take many seconds over one, and a wait on a
// condition ends as soon as it holds, so a wide bound costs nothing.
inline constexpr int kWindowRunMs = 30000;

// True when `condition` held within `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

} // namespace testsupport
