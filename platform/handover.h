#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace platform {

// Files handed from a second start to the running instance, over a local socket beside the
// single-instance lock. Only the same user's processes are heard.

// The socket beside the single-instance lock file actually in use (SingleInstance::path());
// empty without one.
QString HandoverSocketPath(const QString& lockPath);

// Second start: sends the paths (none: just "show yourself") and returns true once the running
// instance has acknowledged taking them. Nobody listening yet, or a connection closed unanswered,
// is tried again while holderRuns() (the lock's holder may still be starting up, or busy with
// other connections), for 20 seconds at most (PX_HANDOVER_WAIT_MS sets another limit). A socket
// held by another user's process is left at once. On false, *reason says why, for the user.
bool SendToRunningInstance(const QString& socketPath, const QStringList& paths,
                           const std::function<bool()>& holderRuns, QString* reason);

// First start: listens for later starts. A stale socket from a crashed run is replaced; the
// lock, held by this process, makes sure no live instance owns it. At most MaxConnections are
// served at once, more are closed at once; a connection that has not delivered its whole message
// within the time-out is closed.
class HandoverServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxConnections = 16;
    static constexpr int DefaultTimeoutMs = 5000;

    explicit HandoverServer(const QString& socketPath, QObject* parent = nullptr);
    ~HandoverServer() override;
    bool isListening() const;
    // For connections accepted from now on.
    void setTimeout(int ms) { m_timeoutMs = ms; }

signals:
    // Another start of this user asked to show the window and, when paths is not empty, to add
    // them. Emitted from the event loop, after the sender has been told they were taken.
    void received(const QStringList& paths);

private:
    void accept();
    void serve(QLocalSocket* socket);
    QLocalServer* m_server;
    int m_open = 0;
    int m_timeoutMs = DefaultTimeoutMs;
};

} // namespace platform
