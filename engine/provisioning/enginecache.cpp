#include "engine/provisioning/enginecache.h"

#include "engine/provisioning/provisioning.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/text.h"

#include <QByteArray>
#include <QStringList>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using platform::SystemError;

namespace {

constexpr qsizetype HashHexSize = 64;
constexpr char ManifestName[] = "manifest";
constexpr char ManifestHeader[] = "pixolund engine cache 1";
// Folders left by a run that crashed part way; a run still working never takes this long.
constexpr time_t LeftoverAge = 3600;

[[noreturn]] void raise(const QString& text) {
    throw SystemError(text);
}

QByteArray native(const QString& path) {
    return platform::toAnsi(path);
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Owned by us and writable by nobody else: anything else in the cache was not made by us.
bool ours(const struct stat& st) {
    return st.st_uid == ::geteuid() && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

qint64 ctimeNs(const struct stat& st) {
    return qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

bool isHashHex(const QByteArray& text) {
    if (text.size() != HashHexSize)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

QString cacheRoot() {
    const QString runtime = platform::PrivateRuntimeFolder();
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("pixolund-engine");
    // Relative values are invalid by the XDG rules and are ignored.
    QString cache = platform::fromAnsi(qgetenv("XDG_CACHE_HOME"));
    if (!cache.startsWith(u'/')) {
        const QString home = platform::fromAnsi(qgetenv("HOME"));
        if (!home.startsWith(u'/'))
            return QString();
        cache = home + QStringLiteral("/.cache");
    }
    return cache + QStringLiteral("/pixolund/engine");
}

// SHA-256 in lower-case hex of what fd reads from where it stands; empty on a read error.
QByteArray sha256Hex(int fd) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                      EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return QByteArray();
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return QByteArray();
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx.get(), buffer.constData(), size_t(n)) != 1)
            return QByteArray();
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(digest), qsizetype(size)).toHex();
}

// A small file of ours without following links (O_NONBLOCK: a planted FIFO must not hang us);
// nullopt when it is missing, foreign or larger than maxSize.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 maxSize) {
    const Fd file{::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || !ours(st) ||
        st.st_size > maxSize)
        return std::nullopt;
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    if (::read(file.fd, data.data(), size_t(data.size())) != ssize_t(data.size()))
        return std::nullopt;
    return data;
}

// A new file of ours at path, which must not exist yet; false with errno.
bool writeNewFile(const QString& path, const QByteArray& data, mode_t mode) {
    const QByteArray name = native(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, data.constData(), size_t(data.size())) == ssize_t(data.size()) &&
              ::fchmod(fd, mode) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        const int saved = errno;
        ::unlink(name.constData());
        errno = saved;
    }
    return ok;
}

// Removes a folder and all it holds, never following a link; best effort.
void removeTreeAt(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::fchmod(fd, 0700); // a folder someone made read-only would keep its contents
        if (DIR* dir = ::fdopendir(fd)) {
            std::vector<QByteArray> names;
            while (const dirent* e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.emplace_back(e->d_name);
            }
            for (const QByteArray& child : names) {
                struct stat st;
                if (::fstatat(fd, child.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(st.st_mode))
                    removeTreeAt(fd, child.constData());
                else
                    ::unlinkat(fd, child.constData(), 0);
            }
            ::closedir(dir);
        } else {
            ::close(fd);
        }
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void removeTree(const QString& path) {
    removeTreeAt(AT_FDCWD, native(path).constData());
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The package's hash, taken from the stamp its stat names when there is one of ours: hashing
// the whole package costs more than all the rest of a warm run. st receives that stat.
QByteArray packageHash(const QString& root, const QString& package, struct stat& st) {
    const Fd file{::open(native(package).constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        if (errno == ENOENT)
            raise(QStringLiteral("Package not found: %1").arg(package));
        raise(QStringLiteral("Cannot read package %1: %2").arg(package, platform::lastErrorText()));
    }
    if (!S_ISREG(st.st_mode))
        raise(QStringLiteral("Package %1 is not a file").arg(package));
    const QString stamp =
        root + QString::asprintf("/.stamp-%llx-%llx-%llx-%lld.%09ld-%lld.%09ld",
                                 (unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
                                 (unsigned long long)st.st_size, (long long)st.st_mtim.tv_sec,
                                 st.st_mtim.tv_nsec, (long long)st.st_ctim.tv_sec,
                                 st.st_ctim.tv_nsec);
    if (const std::optional<QByteArray> known = readSmallFile(stamp, HashHexSize);
        known && isHashHex(*known))
        return *known;

    const QByteArray hash = sha256Hex(file.fd);
    if (hash.isEmpty())
        raise(QStringLiteral("Cannot read package %1: %2").arg(package, platform::lastErrorText()));
    // Best effort: without the stamp the next run only hashes again.
    QByteArray temp = native(root + QStringLiteral("/.stamp-new-XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd >= 0) {
        const bool ok = ::write(fd, hash.constData(), size_t(hash.size())) == hash.size();
        if (::close(fd) != 0 || !ok || ::rename(temp.constData(), native(stamp).constData()) != 0)
            ::unlink(temp.constData());
    }
    return hash;
}

struct FileRecord {
    qint64 size = 0;
    quint64 inode = 0;
    qint64 ctime = 0;
};

QByteArray recordLine(const QString& name, const struct stat& st, const QByteArray& hash) {
    return QByteArray::number(qint64(st.st_size)) + '\t' + QByteArray::number(quint64(st.st_ino)) +
           '\t' + QByteArray::number(ctimeNs(st)) + '\t' + hash + '\t' + name.toUtf8() + '\n';
}

// The size, inode and ctime the manifest records for each of names; nullopt when it is
// missing, not ours, or does not read as a manifest of exactly these files.
std::optional<std::vector<FileRecord>> readManifest(const QString& path, const QStringList& names) {
    const std::optional<QByteArray> text = readSmallFile(path, 4096);
    if (!text)
        return std::nullopt;
    const QList<QByteArray> lines = text->split('\n');
    // Header, one line per file, and the empty rest after the last line break.
    if (lines.size() != names.size() + 2 || lines.front() != ManifestHeader ||
        !lines.back().isEmpty())
        return std::nullopt;
    std::vector<FileRecord> records;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QList<QByteArray> fields = lines[i + 1].split('\t');
        if (fields.size() != 5 || !isHashHex(fields[3]) || fields[4] != names[i].toUtf8())
            return std::nullopt;
        bool ok[3] = {};
        records.push_back({fields[0].toLongLong(&ok[0]), fields[1].toULongLong(&ok[1]),
                           fields[2].toLongLong(&ok[2])});
        if (!ok[0] || !ok[1] || !ok[2])
            return std::nullopt;
    }
    return records;
}

enum class EntryState { Missing, Valid, Damaged };

// The cheap check of every run: a folder of ours whose files are the very ones its manifest
// recorded. Whoever changes, replaces or relinks a file changes its inode or ctime.
EntryState checkEntry(const QString& entry, const QStringList& names) {
    struct stat st;
    if (::lstat(native(entry).constData(), &st) != 0)
        return errno == ENOENT ? EntryState::Missing : EntryState::Damaged;
    if (!S_ISDIR(st.st_mode) || !ours(st))
        return EntryState::Damaged;
    const auto records = readManifest(entry + u'/' + QLatin1String(ManifestName), names);
    if (!records)
        return EntryState::Damaged;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const FileRecord& r = (*records)[size_t(i)];
        if (::lstat(native(entry + u'/' + names[i]).constData(), &st) != 0 ||
            !S_ISREG(st.st_mode) || !ours(st) || st.st_size != r.size || st.st_ino != r.inode ||
            ctimeNs(st) != r.ctime)
            return EntryState::Damaged;
    }
    return EntryState::Valid;
}

// Moves whatever stands at entry aside under a fresh name, so that no run sees it half removed,
// and removes it. A link is removed itself, never what it points to.
void discardEntry(const QString& root, const QString& entry) {
    const QByteArray path = native(entry);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(path.constData());
        return;
    }
    // mkdtemp reserves a name nobody else takes; the rename replaces that empty folder.
    QByteArray trash = native(root + QStringLiteral("/.trash-XXXXXX"));
    if (!::mkdtemp(trash.data()))
        return;
    if (::rename(path.constData(), trash.constData()) != 0) {
        ::rmdir(trash.constData());
        return;
    }
    removeTree(platform::fromAnsi(trash));
}

void removeLeftovers(const QString& root) {
    DIR* dir = ::opendir(native(root).constData());
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    std::vector<QByteArray> old;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        struct stat st;
        if ((name.startsWith(".build-") || name.startsWith(".trash-")) &&
            ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            now - st.st_mtim.tv_sec > LeftoverAge)
            old.push_back(name);
    }
    ::closedir(dir);
    for (const QByteArray& name : old)
        removeTree(root + u'/' + platform::fromAnsi(name));
}

// Unpacks the package into a fresh private folder in root, makes the files read-only and
// records them in the manifest. Returns the folder; on failure it is gone again.
QString buildEntry(const QString& root, const QString& package, const struct stat& hashed,
                   const QStringList& names) {
    QByteArray pattern = native(root + QStringLiteral("/.build-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        raise(QStringLiteral("Cannot create a folder in %1: %2")
                  .arg(root, platform::lastErrorText()));
    const QString folder = platform::fromAnsi(pattern);
    try {
        const QList<QByteArray> passwords =
            RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
        UnpackPackage(package, folder, passwords.at(0), passwords.at(1));
        // An update replacing the package meanwhile would file its files under the old hash.
        struct stat now;
        if (::stat(native(package).constData(), &now) != 0 || !sameFile(now, hashed))
            raise(
                QStringLiteral("The package %1 changed while it was being unpacked").arg(package));
        QByteArray manifest = QByteArray(ManifestHeader) + '\n';
        for (const QString& name : names) {
            const QString path = folder + u'/' + name;
            const QByteArray file = native(path);
            struct stat st;
            if (::lstat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                raise(QStringLiteral("The package %1 does not hold %2").arg(package, name));
            if (::chmod(file.constData(), st.st_mode & 0500) != 0)
                raise(QStringLiteral("Cannot write %1: %2").arg(path, platform::lastErrorText()));
            const Fd fd{::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
            const QByteArray hash = fd.fd < 0 ? QByteArray() : sha256Hex(fd.fd);
            // After the chmod: the ctime recorded is the one the file keeps.
            if (hash.isEmpty() || ::fstat(fd.fd, &st) != 0)
                raise(QStringLiteral("Cannot read %1: %2").arg(path, platform::lastErrorText()));
            manifest += recordLine(name, st, hash);
        }
        if (!writeNewFile(folder + u'/' + QLatin1String(ManifestName), manifest, 0400))
            raise(QStringLiteral("Cannot write %1/%2: %3")
                      .arg(folder, QLatin1String(ManifestName), platform::lastErrorText()));
    } catch (...) {
        removeTree(folder);
        throw;
    }
    return folder;
}

} // namespace

QString PrepareEngineCache(const QString& packagePath, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return QString();
    };
    const QString root = cacheRoot();
    if (root.isEmpty())
        return fail(
            QStringLiteral("There is no folder for the engine cache: XDG_RUNTIME_DIR is not "
                           "a private folder, and neither XDG_CACHE_HOME nor HOME is an "
                           "absolute path."));
    QString why;
    if (!platform::EnsurePrivateFolder(root, &why))
        return fail(QStringLiteral("Cannot use the engine cache: %1").arg(why));
    try {
        const QStringList names{platform::fromAnsi(DecipherName(EncRenderLibraryName)),
                                platform::fromAnsi(DecipherName(EncRenderCompanionName))};
        struct stat package;
        const QString entry =
            root + u'/' + QString::fromLatin1(packageHash(root, packagePath, package));
        // A second round follows a lost race or an entry damaged meanwhile; more would mean
        // someone keeps interfering.
        for (int round = 0; round < 3; ++round) {
            switch (checkEntry(entry, names)) {
            case EntryState::Valid:
                return entry + u'/';
            case EntryState::Damaged:
                discardEntry(root, entry);
                break;
            case EntryState::Missing:
                break;
            }
            removeLeftovers(root);
            const QString built = buildEntry(root, packagePath, package, names);
            if (::rename(native(built).constData(), native(entry).constData()) == 0)
                return entry + u'/';
            const int code = errno;
            removeTree(built);
            // Another run published first (ENOTDIR: something other than a folder stands there).
            if (code != ENOTEMPTY && code != EEXIST && code != ENOTDIR)
                raise(QStringLiteral("Cannot create the folder %1: %2")
                          .arg(entry, platform::systemErrorText(code)));
        }
        raise(QStringLiteral("The engine cache folder %1 keeps changing while it is being set up")
                  .arg(entry));
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}
