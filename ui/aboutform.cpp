#include "ui/aboutform.h"

#include "platform/shell.h"
#include "ui/look.h"

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

QLabel* GreyLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(LookDarkGrey)));
    label->move(left, top);
    label->adjustSize();
    return label;
}

TLinkLabel* LinkLabel(QWidget* parent, const char* name, int left, int top) {
    auto* label = new TLinkLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(left, top, 280, 16);
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
    setFixedSize(400, 215);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 400, 58);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/about-banner.png")));

    sPanel1 = new QWidget(this);
    sPanel1->setObjectName(QStringLiteral("AboutPanel"));
    sPanel1->setAttribute(Qt::WA_StyledBackground);
    sPanel1->setGeometry(0, 215 - 156, 400, 156);

    sLabel2 = GreyLabel(sPanel1, "sLabel2", QStringLiteral("Pixolund"), 30, 10);
    QFont nameFont = sLabel2->font();
    nameFont.setPixelSize(13);
    sLabel2->setFont(nameFont);
    sLabel2->adjustSize();
    sLabel3 = GreyLabel(sPanel1, "sLabel3", QStringLiteral("Version: 1.0.0"), 225, 12);
    sLabel4 = GreyLabel(sPanel1, "sLabel4", QStringLiteral("Home Page: "), 30, 41);
    sLabel5 = LinkLabel(sPanel1, "sLabel5", 97, 41);
    sLabel6 = GreyLabel(sPanel1, "sLabel6", QStringLiteral("Support:"), 30, 60);
    sLabel7 = LinkLabel(sPanel1, "sLabel7", 97, 60);
    sLabel8 = GreyLabel(sPanel1, "sLabel8", QStringLiteral("Email:"), 30, 80);
    sLabel9 = LinkLabel(sPanel1, "sLabel9", 97, 80);
    sLabel1 = GreyLabel(sPanel1, "sLabel1", QString(), 30, 115);
    sLabel1->setFixedWidth(270);

    sButton1 = new QPushButton(QStringLiteral("OK"), sPanel1);
    sButton1->setObjectName(QStringLiteral("sButton1"));
    sButton1->setGeometry(312, 115, 75, 25);

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
