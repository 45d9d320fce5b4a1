#include "ui/openfiles.h"

#include <QFileDialog>

namespace {

std::function<QStringList()>& Hook() {
    static std::function<QStringList()> hook;
    return hook;
}

} // namespace

void SetChoosePdfFilesHook(std::function<QStringList()> hook) {
    Hook() = std::move(hook);
}

QStringList ChoosePdfFiles(QWidget* owner) {
    if (Hook())
        return Hook()();
    // A fresh dialog each time, so it never proposes the previous choice.
    QFileDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("PDF Files (*.pdf)"));
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, false);
    dialog.setSizeGripEnabled(true);
    // Name filters match without regard to letter case here, so C.PDF is offered too.
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
