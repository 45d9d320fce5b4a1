#pragma once

#include <QString>
#include <QtGlobal>

// Size of the file at path in bytes, the path made absolute first; -1 when there is no such
// file. Folders and special files count as found.
qint64 GetFileSizeByName(const QString& path);

// The Size column's text: "" for -1, "N bytes" ("1 byte") below 1 KiB, else two decimals with the
// locale's separator and " KB ", " MB " or " GB " (each unit ends with one blank).
QString FormatFileSize(qint64 size);
