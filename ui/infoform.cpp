#include "ui/infoform.h"

#include "app/outputfolder.h"
#include "engine/conversionoptions.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "ui/look.h"

#include <QLabel>
#include <QPushButton>

TInfoForm* InfoForm = nullptr;

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    InfoForm = this;
    setObjectName(QStringLiteral("InfoForm"));
    setWindowTitle(QStringLiteral("Pixolund"));
    setModal(true);
    setFixedSize(287, 132);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(66, 20, 41, 41);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(LookIcon(QStringLiteral("information")).pixmap(QSize(32, 32)));

    sLabel1 = new QLabel(QStringLiteral("Conversion finished!"), this);
    sLabel1->setObjectName(QStringLiteral("sLabel1"));
    sLabel1->move(118, 34);
    sLabel1->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(LookDarkGrey)));
    sLabel1->adjustSize();

    FailedLabel = new QLabel(this);
    FailedLabel->setObjectName(QStringLiteral("FailedLabel"));
    FailedLabel->setTextFormat(Qt::PlainText);
    FailedLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
    FailedLabel->move(118, 52);
    FailedLabel->hide();

    sBitBtn1 = new QPushButton(QStringLiteral("Open Folder"), this);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sBitBtn1->setGeometry(47, 82, 80, 25);
    sButton1 = new QPushButton(QStringLiteral("Close"), this);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setGeometry(157, 82, 80, 25);

    connect(sBitBtn1, &QPushButton::clicked, this, &TInfoForm::sBitBtn1Click);
    connect(sButton1, &QPushButton::clicked, this, &TInfoForm::sButton1Click);
}

TInfoForm::~TInfoForm() {
    if (InfoForm == this)
        InfoForm = nullptr;
}

void TInfoForm::SetFailures(int failed) {
    FailedLabel->setText(failed == 1 ? QStringLiteral("1 file failed.")
                                     : QStringLiteral("%1 files failed.").arg(failed));
    FailedLabel->adjustSize();
    FailedLabel->setVisible(failed > 0);
}

void TInfoForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TInfoForm::FormShow() {
    sBitBtn1->setFocus();
}

void TInfoForm::sBitBtn1Click() {
    // The root output folder of the run, not a file's subfolder.
    const QString folder = ConversionOptions.OutputFolder;
    if (!CheckOutputFolder(folder)) {
        platform::MessageBox(platform::BoxKind::Error, QStringLiteral("Invalid directory!"));
        return;
    }
    platform::ShellOpen(folder);
    close();
}

void TInfoForm::sButton1Click() {
    close();
}
