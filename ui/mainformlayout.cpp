// Builds the main window's controls at their places; the handlers live in the other files.
#include "ui/balloontip.h"
#include "ui/filelist.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/spinedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QToolButton>

namespace {

constexpr int ClientWidth = 744;

QToolButton* MakePanelButton(QWidget* parent, const char* name, const QString& caption,
                             const QString& icon, const QRect& geometry, int iconSize) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(LookIcon(icon));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    // Taking the focus on a click lets a number box finish its correction before the command.
    button->setFocusPolicy(Qt::StrongFocus);
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

} // namespace

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
    SetUpFileList(ListView1);
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
