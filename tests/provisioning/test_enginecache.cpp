// The per-user engine cache with the package the build made: first use and reuse, first runs of
// several processes at once, damaged entries, and cache roots that must not be used.

#include "engine/provisioning/enginecache.h"

#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "tests/common/scopedenv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

// Run as a child with this flag and a package path, the program prepares the cache and prints
// the folder.
constexpr char ChildFlag[] = "--prepare-engine-cache";

QString name(const char* enciphered) {
    return QString::fromUtf8(DecipherName(enciphered));
}

QString packagePath() {
    return QStringLiteral(PIXOLUND_BIN_DIR "/") + name(EncRenderPackageName);
}

QString sha256Hex(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file)
               ? QString::fromLatin1(hash.result().toHex())
               : QString();
}

struct stat lstatOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(data), data.size());
}

void makeWritable(const QString& path) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0700), 0);
}

class ScopedCacheHome {
public:
    explicit ScopedCacheHome(const QByteArray& value) : m_old(qgetenv("XDG_CACHE_HOME")) {
        qputenv("XDG_CACHE_HOME", value);
    }
    ~ScopedCacheHome() {
        if (m_old.isNull())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", m_old);
    }

private:
    QByteArray m_old;
};

class EngineCache : public ::testing::Test {
protected:
    QTemporaryDir base;
    QString runtime; // a private XDG_RUNTIME_DIR
    QString root;    // where the cache is expected
    QString library, companion;
    std::optional<ScopedFolderEnvironment> folders;
    std::optional<ScopedCacheHome> cacheHome;

    void SetUp() override {
#if !PIXOLUND_HAVE_RENDER
        GTEST_SKIP() << "the rendering library is not part of this build";
#endif
        ASSERT_TRUE(QFileInfo(packagePath()).isFile()) << packagePath().toStdString();
        ASSERT_TRUE(base.isValid());
        runtime = base.filePath(QStringLiteral("run"));
        ASSERT_EQ(::mkdir(QFile::encodeName(runtime).constData(), 0700), 0);
        useRuntimeFolder(true);
        library = name(EncRenderLibraryName);
        companion = name(EncRenderCompanionName);
    }

    // With a runtime folder the cache goes there, else into XDG_CACHE_HOME.
    void useRuntimeFolder(bool yes) {
        folders.reset();
        cacheHome.reset();
        folders.emplace(yes ? runtime.toUtf8() : QByteArray(),
                        base.filePath(QStringLiteral("tmp")).toUtf8());
        cacheHome.emplace(base.filePath(QStringLiteral("cache")).toUtf8());
        root = yes ? runtime + QStringLiteral("/pixolund-engine/")
                   : base.filePath(QStringLiteral("cache/pixolund/engine/"));
    }

    static QString packageHash() {
        static const QString hash = sha256Hex(packagePath());
        return hash;
    }
    QString expectedFolder() const {
        return root + packageHash() + u'/';
    }

    QString prepare() {
        QString error;
        const QString folder = PrepareEngineCache(packagePath(), &error);
        EXPECT_EQ(error, QString());
        return folder;
    }

    // Inode and ctime of both files: equal values mean nothing was unpacked again.
    std::vector<qint64> fileIdentity(const QString& folder) const {
        std::vector<qint64> identity;
        for (const QString& file : {library, companion}) {
            const struct stat st = lstatOf(folder + file);
            identity.push_back(qint64(st.st_ino));
            identity.push_back(qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec);
        }
        return identity;
    }

    // A complete entry, read-only, and nothing but it among the root's folders.
    void expectSoundEntry(const QString& folder) const {
        ASSERT_EQ(folder, expectedFolder());
        EXPECT_EQ(lstatOf(root.chopped(1)).st_mode, mode_t(S_IFDIR | 0700));
        for (const QString& file : {library, companion, QStringLiteral("manifest")}) {
            const struct stat st = lstatOf(folder + file);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << file.toStdString();
            EXPECT_EQ(st.st_mode & 0222, 0u) << file.toStdString();
        }
        // The companion is a program the library starts.
        EXPECT_TRUE(lstatOf(folder + companion).st_mode & S_IXUSR);
        EXPECT_EQ(QDir(root).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{packageHash()});
    }
};

TEST_F(EngineCache, FirstUseUnpacksLaterUsesReuse) {
    for (const bool runtimeFolder : {true, false}) {
        SCOPED_TRACE(runtimeFolder ? "runtime folder" : "cache folder");
        useRuntimeFolder(runtimeFolder);
        const QString folder = prepare();
        expectSoundEntry(folder);
        const std::vector<qint64> identity = fileIdentity(folder);

        EXPECT_EQ(prepare(), folder);
        // A lost or garbled stamp only costs hashing the package again.
        const QStringList stamps =
            QDir(root).entryList({QStringLiteral(".stamp-*")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(stamps.size(), 1);
        writeFile(root + stamps[0], "not a hash");
        EXPECT_EQ(prepare(), folder);
        QFile::remove(root + stamps[0]);
        EXPECT_EQ(prepare(), folder);
        EXPECT_EQ(fileIdentity(folder), identity);
        expectSoundEntry(folder);
    }
}

TEST_F(EngineCache, ConcurrentFirstRunsAgree) {
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(QCoreApplication::applicationFilePath(),
                               {QString::fromLatin1(ChildFlag), packagePath()});
    }
    for (const auto& child : children) {
        ASSERT_TRUE(child->waitForFinished(180000));
        EXPECT_EQ(child->exitCode(), 0) << child->readAllStandardError().toStdString();
        EXPECT_EQ(QString::fromUtf8(child->readAllStandardOutput()), expectedFolder());
    }
    expectSoundEntry(expectedFolder());
    const std::vector<qint64> identity = fileIdentity(expectedFolder());
    EXPECT_EQ(prepare(), expectedFolder());
    EXPECT_EQ(fileIdentity(expectedFolder()), identity);
}

TEST_F(EngineCache, DamagedEntryIsRebuilt) {
    const QString elsewhere = base.filePath(QStringLiteral("elsewhere")) + u'/';
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString entry = expectedFolder();
    ASSERT_EQ(prepare(), entry);
    const QString libraryHash = sha256Hex(entry + library);
    const QString companionHash = sha256Hex(entry + companion);
    ASSERT_FALSE(companionHash.isEmpty());

    struct Case {
        const char* what;
        std::function<void()> tamper;
        QString outside = QString(); // a file outside the cache the tampering left: it stays
    };
    const Case cases[] = {
        {"companion overwritten, same size",
         [&] {
             makeWritable(entry + companion);
             QFile f(entry + companion);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_EQ(f.write("#!/bin/sh\n"), 10);
         }},
        {"companion truncated",
         [&] {
             makeWritable(entry + companion);
             ASSERT_TRUE(QFile::resize(entry + companion, 100));
         }},
        {"companion missing", [&] { ASSERT_TRUE(QFile::remove(entry + companion)); }},
        {"manifest missing",
         [&] { ASSERT_TRUE(QFile::remove(entry + QStringLiteral("manifest"))); }},
        {"manifest garbled",
         [&] {
             makeWritable(entry + QStringLiteral("manifest"));
             writeFile(entry + QStringLiteral("manifest"), "pixolund engine cache 1\nx\ty\n");
         }},
        {"library replaced by a link",
         [&] {
             ASSERT_TRUE(QFile::rename(entry + library, elsewhere + library));
             ASSERT_TRUE(QFile::link(elsewhere + library, entry + library));
         },
         elsewhere + library},
        {"entry replaced by a link",
         [&] {
             ASSERT_TRUE(QDir().rename(entry.chopped(1), elsewhere + QStringLiteral("entry")));
             ASSERT_TRUE(QFile::link(elsewhere + QStringLiteral("entry"), entry.chopped(1)));
         },
         elsewhere + QStringLiteral("entry/") + companion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.tamper();
        const QString folder = prepare();
        expectSoundEntry(folder);
        EXPECT_EQ(sha256Hex(folder + library), libraryHash);
        EXPECT_EQ(sha256Hex(folder + companion), companionHash);
        if (!c.outside.isEmpty()) {
            EXPECT_TRUE(QFileInfo(c.outside).isFile()) << c.outside.toStdString();
        }
        // The rebuilt entry holds: the next run uses it as it is.
        const std::vector<qint64> identity = fileIdentity(folder);
        EXPECT_EQ(prepare(), folder);
        EXPECT_EQ(fileIdentity(folder), identity);
    }
}

// Nothing is written through a refused root or into it.
TEST_F(EngineCache, LinkAtTheRootOrMissingPackageIsRefused) {
    const QString elsewhere = base.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString rootPlace = root.chopped(1);
    struct Case {
        const char* what;
        bool link; // at the root's place, pointing to another folder
        QString package;
        const char* error;
    };
    const Case cases[] = {
        {"symbolic link at the root's place", true, packagePath(), "symbolic link"},
        {"package missing", false, base.filePath(QStringLiteral("none.dat")), "Package not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.link) {
            ASSERT_TRUE(QFile::link(elsewhere, rootPlace));
        }
        QString error;
        EXPECT_EQ(PrepareEngineCache(c.package, &error), QString());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
        if (!c.link) {
            EXPECT_TRUE(QDir(rootPlace).isEmpty());
        }
        QFile::remove(rootPlace);
    }
}

TEST_F(EngineCache, RootOfAnotherUserIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    const QByteArray rootPlace = QFile::encodeName(root.chopped(1));
    ASSERT_EQ(::mkdir(rootPlace.constData(), 0700), 0);
    ASSERT_EQ(::chown(rootPlace.constData(), 65534, 65534), 0);
    QString error;
    EXPECT_EQ(PrepareEngineCache(packagePath(), &error), QString());
    EXPECT_TRUE(error.contains(QLatin1String("another user"))) << error.toStdString();
    EXPECT_TRUE(QDir(root).isEmpty());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], ChildFlag) == 0) {
        QString error;
        const QString folder = PrepareEngineCache(QString::fromLocal8Bit(argv[2]), &error);
        std::fputs(qPrintable(folder.isEmpty() ? error : folder),
                   folder.isEmpty() ? stderr : stdout);
        return folder.isEmpty() ? 1 : 0;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
