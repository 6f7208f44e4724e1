#pragma once
// Runs a step when the scope ends, whichever way it ends: a flag set for a
// run is cleared, a panel disabled for it enabled again, even when the run
// fails part-way.
//
//     busy = true;
//     common::ScopeExit done([&] { busy = false; });

#include <utility>

namespace common {

template <typename Step>
class ScopeExit {
public:
    explicit ScopeExit(Step step)
        : step_(std::move(step))
    {
    }
    ~ScopeExit() { step_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Step step_;
};

} // namespace common
