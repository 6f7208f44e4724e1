#pragma once
// LISTENs on a list of channels of one connection and hands each
// notification to a handler on the UI thread, one at a time.

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace db {

class Connection;

class Listener : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(Listener& sender, const QString& channel, const QString& payload)>;

    explicit Listener(Connection& connection, QObject* parent = nullptr);
    ~Listener() override;

    void setChannels(const QStringList& channels);
    const QStringList& channels() const { return channels_; }
    void setHandler(Handler handler) { handler_ = std::move(handler); }

    // Called once the listener has subscribed again on a new link (after a
    // lost link or a close and open): notifications raised meanwhile were
    // lost, so the owner looks for requests still pending. Delivered like a
    // notification: on the UI thread, never inside a running handler.
    void setResubscribedHandler(std::function<void()> handler) { resubscribed_ = std::move(handler); }

    // On: LISTEN to every channel; off: UNLISTEN and stop watching.
    void setActive(bool on);
    bool active() const { return active_; }
    // Whether the socket is watched: false once a lost link has been seen.
    bool watching() const { return notifier_ != nullptr; }
    // Notifications read but not yet handed over (one handler runs at a time).
    std::size_t queued() const { return queue_.size(); }

    // Called by the connection.
    void afterStatement();   // a NOTIFY may already sit in the client's buffer
    void afterReconnect();   // new socket: subscribe again
    void linkClosed();       // the connection was closed: stop watching
    void connectionDestroyed();

public slots:
    // Reads the socket and delivers every notification waiting.
    void drain();

private:
    struct Notification {
        QString channel;
        QString payload;
        bool catchUp = false; // the resubscribed call, not a notification
    };

    void subscribe();
    void watchSocket();
    void readWaiting();       // client buffer into queue_
    void deliverQueued();     // queue_ to the handler, in order
    void recoverLink();       // the socket broke while idle
    void scheduleRecovery(int delayMs);
    void queueCatchUp();
    void scheduleDrain();

    Connection& connection_;
    QStringList channels_;
    Handler handler_;
    std::function<void()> resubscribed_;
    bool active_ = false;
    bool delivering_ = false;
    bool drainQueued_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::deque<Notification> queue_;
    bool connectionAlive_ = true;
    bool recoveryScheduled_ = false;
    bool subscribing_ = false;
    bool relisten_ = false;   // the link changed while subscribing
    bool recovering_ = false;
    bool catchUpQueued_ = false;
    bool catchUpDue_ = false;  // a new link: catch up once subscribed
};

} // namespace db
