#pragma once
// LISTENs on a list of channels of one connection and hands each
// notification to a handler on the UI thread, one at a time.

#include <QObject>
#include <QString>
#include <QStringList>
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

    // On: LISTEN to every channel; off: UNLISTEN and stop watching.
    void setActive(bool on);
    bool active() const { return active_; }

    // Called by the connection.
    void afterStatement();   // a NOTIFY may already sit in the client's buffer
    void afterReconnect();   // new socket: subscribe again

public slots:
    // Reads the socket and delivers every notification waiting.
    void drain();

private:
    void subscribe();
    void watchSocket();

    Connection& connection_;
    QStringList channels_;
    Handler handler_;
    bool active_ = false;
    bool delivering_ = false;
    bool drainQueued_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace db
