#pragma once

#include <QString>

namespace platform {

// A per-user lock named after the application title: an flock'ed file in a private
// $XDG_RUNTIME_DIR, else in the temporary folder with the user id in its name. A file there that
// is not the user's own is never trusted: a private folder in the temporary folder is used then.
// The lock is deliberately held until the process ends, whatever happens to this object, and the
// system drops it then, even after a crash.
class SingleInstance {
public:
    explicit SingleInstance(const QString& title);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process of this user holds the lock. When the lock file cannot be
    // opened at all the answer is true: nobody else can lock us out of starting.
    bool isFirst() const { return m_first; }
    // For a later start: whether the process holding the lock still runs. Asking holds a lock
    // only for a moment, and only once that process has ended.
    bool holderRuns() const;

    // Where the lock is looked for first for this title.
    static QString lockPath(const QString& title);
    // The lock file actually used; empty when none could be had.
    QString path() const { return m_path; }

private:
    bool m_first = true;
    int m_fd = -1;
    QString m_path;
};

} // namespace platform
