#pragma once

// Things that can stand at a settings file's name and must not be read or written through:
// a FIFO, a link to /dev/zero, a file past the size limit. Shared by the settings store's
// tests and the start-up tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

#include <sys/stat.h>

// The rows every test of unsafe settings files has: kind and the reason its message gives.
inline void AddUnsafeFileRows() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "not a regular file";
    QTest::newRow("over the size limit") << "large"
                                         << "larger than 1024 KB";
}

// Plants a "fifo" or a "zero" link at `path`; any other kind is left to the caller. Returns
// whether it was one of the two.
inline bool PlantSpecialFile(const QString& kind, const QString& path) {
    if (kind == "fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == "zero")
        return QFile::link("/dev/zero", path);
    return false;
}
