#include "ui/filesize.h"

#include <QFileInfo>
#include <QLocale>

qint64 GetFileSizeByName(const QString& path) {
    const QFileInfo info(QFileInfo(path).absoluteFilePath());
    // Any kind of directory entry is found; a dangling link is found as the link itself.
    if (!info.exists() && !info.isSymLink())
        return -1;
    return info.isSymLink() && !info.exists() ? 0 : info.size();
}

QString FormatFileSize(qint64 size) {
    if (size == -1)
        return QString();
    // The locale's decimal separator, but no group separator: 1024.00 KB, never 1,024.00 KB.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto twoDecimals = [&](qint64 unit, const char* name) {
        return locale.toString(double(size) / double(unit), 'f', 2) + QLatin1Char(' ') +
               QLatin1String(name) + QLatin1Char(' ');
    };
    constexpr qint64 KiB = 1024;
    constexpr qint64 MiB = KiB * 1024;
    constexpr qint64 GiB = MiB * 1024;
    if (size / GiB > 0)
        return twoDecimals(GiB, "GB");
    if (size / MiB > 0)
        return twoDecimals(MiB, "MB");
    if (size / KiB > 0)
        return twoDecimals(KiB, "KB");
    return size == 1 ? QStringLiteral("1 byte") : QString::number(size) + QStringLiteral(" bytes");
}
