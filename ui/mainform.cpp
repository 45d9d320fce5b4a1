#include "ui/mainform.h"

#include "app/lifecycle.h"
#include "app/outputfolder.h"
#include "app/settings.h"
#include "engine/pdffile.h"
#include "platform/literals/literals.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "ui/balloontip.h"
#include "ui/look.h"
#include "ui/outputfolderdialog.h"
#include "ui/spinedit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

TMainForm* MainForm = nullptr;

namespace {

// The usual size; a larger font or a stored size may make it larger.
constexpr int ClientWidth = 744;
constexpr int ClientHeight = 464;

// Sees every wheel turn of the application and tells the main window about those over it; the
// control under the mouse still gets the turn.
class WheelWatcher : public QObject {
public:
    explicit WheelWatcher(TMainForm* form) : QObject(form), m_form(form) {}

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Wheel) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && widget->window() == m_form)
                m_form->FormMouseWheel();
        }
        return false;
    }

private:
    TMainForm* m_form;
};

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    platform::SetMainWindow(this);
    MainForm = this;
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Pixolund"));
    setWindowIcon(LookAppIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);

    BuildTopPanel();
    BuildFileList();
    BuildRightPanel();
    BuildLayout();
    resize(ClientWidth, ClientHeight);
    m_options = std::make_unique<OptionPanel>(
        OptionControls{cmbFormat, sLabel9, txtQuality, sLabel10, cmbTiffFmt, txtDpi, cmbColor,
                       chkEachpage, radAll, radRange, txtFirstPage, txtLastPage, sEdit1});
    m_options->SetBuiltInState();
    m_gaugeTimer = new QTimer(this);
    m_gaugeTimer->setInterval(300);
    connect(m_gaugeTimer, &QTimer::timeout, this, &TMainForm::PollRowGauge);
    ConnectHandlers();
    SetUpKeyboard();
    NameControls();
    qApp->installEventFilter(new WheelWatcher(this));
    FormCreate();
}

TMainForm::~TMainForm() {
    platform::SetMainWindow(nullptr);
    FormDestroy();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::ConnectHandlers() {
    connect(sBitBtn2, &QToolButton::clicked, this, &TMainForm::sBitBtn2Click);
    connect(sBitBtn3, &QToolButton::clicked, this, &TMainForm::sBitBtn3Click);
    connect(sBitBtn4, &QToolButton::clicked, this, &TMainForm::sBitBtn4Click);
    connect(sBitBtn6, &QToolButton::clicked, this, &TMainForm::sBitBtn6Click);
    connect(sBitBtn1, &QPushButton::clicked, this, &TMainForm::sBitBtn1Click);
    connect(Help1, &QAction::triggered, this, &TMainForm::Help1Click);
    connect(Support1, &QAction::triggered, this, &TMainForm::Support1Click);
    connect(ProductPage1, &QAction::triggered, this, &TMainForm::ProductPage1Click);
    connect(About1, &QAction::triggered, this, &TMainForm::About1Click);

    // The option controls go straight to their rules. Lists react to the user's choice only;
    // start-up selects entries without running handlers.
    OptionPanel* options = m_options.get();
    connect(cmbFormat, &QComboBox::activated, this, [options] { options->cmbFormatChange(); });
    connect(cmbTiffFmt, &QComboBox::activated, this, [options] { options->cmbTiffFmtChange(); });
    connect(cmbColor, &QComboBox::activated, this, [options] { options->cmbColorChange(); });
    connect(chkEachpage, &QCheckBox::clicked, this, [options] { options->chkEachpageClick(); });
    connect(radAll, &QRadioButton::clicked, this, [options] { options->radAllClick(); });
    connect(radRange, &QRadioButton::clicked, this, [options] { options->radRangeClick(); });
    for (QWidget* box : {static_cast<QWidget*>(txtDpi), static_cast<QWidget*>(txtQuality),
                         static_cast<QWidget*>(txtFirstPage), static_cast<QWidget*>(txtLastPage)})
        box->installEventFilter(this);
    connect(sButton1, &QPushButton::clicked, this, &TMainForm::sButton1Click);
    connect(sBitBtn7, &QToolButton::clicked, this, &TMainForm::sBitBtn7Click);

    // The file list: clicks, hover, hints and drops on its viewport; every change of rows or
    // selection.
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QTableWidget::itemSelectionChanged, this, &TMainForm::ListView1Change);
    connect(ListView1->model(), &QAbstractItemModel::rowsInserted, this,
            &TMainForm::ListView1Change);
    connect(ListView1->model(), &QAbstractItemModel::rowsRemoved, this,
            &TMainForm::ListView1Change);
    // Any vertical scrolling of the list closes the balloon tip.
    connect(ListView1->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &TMainForm::ListViewWndProc);
}

// --- Life cycle -------------------------------------------------------------------------------

void TMainForm::FormCreate() {
    // Without an application data folder nothing is stored, but the program works all the same.
    if (!SettingsFilePath().isEmpty())
        PrepareSettingsFolder();
    SetUpLibraryDirAtStart();
    m_options->LoadSettings();

    PdfFileList = new TPdfList;

    BuildBaseKeys();
}

void TMainForm::FormShow() {
    m_options->ApplyPageBoxRule();
    m_options->ApplyVisibilityRule();
    sEdit1->setCursorPosition(0); // show where the folder path begins
    ListView1->setFocus();
    RevealPackagePasswords();
}

bool TMainForm::FormCloseQuery() {
    // A conversion runs exactly while the output folder box is disabled.
    return AskCloseDuringConversion(!sEdit1->isEnabled());
}

void TMainForm::FormDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    ReleaseJobsAndPackage();
}

void TMainForm::WMMove() {
    CloseBalloonTip();
}

void TMainForm::FormMouseWheel() {
    CloseBalloonTip();
}

void TMainForm::ListViewWndProc() {
    CloseBalloonTip();
}

void TMainForm::CentreOnMe(QWidget* window) const {
    const QRect main = frameGeometry();
    const QRect own = window->frameGeometry();
    window->move(main.left() + (main.width() - own.width()) / 2,
                 main.top() + (main.height() - own.height()) / 2);
}

bool TMainForm::event(QEvent* e) {
    const int type = int(e->type());
    switch (type) {
    case WM_SETLISTVIEW:
    case WM_SETPROGRESS:
    case WM_SETENDCONVERT:
    case WM_SETPROGRESSINLISTVIEW:
    case WM_TERMAPP:
    case WM_CREATETEMPLIB: {
        const auto* message = dynamic_cast<const platform::WindowMessage*>(e);
        if (message == nullptr)
            return QWidget::event(e);
        if (type == WM_SETLISTVIEW)
            setListView(*message);
        else if (type == WM_SETPROGRESS)
            setProgress(*message);
        else if (type == WM_SETENDCONVERT)
            setEndConvert(*message);
        else if (type == WM_SETPROGRESSINLISTVIEW)
            setProgressInListView(*message);
        else if (type == WM_TERMAPP)
            termApp();
        else
            createTempLib();
        return true;
    }
    case QEvent::WindowStateChange:
        // The balloon belongs to the window: it does not stay alone on the desktop.
        if (isMinimized())
            CloseBalloonTip();
        return QWidget::event(e);
    default:
        return QWidget::event(e);
    }
}

void TMainForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (m_shown)
        return;
    m_shown = true;
    // Where the user left it (restoreGeometry keeps it on a screen), else centred on the desktop
    // and no larger than it; the window is not mapped yet, so it never jumps.
    const QByteArray stored = StoredWindowGeometry();
    if (stored.isEmpty() || !restoreGeometry(stored)) {
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            resize(size().boundedTo(area.size()).expandedTo(minimumSizeHint()));
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    FormShow();
}

void TMainForm::closeEvent(QCloseEvent* e) {
    e->setAccepted(FormCloseQuery());
    if (e->isAccepted() && m_shown)
        WriteWindowGeometry(saveGeometry());
}

void TMainForm::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    WMMove();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == ListView1->viewport()) {
        switch (e->type()) {
        case QEvent::MouseMove:
            ListView1MouseMove(static_cast<QMouseEvent*>(e)->position().toPoint());
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
                ListView1Click(static_cast<QMouseEvent*>(e)->position().toPoint());
            break;
        case QEvent::ToolTip:
            // The list's own hint follows the mouse; the view's item tips would hide it.
            if (!m_hint.isEmpty())
                QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), m_hint,
                                   ListView1->viewport());
            return true;
        case QEvent::Leave:
            m_hint.clear();
            break;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(e);
            const bool taken = !DroppedPaths(drag->mimeData()).isEmpty();
            if (taken)
                drag->acceptProposedAction();
            else
                drag->ignore();
            ShowDropTarget(taken);
            return true;
        }
        case QEvent::DragLeave:
            ShowDropTarget(false);
            return true;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(e);
            ShowDropTarget(false);
            const QStringList paths = DroppedPaths(drop->mimeData());
            if (paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // After the drag has ended: Add Files shows modal windows.
            QTimer::singleShot(0, this, [this, paths] { AddFilesFromOutside(paths); });
            return true;
        }
        default:
            break;
        }
        return QWidget::eventFilter(watched, e);
    }
    if (e->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        // Leaving the window (another window, a menu) is not leaving the box.
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            return false;
        if (watched == txtDpi)
            m_options->txtDpiExit();
        else if (watched == txtQuality)
            m_options->txtQualityExit();
        else if (watched == txtFirstPage)
            m_options->txtFirstPageExit();
        else if (watched == txtLastPage)
            m_options->txtLastPageExit();
    }
    return QWidget::eventFilter(watched, e);
}

// --- Window messages --------------------------------------------------------------------------

void TMainForm::createTempLib() {
    CreateTempLib();
}

void TMainForm::termApp() {
    // Ends every running event loop, modal ones included; the close question is not asked and
    // the normal shutdown (FormDestroy) follows.
    QCoreApplication::exit(0);
}

// --- Output folder ---------------------------------------------------------------------------

void TMainForm::sButton1Click() {
    ChooseOutputFolder(this, sEdit1);
    sEdit1->setCursorPosition(0);
}

void TMainForm::sBitBtn7Click() {
    OpenOutputFolder(sEdit1->text());
}
