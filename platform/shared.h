#pragma once

#include <mutex>

namespace platform {

// A value that several threads read while one of them may set it. Reads return a copy; there is
// no implicit conversion, so every read is visible at the call site.
template <typename T> class Shared {
public:
    T get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(const T& value) {
        std::lock_guard lock(m_mutex);
        m_value = value;
    }
    bool isEmpty() const { return get().isEmpty(); }

private:
    mutable std::mutex m_mutex;
    T m_value;
};

} // namespace platform
