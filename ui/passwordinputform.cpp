#include "ui/passwordinputform.h"

#include "ui/look.h"

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
    setFixedSize(332, 150);

    sLabel1 = new QLabel(this);
    sLabel1->setObjectName(QStringLiteral("sLabel1"));
    // It shows file names, which may look like markup.
    sLabel1->setTextFormat(Qt::PlainText);
    sLabel1->move(27, 16);
    QFont font = sLabel1->font();
    font.setPixelSize(11);
    sLabel1->setFont(font);
    sLabel1->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(LookDarkGrey)));

    sEdit1 = new QLineEdit(this);
    sEdit1->setObjectName(QStringLiteral("sEdit1"));
    sEdit1->setGeometry(24, 56, 273, 21);
    sEdit1->setEchoMode(QLineEdit::Password);
    // Every typed character shows as "*", whatever mask the desktop theme prefers. Polished
    // first: under the program's style sheet only a polished box re-reads its mask character.
    sEdit1->ensurePolished();
    sEdit1->setStyleSheet(
        QStringLiteral("background: white; color: black; lineedit-password-character: 42;"));

    sButton1 = new QPushButton(QStringLiteral("OK"), this);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setGeometry(56, 96, 75, 25);
    sButton1->setAutoDefault(false);
    sButton2 = new QPushButton(QStringLiteral("Cancel"), this);
    sButton2->setObjectName(QStringLiteral("sButton2"));
    sButton2->setGeometry(192, 96, 75, 25);
    sButton2->setAutoDefault(false);

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
    if (PdfName.size() > 25)
        sLabel1->setText(QStringLiteral("The file '%1' is password\n"
                                        "protected. Please input the password to unlock it.")
                             .arg(PdfName));
    else
        sLabel1->setText(QStringLiteral("The file '%1' is password protected.\n"
                                        "Please input the password to unlock it.")
                             .arg(PdfName));
    sLabel1->adjustSize();
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
