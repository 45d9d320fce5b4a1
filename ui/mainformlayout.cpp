// Builds the main window's controls at their places; the handlers live in the other files.
#include "ui/balloontip.h"
#include "ui/filelist.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/spinedit.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QToolButton>

#include <algorithm>

namespace {

QToolButton* MakePanelButton(QWidget* parent, const char* name, const QString& caption,
                             const QString& icon, int iconSize) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(LookIcon(icon));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    // Taking the focus on a click lets a number box finish its correction before the command.
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit* MakeNumberBox(QWidget* parent, const char* name, int digits) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
    // Room for the digits at any font, and no more.
    const int digitWidth = box->fontMetrics().horizontalAdvance(QString(digits, u'0'));
    box->setMinimumWidth(digitWidth + 16);
    // A line edit's own width hint is some twenty characters; the column decides instead.
    box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return box;
}

QComboBox* MakeList(QWidget* parent, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    return list;
}

} // namespace

// The window's frame: the command bar on top, the list beside the option panel. The list takes
// whatever room the window has beyond what the panel needs.
void TMainForm::BuildLayout() {
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(ListView1, 1);
    body->addWidget(sPanel2, 0);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->addWidget(sPanel1);
    frame->addLayout(body, 1);
}

void TMainForm::BuildTopPanel() {
    sPanel1 = new QFrame(this);
    sPanel1->setObjectName(QStringLiteral("sPanel1"));

    sBitBtn2 = MakePanelButton(sPanel1, "sBitBtn2", QStringLiteral("&Add Files"),
                               QStringLiteral("add-files"), 32);
    sBitBtn3 = MakePanelButton(sPanel1, "sBitBtn3", QStringLiteral("&Remove"),
                               QStringLiteral("remove"), 32);
    sBitBtn3->setToolTip(QStringLiteral("Remove a selected file from the list."));
    sBitBtn4 =
        MakePanelButton(sPanel1, "sBitBtn4", QStringLiteral("&Clear"), QStringLiteral("clear"), 32);
    sBitBtn4->setToolTip(QStringLiteral("Remove all files from the list."));
    sBitBtn6 =
        MakePanelButton(sPanel1, "sBitBtn6", QStringLiteral("&Help"), QStringLiteral("help"), 16);
    for (QToolButton* button : {sBitBtn2, sBitBtn3, sBitBtn4})
        button->setMinimumHeight(57);
    sBitBtn6->setMinimumHeight(41);

    auto* row = new QHBoxLayout(sPanel1);
    row->setContentsMargins(6, 8, 5, 7);
    row->setSpacing(0);
    row->addWidget(sBitBtn2);
    row->addWidget(sBitBtn3);
    row->addWidget(sBitBtn4);
    row->addStretch(1);
    row->addWidget(sBitBtn6, 0, Qt::AlignVCenter);

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
    ListView1->setMinimumSize(360, 200);
    SetUpFileList(ListView1);
}

void TMainForm::BuildRightPanel() {
    sPanel2 = new QFrame(this);
    sPanel2->setObjectName(QStringLiteral("sPanel2"));
    // As wide as its contents need, at least as wide as at the usual font.
    sPanel2->setMinimumWidth(263);
    sPanel2->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    // Group "Option": a label column and a control column.
    sGroupBox1 = new QGroupBox(QStringLiteral("Option"), sPanel2);
    sGroupBox1->setObjectName(QStringLiteral("sGroupBox1"));
    sLabel1 = MakeLabel(sGroupBox1, "sLabel1", QStringLiteral("Output &Format:"));
    cmbFormat = MakeList(sGroupBox1, "cmbFormat");
    sLabel9 = MakeLabel(sGroupBox1, "sLabel9", QStringLiteral("JPEG &Quality(1-100):"));
    txtQuality = new TSpinEdit(sGroupBox1);
    txtQuality->setObjectName(QStringLiteral("txtQuality"));
    txtQuality->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    txtQuality->setMinimumWidth(
        txtQuality->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);
    sLabel10 = MakeLabel(sGroupBox1, "sLabel10", QStringLiteral("&TIFF Compression:"));
    cmbTiffFmt = MakeList(sGroupBox1, "cmbTiffFmt");
    sLabel2 = MakeLabel(sGroupBox1, "sLabel2", QStringLiteral("Reso&lution:"));
    txtDpi = MakeNumberBox(sGroupBox1, "txtDpi", 5);
    sLabel3 = MakeLabel(sGroupBox1, "sLabel3", QStringLiteral("DPI"));
    sLabel4 = MakeLabel(sGroupBox1, "sLabel4", QStringLiteral("Output C&olor:"));
    cmbColor = MakeList(sGroupBox1, "cmbColor");
    chkEachpage =
        new QCheckBox(QStringLiteral("Sa&ve each page as separate image file."), sGroupBox1);
    chkEachpage->setObjectName(QStringLiteral("chkEachpage"));

    auto* dpiRow = new QHBoxLayout;
    dpiRow->setSpacing(8);
    dpiRow->addWidget(txtDpi, 1);
    dpiRow->addWidget(sLabel3);
    // The quality and the TIFF compression share a row: the format shows one of them.
    auto* options = new QGridLayout(sGroupBox1);
    options->setContentsMargins(10, 16, 10, 8);
    options->setHorizontalSpacing(8);
    options->setVerticalSpacing(6);
    options->addWidget(sLabel1, 0, 0);
    options->addWidget(cmbFormat, 0, 1);
    options->addWidget(sLabel9, 1, 0);
    options->addWidget(txtQuality, 1, 1, Qt::AlignRight);
    options->addWidget(sLabel10, 1, 0);
    options->addWidget(cmbTiffFmt, 1, 1);
    options->addWidget(sLabel2, 2, 0);
    options->addLayout(dpiRow, 2, 1);
    options->addWidget(sLabel4, 3, 0);
    options->addWidget(cmbColor, 3, 1);
    options->addWidget(chkEachpage, 4, 0, 1, 2);
    options->setColumnStretch(1, 1);

    // Group "Page Range".
    sGroupBox2 = new QGroupBox(QStringLiteral("Page Range"), sPanel2);
    sGroupBox2->setObjectName(QStringLiteral("sGroupBox2"));
    radAll = new QRadioButton(QStringLiteral("All &Pages"), sGroupBox2);
    radAll->setObjectName(QStringLiteral("radAll"));
    radRange = new QRadioButton(QStringLiteral("Fro&m"), sGroupBox2);
    radRange->setObjectName(QStringLiteral("radRange"));
    txtFirstPage = MakeNumberBox(sGroupBox2, "txtFirstPage", 5);
    sLabel5 = MakeLabel(sGroupBox2, "sLabel5", QStringLiteral("to"));
    txtLastPage = MakeNumberBox(sGroupBox2, "txtLastPage", 5);
    auto* range = new QGridLayout(sGroupBox2);
    range->setContentsMargins(10, 16, 10, 8);
    range->setHorizontalSpacing(8);
    range->setVerticalSpacing(6);
    range->addWidget(radAll, 0, 0, 1, 4);
    range->addWidget(radRange, 1, 0);
    range->addWidget(txtFirstPage, 1, 1);
    range->addWidget(sLabel5, 1, 2);
    range->addWidget(txtLastPage, 1, 3);
    range->setColumnStretch(1, 1);
    range->setColumnStretch(3, 1);

    // Output folder.
    sLabel6 = MakeLabel(sPanel2, "sLabel6", QStringLiteral("Output Fol&der:"));
    sEdit1 = new QLineEdit(sPanel2);
    sEdit1->setObjectName(QStringLiteral("sEdit1"));
    sEdit1->setMinimumWidth(100);
    sEdit1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    sButton1 = new QPushButton(QStringLiteral("..."), sPanel2);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setToolTip(QStringLiteral("Specify an output folder."));
    sBitBtn7 = new QToolButton(sPanel2);
    sBitBtn7->setObjectName(QStringLiteral("sBitBtn7"));
    sBitBtn7->setIcon(LookIcon(QStringLiteral("folder")));
    sBitBtn7->setIconSize(QSize(18, 18));
    sBitBtn7->setToolTip(QStringLiteral("Open the output folder."));
    const int folderButtonWidth =
        std::max(30, sButton1->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 14);
    sButton1->setFixedWidth(folderButtonWidth);
    sBitBtn7->setFixedWidth(folderButtonWidth);
    auto* folderRow = new QHBoxLayout;
    folderRow->setSpacing(4);
    folderRow->addWidget(sEdit1, 1);
    folderRow->addWidget(sButton1);
    folderRow->addWidget(sBitBtn7);

    sBitBtn1 = new QPushButton(StartCaption, sPanel2);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sBitBtn1->setIcon(LookIcon(QStringLiteral("start")));
    sBitBtn1->setIconSize(QSize(22, 22));
    sBitBtn1->setMinimumHeight(68);
    QFont startFont = sBitBtn1->font();
    startFont.setPointSizeF(startFont.pointSizeF() * 1.25);
    sBitBtn1->setFont(startFont);

    auto* panel = new QVBoxLayout(sPanel2);
    panel->setContentsMargins(7, 4, 6, 8);
    panel->setSpacing(6);
    panel->addWidget(sGroupBox1);
    panel->addWidget(sGroupBox2);
    panel->addWidget(sLabel6);
    panel->addLayout(folderRow);
    // The start button stays at the panel's foot whichever options show.
    panel->addStretch(1);
    panel->addWidget(sBitBtn1);
}
