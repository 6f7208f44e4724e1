#pragma once
// Records what the probes' connects did while it lives, so a test counts
// what overlapped and why each connect ended instead of timing the pass.

#include "terminals/tcp_connect.h"

#include <algorithm>
#include <vector>

namespace termtest {

class ConnectLog {
public:
    using Event = terminals::ConnectEvent;

    ConnectLog()
        : previous_(terminals::setConnectObserver([this](const Event& e) { events_.push_back(e); }))
    {
    }
    ~ConnectLog() { terminals::setConnectObserver(std::move(previous_)); }
    ConnectLog(const ConnectLog&) = delete;
    ConnectLog& operator=(const ConnectLog&) = delete;

    // The time-out each pass was given, in order.
    std::vector<int> passTimeouts() const
    {
        std::vector<int> out;
        for (const Event& e : events_)
            if (e.kind == Event::Kind::Pass)
                out.push_back(static_cast<int>(e.timeout.count()));
        return out;
    }

    int started() const { return count([](const Event& e) { return e.kind == Event::Kind::Started; }); }
    int ended(Event::Outcome outcome) const
    {
        return count([&](const Event& e) { return e.kind == Event::Kind::Ended && e.outcome == outcome; });
    }

    // Every connect was under way before the first was given up: the
    // silent ones were waited for together, not one after another.
    bool allStartedBeforeTheFirstTimedOut() const
    {
        const auto firstTimeOut = std::find_if(events_.begin(), events_.end(), [](const Event& e) {
            return e.kind == Event::Kind::Ended && e.outcome == Event::Outcome::TimedOut;
        });
        return std::none_of(firstTimeOut, events_.end(),
                            [](const Event& e) { return e.kind == Event::Kind::Started; });
    }

private:
    template <typename Pred>
    int count(Pred pred) const
    {
        return static_cast<int>(std::count_if(events_.begin(), events_.end(), pred));
    }

    std::vector<Event> events_;
    terminals::ConnectObserver previous_;
};

} // namespace termtest
