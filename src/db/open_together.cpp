#include "db/open_together.h"

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/polled_connect.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace db {
namespace {

// Events run at least this often while openTogether waits.
constexpr std::chrono::milliseconds kSlice{10};

} // namespace

ConnectBatch::ConnectBatch(std::chrono::milliseconds timeout) : timeout_(timeout) {}

ConnectBatch::~ConnectBatch() = default;

void ConnectBatch::add(Connection& connection)
{
    // Null for an open connection: it ends at the next takeEnded().
    attempts_.push_back({&connection, connection.beginOpen(timeout_)});
}

bool ConnectBatch::wait(std::chrono::milliseconds maxWait)
{
    std::vector<pollfd> sockets;
    for (const Attempt& a : attempts_) {
        if (!a.connect || a.connect->finished())
            continue;
        if (const int fd = a.connect->socket(); fd >= 0)
            sockets.push_back({fd, static_cast<short>(a.connect->waitsToRead() ? POLLIN : POLLOUT), 0});
    }
    if (!running())
        return true;
    // Wakes as soon as any of them can go on; each then takes its step.
    if (::poll(sockets.data(), sockets.size(), static_cast<int>(maxWait.count())) < 0 && errno != EINTR)
        return false;
    bool progressed = false;
    for (const Attempt& a : attempts_)
        if (a.connect && !a.connect->finished())
            progressed = a.connect->step(0) || progressed;
    return progressed;
}

bool ConnectBatch::running() const
{
    return std::any_of(attempts_.begin(), attempts_.end(),
                       [](const Attempt& a) { return a.connect && !a.connect->finished(); });
}

std::vector<ConnectBatch::Ended> ConnectBatch::takeEnded()
{
    std::vector<Ended> ended;
    for (Attempt& a : attempts_) {
        if (!a.connection || (a.connect && !a.connect->finished()))
            continue;
        // The connection adopts its finished connect, or raises its failure.
        QString failure;
        try {
            a.connection->open();
        } catch (const BrokenConnection& e) {
            failure = e.message();
        }
        ended.push_back({a.connection, failure});
        a.connection = nullptr;
        a.connect.reset();
    }
    return ended;
}

std::vector<QString> openTogether(const std::vector<Connection*>& connections, std::chrono::milliseconds timeout)
{
    ConnectBatch batch(timeout);
    for (Connection* c : connections)
        batch.add(*c);
    std::vector<ConnectBatch::Ended> ended = batch.takeEnded();
    while (batch.running()) {
        if (!batch.wait(kSlice))
            common::pumpEvents();
        for (ConnectBatch::Ended& e : batch.takeEnded())
            ended.push_back(std::move(e));
    }
    for (ConnectBatch::Ended& e : batch.takeEnded())
        ended.push_back(std::move(e));

    std::vector<QString> failures(connections.size());
    for (const ConnectBatch::Ended& e : ended)
        failures[std::find(connections.begin(), connections.end(), e.connection) - connections.begin()] = e.failure;
    return failures;
}

} // namespace db
