#pragma once
// How long the event loop went without a turn, measured from the loop
// itself: a timer due every millisecond notes how long it waited between two
// firings, wherever the loop turns (a run's pump, a statement's wait, a
// connect's slice). On a busy machine the thread may stand ready while other
// programs run; that time (the kernel's run delay of the thread) is the
// machine's, not the program's, and is left out of the gap. Time the thread
// spends asleep in a blocking call counts in full.

#include <QElapsedTimer>
#include <QTimer>

namespace testsupport {

// The longest stretch without a turn a test accepts while a wait lets
// events run: loose enough for instrumented code on a busy machine, tight
// enough to catch a wait that blocks for its whole bound. The figure the
// program really keeps is the benchmarks' to report.
inline constexpr double kLongestTurnGapMs = 1000;

// Nanoseconds the calling thread has stood ready to run without running;
// 0 where the kernel does not say.
long long runDelayNs();

// The stretches between turns a caller marks itself (a replaced event
// pump's calls), measured as the meter below measures the loop's.
class TurnGaps {
public:
    TurnGaps();
    // Ends the current stretch and starts the next.
    void turn();
    // The longest stretch so far, in milliseconds, without the time the
    // thread stood ready but was not run.
    double longestMs() const { return longestMs_; }
    // The same on the wall clock.
    double longestWallMs() const { return longestWallMs_; }
    // Turns marked so far.
    long turns() const { return turns_; }

private:
    QElapsedTimer sinceTurn_;
    long long runDelayNs_ = 0;
    double longestMs_ = 0;
    double longestWallMs_ = 0;
    long turns_ = 0;
};

class LoopGapMeter {
public:
    LoopGapMeter();
    // The longest stretch between two turns so far, in milliseconds,
    // without the time the thread stood ready but was not run.
    double longestMs() const { return gaps_.longestMs(); }
    // The same on the wall clock.
    double longestWallMs() const { return gaps_.longestWallMs(); }
    // Turns seen so far.
    long turns() const { return gaps_.turns(); }
    void stop() { timer_.stop(); }

private:
    QTimer timer_;
    TurnGaps gaps_;
};

} // namespace testsupport
