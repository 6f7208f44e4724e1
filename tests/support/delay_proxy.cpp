#include "support/delay_proxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// Poll time-out of the relay threads: how soon they see the proxy stop.
constexpr int kPollMs = 50;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void noDelay(int fd)
{
    // Nagle would hold small messages back for far longer than the delay.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int connectTo(const QString& host, int port)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        ::close(fd);
        ::freeaddrinfo(found);
        return -1;
    }
    ::freeaddrinfo(found);
    noDelay(fd);
    return fd;
}

// One direction of a relayed connection: a reader stamps what arrives, a
// writer passes each chunk on once its delay has run out.
class Direction {
public:
    Direction(int from, int to, std::chrono::microseconds delay, const std::atomic<bool>& stop)
        : from_(from), to_(to), delay_(delay), stop_(stop)
    {
    }

    void start(std::vector<std::thread>& threads)
    {
        threads.emplace_back([this] { readLoop(); });
        threads.emplace_back([this] { writeLoop(); });
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };

    void readLoop()
    {
        char buffer[65536];
        while (!stop_) {
            pollfd p { from_, POLLIN, 0 };
            const int ready = ::poll(&p, 1, kPollMs);
            if (ready < 0)
                break;
            if (ready == 0)
                continue;
            const ssize_t n = ::recv(from_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            std::lock_guard lock(mutex_);
            queue_.push_back({ Clock::now() + delay_, std::string(buffer, static_cast<std::size_t>(n)) });
            wake_.notify_one();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        wake_.notify_one();
    }

    void writeLoop()
    {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (queue_.empty()) {
                if (ended_)
                    break;
                wake_.wait_for(lock, std::chrono::milliseconds(kPollMs));
                continue;
            }
            const Clock::time_point due = queue_.front().due;
            if (Clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            Chunk chunk = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const bool sent = sendAll(chunk.bytes);
            lock.lock();
            if (!sent)
                break;
        }
        ::shutdown(to_, SHUT_WR);
    }

    bool sendAll(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size() && !stop_) {
            const ssize_t n = ::send(to_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return done == bytes.size();
    }

    int from_;
    int to_;
    std::chrono::microseconds delay_;
    const std::atomic<bool>& stop_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Chunk> queue_;
    bool ended_ = false;
};

struct Relayed {
    Relayed(int client, int server, std::chrono::microseconds delay, const std::atomic<bool>& stop)
        : clientFd(client), serverFd(server), up(client, server, delay, stop), down(server, client, delay, stop)
    {
    }
    Fd clientFd;
    Fd serverFd;
    Direction up;
    Direction down;
};

} // namespace

struct DelayProxy::Impl {
    QString host;
    int targetPort = 0;
    std::chrono::microseconds delay {};
    std::unique_ptr<Fd> listener;
    int port = 0;
    std::atomic<bool> stop { false };
    std::atomic<int> accepted { 0 };
    std::thread acceptThread;
    std::mutex mutex;
    std::vector<std::unique_ptr<Relayed>> relays;
    std::vector<std::thread> threads;

    void acceptLoop()
    {
        while (!stop) {
            pollfd p { listener->get(), POLLIN, 0 };
            if (::poll(&p, 1, kPollMs) <= 0)
                continue;
            const int client = ::accept(listener->get(), nullptr, nullptr);
            if (client < 0)
                continue;
            noDelay(client);
            const int server = connectTo(host, targetPort);
            if (server < 0) {
                ::close(client);
                continue;
            }
            ++accepted;
            std::lock_guard lock(mutex);
            relays.push_back(std::make_unique<Relayed>(client, server, delay, stop));
            relays.back()->up.start(threads);
            relays.back()->down.start(threads);
        }
    }
};

DelayProxy::DelayProxy(const QString& targetHost, int targetPort, std::chrono::microseconds oneWay)
    : impl_(std::make_unique<Impl>())
{
    impl_->host = targetHost;
    impl_->targetPort = targetPort;
    impl_->delay = oneWay;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("delay proxy: no socket");
    impl_->listener = std::make_unique<Fd>(fd);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("delay proxy: ") + std::strerror(errno));
    impl_->port = ntohs(address.sin_port);
    impl_->acceptThread = std::thread([this] { impl_->acceptLoop(); });
}

DelayProxy::~DelayProxy()
{
    impl_->stop = true;
    impl_->acceptThread.join();
    std::lock_guard lock(impl_->mutex);
    for (std::thread& t : impl_->threads)
        t.join();
}

int DelayProxy::port() const { return impl_->port; }

int DelayProxy::connections() const { return impl_->accepted; }

} // namespace testsupport
