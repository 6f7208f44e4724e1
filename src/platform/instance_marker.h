#pragma once
// System-wide mark that a copy of the program with an update window runs: a
// lock file held with flock by that copy. The system drops the lock with the
// process, so a crashed copy leaves no stale mark.

#include <QString>

namespace app {

// Lock file shared by every copy; tests point it at a file of their own.
QString instanceMarkerPath();
void setInstanceMarkerPath(const QString& path);

// True while another copy holds the mark.
bool otherCopyRunning();

// Holds the mark from construction to destruction. When another copy
// already holds it, nothing is held.
class InstanceMarker {
public:
    InstanceMarker();
    ~InstanceMarker();
    InstanceMarker(const InstanceMarker&) = delete;
    InstanceMarker& operator=(const InstanceMarker&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace app
