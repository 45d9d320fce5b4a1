#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

// While it lives, Ctrl-C, SIGTERM and SIGHUP do not end the process on the spot: the first one
// calls `onInterrupt` (on a thread of its own) so the run can stop like the window's Stop, its
// partial files and working folder removed on the way out. Create it before any thread that
// should keep the signals blocked; it restores the signal mask when it goes.
class InterruptGuard {
public:
    explicit InterruptGuard(std::function<void()> onInterrupt);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // The signal that interrupted the run, or 0.
    int Signal() const { return m_signal.load(); }

private:
    sigset_t m_set{};
    sigset_t m_previous{};
    std::atomic<int> m_signal{0};
    std::atomic<bool> m_ending{false};
    std::function<void()> m_onInterrupt;
    std::thread m_thread;
};
