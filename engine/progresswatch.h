#pragma once

#include "engine/events.h"
#include "engine/renderapi.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Follows one render call from a thread of its own: reports each change of the library's page
// progress, and cancels the call once `stop` is set, so a Stop reaches the file in hand even
// when it was pressed just before the call began.
class ProgressWatch {
public:
    ProgressWatch(RasterizeProgressProc query, CancelRasterizeProc cancel,
                  const std::atomic<bool>& stop, EngineEvents& events, int position);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // The last progress reported; call after the render call has returned.
    PageProgress Last() const;

private:
    void Run();

    const RasterizeProgressProc m_query;
    const CancelRasterizeProc m_cancel;
    const std::atomic<bool>& m_stop;
    EngineEvents& m_events;
    const int m_position;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    PageProgress m_last;
    std::thread m_thread;
};
