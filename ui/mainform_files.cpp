// The main window's file list: adding, probing, listing, removing and clearing files, the
// hover hints, the balloon tip and the clicks on rows.
#include "app/pdfpaths.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "platform/winmsg.h"
#include "ui/balloontip.h"
#include "ui/filelist.h"
#include "ui/filesize.h"
#include "ui/loadfileform.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/openfiles.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <cmath>
#include <utility>

namespace {

// A tool tip takes anything that looks like markup as rich text; a file named "<b>x</b>.pdf"
// must show as typed.
QString PlainHint(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

const QString ProtectedBalloonText =
    QStringLiteral("The file is password protected, click to enter the password and unlock it.");

TPdffile* EntryAt(int index) {
    return PdfFileList ? PdfFileList->at(index) : nullptr;
}

bool PathListed(const QString& path) {
    const int n = PdfFileList ? PdfFileList->count() : 0;
    for (int i = 0; i < n; ++i) {
        const TPdffile* entry = PdfFileList->at(i);
        if (entry && entry->FilePath() == path)
            return true;
    }
    return false;
}

} // namespace

// --- Adding files -----------------------------------------------------------------------------

void TMainForm::sBitBtn2Click() {
    const QStringList chosen = ChoosePdfFiles(this);
    if (!chosen.isEmpty())
        AddFiles(chosen);
}

void TMainForm::AddFiles(const QStringList& paths, const QStringList& missing) {
    QString messages;
    bool added = false;
    const auto report = [&messages](const QString& message) {
        if (!messages.isEmpty())
            messages += QLatin1Char('\r');
        messages += message;
    };
    for (const QString& path : missing)
        report(QStringLiteral("%1 cannot be found.").arg(path));
    for (const QString& path : paths) {
        const QString fileName = QFileInfo(path).fileName();
        if (!HasPdfExtension(path)) {
            report(QStringLiteral("%1 is not a valid PDF file.").arg(fileName));
            continue;
        }
        if (PathListed(path)) {
            report(QStringLiteral("%1 is already in the list.").arg(fileName));
            continue;
        }
        PdfFileList->append(std::make_unique<TPdffile>(
            path, fileName, FormatFileSize(GetFileSizeByName(path)), QString(), QString(), false));
        added = true;
    }
    if (!messages.isEmpty())
        platform::MessageBox(platform::BoxKind::Information, messages);
    if (PdfFileList->count() > 0 && added && LoadFileForm != nullptr) {
        CentreOnMe(LoadFileForm);
        LoadFileForm->exec();
    }
}

void TMainForm::AddFilesFromOutside(const QStringList& paths) {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    m_handedOver.append(paths);
    AddHandedOverFiles();
}

void TMainForm::AddHandedOverFiles() {
    if (m_handedOver.isEmpty())
        return;
    // Never while a window of ours is modal: the probe window, for one, owns the job list then.
    if (QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget()) {
        QTimer::singleShot(300, this, &TMainForm::AddHandedOverFiles);
        return;
    }
    QStringList missing;
    const QStringList files = ExpandPdfPaths(std::exchange(m_handedOver, {}), &missing);
    AddFiles(files, missing);
}

void TMainForm::setProgress(const platform::WindowMessage& message) {
    TLoadFileForm* form = LoadFileForm;
    if (form == nullptr)
        return;
    const int percent = platform::ProgressPercent(message.lParam());
    const int done = platform::ProgressPosition(message.lParam());
    const int total = CountUnlisted();
    form->setWindowTitle(QStringLiteral("%1/%2").arg(done).arg(total));
    if (const TPdffile* entry = EntryAt(int(message.wParam())))
        form->fname->setText(form->fname->fontMetrics().elidedText(
            entry->FilePath(), Qt::ElideMiddle, form->fname->width()));
    if (percent == 0)
        form->percent->setValue(0);
    if (total <= 0)
        return;
    // Rounded to the nearest, ties to even.
    const int target = int(std::nearbyint(double(done) / double(total) * 100.0));
    for (int value = form->percent->value() + 1; value <= qMin(target, 100); ++value)
        form->percent->setValue(value);
}

void TMainForm::setListView(const platform::WindowMessage& /*message*/) {
    if (LoadFileForm != nullptr) {
        // The keyboard goes back to this window and to its list, where the new rows are, which
        // a window manager need not do itself: without a focus widget no shortcut would work. A
        // short probe may end before the window manager has even focused its window.
        const bool hadFocus =
            LoadFileForm->isActiveWindow() || QApplication::activeWindow() == nullptr;
        LoadFileForm->CloseByProgram();
        if (hadFocus)
            activateWindow();
        ListView1->setFocus();
    }
    int firstProtected = -1;
    const int n = PdfFileList ? PdfFileList->count() : 0;
    for (int i = 0; i < n; ++i) {
        TPdffile* entry = PdfFileList->at(i);
        if (entry == nullptr)
            continue;
        if (firstProtected < 0 && entry->State() == StateProtected)
            firstProtected = i;
        if (entry->Listed())
            continue;
        AppendFileRow(ListView1, entry->FileName(), entry->SizeText(), entry->Pages(),
                      entry->StatusText());
        entry->setListed(true);
    }
    if (firstProtected >= 0 && firstProtected < ListView1->rowCount())
        AddBalloonTip(ProtectedBalloonText, 1, QStringLiteral("Information"),
                      BalloonPointOfRow(firstProtected));
}

void TMainForm::ProbeWorkerEnded() {
    if (LoadFileForm == nullptr || !LoadFileForm->isVisible())
        return;
    // The pass was ended by an error box: entries it never reached stay unprobed. They are taken
    // out again, so the listed entries remain a prefix of the job list and can be added anew.
    for (int i = PdfFileList->count() - 1; i >= 0; --i) {
        const TPdffile* entry = PdfFileList->at(i);
        if (entry && !entry->Listed() && entry->State().isEmpty())
            PdfFileList->removeAt(i);
    }
    setListView(platform::WindowMessage(WM_SETLISTVIEW, 0, 0));
}

// --- Drops on the list --------------------------------------------------------------------------

QStringList TMainForm::DroppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls())
        return paths;
    bool usable = false;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        paths.append(path);
        const QFileInfo info(path);
        usable = usable || info.isDir() || HasPdfExtension(path);
    }
    // Taken when something in it can be added; the rest then meets the usual refusals.
    return usable ? paths : QStringList();
}

void TMainForm::ShowDropTarget(bool shown) {
    const QString look = shown ? QStringLiteral("QTableWidget#ListView1 { border: 2px solid "
                                                "#2468bd; background: #eef5fd; }")
                               : QString();
    if (ListView1->styleSheet() != look)
        ListView1->setStyleSheet(look);
}

// --- Removing and clearing --------------------------------------------------------------------

void TMainForm::sBitBtn3Click() {
    CloseBalloonTip();
    for (int row = ListView1->rowCount() - 1; row >= 0; --row) {
        if (!ListView1->selectionModel()->isRowSelected(row, QModelIndex()))
            continue;
        ListView1->removeRow(row);
        PdfFileList->removeAt(row);
    }
    ChangeBitBtnStatus();
}

void TMainForm::sBitBtn4Click() {
    CloseBalloonTip();
    for (int row = ListView1->rowCount() - 1; row >= 0; --row) {
        ListView1->removeRow(row);
        PdfFileList->removeAt(row);
    }
    ChangeBitBtnStatus();
}

// --- Button states ----------------------------------------------------------------------------

void TMainForm::ListView1Change() {
    ChangeBitBtnStatus();
}

void TMainForm::ChangeBitBtnStatus() {
    if (sBitBtn1->text() == StopCaption)
        return;
    sBitBtn3->setEnabled(true);
    sBitBtn1->setEnabled(true);
    sBitBtn4->setEnabled(true);
}

// --- Hover, hints and clicks ------------------------------------------------------------------

void TMainForm::ListView1MouseMove(const QPoint& position) {
    QWidget* viewport = ListView1->viewport();
    const int row = ListView1->rowAt(position.y());
    const TPdffile* entry = row >= 0 ? EntryAt(row) : nullptr;
    if (entry == nullptr) {
        m_hint.clear();
        QToolTip::hideText();
        viewport->unsetCursor();
        return;
    }
    bool hand = entry->State() == StateProtected;
    const int column = ListView1->columnAt(position.x());
    if (column >= 0) {
        QString hint;
        if (column == ColumnFileName) {
            hint = entry->FilePath();
        } else if (column == ColumnStatus && !entry->OutputName().isEmpty()) {
            hint = entry->OutputDir();
            hand = true;
        }
        // The hint follows the mouse from cell to cell at once.
        if (hint != m_hint || !QToolTip::isVisible()) {
            m_hint = hint;
            if (hint.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(viewport->mapToGlobal(position), PlainHint(hint), viewport);
        }
    }
    if (hand)
        viewport->setCursor(Qt::PointingHandCursor);
    else
        viewport->unsetCursor();
}

void TMainForm::ListView1Click(const QPoint& position) {
    ChangeBitBtnStatus();
    const int row = ListView1->rowAt(position.y());
    TPdffile* entry = row >= 0 ? EntryAt(row) : nullptr;
    if (entry == nullptr)
        return;
    if (entry->State() == StateProtected) {
        CloseBalloonTip();
        UnlockRow(row, entry);
    }
    // The Status cell of a converted file is a link to its images.
    if (ListView1->columnAt(position.x()) == ColumnStatus && !entry->OutputName().isEmpty())
        platform::ShellOpen(entry->OutputDir());
}

// --- Balloon tip ------------------------------------------------------------------------------

QPoint TMainForm::BalloonPointOfRow(int row) {
    QTableWidgetItem* item = ListView1->item(row, ColumnFileName);
    if (item != nullptr)
        ListView1->scrollToItem(item, QAbstractItemView::EnsureVisible);
    const QRect rowRect = ListView1->visualRect(ListView1->model()->index(row, 0));
    // Row corner in list coordinates, then in the window, then on the screen.
    const QPoint inList = ListView1->viewport()->mapTo(ListView1, rowRect.topLeft());
    return mapToGlobal(ListView1->pos() + inList + QPoint(15, 20));
}

void TMainForm::AddBalloonTip(const QString& text, int icon, const QString& title,
                              const QPoint& point) {
    CloseBalloonTip();
    const QIcon picture = icon == 1 ? LookIcon(QStringLiteral("information")) : QIcon();
    auto* tip =
        new TBalloonTip(ListView1, text, picture,
                        title.isEmpty() ? QApplication::applicationName() : title.left(255), point);
    BalloonTip = tip;
    tip->show();
}

void TMainForm::CloseBalloonTip() {
    if (BalloonTip)
        delete BalloonTip.data();
}
