// Child processes and the single-instance lock, with real processes (the echochild helper lies
// beside this test, so a bare "echochild" is found in the program's own folder).
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "tests/common/scopedenv.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::CaptureResult;
using platform::QuoteArgument;
using platform::RunAndCapture;
using platform::SplitCommandLine;
using platform::SystemError;

class ProcessTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void splitCommandLine_data();
    void splitCommandLine();
    void quoteArgument_data();
    void quoteArgument();

    void decodesOutput_data();
    void decodesOutput();
    void mergesStandardError();
    void drainsLargeOutput();
    void exitCodes_data();
    void exitCodes();
    void startFailures_data();
    void startFailures();
    void argumentsReachChild_data();
    void argumentsReachChild();
    void ownFolderBeforePath();
    void timeLimit_data();
    void timeLimit();
    void concurrentCaptures();

    void singleInstanceAcrossProcesses();
    void lockPathFallsBackToTempFolder();
    void runtimeFolderOfOthersIsNotUsed_data();
    void runtimeFolderOfOthersIsNotUsed();
    void plantedLockIsNotTrusted_data();
    void plantedLockIsNotTrusted();

private:
    QTemporaryDir m_runtime;
};

void ProcessTest::initTestCase() {
    QVERIFY(m_runtime.isValid());
    // The lock of this run lives in a folder of its own; children inherit the variable.
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    QVERIFY(QFile::exists(platform::ProgramFolder() + "echochild"));
}

void ProcessTest::splitCommandLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only blanks") << " \t " << QStringList{};
    QTest::newRow("blanks and tabs") << "  a\tb   c  " << QStringList{"a", "b", "c"};
    QTest::newRow("quotes group") << R"(pi "my file.pdf")" << QStringList{"pi", "my file.pdf"};
    QTest::newRow("quotes inside a word") << R"(a"b c"d)" << QStringList{"ab cd"};
    QTest::newRow("empty quoted") << R"("" "")" << QStringList{"", ""};
    QTest::newRow("unterminated quote") << R"("open end)" << QStringList{"open end"};
    QTest::newRow("lone backslashes literal")
        << R"(a\b\\c d\)" << QStringList{R"(a\b\\c)", R"(d\)"};
    QTest::newRow("1 backslash + quote") << R"(a\"b)" << QStringList{R"(a"b)"};
    QTest::newRow("2 backslashes + quote") << R"(a\\"b c")" << QStringList{R"(a\b c)"};
    QTest::newRow("3 backslashes + quote") << R"(a\\\"b)" << QStringList{R"(a\"b)"};
    QTest::newRow("4 backslashes + quote") << R"("a\\\\" b)" << QStringList{R"(a\\)", "b"};
    QTest::newRow("doubled quote in group") << R"("a""b" c)" << QStringList{R"(a"b)", "c"};
    QTest::newRow("non-ASCII") << "\"Grüße 東京\" ü" << QStringList{"Grüße 東京", "ü"};
}

void ProcessTest::splitCommandLine() {
    QFETCH(QString, line);
    QFETCH(QStringList, args);
    QCOMPARE(SplitCommandLine(line), args);
}

void ProcessTest::quoteArgument_data() {
    QTest::addColumn<QString>("arg");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("empty") << ""
                           << R"("")";
    QTest::newRow("plain") << "plain"
                           << "plain";
    QTest::newRow("plain with backslash") << R"(a\b)"
                                          << R"(a\b)";
    QTest::newRow("blank") << "a b"
                           << R"("a b")";
    QTest::newRow("tab") << "a\tb"
                         << "\"a\tb\"";
    QTest::newRow("only a blank") << " "
                                  << R"(" ")";
    QTest::newRow("quote") << R"(say "hi")"
                           << R"("say \"hi\"")";
    QTest::newRow("lone quote") << R"(")"
                                << R"("\"")";
    QTest::newRow("trailing backslash") << R"(dir\ x\)"
                                        << R"("dir\ x\\")";
    QTest::newRow("backslash before quote") << R"(a\"b)"
                                            << R"("a\\\"b")";
    QTest::newRow("two backslashes and quote") << R"(\\")"
                                               << R"("\\\\\"")";
    QTest::newRow("newline is not a separator") << "a\nb"
                                                << "a\nb";
    QTest::newRow("non-ASCII") << "pässwörd 東京"
                               << "\"pässwörd 東京\"";
}

void ProcessTest::quoteArgument() {
    QFETCH(QString, arg);
    QFETCH(QString, quoted);
    QCOMPARE(QuoteArgument(arg), quoted);
    QCOMPARE(SplitCommandLine(QuoteArgument(arg)), QStringList{arg});
    // Also when it stands between other arguments.
    const QString line = "pi -upw " + QuoteArgument(arg) + " \"/tmp/a b.pdf\"";
    QCOMPARE(SplitCommandLine(line), (QStringList{"pi", "-upw", arg, "/tmp/a b.pdf"}));
}

void ProcessTest::decodesOutput_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("output");
    QTest::newRow("nothing") << QByteArray() << "";
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << "a\r\nb\r\n";
    QTest::newRow("lone LF") << QByteArray("a\nb\n") << "a\r\nb\r\n";
    QTest::newRow("lone CR") << QByteArray("a\rb\r") << "a\r\nb\r\n";
    QTest::newRow("no trailing break") << QByteArray("a\nb") << "a\r\nb\r\n";
    QTest::newRow("one line") << QByteArray("Pages: 3") << "Pages: 3\r\n";
    QTest::newRow("trailing empty line") << QByteArray("a\n\n") << "a\r\n\r\n";
    QTest::newRow("only a break") << QByteArray("\n") << "\r\n";
    QTest::newRow("mixed breaks") << QByteArray("a\r\r\nb\n\rc") << "a\r\n\r\nb\r\n\r\nc\r\n";
    QTest::newRow("NUL kept") << QByteArray("a\0b", 3) << QString("a") + QChar(0) + "b\r\n";
    QTest::newRow("UTF-8 without BOM") << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                                     "e")
                                       << "Grüße\r\n";
    QTest::newRow("UTF-8 BOM") << QByteArray("\xef\xbb\xbf"
                                             "Gr\xc3\xbc\xc3\x9f"
                                             "e\n")
                               << "Grüße\r\n";
    QTest::newRow("only a BOM") << QByteArray("\xef\xbb\xbf") << "";
    QTest::newRow("second BOM is text") << QByteArray("\xef\xbb\xbf\xef\xbb\xbf"
                                                      "A")
                                        << QString(QChar(0xFEFF)) + "A\r\n";
    QTest::newRow("UTF-16LE BOM") << QByteArray("\xff\xfe"
                                                "A\0\r\0\n\0\xc4\0\n\0",
                                                12)
                                  << "A\r\nÄ\r\n";
    QTest::newRow("UTF-16BE BOM") << QByteArray("\xfe\xff\0A\0\r\x6c\x34", 8) << "A\r\n\u6c34\r\n";
}

void ProcessTest::decodesOutput() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, output);
    const CaptureResult result =
        RunAndCapture("echochild hex " + QuoteArgument(QString::fromLatin1(bytes.toHex())));
    QCOMPARE(result.exitCode, 0u);
    QCOMPARE(result.output, output);
}

void ProcessTest::mergesStandardError() {
    const CaptureResult result = RunAndCapture("echochild mixed");
    QCOMPARE(result.output, QString("out1\r\nerr1\r\nout2\r\n"));
}

void ProcessTest::drainsLargeOutput() {
    // Far beyond a pipe buffer: the child would block for ever if we did not read while it runs.
    const int lines = 8 * 1024 * 1024 / 64;
    const CaptureResult result = RunAndCapture(QStringLiteral("echochild big %1").arg(lines * 64));
    QCOMPARE(result.exitCode, 0u);
    const QString line = QString(63, u'x') + "\r\n";
    QCOMPARE(result.output.size(), qsizetype(lines) * line.size());
    QCOMPARE(result.output, line.repeated(lines));
}

void ProcessTest::exitCodes_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<quint32>("exitCode");
    QTest::newRow("0") << "echochild exit 0" << 0u;
    QTest::newRow("1") << "echochild exit 1" << 1u;
    QTest::newRow("3") << "echochild exit 3" << 3u;
    QTest::newRow("255") << "echochild exit 255" << 255u;
    QTest::newRow("killed") << "echochild kill" << 128u + 9u;
}

void ProcessTest::exitCodes() {
    QFETCH(QString, command);
    QFETCH(quint32, exitCode);
    const CaptureResult result = RunAndCapture(command);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.output, QString());
}

void ProcessTest::startFailures_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    static QTemporaryDir dir;
    QFile plain(dir.filePath("not-executable"));
    plain.open(QIODevice::WriteOnly);
    plain.write("#!/bin/sh\nexit 0\n");
    plain.close();
    QTest::newRow("missing program") << "pixolund-no-such-program x"
                                     << "No such file or directory";
    QTest::newRow("missing path") << "/nonexistent/pi \"a.pdf\""
                                  << "No such file or directory";
    QTest::newRow("empty program") << R"("" x)"
                                   << "No such file or directory";
    QTest::newRow("empty line") << "  "
                                << "Invalid argument";
    QTest::newRow("not executable") << QuoteArgument(plain.fileName()) << "Permission denied";
    QTest::newRow("a folder") << QuoteArgument(dir.path()) << "Permission denied";
}

void ProcessTest::startFailures() {
    QFETCH(QString, command);
    QFETCH(QString, message);
    try {
        RunAndCapture(command);
        QFAIL("no error raised");
    } catch (const SystemError& error) {
        QCOMPARE(error.text(), message);
    }
}

void ProcessTest::argumentsReachChild_data() {
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("blanks") << R"(a "b c"  d)" << QStringList{"a", "b c", "d"};
    QTest::newRow("quotes") << R"("say \"hi\"" \")" << QStringList{R"(say "hi")", R"(")"};
    QTest::newRow("backslashes") << R"(C:\dir\ "x\\" \\\"y)"
                                 << QStringList{R"(C:\dir\)", R"(x\)", R"(\"y)"};
    QTest::newRow("empty argument") << R"("" x "")" << QStringList{"", "x", ""};
    QTest::newRow("non-ASCII") << "\"Grüße 東京.pdf\" ñ" << QStringList{"Grüße 東京.pdf", "ñ"};
    const QStringList quoted{"", " ", "pass word", R"(p"w)", R"(tr\)", R"(\\")", "ä ö\tü"};
    QString line;
    for (const QString& arg : quoted)
        line += QuoteArgument(arg) + " ";
    QTest::newRow("quoted by QuoteArgument") << line << quoted;
}

void ProcessTest::argumentsReachChild() {
    QFETCH(QString, tail);
    QFETCH(QStringList, args);
    const CaptureResult result = RunAndCapture("echochild args " + tail);
    QCOMPARE(result.exitCode, 0u);
    QStringList received;
    for (const QString& line : result.output.split("\r\n", Qt::SkipEmptyParts))
        received << QString::fromUtf8(QByteArray::fromHex(line.mid(1).toLatin1()));
    QCOMPARE(received, args);
}

void ProcessTest::ownFolderBeforePath() {
    QTemporaryDir pathDir;
    QVERIFY(pathDir.isValid());
    const QString echo = platform::ProgramFolder() + "echochild";
    QVERIFY(QFile::copy(echo, pathDir.filePath("pathchild")));
    // A program of the same name on PATH that fails: the own folder must win.
    QVERIFY(QFile::copy("/bin/false", pathDir.filePath("echochild")));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", pathDir.path().toUtf8() + ":" + oldPath);
    const quint32 fromPath = RunAndCapture("pathchild exit 3").exitCode;
    const quint32 fromOwnFolder = RunAndCapture("echochild exit 0").exitCode;
    qputenv("PATH", oldPath);
    QCOMPARE(fromPath, 3u);
    QCOMPARE(fromOwnFolder, 0u);
}

void ProcessTest::timeLimit_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<quint32>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("ends in time") << "echochild exit 3" << false << 3u << "";
    QTest::newRow("still writing: killed, output kept")
        << R"(sh -c "echo begun; exec sleep 60")" << true << 128u + 9u << "begun\r\n";
    QTest::newRow("output closed, still running: killed")
        << R"(sh -c "exec sleep 60 >/dev/null 2>&1")" << true << 128u + 9u << "";
}

void ProcessTest::timeLimit() {
    QFETCH(QString, command);
    QFETCH(bool, timedOut);
    QFETCH(quint32, exitCode);
    QFETCH(QString, output);
    const CaptureResult result = RunAndCapture(command, timedOut ? 300 : 60000);
    QCOMPARE(result.timedOut, timedOut);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.output, output);
}

void ProcessTest::concurrentCaptures() {
    // Each thread must get exactly its own child's output and exit code.
    constexpr int threads = 4;
    constexpr int rounds = 6;
    std::vector<std::thread> workers;
    std::vector<int> failures(threads, 0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &failures] {
            for (int r = 0; r < rounds; ++r) {
                const QString tag = QStringLiteral("t%1r%2").arg(t).arg(r);
                const CaptureResult args = RunAndCapture("echochild args " + tag);
                const CaptureResult big = RunAndCapture("echochild big 200000");
                const CaptureResult code =
                    RunAndCapture(QStringLiteral("echochild exit %1").arg(t));
                if (args.output != "=" + QString::fromLatin1(tag.toLatin1().toHex()) + "\r\n" ||
                    big.output.size() != 200000 + 200000 / 64 || code.exitCode != quint32(t))
                    ++failures[size_t(t)];
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    QCOMPARE(failures, std::vector<int>(threads, 0));
}

void ProcessTest::singleInstanceAcrossProcesses() {
    const QString title = QStringLiteral("PixolundTest%1").arg(QCoreApplication::applicationPid());
    const QString lockCommand = "echochild lock " + title;

    QProcess holder;
    holder.start(platform::ProgramFolder() + "echochild", {"hold", title});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead());
    QCOMPARE(holder.readAll(), QByteArray("first\n"));

    QCOMPARE(RunAndCapture(lockCommand).output, QString("second\r\n"));
    const platform::SingleInstance second(title);
    QVERIFY(!second.isFirst());
    QVERIFY(second.holderRuns());
    QVERIFY(second.holderRuns()); // asking twice changes nothing

    // A crash must release the lock as well; asking whether the holder runs must not keep it.
    holder.kill();
    QVERIFY(holder.waitForFinished());
    QVERIFY(!second.holderRuns());
    QCOMPARE(RunAndCapture(lockCommand).output, QString("first\r\n"));

    // This process takes it and keeps it, even after the object is gone.
    QVERIFY(platform::SingleInstance(title).isFirst());
    QVERIFY(!platform::SingleInstance(title).isFirst());
    QCOMPARE(RunAndCapture(lockCommand).output, QString("second\r\n"));
    QCOMPARE(platform::SingleInstance::lockPath(title), m_runtime.filePath(title + ".lock"));
}

void ProcessTest::lockPathFallsBackToTempFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray tmp = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", "/var/tmp");
    const QString path = platform::SingleInstance::lockPath("Pixolund");
    qputenv("XDG_RUNTIME_DIR", runtime);
    if (tmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tmp);
    QCOMPARE(path, QStringLiteral("/var/tmp/Pixolund-%1.lock").arg(::geteuid()));
}

using LockEnvironment = ScopedFolderEnvironment;

void ProcessTest::runtimeFolderOfOthersIsNotUsed_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("foreign");
    QTest::newRow("open to others") << 0755 << false;
    QTest::newRow("another user's") << 0700 << true;
}

void ProcessTest::runtimeFolderOfOthersIsNotUsed() {
    QFETCH(int, mode);
    QFETCH(bool, foreign);
    if (foreign && ::geteuid() != 0)
        QSKIP("needs root to give a folder to another user");
    QTemporaryDir runtime, tmp;
    const QByteArray native = runtime.path().toUtf8();
    QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
    if (foreign)
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    const LockEnvironment environment(native, tmp.path().toUtf8());
    QCOMPARE(platform::SingleInstance::lockPath("Pixolund"),
             tmp.filePath(QStringLiteral("Pixolund-%1.lock").arg(::geteuid())));
}

void ProcessTest::plantedLockIsNotTrusted_data() {
    QTest::addColumn<QString>("planted");
    QTest::newRow("another user's locked file") << "foreign";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("FIFO") << "fifo";
}

// Without a runtime folder the lock's name in the shared temporary folder can be taken by
// anyone first. The program must start all the same, and its instances must still meet.
void ProcessTest::plantedLockIsNotTrusted() {
    QFETCH(QString, planted);
    if (planted == "foreign" && ::geteuid() != 0)
        QSKIP("needs root to give a file to another user");
    QTemporaryDir tmp;
    const LockEnvironment environment(QByteArray(), tmp.path().toUtf8());
    const QString title = QStringLiteral("Planted%1").arg(QTest::currentDataTag()).remove(u' ');
    const QString path = platform::SingleInstance::lockPath(title);
    QVERIFY(path.startsWith(tmp.path()));
    const QByteArray native = path.toUtf8();
    int held = -1;
    if (planted == "foreign") {
        // World-writable, so the open succeeds, and locked by its owner.
        held = ::open(native.constData(), O_RDWR | O_CREAT, 0666);
        QVERIFY(held >= 0);
        QCOMPARE(::fchmod(held, 0666), 0);
        QCOMPARE(::fchown(held, 65534, 65534), 0);
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);
    } else if (planted == "link") {
        QVERIFY(QFile::link(tmp.filePath("elsewhere"), path));
    } else {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    }

    const platform::SingleInstance first(title);
    QVERIFY(first.isFirst());
    QVERIFY(!first.path().isEmpty());
    QVERIFY(first.path() != path);
    QVERIFY(first.path().startsWith(tmp.path()));
    QVERIFY(!platform::SingleInstance(title).isFirst());
    QVERIFY(!QFile::exists(tmp.filePath("elsewhere")));
    if (held >= 0)
        ::close(held);
}

QTEST_GUILESS_MAIN(ProcessTest)
#include "tst_process.moc"
