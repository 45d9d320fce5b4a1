#pragma once

#include "ui/balloontip.h"
#include "ui/optionpanel.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;
class QToolButton;
class TPdffile;
class TSpinEdit;

namespace platform {
class WindowMessage;
}

// The main window: the top button panel, the file list and the right-hand panel with the
// option groups, the output folder and the start button. Fixed client size 744 x 464.
// The start button's two faces; the underlined letter is its access key (Alt+S).
inline const QString StartCaption = QStringLiteral("&Start Convert");
inline const QString StopCaption = QStringLiteral("&Stop");

class TMainForm : public QWidget {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Top panel.
    QFrame* sPanel1 = nullptr;
    QToolButton* sBitBtn2 = nullptr; // Add Files
    QToolButton* sBitBtn3 = nullptr; // Remove
    QToolButton* sBitBtn4 = nullptr; // Clear
    QToolButton* sBitBtn6 = nullptr; // Help
    QMenu* pm1 = nullptr;
    QAction* Help1 = nullptr;
    QAction* Support1 = nullptr;
    QAction* ProductPage1 = nullptr;
    QAction* About1 = nullptr;

    // File list.
    QTableWidget* ListView1 = nullptr;

    // Right-hand panel.
    QFrame* sPanel2 = nullptr;
    QGroupBox* sGroupBox1 = nullptr; // "Option"
    QLabel* sLabel1 = nullptr;       // "Output Format:"
    QComboBox* cmbFormat = nullptr;
    QLabel* sLabel9 = nullptr; // "JPEG Quality(1-100):"
    TSpinEdit* txtQuality = nullptr;
    QLabel* sLabel10 = nullptr; // "TIFF Compression:"
    QComboBox* cmbTiffFmt = nullptr;
    QLabel* sLabel2 = nullptr; // "Resolution:"
    QLineEdit* txtDpi = nullptr;
    QLabel* sLabel3 = nullptr; // "DPI"
    QLabel* sLabel4 = nullptr; // "Output Color:"
    QComboBox* cmbColor = nullptr;
    QCheckBox* chkEachpage = nullptr;
    QGroupBox* sGroupBox2 = nullptr; // "Page Range"
    QRadioButton* radAll = nullptr;
    QRadioButton* radRange = nullptr;
    QLineEdit* txtFirstPage = nullptr;
    QLabel* sLabel5 = nullptr; // "to"
    QLineEdit* txtLastPage = nullptr;
    QLabel* sLabel6 = nullptr; // "Output Folder:"
    QLineEdit* sEdit1 = nullptr;
    QPushButton* sButton1 = nullptr; // "..."
    QToolButton* sBitBtn7 = nullptr; // open the output folder
    QPushButton* sBitBtn1 = nullptr; // "Start Convert" / "Stop"

    OptionPanel& Options() { return *m_options; }

    // Centres an auxiliary window on this one (outer sizes, halves truncated toward zero).
    void CentreOnMe(QWidget* window) const;

    // The row whose Status cell carries the progress bar, or -1.
    int RowGauge() const { return m_gaugeRow; }

    // The balloon tip of the file list, when one is shown.
    TBalloonTip* balloonTip() const { return BalloonTip.data(); }

public slots:
    // Life cycle.
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormDestroy();
    void WMMove();
    void FormMouseWheel();
    void ListViewWndProc();

    // Window messages of the workers.
    void setListView(const platform::WindowMessage& message);
    void setProgress(const platform::WindowMessage& message);
    void setEndConvert(const platform::WindowMessage& message);
    void setProgressInListView(const platform::WindowMessage& message);
    void createTempLib();
    void termApp();

    // The probe worker has ended; when it ended without WM_SETLISTVIEW (an error box ended the
    // pass), the probe window closes and the entries probed so far are listed.
    void ProbeWorkerEnded();
    // A conversion worker has ended; when its pass ended without WM_SETENDCONVERT (an error box
    // ended it), the window returns to idle without the finished window.
    void ConversionWorkerEnded(int run);

    // Paths from outside (the command line, another start, a drop): shows the window and adds
    // them as Add Files does, folders giving the PDFs below them, once no modal window is up.
    void AddFilesFromOutside(const QStringList& paths);

    // Commands.
    void sBitBtn2Click();
    void sBitBtn3Click();
    void sBitBtn4Click();
    void sBitBtn6Click();
    void sBitBtn1Click();
    void Help1Click();
    void Support1Click();
    void ProductPage1Click();
    void About1Click();
    void sButton1Click();
    void sBitBtn7Click();

    // The file list. Positions are in the list's viewport.
    void ListView1Click(const QPoint& position);
    // Enter on a row: unlocks a protected file, opens a converted file's images.
    // The context menu of a row: Unlock, Remove, Open output folder.
    void ShowRowMenu(const QPoint& position);
    void ActivateCurrentRow();
    void ListView1MouseMove(const QPoint& position);
    void ListView1Change();
    void ChangeBitBtnStatus();

    // Shows the one balloon tip, its stem at a screen point; icon 1 is the information icon.
    void AddBalloonTip(const QString& text, int icon, const QString& title, const QPoint& point);
    // Destroys the balloon tip of the file list, if one is shown.
    void CloseBalloonTip();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

    QPointer<TBalloonTip> BalloonTip;

private:
    void BuildLayout();
    void BuildTopPanel();
    void BuildFileList();
    void BuildRightPanel();
    void ConnectHandlers();
    void SetUpKeyboard();
    void NameControls();
    // The screen point 15 pixels right of and 20 below a row's top-left corner, after the row
    // was scrolled into view.
    QPoint BalloonPointOfRow(int row);
    // Add Files after the dialog: the checks, one box for every refusal, the probe window.
    void AddFiles(const QStringList& paths, const QStringList& missing = {});
    void AddHandedOverFiles();
    // Drops on the file list: whether they hold a PDF or a folder, and the list's look meanwhile.
    static QStringList DroppedPaths(const QMimeData* data);
    void ShowDropTarget(bool shown);
    // Asks for the password of a protected row until it unlocks or the user gives up.
    void UnlockRow(int row, TPdffile* entry);

    // The controls that feed a conversion, in the order they are disabled and enabled again.
    QList<QWidget*> RunControls() const;
    void SetRunControlsEnabled(bool enabled);
    void StartConversion();
    // Start's checks of the resolution, JPEG quality and page range: a message and the focus on
    // the box for the first one the pass would fail on.
    bool CheckRunOptions();
    // Caption, buttons and controls back to idle (the end of a run).
    void ReturnToIdle();
    // The run's overall progress in the title: the file in hand and, once known, its page.
    void ShowRunProgress(int pagesDone = 0, int pagesInRange = 0);
    // The progress bar over a row's Status cell, polled from the pages the renderer reports.
    void CreateRowGauge(int row);
    void AdvanceRowGauge(int position);
    void DestroyRowGauge();
    void PollRowGauge();

    std::unique_ptr<OptionPanel> m_options;
    int m_gaugeRow = -1;
    QTimer* m_gaugeTimer = nullptr;
    int m_gaugeShown = 0;
    int m_run = 0;          // numbers the conversion runs
    int m_runFiles = 0;     // files the current run converts
    int m_runFile = 0;      // of them, the one in hand, from 1
    bool m_runEnded = true; // WM_SETENDCONVERT of the current run has arrived
    bool m_shown = false;
    bool m_destroyed = false;
    QString m_hint;           // the file list's hint at the mouse position
    QStringList m_handedOver; // paths waiting for the modal windows to close
};

// The program's windows, set while each exists (the main window's commands reach the others
// through these).
extern TMainForm* MainForm;
