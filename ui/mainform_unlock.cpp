// Unlocking a protected file: the password window and the unlock pass, until the file opens or
// the user gives up.
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "ui/filelist.h"
#include "ui/mainform.h"
#include "ui/passwordinputform.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>

namespace {

// Shows the password window for a file name; whether it was confirmed.
bool AskPassword(const TMainForm& main, const QString& fileName) {
    TPasswordInputForm* form = PasswordInputForm;
    form->SetPdfName(fileName);
    main.CentreOnMe(form);
    form->exec();
    return form->IsConfirmed();
}

} // namespace

void TMainForm::UnlockRow(int row, TPdffile* entry) {
    TPasswordInputForm* form = PasswordInputForm;
    if (form == nullptr)
        return;
    bool confirmed = AskPassword(*this, entry->FileName());
    while (confirmed) {
        CurrentPdf = entry;
        entry->setPassword(form->sEdit1->text());
        // The typed text lives on in the entry only, for the conversion.
        form->sEdit1->clear();

        // A modal wait: the windows take no input until the pass has ended, so the same entry
        // cannot be unlocked twice at once; an error box of the pass is still answered.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        {
            TProcThread worker(ModeUnlock);
            WorkerThread = &worker;
            worker.Resume();
            worker.WaitFor();
        } // its end moves WorkerThread to a worker still at work, or clears it
        QApplication::restoreOverrideCursor();

        if (entry->State() == StateUnprotected) {
            SetCellText(ListView1, row, ColumnPages, entry->Pages());
            SetCellText(ListView1, row, ColumnStatus, entry->StatusText());
            break;
        }
        confirmed = AskPassword(*this, entry->FileName());
    }
}
