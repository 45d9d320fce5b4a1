#include "ui/mainform.h"

#include "app/lifecycle.h"
#include "app/literals/literals.h"
#include "app/outputfolder.h"
#include "app/settings.h"
#include "app/spinedit.h"
#include "engine/messages.h"
#include "engine/pdffile.h"
#include "platform/winmsg.h"
#include "ui/look.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolButton>

TMainForm* MainForm = nullptr;

namespace {

constexpr int ClientWidth = 744;
constexpr int ClientHeight = 464;

QToolButton* MakePanelButton(QWidget* parent, const char* name, const QString& caption,
                             const QString& icon, const QRect& geometry, int iconSize) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(LookIcon(icon));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setGeometry(geometry);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeNumberBox(QWidget* parent, const char* name, const QRect& geometry) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
    box->setGeometry(geometry);
    return box;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QRect& geometry) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    list->setGeometry(geometry);
    return list;
}

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
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    BuildTopPanel();
    BuildFileList();
    BuildRightPanel();
    m_options = std::make_unique<OptionPanel>(
        OptionControls{cmbFormat, sLabel9, txtQuality, sLabel10, cmbTiffFmt, txtDpi, cmbColor,
                       chkEachpage, radAll, radRange, txtFirstPage, txtLastPage, sEdit1});
    m_options->SetBuiltInState();
    ConnectHandlers();
    qApp->installEventFilter(new WheelWatcher(this));
    FormCreate();
}

TMainForm::~TMainForm() {
    platform::SetMainWindow(nullptr);
    FormDestroy();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BuildTopPanel() {
    sPanel1 = new QFrame(this);
    sPanel1->setObjectName(QStringLiteral("sPanel1"));
    sPanel1->setGeometry(0, 0, ClientWidth, 73);

    sBitBtn2 = MakePanelButton(sPanel1, "sBitBtn2", QStringLiteral("Add Files"),
                               QStringLiteral("add-files"), QRect(6, 9, 113, 57), 32);
    sBitBtn3 = MakePanelButton(sPanel1, "sBitBtn3", QStringLiteral("Remove"),
                               QStringLiteral("remove"), QRect(119, 9, 100, 57), 32);
    sBitBtn3->setToolTip(QStringLiteral("Remove a selected file from the list."));
    sBitBtn4 = MakePanelButton(sPanel1, "sBitBtn4", QStringLiteral("Clear"),
                               QStringLiteral("clear"), QRect(219, 9, 96, 57), 32);
    sBitBtn4->setToolTip(QStringLiteral("Remove all files from the list."));
    sBitBtn6 = MakePanelButton(sPanel1, "sBitBtn6", QStringLiteral("Help"), QStringLiteral("help"),
                               QRect(677, 17, 62, 41), 16);

    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    Help1 = pm1->addAction(QStringLiteral("Help"));
    pm1->addSeparator();
    Support1 = pm1->addAction(QStringLiteral("Support"));
    pm1->addSeparator();
    ProductPage1 = pm1->addAction(QStringLiteral("Product Page"));
    About1 = pm1->addAction(QStringLiteral("About"));
}

void TMainForm::BuildFileList() {
    ListView1 = new QTableWidget(0, 4, this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(0, 72, 481, 393);
}

void TMainForm::BuildRightPanel() {
    sPanel2 = new QFrame(this);
    sPanel2->setObjectName(QStringLiteral("sPanel2"));
    sPanel2->setGeometry(481, 72, 263, 392);

    // Group "Option": a label column and a control column.
    sGroupBox1 = new QGroupBox(QStringLiteral("Option"), sPanel2);
    sGroupBox1->setObjectName(QStringLiteral("sGroupBox1"));
    sGroupBox1->setGeometry(7, 4, 250, 170);
    constexpr int labelLeft = 10;
    constexpr int fieldLeft = 128;
    constexpr int fieldWidth = 110;
    sLabel1 = MakeLabel(sGroupBox1, "sLabel1", QStringLiteral("Output Format:"), labelLeft, 29);
    cmbFormat = MakeList(sGroupBox1, "cmbFormat", QRect(fieldLeft, 24, fieldWidth, 24));
    sLabel9 =
        MakeLabel(sGroupBox1, "sLabel9", QStringLiteral("JPEG Quality(1-100):"), labelLeft, 59);
    txtQuality = new TSpinEdit(sGroupBox1);
    txtQuality->setObjectName(QStringLiteral("txtQuality"));
    txtQuality->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    txtQuality->setGeometry(fieldLeft + 40, 54, fieldWidth - 40, 24);
    sLabel10 =
        MakeLabel(sGroupBox1, "sLabel10", QStringLiteral("TIFF Compression:"), labelLeft, 59);
    cmbTiffFmt = MakeList(sGroupBox1, "cmbTiffFmt", QRect(fieldLeft, 54, fieldWidth, 24));
    sLabel2 = MakeLabel(sGroupBox1, "sLabel2", QStringLiteral("Resolution:"), labelLeft, 89);
    txtDpi = MakeNumberBox(sGroupBox1, "txtDpi", QRect(fieldLeft, 84, 70, 24));
    sLabel3 = MakeLabel(sGroupBox1, "sLabel3", QStringLiteral("DPI"), fieldLeft + 78, 89);
    sLabel4 = MakeLabel(sGroupBox1, "sLabel4", QStringLiteral("Output Color:"), labelLeft, 119);
    cmbColor = MakeList(sGroupBox1, "cmbColor", QRect(fieldLeft, 114, fieldWidth, 24));
    chkEachpage =
        new QCheckBox(QStringLiteral("Save each page as separate image file."), sGroupBox1);
    chkEachpage->setObjectName(QStringLiteral("chkEachpage"));
    chkEachpage->setGeometry(labelLeft, 143, 234, 20);

    // Group "Page Range".
    sGroupBox2 = new QGroupBox(QStringLiteral("Page Range"), sPanel2);
    sGroupBox2->setObjectName(QStringLiteral("sGroupBox2"));
    sGroupBox2->setGeometry(7, 180, 250, 74);
    radAll = new QRadioButton(QStringLiteral("All Pages"), sGroupBox2);
    radAll->setObjectName(QStringLiteral("radAll"));
    radAll->setGeometry(labelLeft, 22, 120, 20);
    radRange = new QRadioButton(QStringLiteral("From"), sGroupBox2);
    radRange->setObjectName(QStringLiteral("radRange"));
    radRange->setGeometry(labelLeft, 47, 58, 20);
    txtFirstPage = MakeNumberBox(sGroupBox2, "txtFirstPage", QRect(70, 45, 64, 23));
    sLabel5 = MakeLabel(sGroupBox2, "sLabel5", QStringLiteral("to"), 144, 49);
    txtLastPage = MakeNumberBox(sGroupBox2, "txtLastPage", QRect(164, 45, 64, 23));

    // Output folder.
    sLabel6 = MakeLabel(sPanel2, "sLabel6", QStringLiteral("Output Folder:"), 9, 261);
    sEdit1 = new QLineEdit(sPanel2);
    sEdit1->setObjectName(QStringLiteral("sEdit1"));
    sEdit1->setGeometry(7, 278, 182, 26);
    sButton1 = new QPushButton(QStringLiteral("..."), sPanel2);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setToolTip(QStringLiteral("Specify an output folder."));
    sButton1->setGeometry(193, 278, 30, 26);
    sBitBtn7 = new QToolButton(sPanel2);
    sBitBtn7->setObjectName(QStringLiteral("sBitBtn7"));
    sBitBtn7->setIcon(LookIcon(QStringLiteral("folder")));
    sBitBtn7->setIconSize(QSize(18, 18));
    sBitBtn7->setToolTip(QStringLiteral("Open the output folder."));
    sBitBtn7->setGeometry(227, 278, 30, 26);

    sBitBtn1 = new QPushButton(QStringLiteral("Start Convert"), sPanel2);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sBitBtn1->setIcon(LookIcon(QStringLiteral("start")));
    sBitBtn1->setIconSize(QSize(22, 22));
    sBitBtn1->setGeometry(7, 314, 250, 68);
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

    // Lists react to the user's choice only; start-up selects entries without running handlers.
    connect(cmbFormat, &QComboBox::activated, this, &TMainForm::cmbFormatChange);
    connect(cmbTiffFmt, &QComboBox::activated, this, &TMainForm::cmbTiffFmtChange);
    connect(cmbColor, &QComboBox::activated, this, &TMainForm::cmbColorChange);
    connect(chkEachpage, &QCheckBox::clicked, this, &TMainForm::chkEachpageClick);
    connect(radAll, &QRadioButton::clicked, this, &TMainForm::radAllClick);
    connect(radRange, &QRadioButton::clicked, this, &TMainForm::radRangeClick);
    for (QWidget* box : {static_cast<QWidget*>(txtDpi), static_cast<QWidget*>(txtQuality),
                         static_cast<QWidget*>(txtFirstPage), static_cast<QWidget*>(txtLastPage)})
        box->installEventFilter(this);
    connect(sButton1, &QPushButton::clicked, this, &TMainForm::sButton1Click);
    connect(sBitBtn7, &QToolButton::clicked, this, &TMainForm::sBitBtn7Click);
}

// --- Life cycle -------------------------------------------------------------------------------

void TMainForm::FormCreate() {
    // The file list: report style, four columns.
    ListView1->setHorizontalHeaderLabels({QStringLiteral("  File Name"), QStringLiteral("Size"),
                                          QStringLiteral("Pages"), QStringLiteral("  Status")});
    const int widths[] = {150, 70, 50, 190};
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter,
                                        Qt::AlignLeft};
    for (int column = 0; column < 4; ++column) {
        ListView1->setColumnWidth(column, widths[column]);
        ListView1->horizontalHeaderItem(column)->setTextAlignment(alignments[column] |
                                                                  Qt::AlignVCenter);
    }
    QFont listFont = ListView1->font();
    listFont.setPixelSize(11);
    ListView1->setFont(listFont);
    ListView1->setShowGrid(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setWordWrap(false);
    ListView1->setIconSize(QSize(22, 22));
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(26);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    // Without a common application data folder nothing is read or written and there is no
    // renderer folder; the controls keep their built-in state.
    if (!SettingsFilePath().isEmpty()) {
        PrepareSettingsFolder();
        SetUpLibraryDirAtStart();
        m_options->LoadSettings();
    }

    PdfFileList = new TPdfList;

    // The file list's scroll bar closes the balloon tip before it scrolls.
    connect(ListView1->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &TMainForm::ListViewWndProc);

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

void TMainForm::ListViewWndProc(int /*scrollAction*/) {
    CloseBalloonTip();
}

void TMainForm::CloseBalloonTip() {
    if (BalloonTip)
        delete BalloonTip.data();
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
    default:
        return QWidget::event(e);
    }
}

void TMainForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (m_shown)
        return;
    m_shown = true;
    // Centred on the desktop the first time; the window is not mapped yet, so it never jumps.
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    FormShow();
}

void TMainForm::closeEvent(QCloseEvent* e) {
    e->setAccepted(FormCloseQuery());
}

void TMainForm::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    WMMove();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        // Leaving the window (another window, a menu) is not leaving the box.
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            return false;
        if (watched == txtDpi)
            txtDpiExit();
        else if (watched == txtQuality)
            txtQualityExit();
        else if (watched == txtFirstPage)
            txtFirstPageExit();
        else if (watched == txtLastPage)
            txtLastPageExit();
    }
    return QWidget::eventFilter(watched, e);
}

// --- Window messages --------------------------------------------------------------------------

void TMainForm::setListView(const platform::WindowMessage& /*message*/) {}

void TMainForm::setProgress(const platform::WindowMessage& /*message*/) {}

void TMainForm::setEndConvert(const platform::WindowMessage& /*message*/) {}

void TMainForm::setProgressInListView(const platform::WindowMessage& /*message*/) {}

void TMainForm::createTempLib() {
    CreateTempLib();
}

void TMainForm::termApp() {
    // Ends every running event loop, modal ones included; the close question is not asked and
    // the normal shutdown (FormDestroy) follows.
    QCoreApplication::exit(0);
}

// --- Commands (their behaviour arrives with the file list commands) ---------------------------

void TMainForm::sBitBtn2Click() {}

void TMainForm::sBitBtn3Click() {}

void TMainForm::sBitBtn4Click() {}

void TMainForm::sBitBtn6Click() {
    pm1->popup(sBitBtn6->mapToGlobal(QPoint(0, sBitBtn6->height())));
}

void TMainForm::sBitBtn1Click() {}

void TMainForm::Help1Click() {}

void TMainForm::Support1Click() {}

void TMainForm::ProductPage1Click() {}

void TMainForm::About1Click() {}

// --- Option panel and output folder -----------------------------------------------------------

void TMainForm::cmbFormatChange() {
    m_options->cmbFormatChange();
}

void TMainForm::cmbTiffFmtChange() {
    m_options->cmbTiffFmtChange();
}

void TMainForm::cmbColorChange() {
    m_options->cmbColorChange();
}

void TMainForm::chkEachpageClick() {
    m_options->chkEachpageClick();
}

void TMainForm::radAllClick() {
    m_options->radAllClick();
}

void TMainForm::radRangeClick() {
    m_options->radRangeClick();
}

void TMainForm::txtDpiExit() {
    m_options->txtDpiExit();
}

void TMainForm::txtQualityExit() {
    m_options->txtQualityExit();
}

void TMainForm::txtFirstPageExit() {
    m_options->txtFirstPageExit();
}

void TMainForm::txtLastPageExit() {
    m_options->txtLastPageExit();
}

void TMainForm::sButton1Click() {
    ChooseOutputFolder(this, sEdit1);
    sEdit1->setCursorPosition(0);
}

void TMainForm::sBitBtn7Click() {
    OpenOutputFolder(sEdit1->text());
}
