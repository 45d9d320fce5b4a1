#include "ui/infoform.h"

#include "app/outputfolder.h"
#include "engine/conversionoptions.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "ui/look.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

TInfoForm* InfoForm = nullptr;

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    InfoForm = this;
    setObjectName(QStringLiteral("InfoForm"));
    setWindowTitle(QStringLiteral("Pixolund"));
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(41, 41);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(LookIcon(QStringLiteral("information")).pixmap(QSize(32, 32)));

    sLabel1 = new QLabel(QStringLiteral("Conversion finished!"), this);
    sLabel1->setObjectName(QStringLiteral("sLabel1"));
    sLabel1->setStyleSheet(LookLabelStyle());

    FailedLabel = new QLabel(this);
    FailedLabel->setObjectName(QStringLiteral("FailedLabel"));
    FailedLabel->setTextFormat(Qt::PlainText);
    FailedLabel->setStyleSheet(
        QStringLiteral("color: %1;")
            .arg(LookStatusColour(true, palette().color(QPalette::Window)).name()));
    FailedLabel->hide();

    SummaryLabel = new QLabel(this);
    SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    SummaryLabel->setTextFormat(Qt::PlainText);
    SummaryLabel->setWordWrap(true);
    SummaryLabel->hide();
    FailuresLabel = new QLabel(this);
    FailuresLabel->setObjectName(QStringLiteral("FailuresLabel"));
    FailuresLabel->setTextFormat(Qt::PlainText);
    FailuresLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FailuresLabel->hide();

    sBitBtn1 = new QPushButton(QStringLiteral("Open Folder"), this);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sButton1 = new QPushButton(QStringLiteral("Close"), this);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    for (QPushButton* button : {sBitBtn1, sButton1})
        button->setMinimumSize(80, 25);

    auto* message = new QVBoxLayout;
    message->setSpacing(2);
    message->addStretch(1);
    message->addWidget(sLabel1);
    message->addWidget(FailedLabel);
    message->addStretch(1);
    auto* head = new QHBoxLayout;
    head->setSpacing(11);
    head->addStretch(1);
    head->addWidget(Image1);
    head->addLayout(message);
    head->addStretch(1);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(20, 20, 20, 20);
    frame->setSpacing(10);
    frame->addLayout(head);
    frame->addWidget(SummaryLabel);
    frame->addWidget(FailuresLabel);
    frame->addLayout(LookCentredPair(sBitBtn1, sButton1, 30));
    // The window takes the size its texts need, no less than the usual one.
    frame->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(287, 132);

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
    FailedLabel->setVisible(failed > 0);
}

void TInfoForm::SetSummary(int converted, int pages, const QString& folder,
                           const QStringList& failures) {
    const QString files =
        converted == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(converted);
    const QString images =
        pages == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(pages);
    SummaryLabel->setText(QStringLiteral("%1 (%2) converted into %3").arg(files, images, folder));
    // Wide enough for a usual path on one line; a longer one wraps.
    SummaryLabel->setMinimumWidth(
        std::min(SummaryLabel->fontMetrics().horizontalAdvance(SummaryLabel->text()),
                 SummaryLabel->fontMetrics().averageCharWidth() * 70));
    SummaryLabel->show();
    // Beyond a screenful the rows of the list tell the rest.
    constexpr int MostShown = 10;
    QStringList shown = failures.mid(0, MostShown);
    if (failures.size() > MostShown)
        shown.append(QStringLiteral("and %1 more").arg(failures.size() - MostShown));
    FailuresLabel->setText(shown.join(QLatin1Char('\n')));
    FailuresLabel->setVisible(!failures.isEmpty());
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
