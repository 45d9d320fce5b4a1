// Unlocking protected files with the real information tool, the Help button's menu and the
// About window.

#include "fixtures.h"

#include "engine/procthread.h"
#include "platform/folders.h"
#include "ui/aboutform.h"
#include "ui/filelist.h"
#include "ui/look.h"
#include "ui/passwordinputform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

// Answers a modal window whenever it shows: `answer` runs with the window up.
class Answerer : public QObject {
public:
    Answerer(QWidget* window, std::function<void()> answer) : m_window(window) {
        connect(&m_timer, &QTimer::timeout, this, [this, answer] {
            if (!m_window->isVisible() || m_busy)
                return;
            m_busy = true;
            ++shown;
            answer();
            m_busy = false;
        });
        m_timer.start(20);
    }
    int shown = 0;

private:
    QWidget* m_window;
    QTimer m_timer;
    bool m_busy = false;
};

// Types the passwords one per showing (OK), then cancels; remembers each message.
struct PasswordAnswers {
    explicit PasswordAnswers(TPasswordInputForm* form, QStringList passwords)
        : answerer(form, [this, form, passwords] {
              messages << form->sLabel1->text();
              if (passwords.size() < messages.size()) {
                  form->sButton2->click();
                  return;
              }
              form->sEdit1->setText(passwords.at(messages.size() - 1));
              QTest::keyClick(form->sEdit1, Qt::Key_Return);
          }) {}
    QStringList messages;
    Answerer answerer;
};

struct UnlockWindows : Windows {
    std::unique_ptr<TPasswordInputForm> password = std::make_unique<TPasswordInputForm>();
    std::unique_ptr<TAboutForm> about = std::make_unique<TAboutForm>();
    ~UnlockWindows() {
        about.reset();
        password.reset();
    }
    void click(int row, int column = ColumnFileName) {
        QTest::mouseClick(main->ListView1->viewport(), Qt::LeftButton, {}, centre(row, column));
    }
};

QString ShippedUrl(const QString& tail) {
    return QUrl::fromLocalFile(platform::ProgramFolder()).toString() + tail;
}

} // namespace

class TestUnlock : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void message_data();
    void message();
    void wrongWrongRight();
    void cancelRunsNothing();
    void oddPasswordUnlocks();
    void otherStatesOpenNothing();
    void unlockErrorBox();
    void helpMenu();
    void aboutWindow();

private:
    std::unique_ptr<PdfFixtures> m_pdfs;
};

void TestUnlock::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    // The program's own look: its style sheet changes how some controls behave.
    ApplyLook(*qApp);
    m_pdfs = std::make_unique<PdfFixtures>();
    QVERIFY(m_pdfs->ok());
}

void TestUnlock::message_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QString name25 = QString(21, 'n') + ".pdf";
    const QString name26 = QString(22, 'n') + ".pdf";
    QTest::newRow("25") << name25
                        << "The file '" + name25 +
                               "' is password protected.\nPlease input the password to unlock it.";
    QTest::newRow("26") << name26
                        << "The file '" + name26 +
                               "' is password\nprotected. Please input the password to unlock it.";
    // UTF-16 code units: "𝄞" counts twice.
    const QString wide = QString(19, 'n') + QStringLiteral("\U0001D11E.pdf");
    QTest::newRow("25 units with a surrogate pair")
        << wide
        << "The file '" + wide +
               "' is password protected.\nPlease input the password to unlock it.";
}

void TestUnlock::message() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    UnlockWindows w;
    QString shown;
    Answerer answer(w.password.get(), [&] {
        shown = w.password->sLabel1->text();
        w.password->sEdit1->setText("pw ä");
        QCOMPARE(w.password->sEdit1->displayText(), QStringLiteral("****"));
        QTRY_COMPARE(QApplication::focusWidget(), w.password->sEdit1); // activation is async
        w.password->close(); // the close box: not confirmed
    });
    w.password->SetPdfName(name);
    w.password->sEdit1->setText("left over");
    w.password->exec();
    QCOMPARE(shown, text);
    QVERIFY(!w.password->IsConfirmed());
}

void TestUnlock::wrongWrongRight() {
    UnlockWindows w;
    w.add({m_pdfs->pdf("three.pdf"), m_pdfs->pdf("aes-256.pdf")});
    QVERIFY(w.main->balloonTip() != nullptr);
    PasswordAnswers answers(w.password.get(), {"wrong", "", "secret"});
    w.click(1, ColumnSize);
    QCOMPARE(answers.messages.size(), 3);
    QVERIFY(answers.messages.first().contains("'aes-256.pdf'"));
    QVERIFY(w.recorder.boxes.isEmpty());
    QVERIFY(w.main->balloonTip() == nullptr);
    QCOMPARE(w.states(), QStringList({StateTrue, StateUnprotected}));
    QCOMPARE(w.cell(1, ColumnPages), QStringLiteral("3"));
    QCOMPARE(w.cell(1, ColumnStatus), QString());
    QCOMPARE(PdfFileList->at(1)->Password(), QStringLiteral("secret"));
    QCOMPARE(StatePicture(PdfFileList->at(1)->State()), 2);
    QCOMPARE(WorkerThread, nullptr);
    // The box does not keep the password once it was used.
    QCOMPARE(w.password->sEdit1->text(), QString());
    // Unlocked: a click opens nothing any more.
    w.click(1);
    QCOMPARE(answers.messages.size(), 3);
}

void TestUnlock::cancelRunsNothing() {
    UnlockWindows w;
    w.add({m_pdfs->pdf("aes-128.pdf")});
    CurrentPdf = nullptr;
    PasswordAnswers answers(w.password.get(), {});
    w.click(0);
    QCOMPARE(answers.messages.size(), 1);
    QCOMPARE(CurrentPdf, nullptr);
    QCOMPARE(w.states(), QStringList{StateProtected});
    QCOMPARE(w.cell(0, ColumnStatus), QStringLiteral("The file is password protected."));
}

void TestUnlock::oddPasswordUnlocks() {
    UnlockWindows w;
    const QString password = QStringLiteral("a b\"ä ö\\");
    const QString target = m_pdfs->root() + "/odd password.pdf";
    QProcess qpdf;
    qpdf.start("qpdf", {"--password-mode=unicode", "--encrypt", password, "owner", "256", "--",
                        m_pdfs->pdf("three.pdf"), target});
    QVERIFY(qpdf.waitForFinished(60000) && qpdf.exitCode() == 0);
    w.add({target});
    QCOMPARE(w.states(), QStringList{StateProtected});
    PasswordAnswers answers(w.password.get(), {"a b", password});
    w.click(0);
    QCOMPARE(answers.messages.size(), 2);
    QCOMPARE(w.states(), QStringList{StateUnprotected});
    QCOMPARE(w.cell(0, ColumnPages), QStringLiteral("3"));
}

void TestUnlock::otherStatesOpenNothing() {
    UnlockWindows w;
    w.listed({StateTrue, StateFalse, StateUnprotected});
    PasswordAnswers answers(w.password.get(), {});
    for (int row = 0; row < 3; ++row)
        w.click(row);
    QCOMPARE(answers.messages.size(), 0);
}

void TestUnlock::unlockErrorBox() {
    UnlockWindows w;
    w.add({m_pdfs->pdf("aes-256.pdf")});
    QTemporaryDir empty;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(empty.path()));
    PasswordAnswers answers(w.password.get(), {"secret"});
    w.click(0);
    qputenv("PATH", path);
    // The box came, the command went on and offered the window again.
    QCOMPARE(w.recorder.texts(), QStringList{"Error: No such file or directory"});
    QCOMPARE(answers.messages.size(), 2);
    QCOMPARE(w.states(), QStringList{StateProtected});
    QVERIFY(!TProcThread::AnyAtWork());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestUnlock::helpMenu() {
    UnlockWindows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    // Moved, with room on the screen for the whole menu below the button.
    w.main->move(-60, 9);
    w.main->sBitBtn6Click();
    QTRY_VERIFY(w.main->pm1->isVisible());
    QCOMPARE(w.main->pm1->pos(),
             w.main->sBitBtn6->mapToGlobal(QPoint(0, w.main->sBitBtn6->height())));
    w.main->pm1->hide();

    w.main->Help1->trigger();
    w.main->Support1->trigger();
    w.main->ProductPage1->trigger();
    QCOMPARE(w.recorder.opened, QStringList({ShippedUrl("pixolund-help.html"),
                                             ShippedUrl("pixolund-help.html#support"),
                                             ShippedUrl("pixolund-help.html#product")}));
}

void TestUnlock::aboutWindow() {
    UnlockWindows w;
    QPoint placed;
    QStringList texts;
    Answerer answer(w.about.get(), [&] {
        placed = w.about->pos();
        const QList<QLabel*> labels = {w.about->sLabel2, w.about->sLabel3, w.about->sLabel5,
                                       w.about->sLabel7, w.about->sLabel9, w.about->sLabel1};
        for (QLabel* label : labels)
            texts << label->text();
        QVERIFY(!w.about->sLabel2->font().bold());
        w.about->sLabel5Click();
        w.about->sLabel7Click();
        w.about->sLabel9Click();
        w.about->sButton1->click();
    });
    w.main->About1->trigger();
    QCOMPARE(answer.shown, 1);
    // A main window 5 pixels narrower and lower than the About window (outer sizes): the
    // halves are -2, truncated toward zero, not -3.
    const QSize frame = w.main->frameGeometry().size() - w.main->size();
    w.main->setFixedSize(w.about->frameGeometry().size() - frame - QSize(5, 5));
    w.main->move(100, 80);
    texts.clear();
    w.recorder.opened.clear();
    w.main->About1->trigger();
    QCOMPARE(answer.shown, 2);
    const QRect main = w.main->frameGeometry();
    const QRect about = w.about->frameGeometry();
    QCOMPARE(main.width() - about.width(), -5);
    QCOMPARE(main.height() - about.height(), -5);
    QCOMPARE(placed, QPoint(main.left() - 2, main.top() - 2));
    QCOMPARE(texts, QStringList({"Pixolund", "Version: 1.0.0", "pixolund-help.html",
                                 "pixolund-help.html#support", "support@pixolund.example",
                                 "Copyright (C) 2026 The Pixolund developers"}));
    QCOMPARE(w.recorder.opened, QStringList({ShippedUrl("pixolund-help.html"),
                                             ShippedUrl("pixolund-help.html#support"),
                                             "mailto:support@pixolund.example"}));
    // Shown again, it is filled and placed anew.
    w.main->move(300, 200);
    w.main->About1->trigger();
    QCOMPARE(answer.shown, 3);
    QCOMPARE(placed, QPoint(w.main->frameGeometry().left() - 2, w.main->frameGeometry().top() - 2));
}

QTEST_MAIN(TestUnlock)
#include "tst_unlock.moc"
