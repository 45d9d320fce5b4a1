#include "ui/infoform.h"

#include "app/outputfolder.h"
#include "engine/conversionoptions.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "ui/look.h"

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

void TInfoForm::SetSummary(int converted, const QString& folder, const QStringList& failures) {
    const QString files =
        converted == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(converted);
    SummaryLabel->setText(QStringLiteral("%1 converted into %2").arg(files, folder));
    // Beyond a screenful the rows of the list tell the rest.
    constexpr int MostShown = 10;
    QStringList shown = failures.mid(0, MostShown);
    if (failures.size() > MostShown)
        shown.append(QStringLiteral("and %1 more").arg(failures.size() - MostShown));
    FailuresLabel->setText(shown.join(QLatin1Char('\n')));

    // The report goes below the message; the window grows to hold it, the buttons below it.
    constexpr int Margin = 20;
    constexpr int Gap = 10;
    const int width =
        std::clamp(std::max(SummaryLabel->fontMetrics().horizontalAdvance(SummaryLabel->text()),
                            FailuresLabel->sizeHint().width()) +
                       2 * Margin,
                   287, 640);
    const int textWidth = width - 2 * Margin;
    int y = 72;
    SummaryLabel->setGeometry(Margin, y, textWidth, SummaryLabel->heightForWidth(textWidth));
    SummaryLabel->show();
    y += SummaryLabel->height() + Gap;
    FailuresLabel->setVisible(!failures.isEmpty());
    if (!failures.isEmpty()) {
        FailuresLabel->setGeometry(Margin, y, textWidth, FailuresLabel->sizeHint().height());
        y += FailuresLabel->height() + Gap;
    }
    const int buttonsLeft = (width - (sButton1->x() + sButton1->width() - sBitBtn1->x())) / 2;
    const int spread = sButton1->x() - sBitBtn1->x();
    sBitBtn1->move(buttonsLeft, y);
    sButton1->move(buttonsLeft + spread, y);
    setFixedSize(width, y + sBitBtn1->height() + Margin);
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
