#pragma once

// Things that can stand at a settings file's name and must not be read or written through:
// a FIFO, a link to /dev/zero, a link to somebody else's file, a file past the size limit. Shared
// by the settings store's tests and the start-up tests.

#include <QByteArray>
#include <QDir>
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
                                       << "symbolic link";
    QTest::newRow("link to another file") << "link"
                                          << "symbolic link";
    QTest::newRow("over the size limit") << "large"
                                         << "larger than 1024 KB";
}

// The file a planted "link" points at: a valid settings file that is not ours to change.
inline QString ForeignFile() {
    return QDir::tempPath() + "/pixolund-test-foreign-settings.ini";
}
inline const QByteArray ForeignContent = "[System]\nDpi=600\n";

// Plants a "fifo", a "zero" link or a "link" to ForeignFile() at `path`; any other kind is left
// to the caller. Returns whether it was one of the three.
inline bool PlantSpecialFile(const QString& kind, const QString& path) {
    if (kind == "fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == "zero")
        return QFile::link("/dev/zero", path);
    if (kind == "link") {
        QFile foreign(ForeignFile());
        return foreign.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               foreign.write(ForeignContent) == ForeignContent.size() && (foreign.close(), true) &&
               QFile::link(ForeignFile(), path);
    }
    return false;
}

// Whether the file behind a planted "link" is as it was.
inline bool ForeignFileUntouched() {
    QFile foreign(ForeignFile());
    return foreign.open(QIODevice::ReadOnly) && foreign.readAll() == ForeignContent;
}
