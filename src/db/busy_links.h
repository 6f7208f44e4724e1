#pragma once
// Statements now let events run while they wait for their answer, so a
// click or a notification could be handled in the middle of one and send on
// a link that is waiting for something else. Handlers that send statements
// therefore ask first: while any link has a statement waiting, or writes
// held unanswered, they are held back and served once every link is free.
// The connection itself refuses a second sender (UsageError) in any case.

#include <QObject>
#include <QString>
#include <functional>

namespace db {

// A statement is waiting for its answer, or writes are held unanswered, on
// some link of the program.
bool linksBusy();

// Runs `work` now and returns true when no link is busy. Otherwise holds it
// and returns false; it then runs as a queued call on `context` once every
// link is free (and is held again should one be busy by then). Work held
// under a key that already waits for `context` is held once. Dropped when
// `context` is gone.
bool whenLinksFree(QObject* context, const QString& key, std::function<void()> work);

// Marks a link busy for the object's lifetime.
class BusyLink {
public:
    BusyLink();
    ~BusyLink();
    BusyLink(const BusyLink&) = delete;
    BusyLink& operator=(const BusyLink&) = delete;
};

} // namespace db
