#include "ui/passwordinputform.h"

#include "ui/look.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TPasswordInputForm* PasswordInputForm = nullptr;

TPasswordInputForm::TPasswordInputForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    PasswordInputForm = this;
    setObjectName(QStringLiteral("PasswordInputForm"));
    setWindowTitle(QStringLiteral("Pixolund"));
    setModal(true);

    sLabel1 = new QLabel(this);
    sLabel1->setObjectName(QStringLiteral("sLabel1"));
    // It shows file names, which may look like markup.
    sLabel1->setTextFormat(Qt::PlainText);
    sLabel1->setStyleSheet(LookLabelStyle());

    sEdit1 = new QLineEdit(this);
    sEdit1->setObjectName(QStringLiteral("sEdit1"));
    sEdit1->setEchoMode(QLineEdit::Password);
    // Every typed character shows as "*", whatever mask the desktop theme prefers. Polished
    // first: under the program's style sheet only a polished box re-reads its mask character.
    sEdit1->ensurePolished();
    sEdit1->setStyleSheet(QStringLiteral("background: palette(base); color: palette(text); "
                                         "lineedit-password-character: 42;"));

    sButton1 = new QPushButton(QStringLiteral("OK"), this);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setAutoDefault(false);
    sButton2 = new QPushButton(QStringLiteral("Cancel"), this);
    sButton2->setObjectName(QStringLiteral("sButton2"));
    sButton2->setAutoDefault(false);
    for (QPushButton* button : {sButton1, sButton2})
        button->setMinimumSize(75, 25);

    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(24, 16, 24, 18);
    frame->setSpacing(12);
    frame->addWidget(sLabel1);
    frame->addWidget(sEdit1);
    frame->addLayout(LookCentredPair(sButton1, sButton2, 61));
    // The window takes the size its text needs, no less than the usual one.
    frame->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(332, 150);

    connect(sButton1, &QPushButton::clicked, this, &TPasswordInputForm::sButton1Click);
    connect(sButton2, &QPushButton::clicked, this, &TPasswordInputForm::sButton2Click);
    // Enter in the password box confirms, like OK.
    connect(sEdit1, &QLineEdit::returnPressed, this, &TPasswordInputForm::sButton1Click);
}

TPasswordInputForm::~TPasswordInputForm() {
    if (PasswordInputForm == this)
        PasswordInputForm = nullptr;
}

void TPasswordInputForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TPasswordInputForm::FormShow() {
    Confirmed = false;
    // A very long name is shortened in its middle, where similar names differ least; the
    // tooltip keeps it whole.
    const QString name = sLabel1->fontMetrics().elidedText(
        PdfName, Qt::ElideMiddle, sLabel1->fontMetrics().averageCharWidth() * 60);
    sLabel1->setToolTip(name == PdfName ? QString() : PdfName);
    if (PdfName.size() > 25)
        sLabel1->setText(QStringLiteral("The file '%1' is password\n"
                                        "protected. Please input the password to unlock it.")
                             .arg(name));
    else
        sLabel1->setText(QStringLiteral("The file '%1' is password protected.\n"
                                        "Please input the password to unlock it.")
                             .arg(name));
    sEdit1->clear();
    sEdit1->setFocus();
}

void TPasswordInputForm::sButton1Click() {
    Confirmed = true;
    accept();
}

void TPasswordInputForm::sButton2Click() {
    Confirmed = false;
    reject();
}

void TPasswordInputForm::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape)
        return; // Escape has no function here
    QDialog::keyPressEvent(e);
}
