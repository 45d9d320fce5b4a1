#pragma once

#include <QString>
#include <QStringList>

// The extension test of Add Files: exactly ".pdf" or ".PDF" after the last dot of the name.
bool HasPdfExtension(const QString& path);

// Paths handed to the program (command line, another start, a drop): files stay as given, made
// absolute; a folder gives the PDFs below it, recursively, in name order. Paths that do not exist
// go to *missing (when given) and nowhere else.
QStringList ExpandPdfPaths(const QStringList& paths, QStringList* missing = nullptr);
