// "pixolund convert" as a shell user runs it: no display, real PDFs, the images checked with
// Pillow, the exit status and the failure lines.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

class TestConvertCommand : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString pdf(const QString& name) const { return m_dir.filePath("pdf/" + name); }
    QString path(const QString& sub) const { return m_dir.filePath(sub); }

    // The program with a throw-away user and no display.
    Run run(const QStringList& arguments, const QByteArray& input = {},
            const QMap<QString, QString>& environment = {}) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "");
        env.insert("HOME", path("home"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("TMPDIR", path("tmp"));
        env.remove("XDG_RUNTIME_DIR");
        for (auto it = environment.begin(); it != environment.end(); ++it)
            env.insert(it.key(), it.value());
        process.setProcessEnvironment(env);
        process.start(PIXOLUND, QStringList{"convert"} + arguments);
        process.write(input);
        process.closeWriteChannel();
        Run result;
        if (!process.waitForFinished(300000))
            return result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    }

    // One line per image frame below a folder: "relative/path FORMAT W H MODE DPI COMPRESSION
    // COLOURS" (see inspect_image.py), sorted.
    QStringList images(const QString& folder) const {
        QStringList files;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        if (files.isEmpty())
            return {};
        QProcess inspect;
        inspect.start("/usr/bin/python3", QStringList{INSPECT_SCRIPT} + files);
        inspect.waitForFinished(120000);
        QStringList lines;
        const QStringList described =
            QString::fromUtf8(inspect.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        for (const QString& line : described) {
            QStringList f = line.split(' ');
            f.removeAt(6); // y resolution: always the x one
            lines << f.join(' ');
        }
        return lines;
    }

private slots:
    void initTestCase() {
        for (const char* sub : {"home/Documents", "data", "config", "tmp"})
            QDir().mkpath(path(sub));
        QProcess script;
        script.start("/usr/bin/python3", {FIXTURE_SCRIPT, path("pdf")});
        QVERIFY(script.waitForFinished(120000) && script.exitCode() == 0);
        QDir().mkpath(path("folder/sub"));
        QFile::copy(pdf("three.pdf"), path("folder/sub/b10.pdf"));
        QFile::copy(pdf("three.pdf"), path("folder/b9.pdf"));
        QFile::copy(pdf("three.pdf"), path("folder/notes.txt"));
    }

    void options_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("png, 72 dpi, pages 2-3")
            << QStringList{"--format", "png", "--dpi", "72", "--pages", "2-3", pdf("three.pdf")}
            << QStringList{"three-2.png PNG 792 612 RGB 72 0 colour",
                           "three-3.png PNG 288 216 RGB 72 0 colour"};
        QTest::newRow("grey jpeg, one page")
            << QStringList{"--format=jpg", "--gray",  "--quality", "40",
                           "--dpi=36",     "--pages", "3",         pdf("three.pdf")}
            << QStringList{"three-3.jpg JPEG 144 108 L 36 0 grey"};
        QTest::newRow("multi-page lzw tiff")
            << QStringList{"--format", "tiff", "--tiff",  "lzw", "--multipage",
                           "--dpi",    "36",   "--pages", "-2",  pdf("three.pdf")}
            << QStringList{"three.tiff TIFF 306 396 RGB 36 5 colour",
                           "three.tiff TIFF 396 306 RGB 36 5 colour"};
        QTest::newRow("mono is fax g4")
            << QStringList{"--mono", "--dpi", "72", "--pages", "3-", pdf("three.pdf")}
            << QStringList{"three-3.tiff TIFF 288 216 1 72 4 bw"};
        QTest::newRow("a folder: the PDFs below it")
            << QStringList{"--format", "bmp", "--dpi", "18", "--pages", "1", path("folder")}
            << QStringList{"b10-1.bmp BMP 153 198 RGB 18 0 colour",
                           "b9-1.bmp BMP 153 198 RGB 18 0 colour"};
    }

    void options() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        const QString out = path("out");
        QDir(out).removeRecursively();
        const Run r = run(QStringList{"--output", out} + arguments);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, QString()); // quiet: not a terminal
        QCOMPARE(r.status, 0);
        QCOMPARE(images(out), expected);
    }

    // A run without the engine's sandbox converts as usual and says so once, however many files.
    // With it (the other cases, on a kernel that has it all) nothing is said.
    void sandboxOffIsToldOnce() {
        const QString out = path("out-unconfined");
        const Run r = run({"--output", out, "--format", "png", "--dpi", "18", pdf("three.pdf"),
                           pdf("twelve.pdf")},
                          {}, {{"PX_SANDBOX", "off"}});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QStringLiteral("pixolund convert: The rendering engine runs without its "
                                       "sandbox (PX_SANDBOX=off).\n"));
        QCOMPARE(QDir(out + "/three").count() - 2, 3u);
        QCOMPARE(QDir(out + "/twelve").count() - 2, 12u);
    }

    // A bad file among good ones: it is reported, the others are converted, exit status 1.
    void failuresGoOn() {
        const QString out = path("out-mixed");
        const Run r =
            run({"--output", out, "--format", "png", "--dpi", "18", pdf("three.pdf"),
                 pdf("damaged.pdf"), pdf("aes-256.pdf"), path("missing.pdf"), pdf("twelve.pdf")});
        QCOMPARE(r.status, 1);
        const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.contains(pdf("damaged.pdf") + ": File Format is not Valid."));
        QVERIFY(lines.contains(path("missing.pdf") + ": No such file or directory"));
        QVERIFY(r.err.contains(pdf("aes-256.pdf") + ": The file is password protected."));
        QCOMPARE(QDir(out + "/three").count() - 2, 3u);
        QCOMPARE(QDir(out + "/twelve").count() - 2, 12u);
    }

    void passwordFromStdin_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("images");
        QTest::newRow("right") << QByteArray("secret\n") << 0 << 3;
        QTest::newRow("right, CRLF") << QByteArray("secret\r\n") << 0 << 3;
        QTest::newRow("wrong") << QByteArray("guess\n") << 1 << 0;
    }

    void passwordFromStdin() {
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(int, images);
        const QString out = path("out-pw");
        QDir(out).removeRecursively();
        const Run r = run({"--output", out, "--password-stdin", "--dpi", "18", pdf("aes-256.pdf"),
                           pdf("three.pdf")},
                          input);
        QCOMPARE(r.status, status);
        QCOMPARE(int(QDir(out + "/aes-256").entryList(QDir::Files).size()), images);
        QCOMPARE(int(QDir(out + "/three").entryList(QDir::Files).size()), 3);
        if (status != 0)
            QCOMPARE(r.err, pdf("aes-256.pdf") + ": wrong password\n");
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no files") << QStringList{"--dpi", "72"} << "no PDF files or folders given";
        QTest::newRow("password argument")
            << QStringList{"--password", "x", "a.pdf"} << "use --password-stdin";
        QTest::newRow("unknown option")
            << QStringList{"--fast", "a.pdf"} << "unknown option --fast";
        QTest::newRow("dpi 0") << QStringList{"--dpi", "0", "a.pdf"} << "--dpi must be";
        QTest::newRow("quality 101") << QStringList{"--quality=101", "a.pdf"} << "--quality must";
        QTest::newRow("format") << QStringList{"--format", "webp", "a.pdf"} << "unknown format";
        QTest::newRow("pages backwards") << QStringList{"--pages", "5-2", "a.pdf"} << "--pages";
        QTest::newRow("missing value") << QStringList{"a.pdf", "--output"} << "needs a value";
        QTest::newRow("mono png") << QStringList{"--mono", "--format", "png", "a.pdf"}
                                  << "--mono writes TIFF";
        QTest::newRow("unusable output")
            << QStringList{"--output", "/proc/no-such/x", pdf("three.pdf")} << "cannot be used";
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run r = run(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.err.endsWith("Try 'pixolund convert --help'.\n"));
    }

    // Answered by the launcher itself: no window, so no display needed.
    void versionWithoutDisplay() {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        process.setProcessEnvironment(env);
        process.start(PIXOLUND, {"--version"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QRegularExpression("^Pixolund \\d+\\.\\d+\\.\\d+\n$")
                    .match(QString::fromLocal8Bit(process.readAllStandardOutput()))
                    .hasMatch());
    }

    // Defaults come from the stored options; --save-options stores the ones used.
    void storedOptions() {
        const QString out = path("out-stored");
        Run r = run({"--save-options", "--output", out, "--format", "gif", "--dpi", "18", "--pages",
                     "1-1", pdf("twelve.pdf")});
        QCOMPARE(r.status, 0);
        QDir(out).removeRecursively();
        r = run({pdf("three.pdf")});
        QCOMPARE(r.status, 0);
        QCOMPARE(images(out), QStringList{"three-1.gif GIF 153 198 P 0 0 colour"});
    }

    // The window's rule for a stored quality that is no number (75) holds here too.
    void storedQualityNoNumber() {
        const QString reference = path("out-q75"), stored = path("out-qhigh");
        QCOMPARE(run({"--save-options", "--format", "jpg", "--quality", "75", "--output", reference,
                      pdf("three.pdf")})
                     .status,
                 0);
        QString settings;
        QDirIterator it(path("data"), {"*.ini"}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(it.hasNext());
        settings = it.next();
        QFile file(settings);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray content = file.readAll();
        file.close();
        QVERIFY(content.contains("JPEGQuality=75"));
        content.replace("JPEGQuality=75", "JPEGQuality=high");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();

        const Run r = run({"--output", stored, pdf("three.pdf")});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.status, 0);
        const QStringList names = QDir(reference + "/three").entryList(QDir::Files);
        QVERIFY(!names.isEmpty());
        QCOMPARE(QDir(stored + "/three").entryList(QDir::Files), names);
        for (const QString& name : names) {
            QFile a(reference + "/three/" + name), b(stored + "/three/" + name);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY(a.readAll() == b.readAll());
        }
    }

    // Without a usable engine cache the run stops with a message and writes nothing through
    // what stands at the cache's place.
    void unusableEngineCache_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a file") << "file";
        QTest::newRow("a link") << "link";
    }

    void unusableEngineCache() {
        QFETCH(QString, kind);
        const QString cacheHome = path("cache-" + kind), elsewhere = path("elsewhere-" + kind);
        QDir().mkpath(elsewhere);
        if (kind == "file") {
            QVERIFY(QFile::copy(pdf("three.pdf"), cacheHome));
        } else {
            QVERIFY(QDir().mkpath(cacheHome + "/pixolund"));
            QVERIFY(QFile::link(elsewhere, cacheHome + "/pixolund/engine"));
        }
        const QString out = path("out-cache");
        const Run r = run({"--output", out, pdf("three.pdf")}, {}, {{"XDG_CACHE_HOME", cacheHome}});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("the renderer cannot be set up"), qPrintable(r.err));
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
        QCOMPARE(QDir(out + "/three").entryList(QDir::Files), QStringList());
    }

    // Files side by side give what one after another gives: the same images under the same
    // names (same-named PDFs in list order), the same failure lines.
    void jobsGiveTheSameOutput() {
        QDir().mkpath(path("again"));
        QFile::copy(pdf("twelve.pdf"), path("again/three.pdf"));
        const QStringList inputs = {pdf("three.pdf"),        pdf("damaged.pdf"), pdf("twelve.pdf"),
                                    path("again/three.pdf"), pdf("aes-256.pdf"), path("folder")};
        QMap<QString, QByteArray> outputs[2];
        QStringList failures[2];
        const char* const jobs[] = {"1", "3"};
        for (int k = 0; k < 2; ++k) {
            const QString out = path(QStringLiteral("out-jobs-%1").arg(jobs[k]));
            QDir(out).removeRecursively();
            const Run r = run(QStringList{"--jobs", jobs[k], "--format", "png", "--dpi", "18",
                                          "--pages", "1-", "--output", out} +
                              inputs);
            QCOMPARE(r.status, 1);
            failures[k] = r.err.split('\n', Qt::SkipEmptyParts);
            failures[k].sort();
            QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile file(it.next());
                QVERIFY(file.open(QIODevice::ReadOnly));
                outputs[k].insert(file.fileName().mid(out.size()), file.readAll());
            }
        }
        QCOMPARE(failures[1], failures[0]);
        QCOMPARE(failures[0].size(), 2);
        QCOMPARE(outputs[1].keys(), outputs[0].keys());
        QVERIFY(outputs[0].contains("/three (2)/three-12.png"));
        QVERIFY(outputs[1] == outputs[0]);
    }

    // Ctrl-C and SIGTERM stop the run: the complete images stay, no partial file and no working
    // folder are left behind.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("jobs");
        QTest::newRow("Ctrl-C") << int(SIGINT) << "1";
        QTest::newRow("SIGTERM") << int(SIGTERM) << "1";
        QTest::newRow("Ctrl-C, files side by side") << int(SIGINT) << "2";
    }

    void interrupted() {
        QFETCH(int, signal);
        QFETCH(QString, jobs);
        const QString slow = path("eight.pdf");
        if (!QFileInfo::exists(slow)) {
            QProcess script;
            script.start("/usr/bin/python3",
                         {"-c",
                          "import sys; sys.path.insert(0, sys.argv[1]); import make_fixtures as m; "
                          "open(sys.argv[2], 'wb').write(m.eight_with_heavy_fifth())",
                          QFileInfo(FIXTURE_SCRIPT).path(), slow});
            QVERIFY(script.waitForFinished(60000) && script.exitCode() == 0);
        }
        const QString out = path("out-interrupted");
        QDir(out).removeRecursively();
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("TMPDIR", path("tmp"));
        process.setProcessEnvironment(env);
        process.start(PIXOLUND, {"convert", "--jobs", jobs, "--format", "png", "--dpi", "72",
                                 "--pages", "1-8", "--output", out, slow, pdf("twelve.pdf")});
        QVERIFY(process.waitForStarted());
        // The fifth page holds the run up once the first four are written.
        QTRY_VERIFY_WITH_TIMEOUT(
            QDir(out + "/eight").entryList({"eight-4.png"}, QDir::Files).size() == 1 &&
                (jobs == "1" || QDir(out + "/twelve").entryList(QDir::Files).size() == 8),
            60000);
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains("interrupted"));
        QStringList left;
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            left << QFileInfo(it.next()).fileName();
        for (const QString& name : left)
            QVERIFY2(!name.startsWith(".") && !name.endsWith(".part"), qPrintable(name));
        QVERIFY(left.contains("eight-1.png"));
        // One by one, the second file never started; side by side it was converted whole.
        if (jobs == "1")
            QVERIFY(!QFileInfo::exists(out + "/twelve"));
        else
            QCOMPARE(QDir(out + "/twelve").entryList(QDir::Files).size(), 8);
    }

    // --save-options never writes through a settings file that is a link, and says so.
    void saveOptionsRefusesLink() {
        QDirIterator it(path("data"), {"*.ini"}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(it.hasNext());
        const QString settings = it.next();
        const QString foreign = path("foreign.ini");
        QFile::remove(foreign);
        QVERIFY(QFile::rename(settings, foreign));
        QVERIFY(QFile::link(foreign, settings));
        QFile file(foreign);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        const Run r =
            run({"--save-options", "--dpi", "19", "--output", path("out-link"), pdf("three.pdf")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("symbolic link"), qPrintable(r.err));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();
        QVERIFY(QFileInfo(settings).isSymLink());
        QVERIFY(QFile::remove(settings));
        QVERIFY(QFile::rename(foreign, settings));
    }

    // A name in another encoding is named for what it is, not as a missing file.
    void nameNotUtf8() {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("LC_ALL", "C.UTF-8");
        process.setProcessEnvironment(env);
        // Latin-1 "ä" (0xe4) is no UTF-8; the shell hands the byte over as it is.
        process.start("/bin/sh", {"-c",
                                  "exec \"$0\" convert --output \"$1\" \"$1/caf$(printf "
                                  "'\\344').pdf\"",
                                  PIXOLUND, path("out-latin1")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(err.contains("not valid UTF-8"), qPrintable(err));
    }

    void helpAndVersion() {
        Run r = run({"--help"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("--password-stdin"));
        r = run({"--version"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Pixolund 1.0.0\n"));
    }
};

} // namespace

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcmd.moc"
