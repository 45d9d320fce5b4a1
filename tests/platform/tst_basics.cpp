// Error texts, text conversion, message packing, folders and dynamic libraries.
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/winmsg.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;

namespace {

// Sets (or with a null value unsets) an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvOverride() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

mode_t modeOf(const QString& path) {
    struct stat st;
    return ::lstat(path.toUtf8().constData(), &st) == 0 ? (st.st_mode & 07777) : mode_t(-1);
}

} // namespace

class BasicsTest : public QObject {
    Q_OBJECT

private slots:
    void trimErrorText_data();
    void trimErrorText();
    void systemErrorTexts_data();
    void systemErrorTexts();
    void raiseIfFailed();
    void ansiRoundTrip_data();
    void ansiRoundTrip();
    void progressPacking_data();
    void progressPacking();

    void tempFolder_data();
    void tempFolder();
    void commonAppDataFolder_data();
    void commonAppDataFolder();
    void absolutePathText_data();
    void absolutePathText();
    void folderOperations();
    void programFolder();

    void ensurePrivateFolder_data();
    void ensurePrivateFolder();
    void ensurePrivateFolderRefusesOtherOwner();
    void freshSockets();

    void dynamicLibrary();
    void dynamicLibraryFailures_data();
    void dynamicLibraryFailures();
};

void BasicsTest::trimErrorText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("period and CR LF") << "The system cannot find the file specified.\r\n"
                                      << "The system cannot find the file specified";
    QTest::newRow("mixed tail") << "Access is denied. .\t \n"
                                << "Access is denied";
    QTest::newRow("inner periods stay") << "v1.2 failed"
                                        << "v1.2 failed";
    QTest::newRow("leading blanks stay") << "  x"
                                         << "  x";
    QTest::newRow("nothing left") << " .\r\n."
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void BasicsTest::trimErrorText() {
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TrimErrorText(text), trimmed);
}

void BasicsTest::systemErrorTexts_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOENT") << ENOENT << "No such file or directory";
    QTest::newRow("EACCES") << EACCES << "Permission denied";
    QTest::newRow("ENOSPC") << ENOSPC << "No space left on device";
    QTest::newRow("unknown") << 54321 << "Unknown error 54321";
}

void BasicsTest::systemErrorTexts() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(systemErrorText(code), text);
    errno = code;
    QCOMPARE(lastErrorText(), text);
}

void BasicsTest::raiseIfFailed() {
    errno = EACCES;
    RaiseIfFailed(true);
    try {
        RaiseIfFailed(::access("/nonexistent/file", F_OK) == 0);
        QFAIL("no error raised");
    } catch (const SystemError& error) {
        QCOMPARE(error.text(), QString("No such file or directory"));
        QCOMPARE(QByteArray(error.what()), QByteArray("No such file or directory"));
    }
    QCOMPARE(SystemError("Grüße").text(), QString("Grüße"));
}

void BasicsTest::ansiRoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII") << "C:/files/a.pdf";
    QTest::newRow("Latin") << "Grüße àéîõü ß";
    QTest::newRow("CJK") << "東京の書類.pdf";
    QTest::newRow("outside the BMP") << QString::fromUtf8("\xf0\x9f\x93\x84 doc");
    QTest::newRow("empty") << "";
}

void BasicsTest::ansiRoundTrip() {
    QFETCH(QString, text);
    QCOMPARE(fromAnsi(toAnsi(text)), text);
    QCOMPARE(toAnsi(text), text.toUtf8());
}

void BasicsTest::progressPacking_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qintptr>("packed");
    // The third entry probed; and the file at position 0 taken up, about to render, done.
    QTest::newRow("third probed") << 3 << 100 << qintptr(3100);
    QTest::newRow("row 0 taken up") << 0 + 1 << 0 << qintptr(1000);
    QTest::newRow("row 0 rendering") << 0 + 1 << 95 << qintptr(1095);
    QTest::newRow("row 0 done") << 0 + 1 << 100 << qintptr(1100);
    QTest::newRow("large position") << 123456 << 999 << qintptr(123456999);
}

void BasicsTest::progressPacking() {
    QFETCH(int, position);
    QFETCH(int, percent);
    QFETCH(qintptr, packed);
    QCOMPARE(PackProgress(position, percent), packed);
    QCOMPARE(ProgressPosition(packed), position);
    QCOMPARE(ProgressPercent(packed), percent);
    static_assert(PackProgress(3, 100) == 3100 && ProgressPosition(1095) == 1 &&
                  ProgressPercent(1095) == 95);
}

void BasicsTest::tempFolder_data() {
    QTest::addColumn<QByteArray>("tmpdir");
    QTest::addColumn<QString>("folder");
    QTest::newRow("unset") << QByteArray() << "/tmp/";
    QTest::newRow("empty") << QByteArray("") << "/tmp/";
    QTest::newRow("without slash") << QByteArray("/var/tmp") << "/var/tmp/";
    QTest::newRow("with slash") << QByteArray("/var/tmp/") << "/var/tmp/";
}

void BasicsTest::tempFolder() {
    QFETCH(QByteArray, tmpdir);
    QFETCH(QString, folder);
    EnvOverride env("TMPDIR", tmpdir);
    QCOMPARE(TempFolder(), folder);
}

void BasicsTest::commonAppDataFolder_data() {
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("folder");
    QTest::newRow("XDG_DATA_HOME") << QByteArray("/data/x/") << QByteArray("/home/u") << "/data/x";
    QTest::newRow("relative XDG ignored")
        << QByteArray("rel") << QByteArray("/home/u") << "/home/u/.local/share";
    QTest::newRow("HOME only") << QByteArray() << QByteArray("/home/u") << "/home/u/.local/share";
    QTest::newRow("neither") << QByteArray() << QByteArray() << "";
}

void BasicsTest::commonAppDataFolder() {
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, folder);
    EnvOverride envXdg("XDG_DATA_HOME", xdg);
    EnvOverride envHome("HOME", home);
    QCOMPARE(CommonAppDataFolder(), folder);
}

void BasicsTest::absolutePathText_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("absolute");
    QTest::newRow("absolute") << "/home/u/out" << true;
    QTest::newRow("root") << "/" << true;
    QTest::newRow("relative") << "out/images" << false;
    QTest::newRow("windows drive") << "C:\\out" << false;
    QTest::newRow("empty") << "" << false;
}

void BasicsTest::absolutePathText() {
    QFETCH(QString, path);
    QFETCH(bool, absolute);
    QCOMPARE(IsAbsolutePathText(path), absolute);
}

void BasicsTest::folderOperations() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString nested = dir.filePath("a/b/c");
    QVERIFY(!DirectoryExists(nested));
    QVERIFY(ForceDirectories(nested));
    QVERIFY(ForceDirectories(nested)); // already there
    QVERIFY(DirectoryExists(nested));
    QVERIFY(!FileExists(nested));
    QVERIFY(!ForceDirectories(""));

    QVERIFY(CreateDir(dir.filePath("one")));
    QVERIFY(!CreateDir(dir.filePath("one")));
    QCOMPARE(errno, EEXIST);
    QVERIFY(!CreateDir(dir.filePath("x/y")));
    QCOMPARE(errno, ENOENT);

    QFile file(dir.filePath("f.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(FileExists(file.fileName()));
    QVERIFY(!DirectoryExists(file.fileName()));
    QVERIFY(!FileExists(dir.filePath("missing")));
    SetHiddenAttribute(file.fileName());
    QVERIFY(FileExists(file.fileName()));
}

void BasicsTest::programFolder() {
    const QString folder = ProgramFolder();
    QVERIFY(folder.endsWith('/'));
    QCOMPARE(folder, QCoreApplication::applicationDirPath() + '/');
}

void BasicsTest::ensurePrivateFolder_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");
    // setup: what exists before the call, relative to a fresh temporary folder.
    QTest::newRow("fresh") << ""
                           << "lib/" << true << "";
    QTest::newRow("fresh with parents") << ""
                                        << "p/q/lib/" << true << "";
    QTest::newRow("existing 0700") << "dir 0700 lib"
                                   << "lib/" << true << "";
    QTest::newRow("existing 0750") << "dir 0750 lib"
                                   << "lib" << true << "";
    QTest::newRow("existing 0777") << "dir 0777 lib"
                                   << "lib/" << false << "written by other users";
    QTest::newRow("existing 0720") << "dir 0720 lib"
                                   << "lib/" << false << "written by other users";
    QTest::newRow("existing 0500") << "dir 0500 lib"
                                   << "lib/" << false << "lacks read, write";
    QTest::newRow("symlink") << "link lib"
                             << "lib/" << false << "symbolic link";
    QTest::newRow("symlink no slash") << "link lib"
                                      << "lib" << false << "symbolic link";
    QTest::newRow("a file") << "file lib"
                            << "lib/" << false << "not a folder";
    QTest::newRow("parent open to all") << "dir 0777 shared"
                                        << "shared/lib/" << false << "other users can replace";
    QTest::newRow("parent sticky") << "dir 1777 shared"
                                   << "shared/lib/" << true << "";
}

void BasicsTest::ensurePrivateFolder() {
    QFETCH(QString, setup);
    QFETCH(QString, target);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList words = setup.split(' ', Qt::SkipEmptyParts);
    if (!words.isEmpty() && words[0] == "dir") {
        const QString path = dir.filePath(words[2]);
        QVERIFY(QDir().mkdir(path));
        QCOMPARE(::chmod(path.toUtf8().constData(), mode_t(words[1].toInt(nullptr, 8))), 0);
    } else if (!words.isEmpty() && words[0] == "link") {
        QVERIFY(QDir().mkdir(dir.filePath("real")));
        QCOMPARE(::chmod(dir.filePath("real").toUtf8().constData(), 0700), 0);
        QVERIFY(QFile::link(dir.filePath("real"), dir.filePath(words[1])));
    } else if (!words.isEmpty() && words[0] == "file") {
        QFile file(dir.filePath(words[1]));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // A permissive umask must not leak into a fresh folder.
    const mode_t oldMask = ::umask(0);
    QString error;
    const bool ok = EnsurePrivateFolder(dir.filePath(target), &error);
    ::umask(oldMask);
    QCOMPARE(ok, accepted);
    if (accepted) {
        QVERIFY(error.isEmpty());
        if (setup.isEmpty())
            QCOMPARE(modeOf(dir.filePath(target).chopped(1)), mode_t(0700));
    } else {
        QVERIFY2(error.contains(message), qPrintable(error));
    }
    // Make the folders removable again.
    ::chmod(dir.filePath("lib").toUtf8().constData(), 0700);
}

void BasicsTest::ensurePrivateFolderRefusesOtherOwner() {
    if (::geteuid() != 0)
        QSKIP("needs root to give a folder to another user");
    QTemporaryDir dir;
    const QString path = dir.filePath("lib");
    QVERIFY(QDir().mkdir(path));
    QCOMPARE(::chmod(path.toUtf8().constData(), 0700), 0);
    QCOMPARE(::chown(path.toUtf8().constData(), 65534, 65534), 0);
    QString error;
    QVERIFY(!EnsurePrivateFolder(path + '/', &error));
    QVERIFY2(error.contains("belongs to another user"), qPrintable(error));
}

// Only sockets count, and only those made within the age given.
void BasicsTest::freshSockets() {
    QTemporaryDir dir;
    const auto makeSocket = [&](const char* name) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    };
    makeSocket("new");
    makeSocket("old");
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const timespec longAgo[2] = {{1000, 0}, {1000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(dir.filePath("old")).constData(), longAgo,
                         AT_SYMLINK_NOFOLLOW),
             0);
    QCOMPARE(FreshSockets(dir.path(), 60000), 1);
    QCOMPARE(FreshSockets(dir.filePath("missing"), 60000), 0);
}

void BasicsTest::dynamicLibrary() {
    void* lib = LoadLibrary(ProgramFolder() + "libplatform_probelib.so");
    QVERIFY2(lib, qPrintable(lastLibraryError()));
    using Answer = int (*)();
    auto answer = reinterpret_cast<Answer>(GetProcAddress(lib, "pixolund_probe_answer"));
    QVERIFY(answer);
    QCOMPARE(answer(), 42);
    QVERIFY(!GetProcAddress(lib, "no_such_symbol"));
    QVERIFY(lastLibraryError().contains("no_such_symbol"));
    FreeLibrary(lib);
}

void BasicsTest::dynamicLibraryFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << "no-such-library.so" << ENOENT;
    QTest::newRow("not a library") << "not-a-library.so" << ENOEXEC;
}

void BasicsTest::dynamicLibraryFailures() {
    QFETCH(QString, name);
    QFETCH(int, error);
    QTemporaryDir dir;
    QFile junk(dir.filePath("not-a-library.so"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("this is text, not ELF");
    junk.close();
    errno = 0;
    QVERIFY(!LoadLibrary(dir.filePath(name)));
    QCOMPARE(errno, error);
    QVERIFY(!lastLibraryError().isEmpty());
}

QTEST_GUILESS_MAIN(BasicsTest)
#include "tst_basics.moc"
