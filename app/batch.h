#pragma once

#include <QByteArray>
#include <QStringList>

struct BatchOptions;
struct OptionValues;

// "pixolund convert": converts PDF files and folders without a window, with the engine and the
// rendering package the window uses. Needs a QCoreApplication; prints progress on a terminal and
// each failure as "file: reason". Returns the exit status: 0 all converted, 1 some failed, 2 a
// usage error.
int RunBatch(const QStringList& arguments);

// The options a run converts with: the stored options read from `settingsContent` with the
// window's rules, the command line's choices on top. Returns an empty text, or why the window's
// Start would refuse them.
QString BatchOptionValues(const BatchOptions& options, const QByteArray& settingsContent,
                          OptionValues& values);
