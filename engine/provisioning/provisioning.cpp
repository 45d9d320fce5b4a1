#include "engine/provisioning/provisioning.h"

#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/winmsg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <zip.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using platform::SystemError;

QString LibraryDir;
SharedText RenderLibraryName;
SharedText RenderCompanionName;
SharedBytes RenderPackagePath;
QByteArray PackagePassword;
QByteArray InnerPackagePassword;

namespace {

std::atomic<int> runningChecks{0};
std::atomic<int> extractionsEnded{0};
// A folder made for this run alone goes at shutdown; nobody else would ever use it again.
bool libraryDirIsFresh = false;

QString decipheredName(const char* literal) {
    return platform::fromAnsi(DecipherName(literal));
}

bool isFile(const QString& path) {
    return QFileInfo(path).isFile();
}

[[noreturn]] void raise(const QString& text) {
    throw SystemError(text);
}

QString zipCodeText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// The open archive, discarded (read-only, nothing to write back) on every way out.
struct Discard {
    void operator()(zip_t* za) const { zip_discard(za); }
};
using Archive = std::unique_ptr<zip_t, Discard>;

Archive openArchive(const QString& zipPath, const QByteArray& password) {
    int code = 0;
    Archive archive(
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive) {
        switch (code) {
        case ZIP_ER_NOENT:
            raise(QStringLiteral("Package not found: %1").arg(zipPath));
        case ZIP_ER_OPEN:
        case ZIP_ER_READ:
        case ZIP_ER_MEMORY:
            raise(QStringLiteral("Cannot read package %1: %2").arg(zipPath, zipCodeText(code)));
        default:
            raise(QStringLiteral("Damaged package %1: %2").arg(zipPath, zipCodeText(code)));
        }
    }
    if (zip_set_default_password(archive.get(),
                                 password.isEmpty() ? nullptr : password.constData()) < 0)
        raise(QStringLiteral("Cannot read package %1: %2")
                  .arg(zipPath, QString::fromUtf8(zip_strerror(archive.get()))));
    return archive;
}

// The entry's name when it stays inside the base folder; throws otherwise.
QString checkedEntryName(zip_t* za, zip_uint64_t index, const QString& zipPath) {
    const char* raw = zip_get_name(za, index, 0);
    if (!raw)
        raise(QStringLiteral("Damaged package %1: %2")
                  .arg(zipPath, QString::fromUtf8(zip_strerror(za))));
    const QString name = QString::fromUtf8(raw);
    const auto refuse = [&](const char* why) {
        raise(QStringLiteral("Refused entry \"%1\" in package %2: %3")
                  .arg(name, zipPath, QString::fromLatin1(why)));
    };
    if (name.isEmpty())
        refuse("the entry has no name");
    if (name.startsWith(u'/') || name.startsWith(u'\\') || (name.size() >= 2 && name[1] == u':'))
        refuse("absolute path");
    const QStringList parts = name.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    if (parts.contains(QStringLiteral("..")))
        refuse("the path leaves the target folder");
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX && S_ISLNK(attributes >> 16))
        refuse("symbolic link");
    return name;
}

bool insideFolder(const QString& path, const QString& canonicalBase) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() &&
           (canonical == canonicalBase || canonical.startsWith(canonicalBase + u'/'));
}

// A new file for the entry beside its target, under a name nobody else knows; -1 with errno.
int createTempFile(const QString& target, QString* path) {
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = info.path() + QStringLiteral("/.") + info.fileName() + u'.' +
                QString::number(QRandomGenerator::global()->generate64(), 36) +
                QStringLiteral(".tmp");
        const int fd = ::open(platform::toAnsi(*path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

QString sizeLimitText(qint64 limit) {
    return limit >= (1 << 20) ? QStringLiteral("%1 MB").arg(limit >> 20)
                              : QStringLiteral("%1 bytes").arg(limit);
}

// Copies one entry to a temporary file beside its target and renames it when complete. The
// rename replaces whatever stands at the target, a planted link included, instead of writing
// through it.
void extractEntry(zip_t* za, zip_uint64_t index, const QString& target, const QString& zipPath,
                  const QString& name, qint64 maxEntrySize) {
    zip_file_t* entry = zip_fopen_index(za, index, 0);
    if (!entry) {
        const int code = zip_error_code_zip(zip_get_error(za));
        if (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)
            raise(QStringLiteral("Wrong password for package %1").arg(zipPath));
        raise(QStringLiteral("Damaged package %1: %2")
                  .arg(zipPath, QString::fromUtf8(zip_strerror(za))));
    }
    struct Closer {
        zip_file_t* f;
        ~Closer() { zip_fclose(f); }
    } closer{entry};

    struct Temp {
        QString path;
        int fd = -1;
        ~Temp() {
            if (fd >= 0)
                ::close(fd);
            if (!path.isEmpty())
                ::unlink(platform::toAnsi(path).constData());
        }
    } temp;
    temp.fd = createTempFile(target, &temp.path);
    if (temp.fd < 0) {
        const QString why = platform::lastErrorText();
        temp.path.clear();
        raise(QStringLiteral("Cannot write %1: %2").arg(target, why));
    }
    static constexpr qint64 chunk = 1 << 16;
    QByteArray buffer(chunk, Qt::Uninitialized);
    qint64 written = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(entry, buffer.data(), chunk);
        if (n < 0) {
            const int code = zip_error_code_zip(zip_file_get_error(entry));
            const QString text = QString::fromUtf8(zip_file_strerror(entry));
            if (code == ZIP_ER_CRC || code == ZIP_ER_ZLIB || code == ZIP_ER_COMPRESSED_DATA)
                raise(
                    QStringLiteral("Wrong password or damaged package %1: %2").arg(zipPath, text));
            raise(QStringLiteral("Damaged package %1: %2").arg(zipPath, text));
        }
        if (n == 0)
            break;
        // The header's size was checked already; the data itself may still say otherwise.
        written += n;
        if (written > maxEntrySize)
            raise(QStringLiteral("Refused entry \"%1\" in package %2: larger than %3")
                      .arg(name, zipPath, sizeLimitText(maxEntrySize)));
        if (!writeAll(temp.fd, buffer.constData(), n))
            raise(QStringLiteral("Cannot write %1: %2").arg(target, platform::lastErrorText()));
    }
    // Owner only; execute kept when the archive says so (the libraries are mapped executable).
    mode_t mode = 0600;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IXUSR))
        mode |= S_IXUSR;
    const int fd = std::exchange(temp.fd, -1);
    if (::fchmod(fd, mode) != 0 || ::close(fd) != 0)
        raise(QStringLiteral("Cannot write %1: %2").arg(target, platform::lastErrorText()));
    if (::rename(platform::toAnsi(temp.path).constData(), platform::toAnsi(target).constData()) !=
        0)
        raise(QStringLiteral("Cannot write %1: %2").arg(target, platform::lastErrorText()));
    temp.path.clear();
}

} // namespace

bool SetUpLibraryDir(QString* error) {
    LibraryDir.clear();
    libraryDirIsFresh = false;
    QString name = decipheredName(EncLibraryDir);
    while (name.endsWith(u'/'))
        name.chop(1);
    const QString dir = platform::UserFolder(name, &libraryDirIsFresh, error);
    if (dir.isEmpty())
        return false;
    LibraryDir = dir;
    return true;
}

int PackageCheck() {
    const QString packageName = decipheredName(EncRenderPackageName);
    RenderLibraryName.set(decipheredName(EncRenderLibraryName));
    RenderCompanionName.set(decipheredName(EncRenderCompanionName));
    if (!LibraryDir.isEmpty() && isFile(LibraryDir + RenderLibraryName.get()) &&
        isFile(LibraryDir + RenderCompanionName.get()))
        return 0;
    RenderPackagePath.set(platform::toAnsi(platform::ProgramFolder() + packageName));
    platform::PostMessage(WM_CREATETEMPLIB, 0, 0);
    return 0;
}

void PackageCheckThread() {
    ++runningChecks;
    std::thread([] {
        try {
            PackageCheck();
        } catch (...) {
            const QString text =
                QStringLiteral("Create library error:") + platform::lastErrorText();
            try {
                platform::MessageBox(platform::BoxKind::Plain, text);
            } catch (...) {
            }
        }
        --runningChecks; // last touch of shared state but the waiters' wake, which lives on
        platform::WakeServicingWaiters();
    }).detach();
}

void WaitForPackageChecks() {
    platform::WaitServicingGui([] { return runningChecks.load() == 0; });
}

void ExtractArchive(const QString& zipPath, const QByteArray& password, const QString& baseDir,
                    qint64 maxEntrySize, qint64 maxTotalSize) {
    if (baseDir.isEmpty())
        raise(QStringLiteral("The working folder of the renderer is not available"));
    const QString canonicalBase = QFileInfo(baseDir).canonicalFilePath();
    if (canonicalBase.isEmpty() || !QFileInfo(canonicalBase).isDir())
        raise(QStringLiteral("Folder not found: %1").arg(baseDir));
    const QString base = baseDir.endsWith(u'/') ? baseDir : baseDir + u'/';

    Archive archive = openArchive(zipPath, password);
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0)
        raise(QStringLiteral("Damaged package %1").arg(zipPath));
    // Every entry is checked before anything is written, so a refused archive leaves no trace.
    QStringList names;
    zip_uint64_t declaredTotal = 0;
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        const QString name = checkedEntryName(archive.get(), i, zipPath);
        names.append(name);
        if (name.endsWith(u'/'))
            continue;
        const auto refuse = [&](const QString& why) {
            raise(QStringLiteral("Refused entry \"%1\" in package %2: %3").arg(name, zipPath, why));
        };
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive.get(), i, 0, &st) != 0)
            raise(QStringLiteral("Damaged package %1: %2")
                      .arg(zipPath, QString::fromUtf8(zip_strerror(archive.get()))));
        // Whoever can put a package beside the program must not get code loaded without the key.
        if (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE)
            refuse(QStringLiteral("the entry is not encrypted"));
        if (!(st.valid & ZIP_STAT_SIZE) || st.size > zip_uint64_t(maxEntrySize))
            refuse(QStringLiteral("larger than %1").arg(sizeLimitText(maxEntrySize)));
        declaredTotal += st.size;
        if (declaredTotal > zip_uint64_t(maxTotalSize))
            raise(QStringLiteral("Refused package %1: its files add up to more than %2")
                      .arg(zipPath, sizeLimitText(maxTotalSize)));
    }

    // A failure part way leaves none of this run's files behind.
    QStringList written;
    qint64 writtenBytes = 0;
    try {
        for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
            const QString& name = names[qsizetype(i)];
            const QString target = base + name;
            const bool folder = name.endsWith(u'/');
            const QString parent = folder ? target : QFileInfo(target).absolutePath();
            if (!QDir().mkpath(parent))
                raise(QStringLiteral("Cannot create folder %1: %2")
                          .arg(parent, platform::lastErrorText()));
            // A folder that is really a link elsewhere must not receive the entry.
            if (!insideFolder(parent, canonicalBase))
                raise(QStringLiteral(
                          "Refused entry \"%1\" in package %2: the path leaves the target folder")
                          .arg(name, zipPath));
            if (!folder) {
                // The data may hold more than the headers say: the total bounds it as well.
                extractEntry(archive.get(), i, target, zipPath, name,
                             qMin(maxEntrySize, maxTotalSize - writtenBytes));
                written.append(target);
                writtenBytes += QFileInfo(target).size();
            }
        }
    } catch (...) {
        for (const QString& path : std::as_const(written))
            ::unlink(platform::toAnsi(path).constData());
        throw;
    }
}

int ExtractionCount() {
    return extractionsEnded.load();
}

void CreateTempLibFiles() {
    // Counted however the extraction ends: a conversion pass waits for this.
    struct Ended {
        ~Ended() { ++extractionsEnded; }
    } ended;
    if (LibraryDir.isEmpty())
        raise(QStringLiteral("The working folder of the renderer is not available"));
    QString package = platform::fromAnsi(RenderPackagePath.get());
    if (package.isEmpty())
        package = platform::ProgramFolder() + decipheredName(EncRenderPackageName);
    QByteArray outerPassword = PackagePassword;
    QByteArray innerPassword = InnerPackagePassword;
    if (outerPassword.isEmpty() || innerPassword.isEmpty()) {
        const QList<QByteArray> both =
            RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
        outerPassword = both.at(0);
        innerPassword = both.at(1);
    }

    UnpackPackage(package, LibraryDir, outerPassword, innerPassword);
}

void UnpackPackage(const QString& packagePath, const QString& folder,
                   const QByteArray& outerPassword, const QByteArray& innerPassword) {
    ExtractArchive(packagePath, outerPassword, folder);
    const QString extension = QFileInfo(packagePath).suffix();
    const QString inner = (folder.endsWith(u'/') ? folder : folder + u'/') + extension;
    if (extension.isEmpty() || !isFile(inner))
        return;
    // The inner archive goes whatever happens: it must not outlive the extraction.
    struct Remover {
        QString path;
        ~Remover() { QFile::remove(path); }
    } remover{inner};
    ExtractArchive(inner, innerPassword, folder);
}

void DeleteRenderFiles() {
    if (LibraryDir.isEmpty())
        return;
    // Files left by an earlier run are removed too, even when no check ran in this one.
    QString library = RenderLibraryName.get();
    QString companion = RenderCompanionName.get();
    if (library.isEmpty())
        library = decipheredName(EncRenderLibraryName);
    if (companion.isEmpty())
        companion = decipheredName(EncRenderCompanionName);
    for (const QString& name : {library, companion}) {
        const QFileInfo file(LibraryDir + name);
        if (file.isFile() || file.isSymLink())
            QFile::remove(file.filePath());
    }
    if (libraryDirIsFresh)
        ::rmdir(platform::toAnsi(LibraryDir).constData());
}
