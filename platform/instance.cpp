#include "platform/instance.h"

#include "platform/folders.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString SingleInstance::lockPath(const QString& title) {
    QString name = title;
    name.replace(u'/', u'_');
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && DirectoryExists(fromAnsi(runtime))) {
        QString folder = fromAnsi(runtime);
        if (!folder.endsWith(u'/'))
            folder += u'/';
        return folder + name + QStringLiteral(".lock");
    }
    // The temporary folder is shared by all users, so the user id goes into the name.
    return TempFolder() + name + QStringLiteral("-%1.lock").arg(::geteuid());
}

SingleInstance::SingleInstance(const QString& title) {
    const QByteArray path = toAnsi(lockPath(title));
    // O_NOFOLLOW: a link planted in a shared folder must not make us create files elsewhere.
    // O_CLOEXEC: children must not inherit (and so prolong) the lock.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EWOULDBLOCK) {
        m_first = false;
        ::close(fd);
    }
    // Otherwise the descriptor stays open on purpose until the process ends.
}

} // namespace platform
