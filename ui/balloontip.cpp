#include "ui/balloontip.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QToolButton>

namespace {

constexpr int StemHeight = 14;
constexpr int StemLeft = 16; // from the balloon's left edge to the stem's tip
constexpr int StemWidth = 16;
constexpr int Radius = 8;
constexpr int MaxTextWidth = 300;

const QColor Fill(0xff, 0xff, 0xe8);
const QColor Border(0x76, 0x76, 0x76);

} // namespace

TBalloonTip::TBalloonTip(QWidget* parent, const QString& text, const QIcon& icon,
                         const QString& title, const QPoint& stemPoint)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_stemPoint(stemPoint) {
    setObjectName(QStringLiteral("BalloonTip"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    QPalette colours = palette();
    colours.setColor(QPalette::Window, Fill);
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);

    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(icon.pixmap(QSize(16, 16)));
    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("BalloonTitle"));
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_text = new QLabel(text, this);
    m_text->setObjectName(QStringLiteral("BalloonText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    // Wide enough for a short text on one line; longer ones wrap at the maximum.
    m_text->setFixedWidth(qMin(m_text->fontMetrics().horizontalAdvance(text) + 2, MaxTextWidth));
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("BalloonClose"));
    m_close->setText(QStringLiteral("\u2715"));
    m_close->setAutoRaise(true);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setFixedSize(18, 18);
    m_close->setToolTip(QStringLiteral("Close"));
    connect(m_close, &QToolButton::clicked, this, &QWidget::close);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, StemHeight + 8, 6, 10);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(iconLabel, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(m_title, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(m_close, 0, 2, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(m_text, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    adjustSize();
    // The balloon hangs below the point, the stem rising from near its left edge.
    move(stemPoint - QPoint(StemLeft, 0));
}

QString TBalloonTip::text() const {
    return m_text->text();
}

QString TBalloonTip::title() const {
    return m_title->text();
}

QPainterPath TBalloonTip::outline() const {
    const QRectF body(0.5, StemHeight + 0.5, width() - 1.0, height() - StemHeight - 1.0);
    QPainterPath path;
    path.addRoundedRect(body, Radius, Radius);
    QPainterPath stem;
    stem.moveTo(StemLeft + 0.5, 0.5);
    stem.lineTo(StemLeft + StemWidth, body.top() + 1);
    stem.lineTo(StemLeft + 2, body.top() + 1);
    stem.closeSubpath();
    return path.united(stem);
}

void TBalloonTip::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // A mask rather than a translucent window: the shape stays right without a compositor.
    // The mask is grown by the border's width so the antialiased edge is not cut off.
    QPainterPathStroker stroker;
    stroker.setWidth(2);
    const QPainterPath shape = outline().united(stroker.createStroke(outline()));
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

void TBalloonTip::paintEvent(QPaintEvent* /*e*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Border, 1));
    painter.setBrush(Fill);
    painter.drawPath(outline());
}
