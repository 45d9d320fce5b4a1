// Message boxes asked for by other threads, and posted window messages. Every test builds its own
// application object, so the life cycle around it (none yet, running, loop ended, destroyed) can
// be tested too.
#include "platform/msgbox.h"
#include "platform/winmsg.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace platform;

Q_DECLARE_METATYPE(platform::BoxKind)
Q_DECLARE_METATYPE(platform::BoxAnswer)

namespace {

int argc = 1;
char arg0[] = "tst_messages";
char* argv[] = {arg0, nullptr};

struct Shown {
    BoxKind kind;
    QString text;
    bool onGuiThread;
};

// Records every box it is asked to show and answers with `answer`.
class Recorder {
public:
    explicit Recorder(BoxAnswer answer) {
        SetMessageBoxHandler([this, answer](BoxKind kind, const QString& text) {
            std::lock_guard lock(m_mutex);
            const QCoreApplication* app = QCoreApplication::instance();
            m_shown.push_back({kind, text, app && QThread::currentThread() == app->thread()});
            return answer;
        });
    }
    ~Recorder() { SetMessageBoxHandler({}); }
    std::vector<Shown> shown() {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }

private:
    std::mutex m_mutex;
    std::vector<Shown> m_shown;
};

class Receiver : public QObject {
public:
    std::vector<std::tuple<int, qintptr, qintptr>> received;

protected:
    bool event(QEvent* e) override {
        if (e->type() >= QEvent::User) {
            auto* m = static_cast<WindowMessage*>(e);
            received.emplace_back(m->msg(), m->wParam(), m->lParam());
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

class MessagesTest : public QObject {
    Q_OBJECT

private slots:
    void workerBoxReachesGuiThread_data();
    void workerBoxReachesGuiThread();
    void guiThreadCallsHandlerDirectly();
    void defaultAnswers_data();
    void defaultAnswers();
    void severalWorkersAtOnce();
    void eventLoopServesWorker();
    void noAnswerAfterEventLoopEnded();
    void pendingBoxAnsweredWhenApplicationDestroyed();
    void noApplication();
    void waitGivesUpAtTimeout();
    void postMessageFromWorker();
};

void MessagesTest::workerBoxReachesGuiThread_data() {
    QTest::addColumn<BoxKind>("kind");
    QTest::addColumn<BoxAnswer>("given");
    QTest::newRow("information") << BoxKind::Information << BoxAnswer::Ok;
    QTest::newRow("error") << BoxKind::Error << BoxAnswer::Ok;
    QTest::newRow("warning yes") << BoxKind::Warning << BoxAnswer::Yes;
    QTest::newRow("warning no") << BoxKind::Warning << BoxAnswer::No;
    QTest::newRow("plain") << BoxKind::Plain << BoxAnswer::Ok;
}

void MessagesTest::workerBoxReachesGuiThread() {
    QFETCH(BoxKind, kind);
    QFETCH(BoxAnswer, given);
    QCoreApplication app(argc, argv);
    Recorder recorder(given);
    std::atomic<BoxAnswer> answer{BoxAnswer::Ok};
    std::atomic<bool> answered{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        answer = MessageBox(kind, "Error: Grüße <b>");
        answered = true;
    }));
    worker->start();
    // Must not deadlock: the worker waits for this thread, this thread waits for the worker.
    WaitForThreadServicingGui(worker.get());
    QVERIFY(answered);
    QCOMPARE(answer.load(), given);
    const std::vector<Shown> shown = recorder.shown();
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].kind, kind);
    QCOMPARE(shown[0].text, QString("Error: Grüße <b>"));
    QVERIFY(shown[0].onGuiThread);
}

void MessagesTest::guiThreadCallsHandlerDirectly() {
    QCoreApplication app(argc, argv);
    Recorder recorder(BoxAnswer::Yes);
    QCOMPARE(MessageBox(BoxKind::Warning, "stop?"), BoxAnswer::Yes);
    QCOMPARE(recorder.shown().size(), size_t(1));
    QVERIFY(recorder.shown()[0].onGuiThread);
}

void MessagesTest::defaultAnswers_data() {
    QTest::addColumn<BoxKind>("kind");
    QTest::addColumn<BoxAnswer>("expected");
    QTest::newRow("information") << BoxKind::Information << BoxAnswer::Ok;
    QTest::newRow("error") << BoxKind::Error << BoxAnswer::Ok;
    QTest::newRow("warning") << BoxKind::Warning << BoxAnswer::No;
    QTest::newRow("plain") << BoxKind::Plain << BoxAnswer::Ok;
}

void MessagesTest::defaultAnswers() {
    QFETCH(BoxKind, kind);
    QFETCH(BoxAnswer, expected);
    QCoreApplication app(argc, argv);
    SetMessageBoxHandler({});
    QCOMPARE(MessageBox(kind, "x"), expected);
    std::atomic<BoxAnswer> fromWorker{BoxAnswer::Yes};
    std::unique_ptr<QThread> worker(QThread::create([&] { fromWorker = MessageBox(kind, "x"); }));
    worker->start();
    WaitForThreadServicingGui(worker.get());
    QCOMPARE(fromWorker.load(), expected);
}

void MessagesTest::severalWorkersAtOnce() {
    QCoreApplication app(argc, argv);
    Recorder recorder(BoxAnswer::Yes);
    constexpr int workers = 4;
    constexpr int boxes = 3;
    std::atomic<int> finished{0};
    std::atomic<int> yes{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (int b = 0; b < boxes; ++b) {
                if (MessageBox(BoxKind::Warning, QStringLiteral("%1/%2").arg(w).arg(b)) ==
                    BoxAnswer::Yes)
                    ++yes;
            }
            ++finished;
        });
    }
    QVERIFY(WaitServicingGui([&] { return finished == workers; }));
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(yes.load(), workers * boxes);
    const std::vector<Shown> shown = recorder.shown();
    QCOMPARE(int(shown.size()), workers * boxes);
    QStringList texts;
    for (const Shown& s : shown) {
        QVERIFY(s.onGuiThread);
        texts << s.text;
    }
    texts.sort();
    QCOMPARE(texts.removeDuplicates(), 0);
}

void MessagesTest::eventLoopServesWorker() {
    // No explicit servicing: the posted wake-up alone gets the box shown by the event loop.
    QCoreApplication app(argc, argv);
    Recorder recorder(BoxAnswer::Yes);
    std::atomic<BoxAnswer> answer{BoxAnswer::Ok};
    std::thread worker([&] {
        answer = MessageBox(BoxKind::Warning, "from the loop");
        QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
    });
    QCOMPARE(app.exec(), 0);
    worker.join();
    QCOMPARE(answer.load(), BoxAnswer::Yes);
    QCOMPARE(recorder.shown().size(), size_t(1));
}

void MessagesTest::noAnswerAfterEventLoopEnded() {
    QCoreApplication app(argc, argv);
    Recorder recorder(BoxAnswer::Yes);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();
    // The GUI thread now joins the worker without servicing; the worker must not hang.
    std::atomic<BoxAnswer> answer{BoxAnswer::Yes};
    std::thread worker([&] { answer = MessageBox(BoxKind::Warning, "late"); });
    worker.join();
    QCOMPARE(answer.load(), BoxAnswer::No);
    QCOMPARE(recorder.shown().size(), size_t(0));
}

void MessagesTest::pendingBoxAnsweredWhenApplicationDestroyed() {
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    Recorder recorder(BoxAnswer::Yes);
    std::atomic<BoxAnswer> answer{BoxAnswer::Yes};
    std::thread worker([&] { answer = MessageBox(BoxKind::Warning, "orphan"); });
    // Whether the request is already queued or comes after: it gets the default answer.
    app.reset();
    worker.join();
    QCOMPARE(answer.load(), BoxAnswer::No);
    QCOMPARE(recorder.shown().size(), size_t(0));
}

void MessagesTest::noApplication() {
    Recorder recorder(BoxAnswer::Yes);
    QCOMPARE(MessageBox(BoxKind::Warning, "no app"), BoxAnswer::No);
    std::atomic<BoxAnswer> answer{BoxAnswer::Yes};
    std::thread worker([&] { answer = MessageBox(BoxKind::Warning, "no app"); });
    worker.join();
    QCOMPARE(answer.load(), BoxAnswer::No);
    QCOMPARE(recorder.shown().size(), size_t(0));
}

void MessagesTest::waitGivesUpAtTimeout() {
    QCoreApplication app(argc, argv);
    QVERIFY(!WaitServicingGui([] { return false; }, 30));
    QVERIFY(WaitServicingGui([] { return true; }, 0));
}

void MessagesTest::postMessageFromWorker() {
    QCoreApplication app(argc, argv);
    Receiver receiver;
    QVERIFY(!PostMessage(33969, 0, 0));
    SetMainWindow(&receiver);
    std::atomic<int> posted{0};
    std::thread worker([&] {
        posted += PostMessage(33969, 7, PackProgress(3, 100));
        for (int percent : {0, 95, 100})
            posted += PostMessage(33971, 0, PackProgress(0 + 1, percent));
        posted += PostMessage(33970, 0, 0);
    });
    worker.join();
    QCOMPARE(posted.load(), 5);
    QCoreApplication::sendPostedEvents(&receiver);
    using M = std::tuple<int, qintptr, qintptr>;
    const std::vector<M> expected{M{33969, 7, 3100}, M{33971, 0, 1000}, M{33971, 0, 1095},
                                  M{33971, 0, 1100}, M{33970, 0, 0}};
    QCOMPARE(receiver.received, expected);
    SetMainWindow(nullptr);
    QVERIFY(!PostMessage(33970, 0, 0));
}

QTEST_APPLESS_MAIN(MessagesTest)
#include "tst_messages.moc"
