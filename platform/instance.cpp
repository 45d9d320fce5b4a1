#include "platform/instance.h"

#include "platform/folders.h"
#include "platform/text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The lock file at `path` when it is a regular file of ours; -1 otherwise. A file planted by
// another user must not decide whether we start, so it is never used.
int openOwnLock(const QString& path) {
    // O_NOFOLLOW: a link planted in a shared folder must not make us create files elsewhere.
    // O_NONBLOCK: a planted FIFO must not hold up the start. O_CLOEXEC: children must not
    // inherit (and so prolong) the lock.
    const int fd = ::open(toAnsi(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString safeName(const QString& title) {
    QString name = title;
    name.replace(u'/', u'_');
    return name;
}

} // namespace

QString SingleInstance::lockPath(const QString& title) {
    const QString runtime = PrivateRuntimeFolder();
    if (!runtime.isEmpty())
        return runtime + safeName(title) + QStringLiteral(".lock");
    // The temporary folder is shared by all users, so the user id goes into the name.
    return TempFolder() + safeName(title) + QStringLiteral("-%1.lock").arg(::geteuid());
}

SingleInstance::SingleInstance(const QString& title) {
    m_path = lockPath(title);
    int fd = openOwnLock(m_path);
    if (fd < 0) {
        // Every instance of this user takes the same way, so they still meet at one lock.
        QString ignored;
        const QString folder =
            TempFolder() + safeName(title) + QStringLiteral("-%1.d").arg(::geteuid());
        m_path = EnsurePrivateFolder(folder, &ignored)
                     ? folder + u'/' + safeName(title) + QStringLiteral(".lock")
                     : QString();
        fd = m_path.isEmpty() ? -1 : openOwnLock(m_path);
    }
    if (fd < 0) {
        m_path.clear();
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    m_fd = fd;
    // When it is ours the descriptor stays open on purpose until the process ends.
    if (rc != 0 && errno == EWOULDBLOCK)
        m_first = false;
}

SingleInstance::~SingleInstance() {
    if (!m_first && m_fd >= 0)
        ::close(m_fd);
}

bool SingleInstance::holderRuns() const {
    if (m_first || m_fd < 0)
        return false;
    // A shared lock is refused only while someone holds the exclusive one; when granted, it is
    // given back at once.
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_SH | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        ::flock(m_fd, LOCK_UN);
        return false;
    }
    // Any other failure cannot tell; the caller's own time limit ends the wait then.
    return true;
}

} // namespace platform
