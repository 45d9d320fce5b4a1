#pragma once

#include <QIcon>
#include <QString>

class QApplication;

// One look for every window: Fusion with a light palette, the program's font and a small style
// sheet for the panels, groups and the start button.
void ApplyLook(QApplication& app);

// A picture of the program's resources by name ("add-files", "start", "state-protected", ...),
// with every size the resources hold.
QIcon LookIcon(const QString& name);
QIcon LookAppIcon();

// Dark grey of labels on the auxiliary windows.
inline constexpr const char* LookDarkGrey = "#212121";
