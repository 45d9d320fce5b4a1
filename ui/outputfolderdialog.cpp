#include "ui/outputfolderdialog.h"

#include "app/outputfolder.h"
#include "app/settings.h"
#include "platform/msgbox.h"
#include "platform/shell.h"

#include <QFileDialog>
#include <QLineEdit>

namespace {

BrowseForFolderHook& Hook() {
    static BrowseForFolderHook hook;
    return hook;
}

} // namespace

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder) {
    if (Hook())
        return Hook()(title, initialFolder);
    return QFileDialog::getExistingDirectory(owner, title, initialFolder,
                                             QFileDialog::ShowDirsOnly);
}

void SetBrowseForFolderHook(BrowseForFolderHook hook) {
    Hook() = std::move(hook);
}

void ChooseOutputFolder(QWidget* owner, QLineEdit* outputFolderBox) {
    const QString chosen = BrowseForFolder(owner, QStringLiteral("Please select an output folder:"),
                                           outputFolderBox->text());
    if (!PrepareSettingsFolder() && SettingsFilePath().isEmpty())
        return;
    if (chosen.isEmpty())
        return;
    outputFolderBox->setText(chosen);
    WriteSetting(Setting::OutputFolder, chosen);
}

void OpenOutputFolder(const QString& folderText) {
    if (CheckOutputFolder(folderText))
        platform::ShellOpen(folderText);
    else
        platform::MessageBox(platform::BoxKind::Error, QStringLiteral("Invalid directory!"));
}
