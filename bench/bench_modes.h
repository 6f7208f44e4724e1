#pragma once
// The two clusters scripts/bench.sh starts, so every benchmark runs as our
// tests do and as a store's server does, side by side in one run:
//   fast     fsync, synchronous_commit and full_page_writes off (QS_TEST_PGPORT)
//   durable  all three on: every commit waits for its WAL flush (QS_DURABLE_PGPORT)
// A benchmark takes the mode as an argument and holds a ModeScope while it
// builds, runs and drops its databases: the test support then connects to
// that mode's cluster. Without QS_DURABLE_PGPORT the durable runs are
// skipped.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchmodes {

enum Mode { Fast = 0, Durable = 1 };

inline const char* name(int mode) { return mode == Durable ? "durable" : "fast"; }

// The fast cluster's port as the script exported it, read before any scope
// changes it.
inline int port(int mode)
{
    static const int fast = qEnvironmentVariableIntValue("QS_TEST_PGPORT");
    static const int durable = qEnvironmentVariableIntValue("QS_DURABLE_PGPORT");
    return mode == Durable ? durable : fast;
}

inline bool available(int mode) { return port(mode) > 0; }

class ModeScope {
public:
    explicit ModeScope(int mode)
    {
        port(Fast);
        qputenv("QS_TEST_PGPORT", QByteArray::number(port(mode)));
    }
    ~ModeScope() { qputenv("QS_TEST_PGPORT", QByteArray::number(port(Fast))); }
    ModeScope(const ModeScope&) = delete;
    ModeScope& operator=(const ModeScope&) = delete;
};

// Skips the run (true) when the mode's cluster was not started.
inline bool skipUnavailable(benchmark::State& state, int mode)
{
    if (available(mode))
        return false;
    state.SkipWithError(mode == Durable ? "no durable cluster (QS_DURABLE_PGPORT)" : "no cluster (QS_TEST_PGPORT)");
    return true;
}

// Figures kept per measured item and mode, printed side by side at the end.
class SideBySide {
public:
    void add(const std::string& item, int mode, double ms, const std::string& detail = {})
    {
        auto& entry = entries_[item];
        if (entry.order == 0)
            entry.order = ++count_;
        entry.values[mode].push_back({ms, detail});
    }

    void print() const
    {
        std::vector<std::pair<int, const std::string*>> order;
        for (const auto& [item, entry] : entries_)
            order.push_back({entry.order, &item});
        std::sort(order.begin(), order.end());
        std::printf("\nSide by side (median of the runs of each mode):\n");
        for (const auto& [o, item] : order) {
            const Entry& entry = entries_.at(*item);
            const double fast = median(entry, Fast);
            const double durable = median(entry, Durable);
            std::printf("  %-44s fast %9.1f ms   durable %9.1f ms", item->c_str(), fast, durable);
            if (fast > 0 && durable > 0)
                std::printf("   durable/fast %.2f", durable / fast);
            std::printf("\n");
            for (int mode : {Fast, Durable})
                if (auto it = entry.values.find(mode); it != entry.values.end() && !it->second.back().second.empty())
                    std::printf("      %-8s last run: %s\n", name(mode), it->second.back().second.c_str());
        }
    }

    // One line per mode pair: the floor first, then the measured item and
    // its ratio to the floor.
    void printRatio(const std::string& label, const std::string& item, const std::string& floorItem) const
    {
        auto i = entries_.find(item);
        auto f = entries_.find(floorItem);
        if (i == entries_.end() || f == entries_.end())
            return;
        std::printf("  %s:", label.c_str());
        for (int mode : {Fast, Durable}) {
            const double value = median(i->second, mode);
            const double floor = median(f->second, mode);
            if (value > 0 && floor > 0)
                std::printf("  %s: floor %.0f ms | %.0f ms, %.2f x;", name(mode), floor, value, value / floor);
        }
        std::printf("\n");
    }

private:
    struct Entry {
        int order = 0;
        std::map<int, std::vector<std::pair<double, std::string>>> values;
    };

    static double median(const Entry& entry, int mode)
    {
        auto it = entry.values.find(mode);
        if (it == entry.values.end() || it->second.empty())
            return 0;
        std::vector<double> v;
        for (const auto& [ms, detail] : it->second)
            v.push_back(ms);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }

    std::map<std::string, Entry> entries_;
    int count_ = 0;
};

inline SideBySide& sideBySide()
{
    static SideBySide s;
    return s;
}

} // namespace benchmodes
