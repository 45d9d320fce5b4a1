#include "platform/msgbox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <atomic>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {

namespace {

struct Request {
    BoxKind kind;
    QString text;
    BoxAnswer answer = BoxAnswer::Ok;
    bool done = false;
};

// Lives on the GUI thread; a posted event makes it answer the queued requests.
class Waker : public QObject {
public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

protected:
    bool event(QEvent* e) override;
};

// Everything below is guarded by `mutex`. `waker` and `guiThread` are set on the GUI thread when
// the application object is built and cleared when its loop ends or it is destroyed, so a worker
// never touches an application object that is being torn down.
struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Request*> queue;
    MessageBoxHandler handler;
    QThread* guiThread = nullptr;
    Waker* waker = nullptr;
    bool accepting = false;
    bool wakePending = false;
    // Counts WakeServicingWaiters calls, so a waiter sees a wake that came while it checked.
    unsigned long wakes = 0;
};

// Never destroyed: a detached thread may still wake the waiters while the process exits.
State& state() {
    static State* s = new State;
    return *s;
}

bool Waker::event(QEvent* e) {
    if (e->type() != eventType())
        return QObject::event(e);
    {
        std::lock_guard lock(state().mutex);
        state().wakePending = false;
    }
    ServiceGuiRequests();
    return true;
}

BoxAnswer defaultAnswer(BoxKind kind) {
    return kind == BoxKind::Warning ? BoxAnswer::No : BoxAnswer::Ok;
}

BoxAnswer callHandler(BoxKind kind, const QString& text) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(state().mutex);
        handler = state().handler;
    }
    return handler ? handler(kind, text) : defaultAnswer(kind);
}

// From now on nobody answers: release the waiting workers with default answers.
void stopAccepting(bool forget) {
    State& s = state();
    Waker* waker = nullptr;
    {
        std::lock_guard lock(s.mutex);
        s.accepting = false;
        if (forget) {
            s.guiThread = nullptr;
            waker = s.waker;
            s.waker = nullptr;
        }
        for (Request* r : s.queue) {
            r->answer = defaultAnswer(r->kind);
            r->done = true;
        }
        s.queue.clear();
        s.changed.notify_all();
    }
    delete waker;
}

void onApplicationGone() {
    stopAccepting(true);
}

// Runs on the GUI thread while every application object is being built.
void onApplicationCreated() {
    QCoreApplication* app = QCoreApplication::instance();
    Waker* old = nullptr;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        old = s.waker;
        s.waker = new Waker;
        s.guiThread = app->thread();
        s.accepting = true;
        s.wakePending = false;
    }
    delete old;
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { stopAccepting(false); });
    qAddPostRoutine(onApplicationGone);
}

bool onGuiThread() {
    std::lock_guard lock(state().mutex);
    return state().guiThread && QThread::currentThread() == state().guiThread;
}

} // namespace

} // namespace platform

// Registered before main(); Qt then calls it for every application object it builds.
static void pixolundBoxesStartup() {
    platform::onApplicationCreated();
}
Q_COREAPP_STARTUP_FUNCTION(pixolundBoxesStartup)

namespace platform {

BoxAnswer MessageBox(BoxKind kind, const QString& text) {
    State& s = state();
    Request request{kind, text};
    std::unique_lock lock(s.mutex);
    if (s.guiThread && QThread::currentThread() == s.guiThread) {
        lock.unlock();
        return callHandler(kind, text);
    }
    if (!s.accepting)
        return defaultAnswer(kind);
    s.queue.push_back(&request);
    s.changed.notify_all();
    // Posted under the lock, so the waker cannot be deleted in between; one pending wake-up
    // serves every request queued before it runs.
    if (!s.wakePending) {
        s.wakePending = true;
        QCoreApplication::postEvent(s.waker, new QEvent(Waker::eventType()));
    }
    s.changed.wait(lock, [&] { return request.done; });
    return request.answer;
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(state().mutex);
    state().handler = std::move(handler);
}

void ServiceGuiRequests() {
    State& s = state();
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard lock(s.mutex);
            if (!s.guiThread || QThread::currentThread() != s.guiThread || s.queue.empty())
                return;
            request = s.queue.front();
            s.queue.pop_front();
        }
        // The handler may run a nested event loop that services further requests; each one is
        // off the queue before its box opens, so none is answered twice.
        const BoxAnswer answer = callHandler(request->kind, request->text);
        std::lock_guard lock(s.mutex);
        request->answer = answer;
        request->done = true;
        s.changed.notify_all();
    }
}

void WakeServicingWaiters() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    ++s.wakes;
    s.changed.notify_all();
}

bool WaitServicingGui(const std::function<bool()>& done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    State& s = state();
    const bool gui = onGuiThread();
    for (;;) {
        unsigned long seen = 0;
        {
            std::lock_guard lock(s.mutex);
            seen = s.wakes;
        }
        ServiceGuiRequests();
        if (done())
            return true;
        const auto now = Clock::now();
        if (timeoutMs >= 0 && now >= deadline)
            return false;
        // Whoever makes done() true wakes us; the limit only bounds a missed wake.
        auto until = now + std::chrono::milliseconds(20);
        if (timeoutMs >= 0 && deadline < until)
            until = deadline;
        std::unique_lock lock(s.mutex);
        s.changed.wait_until(lock, until,
                             [&] { return (gui && !s.queue.empty()) || s.wakes != seen; });
    }
}

bool WaitForThreadServicingGui(QThread* thread, int timeoutMs) {
    if (!thread || thread == QThread::currentThread())
        return true;
    return WaitServicingGui([thread] { return thread->wait(QDeadlineTimer(0)); }, timeoutMs);
}

} // namespace platform
