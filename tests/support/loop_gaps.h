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

// Nanoseconds the calling thread has stood ready to run without running;
// 0 where the kernel does not say.
long long runDelayNs();

class LoopGapMeter {
public:
    LoopGapMeter();
    // The longest stretch between two turns so far, in milliseconds,
    // without the time the thread stood ready but was not run.
    double longestMs() const { return longestMs_; }
    // The same on the wall clock.
    double longestWallMs() const { return longestWallMs_; }
    // Turns seen so far.
    long turns() const { return turns_; }
    void stop() { timer_.stop(); }

private:
    QTimer timer_;
    QElapsedTimer sinceTurn_;
    long long runDelayNs_ = 0;
    double longestMs_ = 0;
    double longestWallMs_ = 0;
    long turns_ = 0;
};

} // namespace testsupport
