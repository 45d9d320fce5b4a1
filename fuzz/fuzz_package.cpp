// The package reader on any bytes taken for an archive: it extracts, or refuses with a
// message, and never leaves anything outside its folder.
#include "engine/provisioning/provisioning.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Memory-backed where the system has it: the reader takes a path.
    static QTemporaryDir work(QFileInfo::exists(QStringLiteral("/dev/shm"))
                                  ? QStringLiteral("/dev/shm/pxfuzz-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/pxfuzz-XXXXXX"));
    const QString zip = work.path() + QStringLiteral("/in.zip");
    const QString out = work.path() + QStringLiteral("/out");
    QFile file(zip);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    QDir().mkpath(out);
    try {
        ExtractArchive(zip, QByteArrayLiteral("fuzz"), out, 1 << 20, 4 << 20);
    } catch (const platform::SystemError& error) {
        if (error.text().isEmpty())
            __builtin_trap();
    }
    QDir(out).removeRecursively();
    const QStringList left = QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    if (left != QStringList{QStringLiteral("in.zip")})
        __builtin_trap(); // something landed outside the extraction folder
    return 0;
}
