// The conversion pass against a stand-in rendering library (FAKE_RENDER_LIB) that records the
// 13 arguments of every call in "<target>.args" and writes the target file.
#include "engine/conversionoptions.h"
#include "engine/events.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "engine/renderapi.h"
#include "recorders.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QString NoLibrary =
    "plain: Can't find library!(%1), Please reinstall the program to fix this problem.";

QList<Message> Progress(int position, std::initializer_list<int> percentages) {
    QList<Message> messages;
    for (int percent : percentages)
        messages.append({WM_SETPROGRESSINLISTVIEW, 0, qintptr(position + 1) * 1000 + percent});
    return messages;
}

const Message EndConvert{WM_SETENDCONVERT, 0, 0};
const Message TermApp{WM_TERMAPP, 0, 0};

} // namespace

// What a pass with files side by side reports, from any of its threads.
class SideBySideEvents final : public EngineEvents {
public:
    void FileProbed(int, int) override {}
    void ProbeEnded() override {}
    void FileStarted(int) override {}
    void RenderStarted(int) override {}
    void PagesDone(int, const PageProgress&) override {}
    void FileConverted(int position) override { add(QString("converted %1").arg(position)); }
    bool FileFailed(int position, const QString&, int error) override {
        add(QString("failed %1 errno %2").arg(position).arg(error));
        return true;
    }
    void FileStopped(int position) override { add(QString("stopped %1").arg(position)); }
    void RunEnded() override { add("run ended"); }
    void RunAborted(const QString& text) override { add("aborted: " + text); }
    void Fatal(const QString& text) override { add("fatal: " + text); }
    void PassError(const QString& message) override { add("error: " + message); }

    QStringList sorted() {
        std::lock_guard lock(m_mutex);
        QStringList all = m_events;
        all.sort();
        return all;
    }

private:
    void add(const QString& event) {
        std::lock_guard lock(m_mutex);
        m_events.append(event);
    }
    std::mutex m_mutex;
    QStringList m_events;
};

class ConvertTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    MessageRecorder m_window;
    BoxRecorder m_boxes;

    QString Pdf(const QString& name, const QByteArray& text = "") {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    TPdffile* Append(const QString& path, const QString& state, const QString& pages = "3") {
        auto entry =
            std::make_unique<TPdffile>(path, QFileInfo(path).fileName(), "1 KB", "", "", true);
        entry->setProbeResult(pages, state, "");
        return PdfFileList->append(std::move(entry));
    }

    void Convert() {
        TProcThread worker(ModeConvert);
        worker.Resume();
        worker.WaitFor();
    }

    QStringList RecordedArguments(const QString& target) {
        QFile file(target + ".args");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QString Out(const QString& tail = "") { return m_dir.filePath("out") + tail; }

    // A second file whose render call is held until the test releases the FIFO, and what the
    // test does meanwhile.
    void WithSecondFileHeld(const std::function<void(TProcThread&)>& meanwhile) {
        const QByteArray gate = QFile::encodeName(m_dir.filePath("gate"));
        QVERIFY(mkfifo(gate.constData(), 0600) == 0);
        Append(Pdf("f0.pdf"), StateTrue);
        Append(Pdf("f1.pdf", "gate=" + gate + "\n"), StateTrue);
        for (int i = 2; i < 5; ++i)
            Append(Pdf(QString("f%1.pdf").arg(i)), StateUnprotected);
        TProcThread worker(ModeConvert);
        worker.Resume();
        const int fd = open(gate.constData(), O_WRONLY); // returns once the call is running
        QVERIFY(fd >= 0);
        meanwhile(worker);
        close(fd);
        worker.WaitFor();
        QFile::remove(QFile::decodeName(gate));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        LibraryDir = m_dir.filePath("lib/");
        QVERIFY(QDir().mkpath(LibraryDir));
        PackageCheck(); // the package names, before any window listens
        QVERIFY(QFile::copy(FAKE_RENDER_LIB, LibraryDir + RenderLibraryName.get()));
        Pdf("lib/" + RenderCompanionName.get(), "companion");
        platform::SetMainWindow(&m_window);
        m_boxes.install();
        SetExtractionWaitLimit(300);
    }

    void init() {
        PdfFileList = new TPdfList;
        RasterizeProcName = "FakeRasterizePdf";
        StopRequested = false;
        ConversionOptions = TConversionOptions{Out(), "JPG", "0", "", "", "150", "85", 0, "0", "0"};
    }

    void cleanup() {
        delete PdfFileList;
        PdfFileList = nullptr;
        m_window.take();
        m_boxes.take();
        QDir(Out()).removeRecursively();
        QVERIFY(RenderFinished);
    }

    void cleanupTestCase() { platform::SetMainWindow(nullptr); }

    void arguments_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QString>("multiPage");
        QTest::addColumn<QString>("password");
        // password, zero, dpi, dpi, bits, compression, quality, grey, all-in-one, first, last
        QTest::addColumn<QString>("expected");
        QTest::newRow("all pages") << "JPG"
                                   << "0"
                                   << "7"
                                   << "8"
                                   << "12"
                                   << "0" << 0 << "0"
                                   << ""
                                   << "(null) 0 150 150 24 0 85 0 0 1 12";
        QTest::newRow("from page 3") << "PNG"
                                     << "1"
                                     << "3"
                                     << ""
                                     << "10"
                                     << "0" << 0 << "0"
                                     << ""
                                     << "(null) 0 150 150 24 0 85 0 0 3 10";
        QTest::newRow("up to page 5") << "PNG"
                                      << "1"
                                      << ""
                                      << "5"
                                      << "10"
                                      << "0" << 0 << "0"
                                      << ""
                                      << "(null) 0 150 150 24 0 85 0 0 1 5";
        QTest::newRow("past the end") << "PNG"
                                      << "1"
                                      << "8"
                                      << "50"
                                      << "10"
                                      << "0" << 0 << "0"
                                      << ""
                                      << "(null) 0 150 150 24 0 85 0 0 8 50";
        QTest::newRow("tiff group 4") << "TIFF"
                                      << "0"
                                      << ""
                                      << ""
                                      << "2"
                                      << "0" << 4 << "1"
                                      << ""
                                      << "(null) 0 150 150 1 4 85 0 1 1 2";
        QTest::newRow("tiff huffman colour") << "TIFF"
                                             << "0"
                                             << ""
                                             << ""
                                             << "2"
                                             << "1" << 2 << "0"
                                             << ""
                                             << "(null) 0 150 150 1 2 85 1 0 1 2";
        QTest::newRow("tiff lzw grey") << "TIFF"
                                       << "0"
                                       << ""
                                       << ""
                                       << "2"
                                       << "1" << 5 << "0"
                                       << ""
                                       << "(null) 0 150 150 8 5 85 1 0 1 2";
        QTest::newRow("jpg keeps compression") << "JPG"
                                               << "0"
                                               << ""
                                               << ""
                                               << "2"
                                               << "0" << 4 << "0"
                                               << ""
                                               << "(null) 0 150 150 24 4 85 0 0 1 2";
        QTest::newRow("grey") << "BMP"
                              << "0"
                              << ""
                              << ""
                              << "2"
                              << "1" << 0 << "0"
                              << ""
                              << "(null) 0 150 150 8 0 85 1 0 1 2";
        QTest::newRow("password") << "GIF"
                                  << "0"
                                  << ""
                                  << ""
                                  << "2"
                                  << "0" << 0 << "0"
                                  << "se cret"
                                  << "se cret 0 150 150 24 0 85 0 0 1 2";
    }
    void arguments() {
        QFETCH(QString, format);
        QFETCH(QString, range);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, pages);
        QFETCH(QString, colour);
        QFETCH(int, compression);
        QFETCH(QString, multiPage);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        ConversionOptions = TConversionOptions{Out("/"), format, range,       first,  last,
                                               "150",    "85",   compression, colour, multiPage};
        TPdffile* entry = Append(Pdf("my report.v2.pdf"), StateUnprotected, pages);
        entry->setPassword(password);

        Convert();

        const QString folder = Out("/my report.v2");
        const QString target = folder + "/my report.v2." + format.toLower();
        const QStringList args = RecordedArguments(target);
        QCOMPARE(args.size(), 13);
        QCOMPARE(args[0], entry->FilePath());
        QCOMPARE(args[1], target);
        QCOMPARE(args.mid(2).join(' '), expected);
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(m_window.take(), Progress(0, {0, 95, 100}) << EndConvert);
        QCOMPARE(m_boxes.take(), QStringList());
        QCOMPARE(entry->OutputDir(), folder);
        QCOMPARE(entry->OutputName(), QStringLiteral("my report.v2"));
        QCOMPARE(entry->StatusText(), QStringLiteral("my report.v2"));
        QCOMPARE(entry->State(), StateUnprotected);
    }

    // Only "True" and "Unprotected" entries are converted; the others pass silently.
    void skipsTheUnconvertible() {
        Append(Pdf("a.pdf"), StateProtected);
        Append(Pdf("b.pdf"), StateFalse);
        Append(Pdf("c.pdf"), QString());
        TPdffile* converted = Append(Pdf("d.pdf"), StateTrue);
        Convert();
        QCOMPARE(m_window.take(), Progress(3, {0, 95, 100}) << EndConvert);
        QCOMPARE(converted->OutputName(), QStringLiteral("d"));
        QCOMPARE(PdfFileList->at(0)->OutputDir(), QString());
        QVERIFY(!QFileInfo::exists(Out("/a")));
    }

    void emptyList() {
        Convert();
        QCOMPARE(m_window.take(), QList<Message>{EndConvert});
    }

    // Stop while the second file renders: it is finished, the third is never taken up.
    void stopBetweenFiles() {
        WithSecondFileHeld([](TProcThread&) { StopRequested = true; });
        QCOMPARE(m_window.take(), Progress(0, {0, 95, 100}) + Progress(1, {0, 95, 100})
                                      << EndConvert);
        QCOMPARE(PdfFileList->at(1)->OutputName(), QStringLiteral("f1"));
        QCOMPARE(PdfFileList->at(2)->OutputName(), QString());
    }

    // The close question's terminate request: the pass ends after the call, posting nothing.
    void terminateDuringRender() {
        WithSecondFileHeld([](TProcThread& worker) {
            worker.Suspend();
            RenderFinished = true;
            worker.ResumeFromPause();
            worker.Terminate();
        });
        QCOMPARE(m_window.take(), Progress(0, {0, 95, 100}) + Progress(1, {0, 95}));
        QCOMPARE(m_boxes.take(), QStringList());
        QCOMPARE(PdfFileList->at(1)->OutputName(), QString());
    }

    // Entries the GUI thread appends during a conversion wait for the next one.
    void appendDuringConversion() {
        QList<TPdffile*> late;
        WithSecondFileHeld([&](TProcThread&) {
            for (int i = 0; i < 10; ++i)
                late.append(Append(Pdf(QString("late%1.pdf").arg(i)), StateTrue));
        });
        const QList<Message> messages = m_window.take();
        QCOMPARE(messages.size(), 5 * 3 + 1);
        QCOMPARE(messages.last(), EndConvert);
        for (const TPdffile* entry : late)
            QCOMPARE(entry->OutputDir(), QString());
    }

    // Failures that end the pass: the entry point missing (the program ends), or an error
    // raised inside the pass (its box).
    void failures_data() {
        QTest::addColumn<QByteArray>("pdfText");
        QTest::addColumn<QString>("procName");
        QTest::addColumn<QString>("dpi");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QList<Message>>("messages");
        const QList<Message> upToCall = Progress(0, {0, 95});
        QTest::newRow("entry point missing")
            << QByteArray() << "NoSuchEntry"
            << "150"
            << "3" << NoLibrary.arg(3) << (upToCall + QList<Message>{TermApp});
        QTest::newRow("resolution not a number")
            << QByteArray() << "FakeRasterizePdf"
            << "15O"
            << "3"
            << "error: Error: '15O' is not a valid integer value" << upToCall;
        QTest::newRow("no page count")
            << QByteArray() << "FakeRasterizePdf"
            << "150"
            << ""
            << "error: Error: '' is not a valid integer value" << upToCall;
    }
    void failures() {
        QFETCH(QByteArray, pdfText);
        QFETCH(QString, procName);
        QFETCH(QString, dpi);
        QFETCH(QString, pages);
        QFETCH(QString, box);
        QFETCH(QList<Message>, messages);
        RasterizeProcName = procName.toUtf8();
        ConversionOptions.Dpi = dpi;
        Append(Pdf("a.pdf", pdfText), StateTrue, pages);
        Append(Pdf("b.pdf"), StateTrue);
        Convert();
        QCOMPARE(m_boxes.take(), QStringList{box});
        QCOMPARE(m_window.take(), messages);
        QCOMPARE(PdfFileList->at(1)->OutputDir(), QString());
    }

    // A file that fails is a failed row with the reason, and the run goes on with the next.
    void failedFileGoesOn_data() {
        QTest::addColumn<QByteArray>("pdfText");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("status");
        QTest::newRow("renderer fails") << QByteArray("fail=28\n") << ""
                                        << ""
                                        << "No space left on device";
        // A failure that leaves errno alone still reads as a failure.
        QTest::newRow("renderer fails, errno 0") << QByteArray("fail=0\n") << ""
                                                 << ""
                                                 << "Input/output error";
        QTest::newRow("range behind the end") << QByteArray() << "5"
                                              << "9"
                                              << "pages 5\u20139 of a 3-page file";
        QTest::newRow("range starts behind the end") << QByteArray() << "4"
                                                     << ""
                                                     << "pages 4\u2013 of a 3-page file";
    }
    void failedFileGoesOn() {
        QFETCH(QByteArray, pdfText);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, status);
        if (!first.isEmpty()) {
            ConversionOptions.Range = "1";
            ConversionOptions.FirstPage = first;
            ConversionOptions.LastPage = last;
        }
        TPdffile* a = Append(Pdf("a.pdf", pdfText), StateTrue, "3");
        TPdffile* b = Append(Pdf("b.pdf"), StateTrue, "9");
        Convert();
        QCOMPARE(m_boxes.take(), QStringList());
        QCOMPARE(m_window.take(), Progress(0, {0, 95, 100}) + Progress(1, {0, 95, 100})
                                      << EndConvert);
        QCOMPARE(a->StatusText(), status);
        QVERIFY(a->Failed());
        QCOMPARE(a->OutputDir(), QString());
        // No empty folder is left for a file that gave no image.
        QVERIFY(!QFileInfo::exists(Out("/a")));
        QVERIFY(!b->Failed());
        QCOMPARE(b->OutputDir(), Out("/b"));
    }

    // The reason is the failing call's: an output folder that cannot be written says so.
    void unwritableFolderSaysWhy() {
        if (geteuid() == 0)
            QSKIP("root writes into any folder");
        QVERIFY(QDir().mkpath(Out()));
        QVERIFY(QFile::setPermissions(Out(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        TPdffile* a = Append(Pdf("a.pdf"), StateTrue, "3");
        Convert();
        QFile::setPermissions(Out(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner);
        QCOMPARE(a->StatusText(), QStringLiteral("Permission denied"));
    }

    // Two PDFs of one name keep their images apart, within one run; a planted link is refused.
    void outputFolders() {
        QVERIFY(QDir().mkpath(Out()));
        const QString elsewhere = m_dir.filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::link(elsewhere, Out("/linked")));
        TPdffile* a = Append(Pdf("A/report.pdf"), StateTrue, "1");
        TPdffile* b = Append(Pdf("B/report.pdf"), StateTrue, "3");
        TPdffile* c = Append(Pdf("C/report.pdf"), StateTrue, "3");
        TPdffile* linked = Append(Pdf("linked.pdf"), StateTrue, "3");
        Convert();
        QCOMPARE(a->OutputDir(), Out("/report"));
        QCOMPARE(b->OutputDir(), Out("/report (2)"));
        QCOMPARE(c->OutputDir(), Out("/report (3)"));
        QCOMPARE(b->StatusText(), QStringLiteral("report"));
        QVERIFY(QFileInfo::exists(Out("/report (2)/report.jpg.args")));
        QVERIFY(linked->Failed());
        QVERIFY(linked->StatusText().contains("symbolic link"));
        QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList());
        // A second run reuses what stands on disk, in the same order.
        PdfFileList->at(0)->setConversionResult({}, {}, {}, false);
        Convert();
        QCOMPARE(b->OutputDir(), Out("/report (2)"));
    }

    // Without the library the package is asked for, and the program ends.
    // Three files at a time: every file is converted or fails as one by one, same-named files
    // get the folders they get one by one, and the run ends once.
    void sideBySide() {
        Append(Pdf("a/x.pdf"), StateTrue);
        Append(Pdf("b/x.pdf"), StateTrue);
        Append(Pdf("bad.pdf", "fail=22\n"), StateTrue);
        Append(Pdf("skipped.pdf"), StateProtected);
        for (int i = 0; i < 6; ++i)
            Append(Pdf(QString("f%1.pdf").arg(i)), StateUnprotected);
        Append(Pdf("c/x.pdf"), StateTrue);
        SideBySideEvents events;
        SetConvertJobs(3);
        TProcThread worker(ModeConvert);
        worker.setEvents(&events);
        worker.Resume();
        worker.WaitFor();
        SetConvertJobs(1);
        QStringList expected = {"failed 2 errno 22", "run ended"};
        for (int position : {0, 1, 4, 5, 6, 7, 8, 9, 10})
            expected << QString("converted %1").arg(position);
        expected.sort();
        QCOMPARE(events.sorted(), expected);
        QCOMPARE(PdfFileList->at(0)->OutputDir(), Out("/x"));
        QCOMPARE(PdfFileList->at(1)->OutputDir(), Out("/x (2)"));
        QCOMPARE(PdfFileList->at(10)->OutputDir(), Out("/x (3)"));
        QVERIFY(!QFileInfo::exists(Out("/bad")));
        QVERIFY(!QFileInfo::exists(Out("/skipped")));
    }

    // An error on one of the threads ends the pass as it does one by one, once the files in
    // hand are done.
    void sideBySideError() {
        for (int i = 0; i < 4; ++i)
            Append(Pdf(QString("f%1.pdf").arg(i)), StateTrue, i == 1 ? "15O" : "3");
        SideBySideEvents events;
        SetConvertJobs(2);
        TProcThread worker(ModeConvert);
        worker.setEvents(&events);
        worker.Resume();
        worker.WaitFor();
        SetConvertJobs(1);
        const QStringList all = events.sorted();
        QCOMPARE(all.filter("error: ").size(), 1);
        QVERIFY2(all.filter("error: ").first().contains("'15O' is not a valid integer value"),
                 qPrintable(all.join('|')));
        QVERIFY(!all.contains("run ended"));
    }

    void libraryMissing() {
        const QString library = LibraryDir + RenderLibraryName.get();
        QVERIFY(QFile::rename(library, library + ".away"));
        Append(Pdf("a.pdf"), StateTrue);
        Convert();
        QVERIFY(QFile::rename(library + ".away", library));
        QCOMPARE(m_boxes.take(), QStringList{NoLibrary.arg(1)});
        QCOMPARE(m_window.take(), QList<Message>({{WM_CREATETEMPLIB, 0, 0}, TermApp}));
    }

    // The files come back while the pass waits for the extraction it asked for.
    void libraryArrivesLate() {
        SetExtractionWaitLimit(20000);
        const QString library = LibraryDir + RenderLibraryName.get();
        QVERIFY(QFile::rename(library, library + ".away"));
        Append(Pdf("a.pdf"), StateTrue);
        std::thread extraction([library] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            QFile::rename(library + ".away", library);
        });
        Convert();
        extraction.join();
        SetExtractionWaitLimit(300);
        QCOMPARE(m_boxes.take(), QStringList());
        const QList<Message> expected = QList<Message>{{WM_CREATETEMPLIB, 0, 0}} +
                                        Progress(0, {0, 95, 100}) + QList<Message>{EndConvert};
        QCOMPARE(m_window.take(), expected);
    }
};

QTEST_GUILESS_MAIN(ConvertTest)
#include "tst_convertpass.moc"
