#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace platform {

// Files handed from a second start to the running instance, over a local socket beside the
// single-instance lock. Only the same user's processes are heard.

// The socket beside the single-instance lock file actually in use (SingleInstance::path());
// empty without one.
QString HandoverSocketPath(const QString& lockPath);

// Second start: sends the paths (none: just "show yourself") and returns whether the running
// instance took them. A socket held by another user's process is left at once. Waits a few
// seconds at most.
bool SendToRunningInstance(const QString& socketPath, const QStringList& paths);

// First start: listens for later starts. A stale socket from a crashed run is replaced; the
// lock, held by this process, makes sure no live instance owns it.
class HandoverServer : public QObject {
    Q_OBJECT

public:
    explicit HandoverServer(const QString& socketPath, QObject* parent = nullptr);
    ~HandoverServer() override;
    bool isListening() const;

signals:
    // Another start of this user asked to show the window and, when paths is not empty, to add
    // them.
    void received(const QStringList& paths);

private:
    void accept();
    QLocalServer* m_server;
};

} // namespace platform
