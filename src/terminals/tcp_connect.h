#pragma once
// The platform's TCP connect with a time-out, for many targets at once. The
// one platform-specific unit of the probe.

#include <QString>
#include <chrono>
#include <vector>

namespace terminals {

struct TcpTarget {
    QString host;        // address or host name
    unsigned short port; // 1..65535
};

// Starts a non-blocking connect to every target (every address of a name),
// waits on all of them together until `timeout` has passed since the call,
// and closes each socket. Result i is true when target i accepted a
// connection in time. Name lookups share the same deadline.
std::vector<bool> connectAll(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout);

} // namespace terminals
