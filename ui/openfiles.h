#pragma once

#include <QStringList>

#include <functional>

class QWidget;

// The Add Files dialog: several existing PDF files (the filter matches .pdf in any letter case),
// never proposing the previous choice. Returns the chosen full paths, or none when cancelled.
QStringList ChoosePdfFiles(QWidget* owner);

// Replaces the dialog (tests answer it without a window); an empty function restores it.
void SetChoosePdfFilesHook(std::function<QStringList()> hook);
