// The worker and its passes, with real child processes: a stand-in information tool ("pi" in
// FAKE_PI_DIR, put first on PATH) answers from the text of the "PDF" files written here.
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/winmsg.h"
#include "recorders.h"

#include <QDirIterator>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

class WorkerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    MessageRecorder m_window;
    BoxRecorder m_boxes;
    QByteArray m_path;

    // Writes a "PDF" whose text tells the stand-in tool how to answer.
    QString Pdf(const QString& name, const QByteArray& text) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    TPdffile* Append(const QString& path, bool listed = false) {
        auto entry =
            std::make_unique<TPdffile>(path, QFileInfo(path).fileName(), "1 KB", "", "", listed);
        return PdfFileList->append(std::move(entry));
    }

    // Runs one worker to its end the way the unlock command does.
    void RunAndWait(const QString& mode) {
        TProcThread worker(mode);
        WorkerThread = &worker;
        worker.Resume();
        worker.WaitFor();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_path = qgetenv("PATH");
        qputenv("PATH", QByteArray(FAKE_PI_DIR) + ":" + m_path);
        // The renderer's files in place, so a probe pass does not ask for the package.
        LibraryDir = m_dir.filePath("lib/");
        QVERIFY(QDir().mkpath(LibraryDir));
        PackageCheck();
        for (const QString& name : {RenderLibraryName.get(), RenderCompanionName.get()})
            Pdf("lib/" + name, "library");
        platform::SetMainWindow(&m_window);
        m_boxes.install();
    }

    void init() { PdfFileList = new TPdfList; }

    void cleanup() {
        delete PdfFileList;
        PdfFileList = nullptr;
        CurrentPdf = nullptr;
        m_window.take();
        m_boxes.take();
    }

    void cleanupTestCase() { platform::SetMainWindow(nullptr); }

    // Five listed rows, three new files: only the new ones are probed, each reported with its
    // position and the running count.
    void probePass() {
        for (int i = 0; i < 5; ++i) {
            TPdffile* listed = Append(Pdf(QString("listed%1.pdf").arg(i), "exit=2\n"), true);
            listed->setProbeResult("1", StateTrue, "");
        }
        TPdffile* readable =
            Append(Pdf("read able.pdf", "---\nTitle: a, b\nPages:         12\nEncrypted: no"));
        TPdffile* locked = Append(Pdf("locked.pdf", "password=pw\n"));
        TPdffile* broken = Append(Pdf("br\"ok\"en.pdf", "exit=1\n---\nsyntax error\n"));

        RunAndWait(ModeProbeAll);

        const QList<Message> expected{{WM_SETPROGRESS, 5, 1100},
                                      {WM_SETPROGRESS, 6, 2100},
                                      {WM_SETPROGRESS, 7, 3100},
                                      {WM_SETLISTVIEW, 0, 0}};
        QCOMPARE(m_boxes.take(), QStringList());
        QCOMPARE(m_window.take(), expected);
        QCOMPARE(readable->State(), StateTrue);
        QCOMPARE(readable->Pages(), QStringLiteral("12"));
        QCOMPARE(readable->StatusText(), QString());
        QCOMPARE(locked->State(), StateProtected);
        QCOMPARE(locked->Pages(), QString());
        QCOMPARE(locked->StatusText(), QStringLiteral("The file is password protected."));
        QCOMPARE(broken->State(), StateFalse);
        QCOMPARE(broken->StatusText(), QStringLiteral("File Format is not Valid."));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(PdfFileList->at(i)->Pages(), QStringLiteral("1"));
    }

    // Without the renderer's files the probe pass has the package unpacked meanwhile.
    void probeAsksForPackage() {
        const QString companion = LibraryDir + RenderCompanionName.get();
        QVERIFY(QFile::rename(companion, companion + ".away"));
        Append(Pdf("a.pdf", "---\nPages: 1\n"));
        RunAndWait(ModeProbeAll);
        WaitForPackageChecks();
        QVERIFY(QFile::rename(companion + ".away", companion));
        const QList<Message> messages = m_window.take();
        QCOMPARE(messages.size(), 3);
        QVERIFY(messages.contains(Message{WM_CREATETEMPLIB, 0, 0}));
        QCOMPARE(messages.indexOf(Message{WM_SETPROGRESS, 0, 1100}) + 1,
                 messages.indexOf(Message{WM_SETLISTVIEW, 0, 0}));
    }

    void emptyListProbe() {
        RunAndWait(ModeProbeAll);
        QCOMPARE(m_window.take(), QList<Message>({{WM_SETLISTVIEW, 0, 0}}));
    }

    // The GUI thread appends while the pass runs: the pass visits only the entries that
    // existed when it began.
    void probeWhileAppending() {
        const QByteArray gate = QFile::encodeName(m_dir.filePath("gate"));
        QCOMPARE(mkfifo(gate.constData(), 0600), 0);
        TPdffile* first = Append(Pdf("first.pdf", "gate=" + gate + "\n---\nPages: 2\n"));
        TPdffile* second = Append(Pdf("second.pdf", "---\nPages: 3\n"));
        TProcThread worker(ModeProbeAll);
        worker.Resume();
        // Opening the writing end waits until the tool, on the first file, opens the other.
        const int fd = open(gate.constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        QList<TPdffile*> late;
        for (int i = 0; i < 20; ++i)
            late.append(Append(Pdf(QString("late%1.pdf").arg(i), "---\nPages: 9\n")));
        close(fd);
        worker.WaitFor();

        QCOMPARE(first->Pages(), QStringLiteral("2"));
        QCOMPARE(second->Pages(), QStringLiteral("3"));
        for (const TPdffile* entry : late)
            QCOMPARE(entry->State(), QString());
        const QList<Message> expected{
            {WM_SETPROGRESS, 0, 1100}, {WM_SETPROGRESS, 1, 2100}, {WM_SETLISTVIEW, 0, 0}};
        QCOMPARE(m_window.take(), expected);
        QCOMPARE(CountUnlisted(), 22);
    }

    void unlockPass_data() {
        QTest::addColumn<QByteArray>("filePassword");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QString>("status");
        const QString protectedText = "The file is password protected.";
        QTest::newRow("right") << QByteArray("pw") << "pw" << StateUnprotected << "4"
                               << "";
        QTest::newRow("wrong") << QByteArray("pw") << "PW" << StateProtected << "" << protectedText;
        QTest::newRow("typed empty")
            << QByteArray("pw") << "" << StateProtected << "" << protectedText;
        QTest::newRow("empty is right") << QByteArray("") << "" << StateUnprotected << "4"
                                        << "";
        QTest::newRow("blanks") << QByteArray(" open  sesame ") << " open  sesame "
                                << StateUnprotected << "4"
                                << "";
        QTest::newRow("quotes and backslashes")
            << QByteArray("a\\\"b\" \\") << "a\\\"b\" \\" << StateUnprotected << "4"
            << "";
        QTest::newRow("non-ASCII")
            << QStringLiteral("grüß").toUtf8() << QStringLiteral("grüß") << StateUnprotected << "4"
            << "";
    }
    void unlockPass() {
        QFETCH(QByteArray, filePassword);
        QFETCH(QString, typed);
        QFETCH(QString, state);
        QFETCH(QString, pages);
        QFETCH(QString, status);
        TPdffile* entry =
            Append(Pdf("secret file.pdf", "password=" + filePassword + "\npages=4\n"), true);
        entry->setProbeResult("", StateProtected, "The file is password protected.");
        entry->setPassword(typed);
        CurrentPdf = entry;

        RunAndWait(ModeUnlock);

        QCOMPARE(entry->State(), state);
        QCOMPARE(entry->Pages(), pages);
        QCOMPARE(entry->StatusText(), status);
        QCOMPARE(m_window.take(), QList<Message>());
        QCOMPARE(m_boxes.take(), QStringList());
        QCOMPARE(WorkerThread, nullptr);
    }

    // While the tool tries a password, no process's command line holds it.
    void unlockKeepsPasswordOffCommandLines() {
        const QByteArray gate = QFile::encodeName(m_dir.filePath("unlock-gate"));
        QCOMPARE(mkfifo(gate.constData(), 0600), 0);
        const QByteArray password = "Zq8-unlikely-anywhere-else";
        TPdffile* entry = Append(
            Pdf("held secret.pdf", "gate=" + gate + "\npassword=" + password + "\npages=2\n"),
            true);
        entry->setProbeResult("", StateProtected, "The file is password protected.");
        entry->setPassword(QString::fromLatin1(password));
        CurrentPdf = entry;
        TProcThread worker(ModeUnlock);
        worker.Resume();
        const int fd = open(gate.constData(), O_WRONLY); // the tool is running
        QVERIFY(fd >= 0);
        int scanned = 0;
        QDirIterator processes("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
        while (processes.hasNext()) {
            QFile cmdline(processes.next() + "/cmdline");
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            ++scanned;
            QVERIFY2(!cmdline.readAll().contains(password), qPrintable(cmdline.fileName()));
        }
        close(fd);
        worker.WaitFor();
        QVERIFY(scanned > 1);
        QCOMPARE(entry->State(), StateUnprotected);
        QFile::remove(QFile::decodeName(gate));
        CurrentPdf = nullptr;
    }

    // Only a protected entry is tried again.
    void unlockLeavesOthersAlone_data() {
        QTest::addColumn<QString>("state");
        QTest::newRow("False") << StateFalse;
        QTest::newRow("True") << StateTrue;
        QTest::newRow("not probed") << QString();
    }
    void unlockLeavesOthersAlone() {
        QFETCH(QString, state);
        TPdffile* entry = Append(Pdf("other.pdf", "password=pw\npages=4\n"), true);
        entry->setProbeResult("", state, "before");
        entry->setPassword("pw");
        CurrentPdf = entry;
        RunAndWait(ModeUnlock);
        QCOMPARE(entry->State(), state);
        QCOMPARE(entry->StatusText(), QStringLiteral("before"));
    }

    void unknownModeDoesNothing() {
        Append(Pdf("a.pdf", "---\nPages: 1\n"));
        for (const QString& mode : {QString("probeall"), QString(), ModeConvert + " "}) {
            RunAndWait(mode);
            QCOMPARE(m_window.take(), QList<Message>());
            QCOMPARE(m_boxes.take(), QStringList());
        }
        QCOMPARE(PdfFileList->at(0)->State(), QString());
    }

    // A missing tool ends the pass with the error box; the GUI thread waiting for the worker
    // answers the box instead of deadlocking. Entries keep what they had.
    void missingToolShowsErrorBox() {
        TPdffile* probed = Append(Pdf("a.pdf", "---\nPages: 1\n"));
        probed->setProbeResult("1", StateTrue, "");
        probed->setListed(true);
        TPdffile* next = Append(Pdf("b.pdf", "---\nPages: 1\n"));
        TPdffile* locked = Append(Pdf("c.pdf", "password=pw\n"), true);
        locked->setProbeResult("", StateProtected, "");
        locked->setPassword("pw");
        CurrentPdf = locked;
        QTemporaryDir empty;
        qputenv("PATH", QFile::encodeName(empty.path()));
        RunAndWait(ModeProbeAll);
        RunAndWait(ModeUnlock);
        qputenv("PATH", QByteArray(FAKE_PI_DIR) + ":" + m_path);

        const QStringList boxes = m_boxes.take();
        QCOMPARE(boxes.size(), 2);
        for (const QString& box : boxes) {
            QVERIFY2(box.startsWith("error: Error: "), qPrintable(box));
            QVERIFY2(box.contains("No such file or directory"), qPrintable(box));
        }
        QCOMPARE(m_window.take(), QList<Message>());
        QCOMPARE(next->State(), QString());
        QCOMPARE(locked->State(), StateProtected);
    }

    // A self-freeing worker is gone once its pass ended and the GUI thread's loop ran; it
    // clears WorkerThread on its way out.
    void selfFreeing() {
        Append(Pdf("a.pdf", "---\nPages: 1\n"));
        QPointer<TProcThread> worker = new TProcThread(ModeProbeAll);
        worker->setFreeOnTerminate(true);
        WorkerThread = worker;
        worker->Resume();
        worker->Resume();
        QTRY_VERIFY(worker.isNull());
        QCOMPARE(WorkerThread, nullptr);
        QCOMPARE(PdfFileList->at(0)->State(), StateTrue);
    }

    // A worker started while another still runs (a probe during a conversion) ends first: the
    // reference goes back to the one still at work instead of being lost.
    void workerThreadFallsBackToRunningWorker() {
        const QByteArray gate = QFile::encodeName(m_dir.filePath("fallback-gate"));
        QCOMPARE(mkfifo(gate.constData(), 0600), 0);
        Append(Pdf("slow.pdf", "gate=" + gate + "\n---\nPages: 2\n"));
        QPointer<TProcThread> running = new TProcThread(ModeProbeAll);
        running->setFreeOnTerminate(true);
        WorkerThread = running;
        running->Resume();
        QPointer<TProcThread> brief = new TProcThread(QStringLiteral("none"));
        brief->setFreeOnTerminate(true);
        WorkerThread = brief;
        brief->Resume();
        QTRY_VERIFY(brief.isNull());
        QCOMPARE(WorkerThread, running.data());
        const int fd = open(gate.constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        close(fd);
        QTRY_VERIFY(running.isNull());
        QCOMPARE(WorkerThread, nullptr);
        QCOMPARE(PdfFileList->at(0)->Pages(), QStringLiteral("2"));
    }

    // Shutdown with workers still around: each is waited for, the self-freeing ones deleted,
    // even though no event loop runs any more.
    void waitForAll() {
        const QByteArray gate = QFile::encodeName(m_dir.filePath("shutdown-gate"));
        QCOMPARE(mkfifo(gate.constData(), 0600), 0);
        Append(Pdf("held.pdf", "gate=" + gate + "\n---\nPages: 5\n"));
        QPointer<TProcThread> running = new TProcThread(ModeProbeAll);
        running->setFreeOnTerminate(true);
        running->Resume();
        QPointer<TProcThread> neverStarted = new TProcThread(ModeConvert);
        neverStarted->setFreeOnTerminate(true);
        TProcThread kept(ModeUnlock);
        WorkerThread = running;
        const int fd = open(gate.constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        close(fd);
        TProcThread::WaitForAll();
        QVERIFY(running.isNull());
        QVERIFY(neverStarted.isNull());
        QCOMPARE(WorkerThread, nullptr);
        QCOMPARE(PdfFileList->at(0)->Pages(), QStringLiteral("5"));
    }

    // Terminate is remembered, and it releases a paused worker so shutdown cannot hang.
    void terminateAndPause() {
        Append(Pdf("a.pdf", "---\nPages: 1\n"));
        Append(Pdf("b.pdf", "---\nPages: 1\n"));
        {
            TProcThread worker(ModeProbeAll);
            worker.Suspend();
            worker.Resume();
            worker.ResumeFromPause();
            worker.WaitFor();
            QVERIFY(!worker.Terminated());
            QCOMPARE(m_window.take().size(), 3);
        }
        for (int i = 0; i < 2; ++i)
            PdfFileList->at(i)->setProbeResult("", "", "");
        TProcThread worker(ModeProbeAll);
        worker.Suspend();
        worker.Resume();
        worker.Terminate();
        worker.WaitFor();
        QVERIFY(worker.Terminated());
        // The probe pass runs to its end whatever happens.
        QCOMPARE(m_window.take().size(), 3);
    }
};

QTEST_GUILESS_MAIN(WorkerTest)
#include "tst_worker.moc"
