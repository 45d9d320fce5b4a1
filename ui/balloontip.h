#pragma once

#include <QIcon>
#include <QWidget>

class QLabel;
class QToolButton;

// A desktop-style balloon tip: a rounded window whose stem points at a screen point, with an
// icon, a bold title, the text and a close button. It never takes the focus and deletes itself
// when closed.
class TBalloonTip : public QWidget {
    Q_OBJECT

public:
    TBalloonTip(QWidget* parent, const QString& text, const QIcon& icon, const QString& title,
                const QPoint& stemPoint);

    QString text() const;
    QString title() const;
    // The screen point the stem touches.
    QPoint stemPoint() const { return m_stemPoint; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QPainterPath outline() const;

    QLabel* m_title = nullptr;
    QLabel* m_text = nullptr;
    QToolButton* m_close = nullptr;
    QPoint m_stemPoint;
};
