#include "db/open_together.h"

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/polled_connect.h"

#include <cerrno>
#include <memory>
#include <poll.h>

namespace db {
namespace {

// Events run at least this often while the connects wait.
constexpr int kSliceMs = 10;

} // namespace

std::vector<QString> openTogether(const std::vector<Connection*>& connections, std::chrono::milliseconds timeout)
{
    std::vector<std::shared_ptr<PolledConnect>> attempts;
    attempts.reserve(connections.size());
    for (Connection* c : connections)
        attempts.push_back(c->beginOpen(timeout));

    for (;;) {
        std::vector<pollfd> sockets;
        bool running = false;
        for (const auto& a : attempts) {
            if (!a || a->finished())
                continue;
            running = true;
            if (const int fd = a->socket(); fd >= 0)
                sockets.push_back({fd, static_cast<short>(a->waitsToRead() ? POLLIN : POLLOUT), 0});
        }
        if (!running)
            break;
        // Wakes as soon as any of them can go on; each then takes its step.
        if (::poll(sockets.data(), sockets.size(), kSliceMs) < 0 && errno != EINTR)
            break;
        bool progressed = false;
        for (const auto& a : attempts)
            if (a && !a->finished())
                progressed = a->step(0) || progressed;
        if (!progressed)
            common::pumpEvents();
    }

    // Each connection adopts its finished connect (or raises its failure).
    std::vector<QString> failures(connections.size());
    for (std::size_t i = 0; i < connections.size(); ++i) {
        try {
            connections[i]->open();
        } catch (const BrokenConnection& e) {
            failures[i] = e.message();
        }
    }
    return failures;
}

} // namespace db
