#include "platform/folders.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString envText(const char* name) {
    // getenv and not qgetenv: qgetenv takes Qt's environment lock, getenv is what children see.
    const char* value = std::getenv(name);
    return value ? fromAnsi(QByteArray(value)) : QString();
}

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

// mkdir with exactly 0700 whatever the umask; false with errno (EEXIST too) otherwise.
bool makePrivateDir(const QString& path) {
    const QByteArray native = toAnsi(path);
    if (::mkdir(native.constData(), 0700) != 0)
        return false;
    if (::chmod(native.constData(), 0700) != 0) {
        const int saved = errno;
        ::rmdir(native.constData());
        errno = saved == EEXIST ? EPERM : saved;
        return false;
    }
    return true;
}

} // namespace

QString TempFolder() {
    QString folder = envText("TMPDIR");
    if (folder.isEmpty())
        folder = QStringLiteral("/tmp");
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QString CommonAppDataFolder() {
    const QString dataHome = envText("XDG_DATA_HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    if (dataHome.startsWith(u'/'))
        return withoutTrailingSlashes(dataHome);
    const QString home = envText("HOME");
    if (home.isEmpty())
        return QString();
    return withoutTrailingSlashes(home) + QStringLiteral("/.local/share");
}

QString DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString ProgramFolder() {
    // /proc/self/exe instead of QCoreApplication::applicationDirPath(): works without an
    // application object and from any thread; computed once.
    static const QString folder = [] {
        char buffer[PATH_MAX + 1];
        const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
        if (n <= 0)
            return QString();
        QString exe = fromAnsi(QByteArray(buffer, n));
        return exe.left(exe.lastIndexOf(u'/') + 1);
    }();
    return folder;
}

bool ForceDirectories(const QString& path) {
    if (path.isEmpty())
        return false;
    return QDir().mkpath(path) && DirectoryExists(path);
}

bool CreateDir(const QString& path) {
    return ::mkdir(toAnsi(path).constData(), 0777) == 0;
}

bool DirectoryExists(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(toAnsi(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(toAnsi(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsAbsolutePathText(const QString& path) {
    return path.startsWith(u'/');
}

void SetHiddenAttribute(const QString&) {}

bool EnsurePrivateFolder(const QString& path, QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    // No trailing "/": lstat("link/") would follow the link.
    const QString folder = withoutTrailingSlashes(path);
    if (folder.isEmpty())
        return fail(QStringLiteral("The folder name is empty."));
    const QByteArray native = toAnsi(folder);
    const uid_t me = ::geteuid();

    const QString parent = parentOf(folder);
    // Missing levels are ours alone as well; existing ones are left as they are.
    const QStringList parts = parent.split(u'/');
    QString level;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        level += parts[i];
        if (!parts[i].isEmpty() && !makePrivateDir(level) && errno != EEXIST)
            return fail(
                QStringLiteral("Cannot create the folder %1: %2.").arg(level, lastErrorText()));
        level += u'/';
    }
    struct stat st;
    if (::stat(toAnsi(parent).constData(), &st) != 0)
        return fail(
            QStringLiteral("Cannot examine the folder %1: %2.").arg(parent, lastErrorText()));
    // In a parent that others may write without the sticky bit, they could rename our folder
    // away and put their own in its place.
    const bool othersMayWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if ((othersMayWrite && !(st.st_mode & S_ISVTX)) || (st.st_uid != me && st.st_uid != 0))
        return fail(QStringLiteral("The folder %1 is not safe: other users can replace its "
                                   "contents.")
                        .arg(parent));

    if (!makePrivateDir(folder) && errno != EEXIST)
        return fail(
            QStringLiteral("Cannot create the folder %1: %2.").arg(folder, lastErrorText()));

    if (::lstat(native.constData(), &st) != 0)
        return fail(
            QStringLiteral("Cannot examine the folder %1: %2.").arg(folder, lastErrorText()));
    if (S_ISLNK(st.st_mode))
        return fail(
            QStringLiteral("The folder %1 is a symbolic link; it is not used.").arg(folder));
    if (!S_ISDIR(st.st_mode))
        return fail(QStringLiteral("%1 exists but is not a folder.").arg(folder));
    if (st.st_uid != me)
        return fail(
            QStringLiteral("The folder %1 belongs to another user; it is not used.").arg(folder));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return fail(QStringLiteral("The folder %1 can be written by other users; it is not used.")
                        .arg(folder));
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        return fail(QStringLiteral("The folder %1 lacks read, write or search permission for its "
                                   "owner.")
                        .arg(folder));
    return true;
}

QString PrivateRuntimeFolder() {
    const QString runtime = envText("XDG_RUNTIME_DIR");
    struct stat st;
    if (!runtime.startsWith(u'/') || ::stat(toAnsi(runtime).constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IRWXG | S_IRWXO)))
        return QString();
    return withoutTrailingSlashes(runtime) + u'/';
}

QString UserFolder(const QString& name, bool* fresh, QString* error) {
    if (fresh)
        *fresh = false;
    const QString uid = QString::number(::geteuid());
    const QString runtime = PrivateRuntimeFolder();
    const QString wanted = runtime.isEmpty() ? TempFolder() + name + u'-' + uid : runtime + name;
    QString why;
    if (EnsurePrivateFolder(wanted, &why))
        return wanted + u'/';
    // mkdtemp makes the folder with mode 0700 under a name nobody could have guessed.
    QByteArray pattern = toAnsi(TempFolder() + name + u'-' + uid + QStringLiteral("-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr) {
        if (error)
            *error = QStringLiteral("%1\nCannot create a private folder in %2 either: %3.")
                         .arg(why, TempFolder(), lastErrorText());
        return QString();
    }
    if (fresh)
        *fresh = true;
    return fromAnsi(pattern) + u'/';
}

int FreshSockets(const QString& folder, int maxAgeMs) {
    DIR* dir = ::opendir(toAnsi(folder).constData());
    if (!dir)
        return 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long nowMs = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    int count = 0;
    while (const dirent* e = ::readdir(dir)) {
        struct stat st;
        if (e->d_type != DT_SOCK && e->d_type != DT_UNKNOWN)
            continue;
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISSOCK(st.st_mode))
            continue;
        const long long madeMs = st.st_mtim.tv_sec * 1000LL + st.st_mtim.tv_nsec / 1000000;
        if (nowMs - madeMs <= maxAgeMs)
            ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace platform
