#include "engine/runfolders.h"

#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/text.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

QString RunFolders::Claim(const QString& base) {
    QString name = base;
    for (int n = 2; m_taken.contains(name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    m_taken.insert(name);
    return name;
}

QString PrepareSubfolder(const QString& folder, bool* created) {
    if (created)
        *created = false;
    const QByteArray path = platform::toAnsi(folder);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("%1 is a symbolic link; images are not written through it")
                .arg(folder);
        if (!S_ISDIR(st.st_mode))
            return platform::systemErrorText(ENOTDIR);
        return QString();
    }
    // Missing parents are made as well; the folder itself by one call whose failure is kept.
    const QString parent = QFileInfo(folder).path();
    if (!platform::DirectoryExists(parent) && !QDir().mkpath(parent))
        return platform::systemErrorText(errno ? errno : ENOENT);
    if (::mkdir(path.constData(), 0777) != 0)
        return platform::systemErrorText(errno);
    if (created)
        *created = true;
    return QString();
}
