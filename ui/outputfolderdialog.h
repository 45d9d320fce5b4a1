#pragma once

#include <QString>

#include <functional>

class QLineEdit;
class QWidget;

// The folder browser: a modal folder dialog titled `title`, opening at `initialFolder` when that
// is not empty. Returns the chosen folder, or an empty text when the user cancelled.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder);

// Replaces the dialog (tests answer it without a window); an empty function restores it.
using BrowseForFolderHook = std::function<QString(const QString& title, const QString& initial)>;
void SetBrowseForFolderHook(BrowseForFolderHook hook);

// The "..." button: lets the user pick a folder starting at the box's folder; a choice goes into
// the box and into the settings key OutputFolder. Cancelling changes nothing, and without a
// common application data folder the choice is dropped.
void ChooseOutputFolder(QWidget* owner, QLineEdit* outputFolderBox);

// The open-folder button: an usable folder is handed to the file manager, any other text gives
// "Invalid directory!" in an error box.
void OpenOutputFolder(const QString& folderText);
