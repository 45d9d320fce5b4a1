#include "engine/progresswatch.h"

#include <chrono>

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(100);

} // namespace

WatchThread::~WatchThread() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void WatchThread::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_job; });
        if (m_quit)
            return;
        ProgressWatch* const watch = m_job;
        m_active = watch;
        bool cancelled = false;
        while (!m_changed.wait_for(lock, PollInterval, [&] { return m_quit || m_job != watch; })) {
            if (watch->m_cancel && !cancelled && watch->m_stop.load()) {
                watch->m_cancel();
                cancelled = true;
            }
            int32_t done = 0, inRange = 0, band = 0;
            if (!watch->m_query || watch->m_query(&done, &inRange, &band) == 0)
                continue;
            const PageProgress now{done, inRange, band};
            if (now == watch->m_last)
                continue;
            watch->m_last = now;
            lock.unlock();
            watch->m_events.PagesDone(watch->m_position, now);
            lock.lock();
        }
        m_active = nullptr;
        m_changed.notify_all();
    }
}

ProgressWatch::ProgressWatch(WatchThread& thread, RasterizeProgressProc query,
                             CancelRasterizeProc cancel, const std::atomic<bool>& stop,
                             EngineEvents& events, int position)
    : m_watcher(thread), m_query(query), m_cancel(cancel), m_stop(stop), m_events(events),
      m_position(position) {
    if (!m_query && !m_cancel)
        return;
    {
        std::lock_guard lock(m_watcher.m_mutex);
        if (!m_watcher.m_thread.joinable())
            m_watcher.m_thread = std::thread([&t = m_watcher] { t.Run(); });
        m_watcher.m_job = this;
    }
    m_watcher.m_changed.notify_all();
}

ProgressWatch::~ProgressWatch() {
    std::unique_lock lock(m_watcher.m_mutex);
    if (m_watcher.m_job == this)
        m_watcher.m_job = nullptr;
    m_watcher.m_changed.notify_all();
    // A progress report under way must not reach a watch that is gone.
    m_watcher.m_changed.wait(lock, [this] { return m_watcher.m_active != this; });
}

PageProgress ProgressWatch::Last() const {
    std::lock_guard lock(m_watcher.m_mutex);
    return m_last;
}
