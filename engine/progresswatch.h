#pragma once

#include "engine/events.h"
#include "engine/renderapi.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class ProgressWatch;

// The thread that follows render calls, one at a time, kept for the next call: starting a thread
// for every file cost a small file more than the rest of its conversion in the caller.
class WatchThread {
public:
    WatchThread() = default;
    ~WatchThread();
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

private:
    friend class ProgressWatch;
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    ProgressWatch* m_job = nullptr;    // the call to follow
    ProgressWatch* m_active = nullptr; // the call being followed
    bool m_quit = false;
    std::thread m_thread;
};

// Follows one render call on a WatchThread: reports each change of the library's page progress,
// and cancels the call once `stop` is set, so a Stop reaches the file in hand even when it was
// pressed just before the call began.
class ProgressWatch {
public:
    ProgressWatch(WatchThread& thread, RasterizeProgressProc query, CancelRasterizeProc cancel,
                  const std::atomic<bool>& stop, EngineEvents& events, int position);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // The last progress reported; call after the render call has returned.
    PageProgress Last() const;

private:
    friend class WatchThread;

    WatchThread& m_watcher;
    const RasterizeProgressProc m_query;
    const CancelRasterizeProc m_cancel;
    const std::atomic<bool>& m_stop;
    EngineEvents& m_events;
    const int m_position;
    PageProgress m_last; // guarded by the thread's mutex
};
