// Conversion from the main window, end to end: the real information tool, the real rendering
// package unpacked into the working folder, real PDFs; Start, Stop, the finished window, the
// progress bar over the Status cell, and closing in the middle of a long file.

#include "fixtures.h"

#include "engine/conversionoptions.h"
#include "engine/procthread.h"
#include "engine/windowevents.h"
#include "ui/filelist.h"
#include "ui/infoform.h"
#include "ui/spinedit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Answers the "Conversion finished!" window whenever it shows, with Open Folder or Close.
class FinishedWindowAnswer : public QObject {
public:
    FinishedWindowAnswer(TInfoForm* form, bool openFolder) : m_form(form) {
        connect(&m_timer, &QTimer::timeout, this, [this, openFolder] {
            if (!m_form->isVisible())
                return;
            ++shown;
            (openFolder ? m_form->sBitBtn1 : m_form->sButton1)->click();
        });
        m_timer.start(30);
    }
    int shown = 0;

private:
    TInfoForm* m_form;
    QTimer m_timer;
};

// Sees the worker's messages to the main window before it does; can swallow WM_TERMAPP so the
// test's own loop is not told to end.
class MessageWatch : public QObject {
public:
    explicit MessageWatch(QObject* window) { window->installEventFilter(this); }
    std::function<void(qintptr lParam)> onProgress;
    bool termApp = false;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* e) override {
        if (int(e->type()) == WM_TERMAPP) {
            termApp = true;
            return true;
        }
        if (int(e->type()) == WM_SETPROGRESSINLISTVIEW && onProgress)
            onProgress(static_cast<platform::WindowMessage*>(e)->lParam());
        return false;
    }
};

// Image files (no folders, no temporary names) below a folder, by relative path.
QStringList Images(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

void UseOutput(Windows& w, const QString& folder, const QString& format, const QString& dpi) {
    w.main->sEdit1->setText(folder);
    w.main->cmbFormat->setCurrentIndex(w.main->cmbFormat->findText(format));
    w.main->txtDpi->setText(dpi);
}

bool WaitForIdle(Windows& w, int ms = 120000) {
    return QTest::qWaitFor([&] { return w.main->sBitBtn1->text() == StartCaption; }, ms);
}

} // namespace

class TestConvert : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void threeFiles_data();
    void threeFiles();
    void pageRanges_data();
    void pageRanges();
    void stopDuringSecondFile();
    void startRefused_data();
    void startRefused();
    void mistakesRefusedBeforeStart_data();
    void mistakesRefusedBeforeStart();
    void rowProgress();
    void failedFileGoesOn();
    void unlockedFileConverts();
    void closeDuringLongFile();

private:
    std::unique_ptr<PdfFixtures> m_pdfs;
};

void TestConvert::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    m_pdfs = std::make_unique<PdfFixtures>();
    QVERIFY(m_pdfs->ok());
}

void TestConvert::threeFiles_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("extension");
    for (const char* format : {"JPG", "BMP", "PNG", "GIF", "TIFF", "PCX", "TGA"})
        QTest::newRow(format) << format << QString::fromLatin1(format).toLower();
}

void TestConvert::threeFiles() {
    QFETCH(QString, format);
    QFETCH(QString, extension);
    Windows w;
    const QString odd = m_pdfs->copy("three.pdf", "odd/blank ä.pdf");
    w.add({m_pdfs->pdf("three.pdf"), m_pdfs->pdf("twelve.pdf"), m_pdfs->pdf("damaged.pdf"), odd});
    const QString out = w.sandbox.path("out");
    UseOutput(w, out, format, "36");
    const bool openFolder = format == "JPG";
    FinishedWindowAnswer answer(w.info.get(), openFolder);
    QSignalSpy titles(w.main.get(), &QWidget::windowTitleChanged);

    w.main->sBitBtn1Click();
    QCOMPARE(w.main->sBitBtn1->text(), StopCaption);
    QVERIFY(!w.main->sEdit1->isEnabled() && !w.main->sBitBtn3->isEnabled());
    QVERIFY(WaitForIdle(w));

    QCOMPARE(answer.shown, 1);
    QVERIFY(w.recorder.boxes.isEmpty());
    QStringList expected;
    for (int page = 1; page <= 3; ++page)
        expected << QStringLiteral("three/three-%1.%2").arg(page).arg(extension)
                 << QStringLiteral("blank ä/blank ä-%1.%2").arg(page).arg(extension);
    for (int page = 1; page <= 12; ++page)
        expected << QStringLiteral("twelve/twelve-%1.%2")
                        .arg(page, 2, 10, QLatin1Char('0'))
                        .arg(extension);
    expected.sort();
    QCOMPARE(Images(out), expected);
    QCOMPARE(w.column(ColumnStatus),
             QStringList({"three", "twelve", "File Format is not Valid.", "blank ä"}));
    QCOMPARE(PdfFileList->at(1)->OutputDir(), out + "/twelve");
    QCOMPARE(w.main->RowGauge(), -1);
    // The title told the file in hand of the three that convert, and is plain again.
    QStringList told;
    for (const QList<QVariant>& change : titles)
        told.append(change.at(0).toString().section(',', 0, 0));
    told.removeDuplicates();
    QCOMPARE(told, QStringList({"Pixolund - file 1 of 3", "Pixolund - file 2 of 3",
                                "Pixolund - file 3 of 3", "Pixolund"}));
    // Every control is back but the page boxes, as "All Pages" is chosen.
    QVERIFY(w.main->radAll->isChecked());
    QVERIFY(w.main->sEdit1->isEnabled() && w.main->radRange->isEnabled() &&
            w.main->sBitBtn3->isEnabled() && w.main->sBitBtn4->isEnabled());
    QVERIFY(!w.main->txtFirstPage->isEnabled() && !w.main->txtLastPage->isEnabled());
    QCOMPARE(w.recorder.opened, openFolder ? QStringList{out} : QStringList());

    // Starting again empties the Status cells before the run.
    w.main->sBitBtn1Click();
    QCOMPARE(w.cell(0, ColumnStatus), QString());
    QVERIFY(WaitForIdle(w));
}

void TestConvert::pageRanges_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QStringList>("pages");
    QTest::newRow("from 10") << "10"
                             << "" << QStringList({"10", "11", "12"});
    QTest::newRow("to 2") << ""
                          << "2" << QStringList({"01", "02"});
    QTest::newRow("5 to 6") << "5"
                            << "6" << QStringList({"05", "06"});
    QTest::newRow("beyond the end") << "11"
                                    << "40" << QStringList({"11", "12"});
}

void TestConvert::pageRanges() {
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QStringList, pages);
    Windows w;
    w.add({m_pdfs->pdf("twelve.pdf")});
    const QString out = w.sandbox.path("out");
    UseOutput(w, out, "PNG", "36");
    w.main->radRange->click();
    w.main->txtFirstPage->setText(first);
    w.main->txtLastPage->setText(last);
    FinishedWindowAnswer answer(w.info.get(), false);
    w.main->sBitBtn1Click();
    QVERIFY(WaitForIdle(w));
    QStringList expected;
    for (const QString& page : pages)
        expected << QStringLiteral("twelve/twelve-%1.png").arg(page);
    QCOMPARE(Images(out), expected);
    QVERIFY(w.recorder.boxes.isEmpty());
}

void TestConvert::stopDuringSecondFile() {
    Windows w;
    const QString slow = m_pdfs->eightWithHeavyFifth();
    w.add({m_pdfs->pdf("three.pdf"), slow, m_pdfs->pdf("twelve.pdf")});
    const QString out = w.sandbox.path("out");
    UseOutput(w, out, "PNG", "150");
    FinishedWindowAnswer answer(w.info.get(), false);
    MessageWatch watch(w.main.get());
    bool rendering = false;
    watch.onProgress = [&](qintptr lParam) {
        rendering = rendering || lParam == platform::PackProgress(2, 95);
    };
    w.main->sBitBtn1Click();
    // Stop once the second file's first four pages are written and the fifth holds it up.
    QTRY_VERIFY_WITH_TIMEOUT(rendering, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(WindowEvents::LatestProgress(1).pagesDone >= 4, 60000);
    QElapsedTimer clock;
    clock.start();
    w.main->sBitBtn1Click();
    QVERIFY(!w.main->sBitBtn1->isEnabled());
    QCOMPARE(w.main->sBitBtn1->text(), StopCaption);
    QVERIFY(WaitForIdle(w));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(answer.shown, 0);
    QVERIFY(w.main->sBitBtn1->isEnabled());

    // The complete images stay, the page in hand leaves nothing, the third file is untouched.
    const QStringList images = Images(out);
    for (const char* name :
         {"three/three-1.png", "three/three-2.png", "three/three-3.png", "eight/eight-1.png",
          "eight/eight-2.png", "eight/eight-3.png", "eight/eight-4.png"})
        QVERIFY2(images.contains(name), name);
    QVERIFY(!images.contains("eight/eight-5.png"));
    for (const QString& image : images)
        QVERIFY2(!image.contains("/."), qPrintable(image));
    QVERIFY(!QFileInfo::exists(out + "/twelve"));
    const QStringList status = w.column(ColumnStatus);
    QCOMPARE(status.value(0), QStringLiteral("three"));
    const int eightImages = int(images.filter("eight/").size());
    QVERIFY2(
        QRegularExpression("^Stopped after [4-8] of 8 pages$").match(status.value(1)).hasMatch(),
        qPrintable(status.value(1)));
    QVERIFY(status.value(1).mid(14, 1).toInt() <= eightImages);
    QCOMPARE(status.value(2), QString());
}

void TestConvert::startRefused_data() {
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("box");
    QTest::newRow("empty list") << QStringList() << "out"
                                << "Please add files before converting.";
    QTest::newRow("relative folder") << QStringList{StateTrue} << "relative/out"
                                     << "Invalid directory!";
    QTest::newRow("missing parent") << QStringList{StateTrue} << "/no/such/parent/out"
                                    << "Invalid directory!";
    QTest::newRow("nothing convertible") << QStringList{StateFalse, StateProtected} << "out"
                                         << "";
    QTest::newRow("resolution 0") << QStringList{StateTrue} << "out@0"
                                  << "The resolution must be a whole number from 1 to 9600 DPI.";
    QTest::newRow("resolution 9601") << QStringList{StateTrue} << "out@9601"
                                     << "The resolution must be a whole number from 1 to 9600 DPI.";
}

void TestConvert::startRefused() {
    QFETCH(QStringList, states);
    QFETCH(QString, folder);
    QFETCH(QString, box);
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    if (!states.isEmpty())
        w.listed(states);
    w.main->CloseBalloonTip();
    if (folder.contains('@')) { // "folder@resolution"
        w.main->txtDpi->setText(folder.section('@', 1));
        folder = folder.section('@', 0, 0);
    }
    w.main->sEdit1->setText(
        folder.startsWith("/") || folder.contains("relative") ? folder : w.sandbox.path(folder));
    w.main->sBitBtn1Click();
    QCOMPARE(w.recorder.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(w.main->sBitBtn1->text(), StartCaption);
    QVERIFY(w.main->sEdit1->isEnabled());
    if (box.startsWith("Please")) {
        QCOMPARE(w.recorder.boxes.first().kind, platform::BoxKind::Information);
        QTRY_COMPARE(QApplication::focusWidget(), w.main->sBitBtn2);
    } else if (box.startsWith("The resolution")) {
        QCOMPARE(w.recorder.boxes.first().kind, platform::BoxKind::Error);
        QTRY_COMPARE(QApplication::focusWidget(), w.main->txtDpi);
    } else if (!box.isEmpty()) {
        QCOMPARE(w.recorder.boxes.first().kind, platform::BoxKind::Error);
        QTRY_COMPARE(QApplication::focusWidget(), w.main->sEdit1);
    } else {
        // No run and no message; Remove and Clear wait for the next click in the list.
        QVERIFY(!w.main->sBitBtn3->isEnabled() && !w.main->sBitBtn4->isEnabled());
        QVERIFY(w.main->sBitBtn1->isEnabled());
        QTest::mouseClick(w.main->ListView1->viewport(), Qt::LeftButton, {},
                          w.centre(0, ColumnSize));
        QVERIFY(w.main->sBitBtn3->isEnabled() && w.main->sBitBtn4->isEnabled());
    }
}

void TestConvert::mistakesRefusedBeforeStart_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<QString>("first"); // empty: All Pages
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("box"); // empty: the run starts
    QTest::addColumn<QString>("focus");
    const QString quality = "The JPEG quality must be a whole number from 1 to 100.";
    const QString pages =
        "The page range must be whole page numbers from 1, the first not after the last.";
    QTest::newRow("quality -") << "JPG"
                               << "-"
                               << ""
                               << "" << quality << "txtQuality";
    QTest::newRow("quality 0") << "JPG"
                               << "0"
                               << ""
                               << "" << quality << "txtQuality";
    QTest::newRow("quality 101") << "JPG"
                                 << "101"
                                 << ""
                                 << "" << quality << "txtQuality";
    QTest::newRow("first page 0") << "PNG"
                                  << "75"
                                  << "0"
                                  << "" << pages << "txtFirstPage";
    QTest::newRow("first page text") << "PNG"
                                     << "75"
                                     << "abc"
                                     << "" << pages << "txtFirstPage";
    QTest::newRow("last before first") << "PNG"
                                       << "75"
                                       << "5"
                                       << "3" << pages << "txtLastPage";
    QTest::newRow("last page text") << "PNG"
                                    << "75"
                                    << ""
                                    << "x" << pages << "txtLastPage";
    // Hidden for other formats: it takes its last value and the run starts.
    QTest::newRow("quality - with PNG") << "PNG"
                                        << "-"
                                        << ""
                                        << ""
                                        << ""
                                        << "";
}

// A mistake in the options is refused before Start touches anything: the earlier results'
// links stay, the focus goes to the box.
void TestConvert::mistakesRefusedBeforeStart() {
    QFETCH(QString, format);
    QFETCH(QString, quality);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, box);
    QFETCH(QString, focus);
    Windows w;
    w.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
    w.add({m_pdfs->pdf("three.pdf")});
    w.main->CloseBalloonTip();
    QApplication::setActiveWindow(w.main.get());
    UseOutput(w, w.sandbox.path("out"), format, "36");
    PdfFileList->at(0)->setConversionResult("/earlier/three", "three", "three", false);
    w.main->txtQuality->setText(quality);
    if (!first.isEmpty() || !last.isEmpty()) {
        w.main->radRange->click();
        w.main->txtFirstPage->setText(first);
        w.main->txtLastPage->setText(last);
    }
    FinishedWindowAnswer answer(w.info.get(), false);
    w.main->sBitBtn1Click();
    if (box.isEmpty()) {
        QCOMPARE(w.main->sBitBtn1->text(), StopCaption);
        QVERIFY(WaitForIdle(w));
        QCOMPARE(w.main->txtQuality->text(), QStringLiteral("75"));
        QCOMPARE(w.recorder.texts(), QStringList());
        return;
    }
    QCOMPARE(w.recorder.texts(), QStringList{box});
    QCOMPARE(w.main->sBitBtn1->text(), StartCaption);
    QTRY_VERIFY(QApplication::focusWidget() != nullptr);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(PdfFileList->at(0)->OutputDir(), QStringLiteral("/earlier/three"));
}

void TestConvert::rowProgress() {
    Windows w;
    w.listed({StateTrue, StateTrue});
    PdfFileList->at(1)->setProbeResult("10", StateTrue, "");
    const QString out = w.sandbox.path("out");
    ConversionOptions = TConversionOptions{out, "PNG", "0", "", "", "72", "75", 0, "0", "0"};
    const auto message = [&](int row, int percent) {
        w.main->setProgressInListView(platform::WindowMessage(
            WM_SETPROGRESSINLISTVIEW, 0, platform::PackProgress(row + 1, percent)));
    };
    const auto gauge = [&] { return w.main->ListView1->item(1, ColumnStatus)->data(GaugeRole); };
    const auto pages = [](int done, int inRange, int band) {
        DefaultEngineEvents().PagesDone(1, PageProgress{done, inRange, band});
    };
    RenderFinished = false;
    message(1, 0);
    QCOMPARE(w.cell(1, ColumnStatus), QStringLiteral("Processing..."));
    message(1, 95);
    QCOMPARE(w.main->RowGauge(), 1);
    QCOMPARE(w.cell(1, ColumnStatus), QString());
    QCOMPARE(gauge().toInt(), 0);
    // Pages written of the range, and the drawn share of a page in bands: 2 of 10 give 19, half
    // a page more 24, the third page 29. Progress of another row is not this row's.
    pages(2, 10, 0);
    QTRY_COMPARE(gauge().toInt(), 19);
    pages(2, 10, 500);
    QTRY_COMPARE(gauge().toInt(), 24);
    DefaultEngineEvents().PagesDone(0, PageProgress{9, 10, 0});
    QTest::qWait(400);
    QCOMPARE(gauge().toInt(), 24);
    pages(3, 10, 0);
    QTRY_COMPARE(gauge().toInt(), 29);
    // A screen reader reads the painted bar as text.
    const auto spoken = [&] {
        return w.main->ListView1->item(1, ColumnStatus)->data(Qt::AccessibleTextRole);
    };
    QCOMPARE(spoken().toString(), QStringLiteral("Converting, 29%"));
    RenderFinished = true;
    PdfFileList->at(1)->setStatusText("1");
    message(1, 100);
    QCOMPARE(w.main->RowGauge(), -1);
    QVERIFY(!gauge().isValid());
    QVERIFY(!spoken().isValid());
    QCOMPARE(w.cell(1, ColumnStatus), QStringLiteral("1"));

    // Rows that do not exist, or no rows at all, are ignored.
    message(7, 0);
    w.main->sBitBtn4Click();
    message(0, 95);
    QCOMPARE(w.main->RowGauge(), -1);
}

void TestConvert::failedFileGoesOn() {
    Windows w;
    const QString doomed = m_pdfs->copy("three.pdf", "doomed/vanished.pdf");
    const QString c = m_pdfs->copy("twelve.pdf", "doomed/c.pdf");
    w.add({m_pdfs->pdf("three.pdf"), doomed, c});
    QVERIFY(QFile::remove(doomed));
    const QString out = w.sandbox.path("out");
    UseOutput(w, out, "PNG", "36");
    FinishedWindowAnswer answer(w.info.get(), false);
    MessageWatch watch(w.main.get());
    w.main->sBitBtn1Click();
    QVERIFY(WaitForIdle(w));
    QVERIFY(!watch.termApp);
    QCOMPARE(w.recorder.texts(), QStringList());
    QCOMPARE(answer.shown, 1);
    QVERIFY(w.info->FailedLabel->isVisibleTo(w.info.get()));
    QCOMPARE(w.info->FailedLabel->text(), QStringLiteral("1 file failed."));
    QCOMPARE(w.info->SummaryLabel->text(),
             QStringLiteral("2 files (15 pages) converted into ") + out);
    QCOMPARE(w.info->FailuresLabel->text(),
             QStringLiteral("vanished.pdf: No such file or directory"));
    QCOMPARE(w.column(ColumnStatus), QStringList({"three", "No such file or directory", "c"}));
    QVERIFY(PdfFileList->at(1)->Failed());
    QCOMPARE(Images(out + "/c").size(), 12);
    QVERIFY(!QFileInfo::exists(out + "/vanished"));
}

void TestConvert::unlockedFileConverts() {
    Windows w;
    w.add({m_pdfs->pdf("aes-256.pdf")});
    QCOMPARE(w.states(), QStringList{StateProtected});
    // What the unlock window leaves behind.
    PdfFileList->at(0)->setPassword("secret");
    PdfFileList->at(0)->setProbeResult("3", StateUnprotected, "");
    const QString out = w.sandbox.path("out");
    UseOutput(w, out, "JPG", "36");
    FinishedWindowAnswer answer(w.info.get(), false);
    w.main->sBitBtn1Click();
    QVERIFY(WaitForIdle(w));
    QCOMPARE(Images(out), QStringList({"aes-256/aes-256-1.jpg", "aes-256/aes-256-2.jpg",
                                       "aes-256/aes-256-3.jpg"}));
}

void TestConvert::closeDuringLongFile() {
    auto w = std::make_unique<Windows>();
    const QString endless = m_pdfs->heavy(6);
    w->add({m_pdfs->pdf("three.pdf"), endless, m_pdfs->pdf("twelve.pdf")});
    const QString out = w->sandbox.path("out");
    UseOutput(*w, out, "TIFF", "150");
    w->main->chkEachpage->setChecked(false);
    MessageWatch watch(w->main.get());
    bool rendering = false;
    watch.onProgress = [&](qintptr lParam) {
        if (lParam == platform::PackProgress(2, 95))
            rendering = true;
    };
    w->main->sBitBtn1Click();
    QTRY_VERIFY_WITH_TIMEOUT(rendering, 60000);
    QTest::qWait(500); // the call is well under way

    w->recorder.answer = platform::BoxAnswer::Yes;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w->main->close());
    QCOMPARE(w->recorder.texts(), QStringList{"Are you sure you want to stop processing?"});
    w->main->FormDestroy(); // what destroying the window does: waits for the worker
    const qint64 took = clock.elapsed();
    QVERIFY2(took < 5000, qPrintable(QString::number(took)));
    QVERIFY(!TProcThread::AnyAtWork());
    // No partial file and nothing under a final name for the abandoned file.
    QCOMPARE(Images(out), QStringList{"three/three.tiff"});
    QVERIFY(QDir(out + "/heavy6").isEmpty());
    w.reset();

    // A new start works at once.
    Windows again;
    again.add({m_pdfs->pdf("three.pdf")});
    QCOMPARE(again.states(), QStringList{StateTrue});
}

QTEST_MAIN(TestConvert)
#include "tst_convert.moc"
