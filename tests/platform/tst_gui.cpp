// The widget side: real message boxes (closed by the test) and the desktop hand-off (recorded,
// never launched).
#include "platform/folders.h"
#include "platform/msgbox.h"
#include "platform/shell.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

using namespace platform;

Q_DECLARE_METATYPE(platform::BoxKind)
Q_DECLARE_METATYPE(platform::BoxAnswer)

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

// Waits for the next modal message box, notes what it shows and clicks `button` on it.
void answerNextBox(QMessageBox::StandardButton button, SeenBox* seen) {
    QTimer::singleShot(0, qApp, [button, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            answerNextBox(button, seen);
            return;
        }
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        seen->format = box->textFormat();
        box->button(button)->click();
    });
}

} // namespace

class GuiTest : public QObject {
    Q_OBJECT

private slots:
    void init() { InstallQtMessageBoxes(); }
    void cleanup() {
        SetMessageBoxHandler({});
        SetShellOpenHandler({});
    }

    void qtBoxes_data();
    void qtBoxes();
    void workerGetsRealBox();
    void shellUrl_data();
    void shellUrl();
    void shippedTarget_data();
    void shippedTarget();
    void shellOpenGoesToRecorder();
};

void GuiTest::qtBoxes_data() {
    QTest::addColumn<BoxKind>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("click");
    QTest::addColumn<BoxAnswer>("answer");
    QTest::newRow("information") << BoxKind::Information << int(QMessageBox::Information)
                                 << int(QMessageBox::Ok) << int(QMessageBox::Ok) << BoxAnswer::Ok;
    QTest::newRow("error") << BoxKind::Error << int(QMessageBox::Critical) << int(QMessageBox::Ok)
                           << int(QMessageBox::Ok) << BoxAnswer::Ok;
    QTest::newRow("plain") << BoxKind::Plain << int(QMessageBox::NoIcon) << int(QMessageBox::Ok)
                           << int(QMessageBox::Ok) << BoxAnswer::Ok;
    const int yesNo = int(QMessageBox::Yes | QMessageBox::No);
    QTest::newRow("warning yes") << BoxKind::Warning << int(QMessageBox::Warning) << yesNo
                                 << int(QMessageBox::Yes) << BoxAnswer::Yes;
    QTest::newRow("warning no") << BoxKind::Warning << int(QMessageBox::Warning) << yesNo
                                << int(QMessageBox::No) << BoxAnswer::No;
}

void GuiTest::qtBoxes() {
    QFETCH(BoxKind, kind);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(int, click);
    QFETCH(BoxAnswer, answer);
    SeenBox seen;
    answerNextBox(QMessageBox::StandardButton(click), &seen);
    QCOMPARE(MessageBox(kind, "Error: <b>a.pdf</b>"), answer);
    QCOMPARE(seen.title, QString("Pixolund"));
    QCOMPARE(seen.text, QString("Error: <b>a.pdf</b>"));
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(int(seen.buttons), buttons);
    QCOMPARE(seen.format, Qt::PlainText);
}

void GuiTest::workerGetsRealBox() {
    SeenBox seen;
    answerNextBox(QMessageBox::Yes, &seen);
    std::atomic<BoxAnswer> answer{BoxAnswer::No};
    std::unique_ptr<QThread> worker(
        QThread::create([&] { answer = MessageBox(BoxKind::Warning, "Stop?"); }));
    worker->start();
    WaitForThreadServicingGui(worker.get());
    QCOMPARE(answer.load(), BoxAnswer::Yes);
    QCOMPARE(seen.text, QString("Stop?"));
}

void GuiTest::shellUrl_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QUrl>("url");
    QTest::newRow("web page") << "https://pixolund.example/support"
                              << QUrl("https://pixolund.example/support");
    QTest::newRow("mail") << "mailto:support@pixolund.example"
                          << QUrl("mailto:support@pixolund.example");
    QTest::newRow("file url") << "file:///tmp/x" << QUrl("file:///tmp/x");
    QTest::newRow("folder") << "/tmp/out dir/" << QUrl::fromLocalFile("/tmp/out dir/");
    QTest::newRow("odd file name") << "/tmp/a#1?.html" << QUrl::fromLocalFile("/tmp/a#1?.html");
    QTest::newRow("relative") << "help.html"
                              << QUrl::fromLocalFile(QDir::currentPath() + "/help.html");
}

void GuiTest::shellUrl() {
    QFETCH(QString, target);
    QFETCH(QUrl, url);
    QCOMPARE(ShellUrl(target), url);
}

void GuiTest::shippedTarget_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("resolved");
    const QString folder = QUrl::fromLocalFile(ProgramFolder()).toString();
    QTest::newRow("file beside the program") << "help.html" << folder + "help.html";
    QTest::newRow("section") << "help.html#support" << folder + "help.html#support";
    QTest::newRow("blank in name") << "my help.html#a b" << folder + "my%20help.html#a%20b";
    QTest::newRow("web page") << "https://x.example/s"
                              << "https://x.example/s";
    QTest::newRow("mail") << "mailto:a@b.example"
                          << "mailto:a@b.example";
    QTest::newRow("absolute") << "/tmp/a#b"
                              << "/tmp/a#b";
}

void GuiTest::shippedTarget() {
    QFETCH(QString, target);
    QFETCH(QString, resolved);
    QCOMPARE(ShippedTarget(target), resolved);
    // What the desktop is handed opens the same file and section.
    if (resolved.startsWith("file:"))
        QCOMPARE(ShellUrl(resolved).fragment(), QUrl(resolved).fragment());
}

void GuiTest::shellOpenGoesToRecorder() {
    QStringList opened;
    SetShellOpenHandler([&](const QString& target) { opened << target; });
    ShellOpen("/tmp/out/");
    ShellOpen("mailto:support@pixolund.example");
    QCOMPARE(opened, (QStringList{"/tmp/out/", "mailto:support@pixolund.example"}));
}

QTEST_MAIN(GuiTest)
#include "tst_gui.moc"
