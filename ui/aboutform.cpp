#include "ui/aboutform.h"

#include "platform/shell.h"
#include "ui/look.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPushButton>

TAboutForm* AboutForm = nullptr;

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setHot(false);
}

void TLinkLabel::setHot(bool hot) {
    setStyleSheet(hot ? QStringLiteral("color: %1; text-decoration: none;")
                            .arg(palette().color(QPalette::WindowText).name())
                      : QStringLiteral("color: #0000ff; text-decoration: underline;"));
}

void TLinkLabel::enterEvent(QEnterEvent* e) {
    QLabel::enterEvent(e);
    setHot(true);
}

void TLinkLabel::leaveEvent(QEvent* e) {
    QLabel::leaveEvent(e);
    setHot(false);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
}

namespace {

QLabel* GreyLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setStyleSheet(LookLabelStyle());
    return label;
}

TLinkLabel* LinkLabel(QWidget* parent, const char* name) {
    auto* label = new TLinkLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    AboutForm = this;
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/about-banner.png")));
    Image1->setFixedHeight(58);

    sPanel1 = new QWidget(this);
    sPanel1->setObjectName(QStringLiteral("AboutPanel"));
    sPanel1->setAttribute(Qt::WA_StyledBackground);

    sLabel2 = GreyLabel(sPanel1, "sLabel2", QStringLiteral("Pixolund"));
    QFont nameFont = sLabel2->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.15);
    sLabel2->setFont(nameFont);
    sLabel3 = GreyLabel(sPanel1, "sLabel3", QStringLiteral("Version: 1.0.0"));
    sLabel4 = GreyLabel(sPanel1, "sLabel4", QStringLiteral("Home Page: "));
    sLabel5 = LinkLabel(sPanel1, "sLabel5");
    sLabel6 = GreyLabel(sPanel1, "sLabel6", QStringLiteral("Support:"));
    sLabel7 = LinkLabel(sPanel1, "sLabel7");
    sLabel8 = GreyLabel(sPanel1, "sLabel8", QStringLiteral("Email:"));
    sLabel9 = LinkLabel(sPanel1, "sLabel9");
    sLabel1 = GreyLabel(sPanel1, "sLabel1", QString());
    sLabel1->setWordWrap(true);

    sButton1 = new QPushButton(QStringLiteral("OK"), sPanel1);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setMinimumSize(75, 25);

    auto* grid = new QGridLayout(sPanel1);
    grid->setContentsMargins(30, 10, 13, 15);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(sLabel2, 0, 0, 1, 2);
    grid->addWidget(sLabel3, 0, 2, Qt::AlignRight | Qt::AlignBottom);
    grid->addWidget(sLabel4, 1, 0);
    grid->addWidget(sLabel5, 1, 1, 1, 2);
    grid->addWidget(sLabel6, 2, 0);
    grid->addWidget(sLabel7, 2, 1, 1, 2);
    grid->addWidget(sLabel8, 3, 0);
    grid->addWidget(sLabel9, 3, 1, 1, 2);
    grid->addWidget(sLabel1, 4, 0, 1, 2);
    grid->addWidget(sButton1, 4, 2, Qt::AlignRight | Qt::AlignBottom);
    grid->setRowMinimumHeight(0, 26);
    grid->setColumnStretch(1, 1);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->addWidget(Image1);
    frame->addWidget(sPanel1, 1);
    // The window takes the size its texts need, no less than the usual one.
    frame->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(400, 215);

    connect(sLabel5, &TLinkLabel::clicked, this, &TAboutForm::sLabel5Click);
    connect(sLabel7, &TLinkLabel::clicked, this, &TAboutForm::sLabel7Click);
    connect(sLabel9, &TLinkLabel::clicked, this, &TAboutForm::sLabel9Click);
    connect(sButton1, &QPushButton::clicked, this, &TAboutForm::sButton1Click);
}

TAboutForm::~TAboutForm() {
    if (AboutForm == this)
        AboutForm = nullptr;
}

void TAboutForm::sLabel5Click() {
    platform::ShellOpen(platform::ShippedTarget(sLabel5->text()));
}

void TAboutForm::sLabel7Click() {
    platform::ShellOpen(platform::ShippedTarget(sLabel7->text()));
}

void TAboutForm::sLabel9Click() {
    platform::ShellOpen(QStringLiteral("mailto:") + sLabel9->text());
}

void TAboutForm::sButton1Click() {
    close();
}
