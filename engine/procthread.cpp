#include "engine/procthread.h"

#include "engine/passes.h"
#include "engine/windowevents.h"
#include "platform/errors.h"
#include "platform/msgbox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <exception>
#include <vector>

TProcThread* WorkerThread = nullptr;
std::atomic<bool> StopRequested{false};
std::atomic<bool> RenderFinished{true};

namespace {

// Every worker alive, so that shutdown can wait for them and free the self-freeing ones.
std::mutex registryMutex;
std::vector<TProcThread*> registry;

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool IsRegistered(TProcThread* worker) {
    std::lock_guard lock(registryMutex);
    for (TProcThread* live : registry) {
        if (live == worker)
            return true;
    }
    return false;
}

} // namespace

TProcThread::TProcThread(const QString& mode) : m_mode(mode), m_events(&DefaultEngineEvents()) {
    // Set from the thread itself as it ends, and the waiting GUI thread woken for it.
    connect(
        this, &QThread::finished, this,
        [this] {
            m_ended.store(true, std::memory_order_release);
            platform::WakeServicingWaiters();
        },
        Qt::DirectConnection);
    std::lock_guard lock(registryMutex);
    registry.push_back(this);
}

TProcThread::~TProcThread() {
    // A worker destroyed while its pass runs would abort the process inside QThread.
    if (m_started)
        WaitFor();
    // WorkerThread falls back to the most recently started worker still at work: a probe
    // started during a conversion must not leave the close question and shutdown without a
    // reference to the conversion once the probe is gone.
    TProcThread* stillRunning = nullptr;
    {
        std::lock_guard lock(registryMutex);
        std::erase(registry, this);
        for (auto it = registry.rbegin(); it != registry.rend(); ++it) {
            if ((*it)->m_started && !(*it)->m_ended.load(std::memory_order_acquire)) {
                stillRunning = *it;
                break;
            }
        }
    }
    if (WorkerThread == this)
        WorkerThread = stillRunning;
}

void TProcThread::setFreeOnTerminate(bool value) {
    if (value == m_freeOnTerminate)
        return;
    m_freeOnTerminate = value;
    // deleteLater lands on the GUI thread, which owns the worker object.
    if (value)
        connect(this, &QThread::finished, this, &QObject::deleteLater);
    else
        disconnect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TProcThread::Resume() {
    if (m_started)
        return;
    m_started = true;
    {
        // The registry is kept in start order.
        std::lock_guard lock(registryMutex);
        std::erase(registry, this);
        registry.push_back(this);
    }
    start();
}

void TProcThread::Terminate() {
    m_terminated.store(true);
    ResumeFromPause();
}

void TProcThread::WaitFor() {
    if (OnGuiThread())
        platform::WaitServicingGui([this] { return m_ended.load(std::memory_order_acquire); });
    wait();
    (void)m_ended.load(std::memory_order_acquire);
}

void TProcThread::Suspend() {
    std::lock_guard lock(m_pauseMutex);
    m_paused = true;
}

void TProcThread::ResumeFromPause() {
    {
        std::lock_guard lock(m_pauseMutex);
        m_paused = false;
    }
    m_pauseChanged.notify_all();
}

void TProcThread::CheckPause() {
    std::unique_lock lock(m_pauseMutex);
    m_pauseChanged.wait(lock, [this] { return !m_paused; });
}

bool TProcThread::WaitForAll(int timeoutMs) {
    std::vector<TProcThread*> live;
    {
        std::lock_guard lock(registryMutex);
        live = registry;
    }
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    for (TProcThread* worker : live) {
        if (!IsRegistered(worker) || !worker->m_started)
            continue;
        if (timeoutMs < 0) {
            worker->WaitFor();
            continue;
        }
        if (!platform::WaitServicingGui(
                [worker] { return worker->m_ended.load(std::memory_order_acquire); },
                int(qMax<qint64>(0, deadline.remainingTime()))))
            return false;
        worker->wait();
        (void)worker->m_ended.load(std::memory_order_acquire);
    }
    // Their deleteLater may never run once the event loop has ended.
    for (TProcThread* worker : live) {
        if (IsRegistered(worker) && worker->m_freeOnTerminate)
            delete worker;
    }
    return true;
}

bool TProcThread::AnyAtWork() {
    std::lock_guard lock(registryMutex);
    for (const TProcThread* worker : registry) {
        if (worker->m_started && !worker->m_ended.load(std::memory_order_acquire))
            return true;
    }
    return false;
}

void TProcThread::run() {
    struct EndMark {
        std::atomic<bool>& ended;
        ~EndMark() { ended.store(true, std::memory_order_release); }
    } endMark{m_ended};

    void (*pass)(TProcThread&) = nullptr;
    if (m_mode == ModeProbeAll)
        pass = ProbeAllPass;
    else if (m_mode == ModeConvert)
        pass = ConvertPass;
    else if (m_mode == ModeUnlock)
        pass = UnlockPass;
    else
        return;

    QString message;
    try {
        pass(*this);
        return;
    } catch (const platform::SystemError& error) {
        message = error.text();
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    m_events->PassError(message);
}
