#pragma once

#include <QString>

namespace platform {

// A per-user lock named after the application title: an flock'ed file in $XDG_RUNTIME_DIR (or
// the temporary folder). The lock is deliberately held until the process ends, whatever happens
// to this object, and the system drops it then, even after a crash.
class SingleInstance {
public:
    explicit SingleInstance(const QString& title);
    // False when another process of this user holds the lock. When the lock file cannot be
    // opened at all the answer is true: nobody else can lock us out of starting.
    bool isFirst() const { return m_first; }

    // Where the lock lives for this title (for diagnostics and tests).
    static QString lockPath(const QString& title);

private:
    bool m_first = true;
};

} // namespace platform
