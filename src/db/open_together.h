#pragma once
// Opens several connections at once: every handshake is started, then all
// are advanced together as their sockets become ready, so a batch of hosts
// that keep us waiting costs about one time-out rather than one each.

#include <QString>
#include <chrono>
#include <vector>

namespace db {

class Connection;

// Opens each connection that is closed, bounded by `timeout`, letting
// events run while nothing progresses. Result i is empty when connection i
// is open, or holds why it could not be opened (the client library's text,
// or the time-out's).
std::vector<QString> openTogether(const std::vector<Connection*>& connections, std::chrono::milliseconds timeout);

} // namespace db
