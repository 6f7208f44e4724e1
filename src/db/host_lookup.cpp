#include "db/host_lookup.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace db {

struct HostLookup::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    QStringList addresses;
    QString failure;
};

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

bool isNumeric(const QByteArray& host)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* raw = nullptr;
    const bool numeric = getaddrinfo(host.constData(), nullptr, &hints, &raw) == 0;
    std::unique_ptr<addrinfo, AddrInfoDeleter> owned(raw);
    return numeric;
}

} // namespace

HostLookup::HostLookup(const QString& host) : state_(std::make_shared<State>())
{
    std::thread([state = state_, name = host.toUtf8()] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* raw = nullptr;
        const int rc = getaddrinfo(name.constData(), nullptr, &hints, &raw);
        std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
        QStringList found;
        for (addrinfo* a = rc == 0 ? raw : nullptr; a; a = a->ai_next) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* where = a->ai_family == AF_INET
                                    ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr)
                                    : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
            if ((a->ai_family == AF_INET || a->ai_family == AF_INET6)
                && inet_ntop(a->ai_family, where, text, sizeof text)) {
                const QString address = QString::fromLatin1(text);
                if (!found.contains(address))
                    found << address;
            }
        }
        std::lock_guard lock(state->mutex);
        state->addresses = found;
        if (found.isEmpty())
            state->failure = QStringLiteral("could not translate host name \"%1\" to address: %2")
                                 .arg(QString::fromUtf8(name),
                                      QString::fromLocal8Bit(rc == 0 ? "no address" : gai_strerror(rc)));
        state->done = true;
        state->cv.notify_all();
    }).detach();
}

bool HostLookup::wait(std::chrono::milliseconds wait)
{
    std::unique_lock lock(state_->mutex);
    return state_->cv.wait_for(lock, wait, [&] { return state_->done; });
}

const QStringList& HostLookup::addresses() const { return state_->addresses; }

const QString& HostLookup::failure() const { return state_->failure; }

bool HostLookup::needed(const QString& host)
{
    const QString h = host.trimmed();
    return !h.isEmpty() && !h.startsWith(u'/') && !isNumeric(h.toUtf8());
}

} // namespace db
