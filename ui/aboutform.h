#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

// A label drawn as a link: blue and underlined, the window-text colour without underline while
// the pointer is over it, the hand pointer; a click emits clicked().
class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void setHot(bool hot);
};

// The About window: banner, product name, version line, links and notice line.
class TAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    QLabel* Image1 = nullptr;
    QWidget* sPanel1 = nullptr;
    QLabel* sLabel2 = nullptr; // product name
    QLabel* sLabel3 = nullptr; // version line
    QLabel* sLabel4 = nullptr; // "Home Page: "
    TLinkLabel* sLabel5 = nullptr;
    QLabel* sLabel6 = nullptr; // "Support:"
    TLinkLabel* sLabel7 = nullptr;
    QLabel* sLabel8 = nullptr; // "Email:"
    TLinkLabel* sLabel9 = nullptr;
    QLabel* sLabel1 = nullptr; // notice line
    QPushButton* sButton1 = nullptr;

public slots:
    void sLabel5Click();
    void sLabel7Click();
    void sLabel9Click();
    void sButton1Click();
};

extern TAboutForm* AboutForm;
