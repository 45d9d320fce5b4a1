#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Mode tokens of a worker: the pass it runs.
inline const QString ModeProbeAll = QStringLiteral("ProbeAll");
inline const QString ModeConvert = QStringLiteral("Convert");
inline const QString ModeUnlock = QStringLiteral("Unlock");

// A worker runs one pass and ends. It is created without starting, started once by Resume(),
// and, when set to free itself, destroyed on the GUI thread after its pass has returned. Any
// error raised inside the pass ends it and is reported as a PassError event.
class EngineEvents;

class TProcThread : public QThread {
    Q_OBJECT

public:
    explicit TProcThread(const QString& mode);
    ~TProcThread() override;

    QString Mode() const { return m_mode; }

    // Where the pass reports; DefaultEngineEvents() unless set before Resume(). The events
    // object must outlive the worker.
    void setEvents(EngineEvents* events) { m_events = events; }
    EngineEvents& Events() const { return *m_events; }

    // Call before Resume(): the worker then deletes itself (on the GUI thread) once it ended.
    void setFreeOnTerminate(bool value);
    bool freeOnTerminate() const { return m_freeOnTerminate; }

    // Starts the worker; later calls do nothing.
    void Resume();

    // Asks the pass to end at its next check; also releases a pause.
    void Terminate();
    bool Terminated() const { return m_terminated.load(); }

    // Blocks until the worker has ended. On the GUI thread it keeps answering the worker's
    // message-box requests meanwhile, so a worker that shows a box cannot deadlock the wait.
    void WaitFor();

    // Cooperative pause: the pass stops at its next CheckPause() until ResumeFromPause().
    void Suspend();
    void ResumeFromPause();
    // Called by a pass at its safe points, where it holds no lock.
    void CheckPause();

    // Shutdown: waits for every live worker, then deletes the self-freeing ones still alive.
    // With timeoutMs >= 0 it gives up after that long and returns false, deleting nothing.
    // GUI thread only.
    static bool WaitForAll(int timeoutMs = -1);

    // Whether any worker has been started and has not yet ended.
    static bool AnyAtWork();

protected:
    void run() override;

private:
    // QThread's hard kill would leave the job list, the library and the locks in any state;
    // Terminate() is the polite request every caller must use.
    using QThread::terminate;

    const QString m_mode;
    EngineEvents* m_events;
    bool m_freeOnTerminate = false;
    bool m_started = false;
    std::atomic<bool> m_terminated{false};
    // Set by the worker as its last act. QThread hands its end to wait() through a lock that
    // ThreadSanitizer cannot see; reading this after the wait makes that order visible.
    std::atomic<bool> m_ended{false};
    std::mutex m_pauseMutex;
    std::condition_variable m_pauseChanged;
    bool m_paused = false;
};

// The worker most recently started. Used on the GUI thread only; a worker being destroyed
// while it points at that worker moves it to the most recently started worker still at work,
// or clears it when there is none.
extern TProcThread* WorkerThread;

// Stop pressed (GUI thread writes, conversion pass reads between files).
extern std::atomic<bool> StopRequested;
// False while a render call runs (conversion pass writes, GUI progress polling reads).
extern std::atomic<bool> RenderFinished;
