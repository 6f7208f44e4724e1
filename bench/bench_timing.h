#pragma once
// Wall-clock timing shared by the benchmarks: a steady clock, the seconds
// since a start, and the median of repeated runs.

#include <algorithm>
#include <chrono>
#include <vector>

namespace benchtiming {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace benchtiming
