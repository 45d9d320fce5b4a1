#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace platform {

// Hands a web address, "mailto:" address, file or folder to the desktop (a folder opens in the
// file manager). With a handler installed the handler gets the target instead.
void ShellOpen(const QString& target);

// Tests install a recorder here so that no real program is ever launched; empty restores the
// desktop.
void SetShellOpenHandler(std::function<void(const QString&)> handler);

// What ShellOpen gives the desktop: addresses with a scheme as they are, anything else as a
// local path.
QUrl ShellUrl(const QString& target);

// A target without a scheme names a file shipped beside the program, optionally with a
// "#fragment" (for example "help.html#support"): gives its file URL in the program's folder.
// Targets with a scheme and absolute paths come back unchanged.
QString ShippedTarget(const QString& target);

// Makes MessageBox show real QMessageBoxes titled "Pixolund": Information, Error and Plain with
// OK, Warning with Yes and No.
void InstallQtMessageBoxes();

} // namespace platform
