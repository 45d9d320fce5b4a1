#include "platform/handover.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <optional>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// The message of a later start, all numbers big-endian:
//   "PXH1", the number of paths (u32), then per path its length (u32) and its bytes as the file
//   system spells the name (QFile::encodeName).
// Framed rather than split at a separator: a name holding a line break arrives whole.
// The running instance answers one Ack byte once it has taken the paths, and closes.
const QByteArray Magic = QByteArrayLiteral("PXH1");
constexpr char Ack = 0x06;
// Far more than any list of paths a user hands over; a bound on what a connection may cost.
constexpr qsizetype MaxMessage = 1 << 20;
constexpr quint32 MaxPaths = 10000;

constexpr int DefaultWaitMs = 20000;
constexpr int RetryPauseMs = 100;

// The uid of the process at the other end, or -1 when it cannot be told.
long PeerUid(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0)
        return -1;
    return long(credentials.uid);
}

void AppendNumber(QByteArray& bytes, quint32 number) {
    char big[4];
    qToBigEndian(number, big);
    bytes.append(big, 4);
}

// Nothing when the paths exceed what the running instance accepts in one message.
std::optional<QByteArray> EncodeMessage(const QStringList& paths) {
    if (quint32(paths.size()) > MaxPaths)
        return std::nullopt;
    QByteArray bytes = Magic;
    AppendNumber(bytes, quint32(paths.size()));
    for (const QString& path : paths) {
        const QByteArray name = QFile::encodeName(path);
        AppendNumber(bytes, quint32(name.size()));
        bytes += name;
        if (bytes.size() > MaxMessage)
            return std::nullopt;
    }
    return bytes;
}

enum class Parsed { Incomplete, Complete, Invalid };

Parsed ParseMessage(const QByteArray& bytes, QStringList* paths) {
    if (bytes.size() > MaxMessage)
        return Parsed::Invalid;
    QByteArrayView rest(bytes);
    if (!rest.startsWith(QByteArrayView(Magic).first(qMin(rest.size(), Magic.size()))))
        return Parsed::Invalid;
    if (rest.size() < Magic.size() + 4)
        return Parsed::Incomplete;
    rest = rest.sliced(Magic.size());
    const quint32 count = qFromBigEndian<quint32>(rest.data());
    rest = rest.sliced(4);
    if (count > MaxPaths)
        return Parsed::Invalid;
    // The names are decoded only once all have arrived: a message comes in many pieces.
    QList<QByteArrayView> names;
    for (quint32 i = 0; i < count; ++i) {
        if (rest.size() < 4)
            return Parsed::Incomplete;
        const quint32 length = qFromBigEndian<quint32>(rest.data());
        rest = rest.sliced(4);
        if (length == 0 || length > quint32(MaxMessage))
            return Parsed::Invalid;
        if (quint32(rest.size()) < length)
            return Parsed::Incomplete;
        names.append(rest.first(length));
        rest = rest.sliced(length);
    }
    paths->clear();
    for (const QByteArrayView name : names)
        paths->append(QFile::decodeName(name.toByteArray()));
    return Parsed::Complete;
}

int WaitLimitMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("PX_HANDOVER_WAIT_MS", &ok);
    return ok && ms > 0 ? ms : DefaultWaitMs;
}

enum class Attempt { Taken, Unanswered, Failed };

// One connection: the message out, the answer back. Unanswered is worth another try.
Attempt SendOnce(const QString& socketPath, const QByteArray& message,
                 const QDeadlineTimer& deadline, QString* reason) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
        case QLocalSocket::SocketTimeoutError:
            return Attempt::Unanswered;
        default:
            *reason = socket.errorString();
            return Attempt::Failed;
        }
    }
    // The paths a user opens are nobody else's business.
    if (PeerUid(socket) != long(::geteuid())) {
        socket.abort();
        *reason = QStringLiteral("its socket belongs to another user");
        return Attempt::Failed;
    }
    socket.write(message);
    // A server that refuses the connection closes it unanswered; so does one that gives up on it.
    while (socket.bytesAvailable() < 1) {
        if (socket.state() != QLocalSocket::ConnectedState || deadline.hasExpired())
            return Attempt::Unanswered;
        socket.waitForReadyRead(int(deadline.remainingTime()));
    }
    char answer = 0;
    socket.getChar(&answer);
    if (answer != Ack) {
        *reason = QStringLiteral("it gave an answer not understood");
        return Attempt::Failed;
    }
    return Attempt::Taken;
}

// Closes a connection whatever its state; one never connected emits no disconnected().
void Drop(QLocalSocket* socket) {
    socket->abort();
    socket->deleteLater();
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

bool SendToRunningInstance(const QString& socketPath, const QStringList& paths,
                           const std::function<bool()>& holderRuns, QString* reason) {
    if (socketPath.isEmpty()) {
        *reason = QStringLiteral("its socket cannot be found");
        return false;
    }
    const std::optional<QByteArray> message = EncodeMessage(paths);
    if (!message) {
        *reason = QStringLiteral("more files than one start can hand over (at most %1 paths, "
                                 "%2 KiB)")
                      .arg(MaxPaths)
                      .arg(MaxMessage / 1024);
        return false;
    }
    const int limitMs = WaitLimitMs();
    const QDeadlineTimer deadline(limitMs);
    for (;;) {
        switch (SendOnce(socketPath, *message, deadline, reason)) {
        case Attempt::Taken:
            return true;
        case Attempt::Failed:
            return false;
        case Attempt::Unanswered:
            break;
        }
        if (holderRuns && !holderRuns()) {
            *reason = QStringLiteral("it ended without answering");
            return false;
        }
        if (deadline.hasExpired()) {
            *reason = QStringLiteral("no answer within %1 s").arg(limitMs / 1000.0);
            return false;
        }
        QThread::msleep(RetryPauseMs);
    }
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
        // The socket's mode already keeps others out; the peer's id is checked all the same.
        // Beyond the limit, closing at once keeps idle connections from locking out later starts.
        if (PeerUid(*socket) != long(::geteuid()) || m_open >= MaxConnections) {
            Drop(socket);
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        serve(socket);
    }
}

void HandoverServer::serve(QLocalSocket* socket) {
    // One time-out for the whole message: trickling bytes buys no time.
    QTimer::singleShot(m_timeoutMs, socket, [socket] { Drop(socket); });
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        QStringList paths;
        switch (ParseMessage(*buffer, &paths)) {
        case Parsed::Incomplete:
            return;
        case Parsed::Invalid:
            Drop(socket);
            return;
        case Parsed::Complete:
            break;
        }
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        socket->write(&Ack, 1);
        socket->disconnectFromServer();
        // Adding files may open modal windows: not from inside a socket's signal.
        QMetaObject::invokeMethod(
            this, [this, paths] { emit received(paths); }, Qt::QueuedConnection);
    });
}

} // namespace platform
