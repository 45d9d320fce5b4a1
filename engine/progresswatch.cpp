#include "engine/progresswatch.h"

#include <chrono>

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(100);

} // namespace

ProgressWatch::ProgressWatch(RasterizeProgressProc query, CancelRasterizeProc cancel,
                             const std::atomic<bool>& stop, EngineEvents& events, int position)
    : m_query(query), m_cancel(cancel), m_stop(stop), m_events(events), m_position(position) {
    if (m_query || m_cancel)
        m_thread = std::thread([this] { Run(); });
}

ProgressWatch::~ProgressWatch() {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

PageProgress ProgressWatch::Last() const {
    std::lock_guard lock(m_mutex);
    return m_last;
}

void ProgressWatch::Run() {
    bool cancelled = false;
    std::unique_lock lock(m_mutex);
    while (!m_changed.wait_for(lock, PollInterval, [this] { return m_ended; })) {
        if (m_cancel && !cancelled && m_stop.load()) {
            m_cancel();
            cancelled = true;
        }
        int32_t done = 0, inRange = 0, band = 0;
        if (!m_query || m_query(&done, &inRange, &band) == 0)
            continue;
        const PageProgress now{done, inRange, band};
        if (now == m_last)
            continue;
        m_last = now;
        lock.unlock();
        m_events.PagesDone(m_position, now);
        lock.lock();
    }
}
