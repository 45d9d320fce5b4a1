// The main window's conversion: Start and Stop, the end of a run, and the progress bar laid
// over the Status cell of the file being rendered.
#include "app/outputfolder.h"
#include "app/settings.h"
#include "engine/conversionoptions.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/renderapi.h"
#include "engine/windowevents.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/msgbox.h"
#include "platform/notify.h"
#include "platform/winmsg.h"
#include "ui/filelist.h"
#include "ui/infoform.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/optionpanel.h"
#include "ui/spinedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include <algorithm>

namespace {

constexpr int MaxDpi = 9600; // the renderer's limit

} // namespace

QList<QWidget*> TMainForm::RunControls() const {
    return {sEdit1,   sButton1,    cmbFormat, cmbTiffFmt, txtQuality,   txtDpi,
            cmbColor, chkEachpage, radAll,    radRange,   txtFirstPage, txtLastPage};
}

void TMainForm::SetRunControlsEnabled(bool enabled) {
    for (QWidget* control : RunControls())
        control->setEnabled(enabled);
}

// --- Start and Stop ---------------------------------------------------------------------------

void TMainForm::sBitBtn1Click() {
    if (ListView1->rowCount() == 0) {
        platform::MessageBox(platform::BoxKind::Information,
                             QStringLiteral("Please add files before converting."));
        sBitBtn2->setFocus();
        return;
    }
    if (!CheckOutputFolder(sEdit1->text())) {
        platform::MessageBox(platform::BoxKind::Error, QStringLiteral("Invalid directory!"));
        sEdit1->setFocus();
        return;
    }
    // Options the pass would fail every file on are refused before anything is touched.
    if (sBitBtn1->text() == StartCaption && !CheckRunOptions())
        return;
    CloseBalloonTip();
    if (sBitBtn1->text() == StartCaption) {
        StartConversion();
    } else if (sBitBtn1->text() == StopCaption) {
        // The file in hand is cancelled: its complete images stay, the partial one goes.
        StopRequested = true;
        CancelRendering();
        sBitBtn1->setEnabled(false);
    }
}

bool TMainForm::CheckRunOptions() {
    const auto refuse = [](const QString& text, QWidget* box) {
        platform::MessageBox(platform::BoxKind::Error, text);
        box->setFocus();
        return false;
    };
    qint32 value = 0;
    if (!ParseInt32(txtDpi->text(), &value) || value < 1 || value > MaxDpi)
        return refuse(
            QStringLiteral("The resolution must be a whole number from 1 to %1 DPI.").arg(MaxDpi),
            txtDpi);
    if (!ParseInt32(txtQuality->text(), &value) || value < 1 || value > 100) {
        if (cmbFormat->currentText() == QStringLiteral("JPG"))
            return refuse(QStringLiteral("The JPEG quality must be a whole number from 1 to 100."),
                          txtQuality);
        // Hidden for other formats, so the user could not mend it: it takes its last value.
        m_options->RestoreQuality();
    }
    if (!radRange->isChecked())
        return true;
    const QString pagesText =
        QStringLiteral("The page range must be whole page numbers from 1, the first not after "
                       "the last.");
    qint32 first = 1;
    qint32 last = 0;
    if (!txtFirstPage->text().trimmed().isEmpty() &&
        (!ParseInt32(txtFirstPage->text(), &first) || first < 1))
        return refuse(pagesText, txtFirstPage);
    if (!txtLastPage->text().trimmed().isEmpty() &&
        (!ParseInt32(txtLastPage->text(), &last) || last < first))
        return refuse(pagesText, txtLastPage);
    return true;
}

void TMainForm::StartConversion() {
    RevealRenderEntryNames();

    if (sBitBtn3->isEnabled())
        sBitBtn3->setEnabled(false);
    if (sBitBtn4->isEnabled())
        sBitBtn4->setEnabled(false);

    int convertible = 0;
    const int n = PdfFileList->count();
    for (int i = 0; i < n; ++i) {
        TPdffile* entry = PdfFileList->at(i);
        if (entry == nullptr || !IsConvertible(entry->State()))
            continue;
        ++convertible;
        entry->setConversionResult(QString(), QString(), QString(), false);
        if (i < ListView1->rowCount())
            SetCellText(ListView1, i, ColumnStatus, QString());
    }
    ConversionOptions.OutputFolder = sEdit1->text();
    if (convertible == 0)
        return;

    SetRunControlsEnabled(false);
    m_runFiles = convertible;
    m_runFile = 0;
    StopRequested = false;
    WindowEvents::BeginRun();
    // A folder typed into the box is remembered once a run uses it.
    WriteSetting(Setting::OutputFolder, sEdit1->text());
    m_options->FillConversionOptions(ConversionOptions);

    auto* worker = new TProcThread(ModeConvert);
    worker->setFreeOnTerminate(true);
    const int run = ++m_run;
    m_runEnded = false;
    // Queued behind the pass's own messages, so WM_SETENDCONVERT is always handled first.
    connect(
        worker, &QThread::finished, this, [this, run] { ConversionWorkerEnded(run); },
        Qt::QueuedConnection);
    WorkerThread = worker;
    worker->Resume();
    sBitBtn1->setText(StopCaption);
    sBitBtn1->setIcon(LookIcon(QStringLiteral("stop")));
}

// --- End of a run -----------------------------------------------------------------------------

void TMainForm::setEndConvert(const platform::WindowMessage& /*message*/) {
    m_runEnded = true;
    // The last page's progress may never have been shown: the title no longer tells a run.
    setWindowTitle(QStringLiteral("Pixolund"));
    if (!StopRequested && !WindowEvents::RunWasAborted() && InfoForm != nullptr) {
        int converted = 0;
        int pages = 0;
        QStringList failures;
        for (int i = 0; PdfFileList && i < PdfFileList->count(); ++i) {
            const TPdffile* entry = PdfFileList->at(i);
            if (entry->Failed())
                failures.append(entry->FileName() + QStringLiteral(": ") + entry->StatusText());
            else if (!entry->OutputName().isEmpty()) {
                ++converted;
                pages += entry->PagesWritten();
            }
        }
        InfoForm->SetFailures(int(failures.size()));
        InfoForm->SetSummary(converted, pages, ConversionOptions.OutputFolder, failures);
        if (!isActiveWindow())
            platform::NotifyInBackground(
                this, QStringLiteral("Conversion finished!"),
                InfoForm->SummaryLabel->text() +
                    (failures.isEmpty() ? QString()
                                        : QStringLiteral("; ") + InfoForm->FailedLabel->text()));
        CentreOnMe(InfoForm);
        InfoForm->exec();
    }
    ReturnToIdle();
}

void TMainForm::ConversionWorkerEnded(int run) {
    if (run != m_run || m_runEnded || sBitBtn1->text() != StopCaption)
        return;
    // The pass was ended by an error box: the run is over all the same.
    m_runEnded = true;
    DestroyRowGauge();
    ReturnToIdle();
}

void TMainForm::ShowRunProgress(int pagesDone, int pagesInRange) {
    if (m_runEnded)
        return;
    QString title = QStringLiteral("Pixolund - file %1 of %2").arg(m_runFile).arg(m_runFiles);
    if (pagesInRange > 0)
        title += QStringLiteral(", page %1 of %2")
                     .arg(std::min(pagesDone + 1, pagesInRange))
                     .arg(pagesInRange);
    setWindowTitle(title);
}

void TMainForm::ReturnToIdle() {
    setWindowTitle(QStringLiteral("Pixolund"));
    sBitBtn1->setText(StartCaption);
    sBitBtn1->setIcon(LookIcon(QStringLiteral("start")));
    sBitBtn1->setEnabled(true);
    ChangeBitBtnStatus();
    SetRunControlsEnabled(true);
    // The page boxes mean nothing while "All Pages" is chosen: they stay disabled then, as
    // choosing it makes them.
    m_options->ApplyPageBoxRule();
}

// --- Per-file progress ------------------------------------------------------------------------

void TMainForm::setProgressInListView(const platform::WindowMessage& message) {
    if (ListView1->rowCount() == 0)
        return;
    const int percent = platform::ProgressPercent(message.lParam());
    const int row = platform::ProgressPosition(message.lParam()) - 1;
    const TPdffile* entry = PdfFileList ? PdfFileList->at(row) : nullptr;
    if (row < 0 || row >= ListView1->rowCount() || entry == nullptr)
        return;
    ListView1->scrollTo(ListView1->model()->index(row, 0), QAbstractItemView::EnsureVisible);

    if (percent == 0) {
        m_runFile = std::min(m_runFile + 1, m_runFiles);
        ShowRunProgress();
        SetCellText(ListView1, row, ColumnStatus, QStringLiteral("Processing..."));
        return;
    }
    SetCellText(ListView1, row, ColumnStatus, QString());
    if (percent == 95) {
        CreateRowGauge(row);
        return;
    }
    if (m_gaugeRow >= 0)
        AdvanceRowGauge(percent);
    if (percent == 100) {
        SetCellText(ListView1, row, ColumnStatus, entry->StatusText());
        DestroyRowGauge();
    }
}

void TMainForm::CreateRowGauge(int row) {
    DestroyRowGauge();
    m_gaugeRow = row;
    ListView1->item(row, ColumnStatus)->setData(GaugeRole, 0);
    ListView1->item(row, ColumnStatus)
        ->setData(Qt::AccessibleTextRole, QStringLiteral("Converting, 0%"));
    m_gaugeShown = 0;
    m_gaugeTimer->start();
}

void TMainForm::PollRowGauge() {
    if (m_gaugeRow < 0 || RenderFinished) {
        m_gaugeTimer->stop();
        return;
    }
    // Pages written and the share drawn of a page in bands, up to 95: 100 is the file done.
    const PageProgress progress = WindowEvents::LatestProgress(m_gaugeRow);
    ShowRunProgress(progress.pagesDone, progress.pagesInRange);
    const int position = int(95.0 * progress.fraction() + 0.5);
    if (position > m_gaugeShown) {
        AdvanceRowGauge(position);
        m_gaugeShown = position;
    }
}

void TMainForm::AdvanceRowGauge(int position) {
    QTableWidgetItem* cell = m_gaugeRow >= 0 ? ListView1->item(m_gaugeRow, ColumnStatus) : nullptr;
    if (cell == nullptr)
        return;
    const int target = qBound(0, position, 100);
    for (int value = cell->data(GaugeRole).toInt() + 1; value <= target; ++value)
        cell->setData(GaugeRole, value);
    // The bar is painted; a screen reader reads this instead.
    cell->setData(Qt::AccessibleTextRole, QStringLiteral("Converting, %1%").arg(target));
}

void TMainForm::DestroyRowGauge() {
    m_gaugeTimer->stop();
    if (m_gaugeRow >= 0 && m_gaugeRow < ListView1->rowCount()) {
        if (QTableWidgetItem* cell = ListView1->item(m_gaugeRow, ColumnStatus)) {
            cell->setData(GaugeRole, QVariant());
            cell->setData(Qt::AccessibleTextRole, QVariant());
        }
    }
    m_gaugeRow = -1;
}
