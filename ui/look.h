#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QApplication;
class QHBoxLayout;
class QWidget;

// One look for every window: Fusion with a light palette, the program's font and a small style
// sheet for the panels, groups and the start button.
void ApplyLook(QApplication& app);

// A picture of the program's resources by name ("add-files", "start", "state-protected", ...),
// with every size the resources hold.
QIcon LookIcon(const QString& name);
QIcon LookAppIcon();

// A row holding two buttons side by side, centred, `spacing` apart: the foot of the dialogs.
QHBoxLayout* LookCentredPair(QWidget* left, QWidget* right, int spacing);

// Whether ApplyLook found a dark desktop palette and kept it.
bool LookIsDark();
// The style of the labels on the auxiliary windows: dark grey on the light look, the palette's
// text colour on a dark one.
QString LookLabelStyle();

// Red of error texts on a light background: 6.5:1 against white, 4.9:1 against the selection.
inline constexpr const char* LookErrorRed = "#c00000";

// The colour of a Status text on the given background (base) colour, error red or output blue,
// kept at a contrast of at least 4.5:1 on light and dark palettes alike.
QColor LookStatusColour(bool error, const QColor& background);

// Dark grey of labels on the auxiliary windows.
inline constexpr const char* LookDarkGrey = "#212121";
