// Closing the main window: the question while a conversion runs, the worker paused while it is
// asked, and the job list and package files outliving the worker after Yes.

#include "testsupport.h"

#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "ui/mainform.h"

#include <QApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

// A conversion stand-in: walks the job list over and over, pausing and ending where a pass does.
class FakeConversion : public TProcThread {
public:
    FakeConversion() : TProcThread(ModeConvert) {}
    std::atomic<int> rounds{0};
    std::atomic<bool> listAliveAtEnd{false};
    std::atomic<int> pauseEntries{0};
    std::atomic<int> pauseReturns{0};
    // A pause entered after the close question was asked ends only by the answer. After Yes the
    // worker must come out of it already told to terminate; otherwise it would take up another
    // file that the shutdown then has to wait for.
    std::atomic<bool> questionAsked{false};
    std::atomic<bool> answeredYes{false};
    std::atomic<bool> ranOnAfterYes{false};

protected:
    void run() override {
        while (!Terminated()) {
            const bool askedBefore = questionAsked;
            ++pauseEntries;
            CheckPause();
            ++pauseReturns;
            if (askedBefore && answeredYes && !Terminated())
                ranOnAfterYes = true;
            if (PdfFileList != nullptr && PdfFileList->count() > 0)
                (void)PdfFileList->at(0)->FileName();
            ++rounds;
            QThread::yieldCurrentThread();
        }
        listAliveAtEnd = PdfFileList != nullptr && PdfFileList->count() == 1;
    }
};

const QString Question = QStringLiteral("Are you sure you want to stop processing?");

} // namespace

class TestClose : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void closeQuestion_data();
    void closeQuestion();
    void termAppEndsWithoutQuestion();
};

void TestClose::initTestCase() {
    // A closed main window must not leave a quit request behind for the loop test below.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestClose::closeQuestion_data() {
    QTest::addColumn<bool>("worker");
    QTest::addColumn<bool>("converting");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closes");

    QTest::newRow("no worker") << false << true << true << false << true;
    QTest::newRow("worker but no conversion") << true << false << false << false << true;
    QTest::newRow("converting, No") << true << true << false << true << false;
    QTest::newRow("converting, Yes") << true << true << true << true << true;
}

void TestClose::closeQuestion() {
    QFETCH(bool, worker);
    QFETCH(bool, converting);
    QFETCH(bool, answerYes);
    QFETCH(bool, asked);
    QFETCH(bool, closes);
    Sandbox sandbox;
    Recorder recorder;
    recorder.answer = answerYes ? platform::BoxAnswer::Yes : platform::BoxAnswer::No;
    RenderFinished = false;

    auto form = std::make_unique<TMainForm>();
    PdfFileList->append(std::make_unique<TPdffile>("/a.pdf", "a.pdf", "1 Byte", "1", "", true));
    const QString library = LibraryDir + QString::fromUtf8(DecipherName(EncRenderLibraryName));
    WriteAll(library, "x");
    // The window is not shown: painting it would start Qt's own image threads, which the
    // thread checker cannot see into.
    form->sEdit1->setEnabled(!converting);

    std::unique_ptr<FakeConversion> thread;
    // A failed check must not leave the worker running for its destructor to wait on forever.
    const auto stopWorker = qScopeGuard([&] {
        if (thread)
            thread->Terminate();
    });
    bool reachedPause = false;
    if (worker) {
        thread = std::make_unique<FakeConversion>();
        WorkerThread = thread.get();
        thread->Resume();
        QTRY_VERIFY(thread->rounds > 0);
        // Answer only once the worker has reached its pause, as a user's answer would.
        platform::SetMessageBoxHandler([&](platform::BoxKind kind, const QString& text) {
            recorder.boxes.append({kind, text});
            thread->questionAsked = true;
            const int start = thread->pauseEntries;
            reachedPause = QTest::qWaitFor(
                [&] {
                    return thread->pauseEntries > start ||
                           thread->pauseEntries > thread->pauseReturns;
                },
                60000);
            thread->answeredYes = recorder.answer == platform::BoxAnswer::Yes;
            return recorder.answer;
        });
    }

    QCOMPARE(form->close(), closes);
    QCOMPARE(recorder.texts(), asked ? QStringList{Question} : QStringList());
    if (asked) {
        QCOMPARE(recorder.boxes.first().kind, platform::BoxKind::Warning);
        QVERIFY(reachedPause);
    }
    QCOMPARE(RenderFinished.load(), asked && answerYes);

    if (worker) {
        QCOMPARE(thread->Terminated(), asked && answerYes);
        if (!thread->Terminated()) {
            // Not stopped and not left paused: it goes on working.
            const int before = thread->rounds;
            QTRY_VERIFY(thread->rounds > before);
            QVERIFY(thread->isRunning());
            thread->Terminate();
        }
    }
    // Destruction waits for the worker before the job list and the package files go.
    form.reset();
    if (worker) {
        QVERIFY(thread->isFinished());
        QVERIFY(thread->listAliveAtEnd);
        QVERIFY(!thread->ranOnAfterYes);
    }
    QCOMPARE(PdfFileList, nullptr);
    QVERIFY(!QFileInfo::exists(library));
}

void TestClose::termAppEndsWithoutQuestion() {
    Sandbox sandbox;
    Recorder recorder;
    auto form = std::make_unique<TMainForm>();
    PdfFileList->append(std::make_unique<TPdffile>("/a.pdf", "a.pdf", "1 Byte", "1", "", true));
    form->sEdit1->setEnabled(false);
    FakeConversion thread;
    WorkerThread = &thread;
    thread.Resume();

    // A fatal renderer error ends the message loop at once, without the close question.
    bool posted = false;
    QTimer post;
    post.setSingleShot(true);
    post.callOnTimeout([&] { posted = platform::PostMessage(WM_TERMAPP, 0, 0); });
    post.start(0);
    QTimer guard; // only ends the loop if the message failed to
    guard.callOnTimeout([] { QCoreApplication::exit(1); });
    guard.start(60000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(posted);
    QCOMPARE(recorder.texts(), QStringList());

    // The shutdown that follows stops the worker and waits for it before freeing the list.
    form.reset();
    QVERIFY(thread.isFinished());
    QVERIFY(thread.Terminated());
    QVERIFY(thread.listAliveAtEnd);
    QCOMPARE(PdfFileList, nullptr);
}

QTEST_MAIN(TestClose)
#include "tst_close.moc"
