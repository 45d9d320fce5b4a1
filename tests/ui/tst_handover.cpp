// Files that reach the window from outside: a later start's command line handed over to the
// running window (two processes), and drops of files and folders on the list.

#include "fixtures.h"

#include "platform/handover.h"
#include "platform/instance.h"
#include "ui/filelist.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QProcess>
#include <QTest>

namespace {

const QString Title = QStringLiteral("Pixolund");

QMimeData* Urls(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// A folder of PDFs (and a stray text file): b9 before b10, then the subfolder.
QString MakeFolder(const PdfFixtures& pdfs) {
    pdfs.copy("three.pdf", "drop/b10.pdf");
    pdfs.copy("twelve.pdf", "drop/b9.pdf");
    pdfs.copy("three.pdf", "drop/deeper/a.PDF");
    pdfs.copy("three.pdf", "drop/notes.txt");
    return pdfs.root() + "/drop";
}

} // namespace

class TestHandover : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        m_pdfs = std::make_unique<PdfFixtures>();
        QVERIFY(m_pdfs->ok());
    }

    // This test is the running instance; the real program, started as a user would with files
    // and a folder, hands them over and ends at once.
    void secondStartHandsOver() {
        Windows w;
        const platform::SingleInstance lock(Title);
        QVERIFY(lock.isFirst());
        platform::HandoverServer server(platform::HandoverSocketPath(lock.path()));
        QVERIFY(server.isListening());
        connect(&server, &platform::HandoverServer::received, w.main.get(),
                &TMainForm::AddFilesFromOutside);
        const QString folder = MakeFolder(*m_pdfs);

        QProcess second;
        second.setWorkingDirectory(m_pdfs->root());
        second.start(PIXOLUND_BIN_DIR "/pixolund", {"pdf/three.pdf", folder, "gone.pdf"});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(w.main->ListView1->rowCount(), 4);
        QCOMPARE(w.column(ColumnFileName),
                 QStringList({"three.pdf", "b9.pdf", "b10.pdf", "a.PDF"}));
        QCOMPARE(w.column(ColumnPages), QStringList({"3", "12", "3", "3"}));
        QCOMPARE(w.recorder.texts(), QStringList{m_pdfs->root() + "/gone.pdf cannot be found."});

        // Without files a second start only brings the window forward.
        second.start(PIXOLUND_BIN_DIR "/pixolund", {});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QTest::qWait(200);
        QCOMPARE(w.main->ListView1->rowCount(), 4);
        QCOMPARE(w.recorder.boxes.size(), 1);
    }

    void drop() {
        Windows w;
        w.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
        QWidget* viewport = w.main->ListView1->viewport();
        const QString folder = MakeFolder(*m_pdfs);
        const QPoint at(40, 40);

        // Nothing usable: refused while dragging, the list keeps its look.
        std::unique_ptr<QMimeData> text(Urls({folder + "/notes.txt"}));
        QDragEnterEvent refused(at, Qt::CopyAction, text.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &refused);
        QVERIFY(!refused.isAccepted());
        QVERIFY(w.main->ListView1->styleSheet().isEmpty());

        std::unique_ptr<QMimeData> data(Urls({folder, m_pdfs->pdf("aes-256.pdf")}));
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QVERIFY(!w.main->ListView1->styleSheet().isEmpty()); // shows it will take the drop
        QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(w.main->ListView1->styleSheet().isEmpty());
        QTRY_COMPARE(w.main->ListView1->rowCount(), 4);
        QCOMPARE(w.column(ColumnFileName),
                 QStringList({"b9.pdf", "b10.pdf", "a.PDF", "aes-256.pdf"}));
        QCOMPARE(w.states().last(), StateProtected);
        QVERIFY(w.recorder.boxes.isEmpty());
    }

private:
    std::unique_ptr<PdfFixtures> m_pdfs;
};

QTEST_MAIN(TestHandover)
#include "tst_handover.moc"
