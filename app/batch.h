#pragma once

#include <QStringList>

// "pixolund convert": converts PDF files and folders without a window, with the engine and the
// rendering package the window uses. Needs a QCoreApplication; prints progress on a terminal and
// each failure as "file: reason". Returns the exit status: 0 all converted, 1 some failed, 2 a
// usage error.
int RunBatch(const QStringList& arguments);
