#include "app/pdfpaths.h"

#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

// Name order as a file manager shows it, in any locale: runs of digits compare as numbers
// ("b9" before "b10"), everything else without regard to letter case, then exactly.
bool NaturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Compare the digit runs as numbers of any length: leading zeros off, then length.
            QStringView x = QStringView(a).mid(i, ei - i);
            QStringView y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (const int c = x.compare(y); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a.at(i).toCaseFolded();
        const QChar cb = b.at(j).toCaseFolded();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

} // namespace

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
        std::sort(found.begin(), found.end(), NaturalLess);
        expanded.append(found);
    }
    return expanded;
}
