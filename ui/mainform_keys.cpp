// The main window from the keyboard and for screen readers: shortcuts for the commands, Tab out
// of the file list, Enter on a row, and a name for every control that a label only shows.
#include "engine/pdffile.h"
#include "platform/shell.h"
#include "ui/balloontip.h"
#include "ui/filelist.h"
#include "ui/mainform.h"
#include "ui/spinedit.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableWidget>
#include <QToolButton>

namespace {

// A shortcut presses its button, so it does what a click does and nothing while the button is
// disabled.
void PressOn(QWidget* scope, const QKeySequence& keys, QAbstractButton* button,
             Qt::ShortcutContext context = Qt::WindowShortcut) {
    auto* shortcut = new QShortcut(keys, scope);
    shortcut->setContext(context);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled() && button->isVisible())
            button->click();
    });
}

} // namespace

void TMainForm::SetUpKeyboard() {
    // Tab moves on to the next control instead of from cell to cell.
    ListView1->setTabKeyNavigation(false);

    PressOn(this, QKeySequence::Open, sBitBtn2);
    PressOn(this, QKeySequence(Qt::CTRL | Qt::Key_Return), sBitBtn1);
    PressOn(this, QKeySequence(Qt::CTRL | Qt::Key_Enter), sBitBtn1);
    PressOn(this, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete), sBitBtn4);
    // Delete in the folder box deletes text: it removes files only in the list.
    PressOn(ListView1, QKeySequence::Delete, sBitBtn3, Qt::WidgetShortcut);

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &TMainForm::Help1Click);
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TMainForm::CloseBalloonTip);
    // A balloon is drawn above every window: it hides while another application is in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (BalloonTip)
                    BalloonTip->setVisible(state == Qt::ApplicationActive);
            });
    // The row's own commands, by right click or the menu key.
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, &TMainForm::ShowRowMenu);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), ListView1);
        enter->setContext(Qt::WidgetShortcut);
        connect(enter, &QShortcut::activated, this, &TMainForm::ActivateCurrentRow);
    }
}

void TMainForm::ActivateCurrentRow() {
    const int row = ListView1->currentRow();
    if (row < 0 || !ListView1->isEnabled())
        return;
    const QRect cell = ListView1->visualRect(ListView1->model()->index(row, ColumnStatus));
    ListView1Click(cell.center());
}

void TMainForm::ShowRowMenu(const QPoint& position) {
    // From the keyboard the menu is for the current row, wherever the pointer is.
    int row = ListView1->rowAt(position.y());
    if (row < 0)
        row = ListView1->currentRow();
    TPdffile* entry = row >= 0 && PdfFileList ? PdfFileList->at(row) : nullptr;
    if (entry == nullptr)
        return;
    // The menu acts on the selection: a row outside it becomes the selection, whatever keys are
    // held.
    if (!ListView1->selectionModel()->isRowSelected(row, QModelIndex())) {
        const QModelIndex index = ListView1->model()->index(row, 0);
        ListView1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        ListView1->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    }
    CloseBalloonTip();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("RowMenu"));
    QAction* unlock = menu.addAction(QStringLiteral("Unlock..."));
    unlock->setEnabled(ListView1->isEnabled() && entry->State() == StateProtected);
    QAction* remove = menu.addAction(QStringLiteral("Remove"));
    remove->setShortcut(QKeySequence::Delete);
    remove->setEnabled(sBitBtn3->isEnabled());
    menu.addSeparator();
    QAction* open = menu.addAction(QStringLiteral("Open output folder"));
    connect(unlock, &QAction::triggered, this, [this, row, entry] { UnlockRow(row, entry); });
    connect(remove, &QAction::triggered, sBitBtn3, &QToolButton::click);
    // The file's own images when it has some, else the folder they would go to.
    connect(open, &QAction::triggered, this, [this, entry] {
        platform::ShellOpen(entry->OutputName().isEmpty() ? sEdit1->text() : entry->OutputDir());
    });
    menu.exec(ListView1->viewport()->mapToGlobal(
        ListView1->rowAt(position.y()) >= 0
            ? position
            : ListView1->visualRect(ListView1->model()->index(row, 0)).center()));
}

void TMainForm::NameControls() {
    // A name where no text on the control says it, and for every control a line on what it does.
    struct Reading {
        QWidget* control;
        QString name; // empty: the control's own text
        QString description;
    };
    const Reading readings[] = {
        {ListView1, QStringLiteral("Files"),
         QStringLiteral("The PDF files to convert, with their size, pages and status.")},
        {sBitBtn2, {}, QStringLiteral("Add PDF files to the list.")},
        {sBitBtn3, {}, sBitBtn3->toolTip()},
        {sBitBtn4, {}, sBitBtn4->toolTip()},
        {sBitBtn6, {}, QStringLiteral("Help, support and about this program.")},
        {cmbFormat, QStringLiteral("Output Format"),
         QStringLiteral("The image format the pages are saved in.")},
        {txtQuality, QStringLiteral("JPEG Quality (1-100)"),
         QStringLiteral("Higher quality gives larger JPEG files.")},
        {cmbTiffFmt, QStringLiteral("TIFF Compression"),
         QStringLiteral("How TIFF images are compressed.")},
        {txtDpi, QStringLiteral("Resolution (DPI)"),
         QStringLiteral("Dots per inch of the images.")},
        {cmbColor, QStringLiteral("Output Color"),
         QStringLiteral("Color, gray or black and white images.")},
        {chkEachpage, {}, QStringLiteral("One image file per page instead of one per document.")},
        {radAll, {}, QStringLiteral("Convert every page of each file.")},
        {radRange, {}, QStringLiteral("Convert only the pages from one number to another.")},
        {txtFirstPage, QStringLiteral("From page"), QStringLiteral("The first page to convert.")},
        {txtLastPage, QStringLiteral("To page"), QStringLiteral("The last page to convert.")},
        {sEdit1, QStringLiteral("Output Folder"), QStringLiteral("Where the images are saved.")},
        {sButton1, QStringLiteral("Choose the output folder"), sButton1->toolTip()},
        {sBitBtn7, QStringLiteral("Open the output folder"), sBitBtn7->toolTip()},
        {sBitBtn1, {}, QStringLiteral("Convert the listed files, or stop a conversion.")},
    };
    for (const Reading& reading : readings) {
        if (!reading.name.isEmpty())
            reading.control->setAccessibleName(reading.name);
        reading.control->setAccessibleDescription(reading.description);
    }
    // The labels lead to their boxes: for screen readers, a click, and their underlined letters.
    sLabel1->setBuddy(cmbFormat);
    sLabel9->setBuddy(txtQuality);
    sLabel10->setBuddy(cmbTiffFmt);
    sLabel2->setBuddy(txtDpi);
    sLabel4->setBuddy(cmbColor);
    sLabel6->setBuddy(sEdit1);
}
