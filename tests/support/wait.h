#pragma once
// Bounded waits: pump events until a condition holds or the time is up.

#include <functional>

namespace testsupport {

// True when `condition` held within `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

} // namespace testsupport
