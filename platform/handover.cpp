#include "platform/handover.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int WaitMs = 3000;
constexpr qint64 MaxMessage = 1 << 20; // far more than any list of paths a user hands over

// The uid of the process at the other end, or -1 when it cannot be told.
long PeerUid(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0)
        return -1;
    return long(credentials.uid);
}

} // namespace

QString HandoverSocketPath(const QString& lockPath) {
    if (lockPath.isEmpty())
        return QString();
    QString path = lockPath;
    if (path.endsWith(QStringLiteral(".lock")))
        path.chop(5);
    return path + QStringLiteral(".sock");
}

bool SendToRunningInstance(const QString& socketPath, const QStringList& paths) {
    if (socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(WaitMs))
        return false;
    // The paths a user opens are nobody else's business.
    if (PeerUid(socket) != long(::geteuid())) {
        socket.abort();
        return false;
    }
    // One path a line; an empty message only raises the window.
    socket.write(paths.join(QLatin1Char('\n')).toUtf8());
    socket.flush();
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState && !socket.waitForDisconnected(WaitMs))
        return false;
    return true;
}

HandoverServer::HandoverServer(const QString& socketPath, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    if (socketPath.isEmpty())
        return;
    const QString path = socketPath;
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server->listen(path))
        connect(m_server, &QLocalServer::newConnection, this, &HandoverServer::accept);
}

HandoverServer::~HandoverServer() = default;

bool HandoverServer::isListening() const {
    return m_server->isListening();
}

void HandoverServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The socket's mode already keeps others out; the peer's id is checked all the same.
        if (PeerUid(*socket) != long(::geteuid())) {
            socket->abort();
            continue;
        }
        auto* buffer = new QByteArray;
        connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() > MaxMessage)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const QString text =
                buffer->size() > MaxMessage ? QString() : QString::fromUtf8(*buffer);
            delete buffer;
            emit received(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        });
    }
}

} // namespace platform
