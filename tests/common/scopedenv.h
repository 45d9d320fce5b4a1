#pragma once

// Sets XDG_RUNTIME_DIR and TMPDIR, which decide where the per-user folders and the lock go, for
// one test; the old values come back afterwards. A null value unsets the variable.

#include <QByteArray>
#include <QtGlobal>

class ScopedFolderEnvironment {
public:
    ScopedFolderEnvironment(const QByteArray& runtime, const QByteArray& tmp)
        : m_runtime(qgetenv("XDG_RUNTIME_DIR")), m_tmp(qgetenv("TMPDIR")) {
        set("XDG_RUNTIME_DIR", runtime);
        set("TMPDIR", tmp);
    }
    ~ScopedFolderEnvironment() {
        set("XDG_RUNTIME_DIR", m_runtime);
        set("TMPDIR", m_tmp);
    }
    ScopedFolderEnvironment(const ScopedFolderEnvironment&) = delete;
    ScopedFolderEnvironment& operator=(const ScopedFolderEnvironment&) = delete;

private:
    static void set(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QByteArray m_runtime, m_tmp;
};
