#include "app/pdfpaths.h"

#include <QCollator>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

bool HasPdfExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = name.mid(dot);
    return extension == QStringLiteral(".pdf") || extension == QStringLiteral(".PDF");
}

QStringList ExpandPdfPaths(const QStringList& paths, QStringList* missing) {
    QStringList expanded;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            if (missing)
                missing->append(path);
            continue;
        }
        if (!info.isDir()) {
            expanded.append(info.absoluteFilePath());
            continue;
        }
        QStringList found;
        QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (HasPdfExtension(file))
                found.append(file);
        }
        // Name order as a file manager shows it: numbers in names compare as numbers.
        QCollator collator;
        collator.setNumericMode(true);
        std::sort(found.begin(), found.end(),
                  [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
        expanded.append(found);
    }
    return expanded;
}
