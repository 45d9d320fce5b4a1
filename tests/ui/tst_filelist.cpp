// The file list: adding files with the real information tool on real PDFs, the probe window,
// the rows with their pictures and colours, the balloon tip, hover hints, Remove and Clear.

#include "fixtures.h"
#include "testsupport.h"

#include "engine/passes.h"
#include "engine/pdffile.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "ui/balloontip.h"
#include "ui/filelist.h"
#include "ui/filesize.h"
#include "ui/loadfileform.h"
#include "ui/mainform.h"
#include "ui/openfiles.h"
#include "ui/passwordinputform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>

#include <memory>

class TestFileList : public QObject {
    Q_OBJECT

private slots:
    void sizeText_data();
    void sizeText();
    void addProbesAndLists();
    void refusedChoices();
    void probeProgress();
    void hangingToolIsCutOff();
    void probeErrorClosesWindow();
    void removeAndClear();
    void balloonCloses_data();
    void balloonCloses();
    void hoverAndStatusLink();
    void markupNamesShowAsTyped();
    void toolbarTakesFocus();
};

void TestFileList::sizeText_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "C"
                          << "0 bytes";
    QTest::newRow("one") << qint64(1) << "C"
                         << "1 byte";
    QTest::newRow("1023") << qint64(1023) << "C"
                          << "1023 bytes";
    QTest::newRow("1024") << qint64(1024) << "C"
                          << "1.00 KB ";
    QTest::newRow("1536") << qint64(1536) << "C"
                          << "1.50 KB ";
    QTest::newRow("1536 comma") << qint64(1536) << "de_DE"
                                << "1,50 KB ";
    QTest::newRow("just under 1 MB") << qint64(1048575) << "en_US"
                                     << "1024.00 KB ";
    QTest::newRow("1 MB") << qint64(1048576) << "C"
                          << "1.00 MB ";
    QTest::newRow("1 GB") << qint64(1073741824) << "C"
                          << "1.00 GB ";
    QTest::newRow("5 TB in GB") << qint64(5) * 1099511627776 << "en_US"
                                << "5120.00 GB ";
    QTest::newRow("not found") << qint64(-1) << "C"
                               << "";
}

void TestFileList::sizeText() {
    QFETCH(qint64, size);
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(FormatFileSize(size), text);
    QLocale::setDefault(QLocale::c());
}

void TestFileList::addProbesAndLists() {
    PdfFixtures pdfs;
    QVERIFY(pdfs.ok());
    Windows w;
    const QString odd = pdfs.copy("three.pdf", "odd names/blank ä \"q\".pdf");
    const QStringList chosen = {pdfs.pdf("three.pdf"),
                                pdfs.pdf("aes-256.pdf"),
                                pdfs.pdf("damaged.pdf"),
                                pdfs.pdf("not-a-pdf.pdf"),
                                odd,
                                pdfs.pdf("twelve.pdf")};
    w.add(chosen);

    QVERIFY(w.recorder.boxes.isEmpty());
    QVERIFY(!w.probe->isVisible());
    QCOMPARE(w.column(ColumnFileName),
             QStringList({"three.pdf", "aes-256.pdf", "damaged.pdf", "not-a-pdf.pdf",
                          "blank ä \"q\".pdf", "twelve.pdf"}));
    QCOMPARE(w.column(ColumnPages), QStringList({"3", "", "", "", "3", "12"}));
    QCOMPARE(w.column(ColumnStatus),
             QStringList({"", "The file is password protected.", "File Format is not Valid.",
                          "File Format is not Valid.", "", ""}));
    QCOMPARE(w.states(), QStringList({StateTrue, StateProtected, StateFalse, StateFalse, StateTrue,
                                      StateTrue}));
    QCOMPARE(w.cell(0, ColumnSize), FormatFileSize(QFileInfo(chosen[0]).size()));
    for (int i = 0; i < PdfFileList->count(); ++i)
        QVERIFY(PdfFileList->at(i)->Listed());
    // The probe window went to 100 % and named a file on the way.
    QCOMPARE(w.probe->percent->value(), 100);
    QCOMPARE(w.probe->windowTitle(), QStringLiteral("6/6"));

    // The balloon points at the first protected row.
    TBalloonTip* tip = w.main->balloonTip();
    QVERIFY(tip != nullptr);
    QCOMPARE(tip->title(), QStringLiteral("Information"));
    QCOMPARE(tip->text(), QStringLiteral("The file is password protected, click to enter the "
                                         "password and unlock it."));
    QTableWidget* list = w.main->ListView1;
    const QPoint corner = list->mapFromGlobal(tip->stemPoint()) - QPoint(15, 20);
    QCOMPARE(list->viewport()->mapFrom(list, corner),
             list->visualRect(list->model()->index(1, 0)).topLeft());

    // A second pass lists only its own file; the balloon still points at the earlier protected
    // file.
    w.add({pdfs.pdf("aes-128.pdf")});
    QCOMPARE(list->rowCount(), 7);
    QCOMPARE(w.cell(6, ColumnFileName), QStringLiteral("aes-128.pdf"));
    QVERIFY(w.main->balloonTip() != nullptr);
    QCOMPARE(list->viewport()->mapFrom(
                 list, list->mapFromGlobal(w.main->balloonTip()->stemPoint()) - QPoint(15, 20)),
             list->visualRect(list->model()->index(1, 0)).topLeft());
}

void TestFileList::refusedChoices() {
    PdfFixtures pdfs;
    QVERIFY(pdfs.ok());
    Windows w;
    QStringList chosen;
    for (const char* name : {"a.pdf", "b.txt", "c.PDF", "d.Pdf"})
        chosen << pdfs.copy("three.pdf", QStringLiteral("choice/") + name);
    w.add(chosen);
    QCOMPARE(w.recorder.texts(),
             QStringList{"b.txt is not a valid PDF file.\rd.Pdf is not a valid PDF file."});
    QCOMPARE(w.recorder.boxes.first().kind, platform::BoxKind::Information);
    QCOMPARE(w.column(ColumnFileName), QStringList({"a.pdf", "c.PDF"}));

    // Already listed, repeated within one choice, same name elsewhere, other letter case,
    // a name whose extension is not the last one.
    w.recorder.boxes.clear();
    const QString elsewhere = pdfs.copy("three.pdf", "other/a.pdf");
    const QString upper = pdfs.copy("three.pdf", "CHOICE/a.pdf");
    const QString bak = pdfs.copy("three.pdf", "choice/report.pdf.bak");
    w.add({chosen[0], elsewhere, elsewhere, upper, bak});
    QCOMPARE(w.recorder.texts(), QStringList{"a.pdf is already in the list.\ra.pdf is already in "
                                             "the list.\rreport.pdf.bak is not a valid PDF file."});
    QCOMPARE(w.column(ColumnFileName), QStringList({"a.pdf", "c.PDF", "a.pdf", "a.pdf"}));

    // Everything refused: the box is the only effect. Cancelling changes nothing at all.
    w.recorder.boxes.clear();
    w.add({chosen[1]});
    QCOMPARE(w.recorder.texts(), QStringList{"b.txt is not a valid PDF file."});
    QCOMPARE(PdfFileList->count(), 4);
    w.recorder.boxes.clear();
    w.add({});
    QVERIFY(w.recorder.boxes.isEmpty());
    QCOMPARE(PdfFileList->count(), 4);
}

void TestFileList::probeProgress() {
    Windows w;
    w.listed({StateTrue}); // one listed entry does not count towards the total
    for (int i = 0; i < 3; ++i)
        PdfFileList->append(std::make_unique<TPdffile>(QStringLiteral("/in/new%1.pdf").arg(i),
                                                       QStringLiteral("new%1.pdf").arg(i), "", "",
                                                       "", false));
    const struct {
        int done;
        const char* caption;
        int bar;
    } steps[] = {{1, "1/3", 33}, {2, "2/3", 67}, {3, "3/3", 100}};
    for (const auto& step : steps) {
        w.main->setProgress(platform::WindowMessage(WM_SETPROGRESS, step.done,
                                                    platform::PackProgress(step.done, 100)));
        QCOMPARE(w.probe->windowTitle(), QString::fromLatin1(step.caption));
        QCOMPARE(w.probe->percent->value(), step.bar);
        QCOMPARE(w.probe->fname->text(), QStringLiteral("/in/new%1.pdf").arg(step.done - 1));
    }
}

void TestFileList::hangingToolIsCutOff() {
    PdfFixtures pdfs;
    QVERIFY(pdfs.ok());
    // An information tool that never answers.
    const QString folder = pdfs.root() + "/hang";
    QDir().mkpath(folder);
    WriteAll(folder + "/pi", "#!/bin/sh\nexec sleep 600\n");
    QFile::setPermissions(folder + "/pi", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder) + ':' + path);
    SetProbeTimeLimit(300);
    Windows w;
    QElapsedTimer clock;
    clock.start();
    w.add({pdfs.pdf("three.pdf"), pdfs.pdf("twelve.pdf")});
    const qint64 took = clock.elapsed();
    SetProbeTimeLimit(120000);
    qputenv("PATH", path);
    QVERIFY2(took < 30000, qPrintable(QString::number(took)));
    QCOMPARE(w.states(), QStringList({StateFalse, StateFalse}));
    QCOMPARE(w.column(ColumnStatus),
             QStringList({"File Format is not Valid.", "File Format is not Valid."}));
}

void TestFileList::probeErrorClosesWindow() {
    PdfFixtures pdfs;
    QVERIFY(pdfs.ok());
    Windows w;
    w.add({pdfs.pdf("three.pdf")});
    // No information tool anywhere: the pass ends with its error box before probing a file.
    QTemporaryDir empty;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(empty.path()));
    w.add({pdfs.pdf("twelve.pdf"), pdfs.pdf("aes-256.pdf")});
    qputenv("PATH", path);
    QVERIFY(!w.probe->isVisible());
    QCOMPARE(w.recorder.texts(), QStringList{"Error: No such file or directory"});
    // The unprobed files are taken out again, so they can be added once the tool is back.
    QCOMPARE(w.column(ColumnFileName), QStringList{"three.pdf"});
    QCOMPARE(PdfFileList->count(), 1);
    w.add({pdfs.pdf("twelve.pdf")});
    QCOMPARE(w.column(ColumnFileName), QStringList({"three.pdf", "twelve.pdf"}));
}

void TestFileList::removeAndClear() {
    Windows w;
    w.listed({StateTrue, StateProtected, StateTrue});
    QVERIFY(w.main->balloonTip() != nullptr);
    QTableWidget* list = w.main->ListView1;

    w.main->sBitBtn3Click(); // nothing selected
    QCOMPARE(list->rowCount(), 3);
    QVERIFY(w.main->balloonTip() == nullptr);

    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w.main->sBitBtn3Click();
    QCOMPARE(w.column(ColumnFileName), QStringList{"1.pdf"});
    QCOMPARE(PdfFileList->count(), 1);
    QCOMPARE(PdfFileList->at(0)->FileName(), QStringLiteral("1.pdf"));
    QVERIFY(w.main->sBitBtn3->isEnabled());

    w.main->sBitBtn4Click();
    QCOMPARE(list->rowCount(), 0);
    QCOMPARE(PdfFileList->count(), 0);
    w.main->sBitBtn4Click(); // on an empty list
    QCOMPARE(PdfFileList->count(), 0);
    QVERIFY(w.recorder.boxes.isEmpty());
}

void TestFileList::balloonCloses_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("scroll bar") << "scroll";
    QTest::newRow("keyboard scrolling") << "keys";
    QTest::newRow("main window moves") << "move";
    QTest::newRow("mouse wheel") << "wheel";
    QTest::newRow("close button") << "close";
    QTest::newRow("new balloon") << "replace";
}

void TestFileList::balloonCloses() {
    QFETCH(QString, how);
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    QStringList states(40, StateTrue);
    states[1] = StateProtected;
    w.listed(states);
    QPointer<TBalloonTip> tip = w.main->balloonTip();
    QVERIFY(tip);
    QTableWidget* list = w.main->ListView1;
    if (how == "scroll") {
        list->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    } else if (how == "keys") {
        list->setCurrentCell(0, 0);
        QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
    } else if (how == "move") {
        w.main->move(w.main->pos() + QPoint(30, 10));
    } else if (how == "wheel") {
        QWheelEvent wheel(QPointF(10, 10), list->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list->viewport(), &wheel);
    } else if (how == "close") {
        QToolButton* close = tip->findChild<QToolButton*>("BalloonClose");
        QVERIFY(close);
        close->click();
    } else {
        w.main->AddBalloonTip("other", 1, "", QPoint(5, 5));
        QVERIFY(w.main->balloonTip() != nullptr);
        QCOMPARE(w.main->balloonTip()->title(), QApplication::applicationName());
    }
    QTRY_VERIFY(!tip);
    if (how != "replace")
        QVERIFY(w.main->balloonTip() == nullptr);
}

// Names that look like markup (a Linux name cannot hold "/", so "<b>x<b>.pdf") are shown as typed:
// in the probe window, the password window and the hover hint.
void TestFileList::markupNamesShowAsTyped() {
    PdfFixtures pdfs;
    QVERIFY(pdfs.ok());
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    const QString bold = pdfs.copy("three.pdf", "<b>x<b>.pdf");
    const QString broken = pdfs.copy("aes-256.pdf", "a<br>b.pdf");
    w.add({bold, broken});
    QCOMPARE(w.column(ColumnFileName), QStringList({"<b>x<b>.pdf", "a<br>b.pdf"}));
    QCOMPARE(w.probe->fname->textFormat(), Qt::PlainText);
    QCOMPARE(w.probe->fname->text(), broken);

    w.main->CloseBalloonTip();
    QWidget* viewport = w.main->ListView1->viewport();
    QTest::mouseMove(viewport, w.centre(0, ColumnFileName));
    w.main->ListView1MouseMove(w.centre(0, ColumnFileName));
    QTRY_VERIFY(QToolTip::isVisible());
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    QCOMPARE(shown.toPlainText(), bold);

    TPasswordInputForm password;
    QCOMPARE(password.sLabel1->textFormat(), Qt::PlainText);
}

void TestFileList::hoverAndStatusLink() {
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    w.listed({StateTrue, StateProtected, StateTrue});
    TPdffile* converted = PdfFileList->at(2);
    converted->setOutputDir("/out/2");
    converted->setOutputName("2");
    converted->setStatusText("2");
    w.main->CloseBalloonTip();
    QWidget* viewport = w.main->ListView1->viewport();

    const struct {
        int row;
        int column;
        const char* hint;
        bool hand;
    } cases[] = {
        {0, ColumnFileName, "/in/0.pdf", false},
        {0, ColumnSize, "", false},
        {0, ColumnStatus, "", false},
        {1, ColumnPages, "", true},
        {1, ColumnFileName, "/in/1.pdf", true},
        {2, ColumnStatus, "/out/2", true},
        {2, ColumnPages, "", false},
    };
    for (const auto& c : cases) {
        QTest::mouseMove(viewport, w.centre(c.row, c.column));
        w.main->ListView1MouseMove(w.centre(c.row, c.column));
        const QString where = QStringLiteral("row %1 column %2").arg(c.row).arg(c.column);
        QTRY_COMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), QString(c.hint));
        QVERIFY2((viewport->cursor().shape() == Qt::PointingHandCursor) == c.hand,
                 qPrintable(where));
    }
    // Below the last row: no hint, the arrow.
    w.main->ListView1MouseMove(QPoint(10, viewport->height() - 2));
    QTRY_VERIFY(!QToolTip::isVisible());
    QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);

    // A click on the converted Status cell opens its folder; other cells open nothing.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, w.centre(2, ColumnPages));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, w.centre(0, ColumnStatus));
    QVERIFY(w.recorder.opened.isEmpty());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, w.centre(2, ColumnStatus));
    QCOMPARE(w.recorder.opened, QStringList{"/out/2"});
}

void TestFileList::toolbarTakesFocus() {
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    w.listed({StateTrue});
    w.main->txtDpi->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), w.main->txtDpi);
    w.main->txtDpi->setText("0072");
    // The number box is corrected before Clear acts.
    QTest::mouseClick(w.main->sBitBtn4, Qt::LeftButton);
    QCOMPARE(w.main->txtDpi->text(), QStringLiteral("72"));
    QVERIFY(SettingsLines().contains("Dpi=72"));
    QCOMPARE(PdfFileList->count(), 0);
}

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
