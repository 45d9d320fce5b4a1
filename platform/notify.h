#pragma once

#include <QString>

class QWidget;

namespace platform {

// Tells the user about an event while the window is in the background: a desktop notification
// (freedesktop notifications over the session bus; nothing when there is no bus or server) and
// an attention request on the window's taskbar entry.
void NotifyInBackground(QWidget* window, const QString& summary, const QString& body);

} // namespace platform
