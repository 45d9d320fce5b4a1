// Files that reach the window from outside: a later start's command line handed over to the
// running window (the real program against this test's hand-over server), and drops of files
// and folders on the list.

#include "fixtures.h"

#include "platform/handover.h"
#include "platform/instance.h"
#include "ui/filelist.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

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

QString Program() {
    return QStringLiteral(PIXOLUND_BIN_DIR "/pixolund");
}

// Waits for a later start with the event loop running: the instance that has to answer it is
// this test.
bool Finished(QProcess& process) {
    const QDeadlineTimer deadline(60000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(20);
    return process.state() == QProcess::NotRunning;
}

// A message as a later start frames it: magic, count, then length and bytes per path.
QByteArray Number(quint32 number) {
    char big[4];
    qToBigEndian(number, big);
    return QByteArray(big, 4);
}
QByteArray Message(const QList<QByteArray>& names) {
    QByteArray bytes = "PXH1" + Number(quint32(names.size()));
    for (const QByteArray& name : names)
        bytes += Number(quint32(name.size())) + name;
    return bytes;
}

// Sends raw bytes and returns what came back before the server closed the connection.
QByteArray Exchange(const QString& socketPath, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(5000))
        return "not connected";
    socket.write(bytes);
    const QDeadlineTimer deadline(30000);
    while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired())
        QTest::qWait(10);
    return socket.state() == QLocalSocket::UnconnectedState ? socket.readAll() : "still open";
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
    // and a folder, hands them over and ends at once, reporting success only once they were
    // taken.
    void secondStartHandsOver() {
        Windows w;
        const platform::SingleInstance lock(Title);
        QVERIFY(lock.isFirst());
        platform::HandoverServer server(platform::HandoverSocketPath(lock.path()));
        QVERIFY(server.isListening());
        connect(&server, &platform::HandoverServer::received, w.main.get(),
                &TMainForm::AddFilesFromOutside);
        QSignalSpy received(&server, &platform::HandoverServer::received);
        const QString folder = MakeFolder(*m_pdfs);

        QProcess second;
        second.setWorkingDirectory(m_pdfs->root());
        second.start(Program(), {"pdf/three.pdf", folder, "gone.pdf"});
        QVERIFY(Finished(second));
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(w.main->ListView1->rowCount(), 4);
        QCOMPARE(w.column(ColumnFileName),
                 QStringList({"three.pdf", "b9.pdf", "b10.pdf", "a.PDF"}));
        QCOMPARE(w.column(ColumnPages), QStringList({"3", "12", "3", "3"}));
        QCOMPARE(w.recorder.texts(), QStringList{m_pdfs->root() + "/gone.pdf cannot be found."});

        // Without files a second start only brings the window forward: still a message the
        // window must have taken.
        second.start(Program(), {});
        QVERIFY(Finished(second));
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received.last().first().toStringList(), QStringList());
        QCOMPARE(w.main->ListView1->rowCount(), 4);
        QCOMPARE(w.recorder.boxes.size(), 1);
    }

    // Every character a file name may hold arrives as it was given.
    void namesArriveWhole() {
        Windows w;
        const platform::SingleInstance lock(Title);
        platform::HandoverServer server(platform::HandoverSocketPath(lock.path()));
        connect(&server, &platform::HandoverServer::received, w.main.get(),
                &TMainForm::AddFilesFromOutside);
        QSignalSpy received(&server, &platform::HandoverServer::received);
        const QStringList names = {"line\nbreak.pdf", "tab\tand \"quote\" 'too'.pdf",
                                   "Grüße 東京 ñ.pdf", " leading blank.pdf"};
        QStringList paths;
        for (const QString& name : names)
            paths << m_pdfs->copy("three.pdf", "names/" + name);

        QProcess second;
        second.start(Program(), paths);
        QVERIFY(Finished(second));
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toStringList(), paths);
        QTRY_COMPARE(w.main->ListView1->rowCount(), names.size());
        QCOMPARE(w.column(ColumnFileName), names);
        QCOMPARE(w.column(ColumnPages), QStringList(names.size(), "3"));
        QVERIFY(w.recorder.boxes.isEmpty());
    }

    // A second start that comes while the first one still starts up (lock held, not yet
    // listening, say behind a message box) waits for it rather than losing its files.
    void secondStartWaitsForStartingInstance() {
        Windows w;
        const platform::SingleInstance lock(Title);
        const QString pdf = m_pdfs->pdf("three.pdf");

        QProcess second;
        second.start(Program(), {pdf});
        QTest::qWait(1500);
        QCOMPARE(second.state(), QProcess::Running);

        platform::HandoverServer server(platform::HandoverSocketPath(lock.path()));
        QVERIFY(server.isListening());
        connect(&server, &platform::HandoverServer::received, w.main.get(),
                &TMainForm::AddFilesFromOutside);
        QVERIFY(Finished(second));
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(w.column(ColumnFileName), QStringList{"three.pdf"});
    }

    void secondStartFails_data() {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nobody answers") << false << 1 << "no answer within 1.5 s";
        QTest::newRow("too many files")
            << true << 10001
            << "more files than one start can hand over (at most 10000 paths, 1024 KiB)";
    }

    // The exit status says whether the files were taken, and the reason goes to standard error.
    void secondStartFails() {
        QFETCH(bool, listening);
        QFETCH(int, files);
        QFETCH(QString, reason);
        const Sandbox sandbox;
        const platform::SingleInstance lock(Title);
        QVERIFY(lock.isFirst());
        std::unique_ptr<platform::HandoverServer> server;
        int received = 0;
        if (listening) {
            server = std::make_unique<platform::HandoverServer>(
                platform::HandoverSocketPath(lock.path()));
            QVERIFY(server->isListening());
            connect(server.get(), &platform::HandoverServer::received, this,
                    [&received] { ++received; });
        }

        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PX_HANDOVER_WAIT_MS", "1500");
        second.setProcessEnvironment(environment);
        second.start(Program(), QStringList(files, m_pdfs->pdf("three.pdf")));
        QVERIFY(Finished(second));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(second.readAllStandardError()),
                 "Pixolund is running but did not take the files: " + reason + "\n");
        QCoreApplication::processEvents();
        QCOMPARE(received, 0);
    }

    // A second start waiting for an answer gives up as soon as the lock's holder has ended,
    // rather than after its whole time limit.
    void secondStartNoticesHolderEnded() {
        const Sandbox sandbox;
        const QString lockPath = platform::SingleInstance::lockPath(Title);
        QProcess holder;
        holder.start("flock", {"--no-fork", lockPath, "sh", "-c", "echo held; exec sleep 60"});
        QVERIFY(holder.waitForReadyRead(30000));
        // Listens for the holder but never answers: shows when the second start is waiting.
        QLocalServer mute;
        QVERIFY(mute.listen(platform::HandoverSocketPath(lockPath)));

        QProcess second;
        second.start(Program(), {m_pdfs->pdf("three.pdf")});
        QVERIFY(mute.waitForNewConnection(30000));
        holder.kill();
        QVERIFY(holder.waitForFinished());
        // As the holder's end would: no more listening, and the open connection closed.
        std::unique_ptr<QLocalSocket> waiting(mute.nextPendingConnection());
        mute.close();
        waiting.reset();
        QVERIFY(Finished(second));
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(second.readAllStandardError()),
                 "Pixolund is running but did not take the files: it ended without answering\n");
    }

    // Idle connections, however many, neither close the server nor keep a later start out:
    // those beyond the limit are closed at once, the others at the time-out.
    void idleConnectionsDoNotLockOut() {
        Windows w;
        const platform::SingleInstance lock(Title);
        const QString socketPath = platform::HandoverSocketPath(lock.path());
        platform::HandoverServer server(socketPath);
        server.setTimeout(1000);
        connect(&server, &platform::HandoverServer::received, w.main.get(),
                &TMainForm::AddFilesFromOutside);

        constexpr int idle = 64;
        std::vector<std::unique_ptr<QLocalSocket>> sockets;
        QList<int> closedInOrder;
        int connected = 0;
        for (int i = 0; i < idle; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            connect(sockets.back().get(), &QLocalSocket::connected, this,
                    [&connected] { ++connected; });
            connect(sockets.back().get(), &QLocalSocket::disconnected, this,
                    [&closedInOrder, i] { closedInOrder << i; });
            sockets.back()->connectToServer(socketPath);
        }
        QTRY_COMPARE(connected, idle);

        QProcess second;
        second.start(Program(), {m_pdfs->pdf("three.pdf")});
        QVERIFY(Finished(second));
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(w.column(ColumnFileName), QStringList{"three.pdf"});

        QTRY_COMPARE(closedInOrder.size(), idle);
        // The first ones in were served until their time ran out, so they were closed last.
        QList<int> served = closedInOrder.mid(idle - platform::HandoverServer::MaxConnections);
        std::sort(served.begin(), served.end());
        QList<int> first(platform::HandoverServer::MaxConnections);
        std::iota(first.begin(), first.end(), 0);
        QCOMPARE(served, first);
        QVERIFY(server.isListening());
    }

    void hostileMessages_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not our format") << QByteArray("/home/a.pdf\n");
        QTest::newRow("too many paths") << QByteArray("PXH1" + Number(10001));
        QTest::newRow("one path longer than a message")
            << QByteArray("PXH1" + Number(1) + Number(2u << 20));
        QTest::newRow("empty name") << Message({"/a.pdf", ""});
        QList<QByteArray> many(8000, QByteArray(200, 'x'));
        QTest::newRow("more than a message holds") << Message(many);
        QTest::newRow("never complete") << Message({"/a.pdf", "/b.pdf"}).chopped(3);
    }

    // A message that is not a later start's is refused without an answer and adds nothing; the
    // server goes on serving.
    void hostileMessages() {
        QFETCH(QByteArray, bytes);
        const Sandbox sandbox;
        const platform::SingleInstance lock(Title);
        const QString socketPath = platform::HandoverSocketPath(lock.path());
        platform::HandoverServer server(socketPath);
        server.setTimeout(500);
        QSignalSpy received(&server, &platform::HandoverServer::received);

        QCOMPARE(Exchange(socketPath, bytes), QByteArray());
        QCoreApplication::processEvents();
        QCOMPARE(received.size(), 0);

        QCOMPARE(Exchange(socketPath, Message({"/a\nb.pdf", "/c.pdf"})), QByteArray("\x06"));
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toStringList(), QStringList({"/a\nb.pdf", "/c.pdf"}));
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
