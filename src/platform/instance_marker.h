#pragma once
// System-wide mark that a copy of the program with an update window runs: a
// lock file held with flock by that copy. The system drops the lock with the
// process, so a crashed copy leaves no stale mark.
//
// The file lies where only this user can create it: the session's runtime
// folder (XDG_RUNTIME_DIR), or else a folder of this user's alone under the
// temporary folder. In a folder every user shares, another user's file of
// the same name could not be opened, and the copy would see no mark at all.

#include <QString>

namespace app {

// What the mark says about other copies. Unknown when it could not be read:
// a copy must never take that for "no other copy".
enum class OtherCopy { None, Running, Unknown };

// Where the mark lives by default, given the session's runtime folder (may
// be empty) and the temporary folder. The runtime folder is used when it is
// a folder this user owns and nobody else may enter; otherwise the folder
// "quiborsync-<uid>" under `tempFolder`, made when missing, which must be
// this user's own and closed to others.
struct MarkerPlace {
    QString path;    // the lock file; empty when there is no safe place
    QString failure; // why there is none
};
MarkerPlace markerPlace(const QString& runtimeFolder, const QString& tempFolder);

// The lock file in use: the test override, or markerPlace() of this
// process's environment. Empty when there is no safe place.
QString instanceMarkerPath();
// Tests point the mark at a file of their own; an empty path restores the
// default.
void setInstanceMarkerPath(const QString& path);

// Whether another copy holds the mark; `failure` receives why when the
// answer is Unknown.
OtherCopy otherCopy(QString* failure = nullptr);

// Holds the mark from construction to destruction. When another copy holds
// it, or it cannot be taken, nothing is held and the reason is kept.
class InstanceMarker {
public:
    InstanceMarker();
    ~InstanceMarker();
    InstanceMarker(const InstanceMarker&) = delete;
    InstanceMarker& operator=(const InstanceMarker&) = delete;

    bool held() const { return fd_ >= 0; }
    // Not held because another copy holds it.
    bool otherHolds() const { return otherHolds_; }
    // Not held for any other reason: what went wrong.
    const QString& failure() const { return failure_; }

private:
    int fd_ = -1;
    bool otherHolds_ = false;
    QString failure_;
};

} // namespace app
