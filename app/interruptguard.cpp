#include "app/interruptguard.h"

#include <pthread.h>

InterruptGuard::InterruptGuard(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    sigemptyset(&m_set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&m_set, signal);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    m_thread = std::thread([this] {
        for (;;) {
            int signal = 0;
            if (sigwait(&m_set, &signal) != 0 || m_ending.load())
                return;
            if (m_signal.exchange(signal) == 0 && m_onInterrupt)
                m_onInterrupt();
        }
    });
}

InterruptGuard::~InterruptGuard() {
    m_ending.store(true);
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}
