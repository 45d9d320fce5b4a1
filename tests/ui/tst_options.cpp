// The option panel: what each change writes (read back from the settings file), the number
// corrections, the colour list, the conversion snapshot, and the output folder buttons.

#include "testsupport.h"

#include "app/outputfolder.h"
#include "engine/conversionoptions.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/outputfolderdialog.h"
#include "ui/spinedit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

namespace {

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

// Leaves a box the way a user does: focus in, type, focus elsewhere.
void TypeAndLeave(TMainForm& form, QWidget* box, const QString& text) {
    box->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), box);
    if (auto* edit = qobject_cast<QLineEdit*>(box))
        edit->setText(text);
    else
        static_cast<TSpinEdit*>(box)->setText(text);
    form.ListView1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.ListView1);
}

void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// One step of a table row: "format=4", "tiff=5", "color=1", "each", "all", "range",
// "dpi=0072", "quality=0", "first=5", "last=3".
void Do(TMainForm& form, const QString& step) {
    const QString name = step.section('=', 0, 0);
    const QString value = step.section('=', 1);
    if (name == "format")
        Choose(form.cmbFormat, value.toInt());
    else if (name == "tiff")
        Choose(form.cmbTiffFmt, value.toInt());
    else if (name == "color")
        Choose(form.cmbColor, value.toInt());
    else if (name == "each")
        form.chkEachpage->click();
    else if (name == "all")
        form.radAll->click();
    else if (name == "range")
        form.radRange->click();
    else if (name == "dpi")
        TypeAndLeave(form, form.txtDpi, value);
    else if (name == "quality")
        TypeAndLeave(form, form.txtQuality, value);
    else if (name == "first")
        TypeAndLeave(form, form.txtFirstPage, value);
    else if (name == "last")
        TypeAndLeave(form, form.txtLastPage, value);
    else
        QFAIL(qPrintable("unknown step " + step));
}

QString State(TMainForm& form, const QString& what) {
    if (what == "colors")
        return Items(form.cmbColor).join(',');
    if (what == "color")
        return QString::number(form.cmbColor->currentIndex());
    if (what == "dpi")
        return form.txtDpi->text();
    if (what == "quality")
        return form.txtQuality->text();
    if (what == "first")
        return form.txtFirstPage->text();
    if (what == "last")
        return form.txtLastPage->text();
    if (what == "pages") {
        const bool first = form.txtFirstPage->isEnabled();
        return first == form.txtLastPage->isEnabled() ? (first ? "enabled" : "disabled") : "mixed";
    }
    if (what == "shown") {
        QStringList shown;
        if (!form.txtQuality->isHidden() && !form.sLabel9->isHidden())
            shown << "quality";
        if (!form.cmbTiffFmt->isHidden() && !form.sLabel10->isHidden())
            shown << "tiff";
        if (!form.chkEachpage->isHidden())
            shown << "each";
        return shown.join(',');
    }
    return "unknown " + what;
}

const QString TooLong = QStringLiteral("'99999999999' is not a valid integer value");

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void optionRules_data();
    void optionRules();
    void conversionOptions_data();
    void conversionOptions();
    void chooseOutputFolder_data();
    void chooseOutputFolder();
    void openOutputFolder_data();
    void openOutputFolder();
};

void TestOptions::initTestCase() {
    ApplyLook(*qApp);
}

void TestOptions::optionRules_data() {
    QTest::addColumn<QByteArray>("stored"); // added to the first start's settings
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QStringList>("written"); // the only lines the step writes, in order
    QTest::addColumn<QString>("expect");      // "what=value;..." checked after the step
    QTest::addColumn<QStringList>("errors");

    const QStringList none;
    QTest::newRow("TIFF shows its controls")
        << QByteArray() << none << "format=4" << QStringList{"OutputFormat=4"} << "shown=tiff,each"
        << none;
    QTest::newRow("JPG shows the quality")
        << QByteArray() << QStringList{"format=4"} << "format=0" << QStringList{"OutputFormat=0"}
        << "shown=quality" << none;
    QTest::newRow("PNG hides all three")
        << QByteArray() << none << "format=2" << QStringList{"OutputFormat=2"} << "shown=" << none;
    QTest::newRow("Fax G4 after LZW and gray")
        << QByteArray() << QStringList{"format=4", "tiff=2", "color=1"} << "tiff=5"
        << QStringList{"TiffFormat=5", "OutputColor=0"} << "colors=Black/White;color=0" << none;
    QTest::newRow("then PNG writes only the format")
        << QByteArray() << QStringList{"format=4", "tiff=2", "color=1", "tiff=5"} << "format=2"
        << QStringList{"OutputFormat=2"} << "colors=Color,Gray;color=0" << none;
    QTest::newRow("TIFF over a stored Fax G4 and gray")
        << QByteArray("TiffFormat=5\nOutputColor=1\n") << none << "format=4"
        << QStringList{"OutputFormat=4"} << "colors=Black/White;color=0" << none;
    QTest::newRow("TIFF over a stored RLE")
        << QByteArray("TiffFormat=3\n") << none << "format=4" << QStringList{"OutputFormat=4"}
        << "colors=Black/White;color=0" << none;
    QTest::newRow("LZW keeps gray")
        << QByteArray() << QStringList{"format=4", "color=1"} << "tiff=2"
        << QStringList{"TiffFormat=2", "OutputColor=1"} << "colors=Color,Gray;color=1" << none;
    QTest::newRow("colour") << QByteArray() << none << "color=1" << QStringList{"OutputColor=1"}
                            << "color=1" << none;
    QTest::newRow("each page cleared") << QByteArray() << QStringList{"format=4"} << "each"
                                       << QStringList{"EachPage=0"} << "" << none;
    QTest::newRow("All Pages keeps the numbers")
        << QByteArray() << QStringList{"range", "first=2", "last=4"} << "all"
        << QStringList{"Range=0"} << "pages=disabled;first=2;last=4" << none;
    QTest::newRow("From enables the boxes")
        << QByteArray() << none << "range" << QStringList{"Range=1"} << "pages=enabled" << none;

    const auto number = [&](const char* name, const char* box, const char* typed,
                            const char* result, const char* key) {
        QTest::newRow(name) << QByteArray() << QStringList{"range"}
                            << QString("%1=%2").arg(box, typed)
                            << QStringList{QString("%1=%2").arg(key, result)}
                            << QString("%1=%2").arg(box, result) << QStringList();
    };
    number("quality 0005", "quality", "0005", "100", "JPEGQuality");
    number("quality 0", "quality", "0", "1", "JPEGQuality");
    number("quality 250", "quality", "250", "100", "JPEGQuality");
    number("quality -5", "quality", "-5", "1", "JPEGQuality");
    // An emptied box takes back its last value, not the worst quality.
    number("quality emptied", "quality", "", "75", "JPEGQuality");
    QTest::newRow("quality emptied after 42")
        << QByteArray("JPEGQuality=42\n") << QStringList()
        << "quality=" << QStringList{"JPEGQuality=42"} << "quality=42" << QStringList();
    QTest::newRow("dpi emptied after 300")
        << QByteArray("Dpi=300\n") << QStringList() << "dpi=" << QStringList{"Dpi=300"} << "dpi=300"
        << QStringList();
    number("quality 42", "quality", "42", "42", "JPEGQuality");
    number("dpi emptied", "dpi", "", "150", "Dpi");
    number("dpi 0072", "dpi", "0072", "72", "Dpi");
    number("dpi 0", "dpi", "0", "0", "Dpi");
    number("first 007", "first", "007", "7", "FirstPage");
    number("first emptied", "first", "", "", "FirstPage");
    number("last 0012", "last", "0012", "12", "LastPage");

    QTest::newRow("dpi beyond 32 bits") << QByteArray() << none << "dpi=99999999999" << none
                                        << "dpi=99999999999" << QStringList{TooLong};
    QTest::newRow("quality that is no number")
        << QByteArray() << none << "quality=-" << none << "quality=-"
        << QStringList{"'-' is not a valid integer value"};
    QTest::newRow("last page below the first")
        << QByteArray() << QStringList{"range", "first=5"} << "last=3" << QStringList{"LastPage="}
        << "first=5;last=" << none;
    QTest::newRow("first page above the last")
        << QByteArray() << QStringList{"range", "last=3"} << "first=9" << QStringList{"FirstPage=9"}
        << "first=9;last=3" << none;
    QTest::newRow("last page equal to the first")
        << QByteArray() << QStringList{"range", "first=5"} << "last=05" << QStringList{"LastPage=5"}
        << "last=5" << none;
    QTest::newRow("last page beyond 32 bits")
        << QByteArray() << QStringList{"range", "first=1"} << "last=99999999999" << none
        << "last=99999999999" << QStringList{TooLong};
}

void TestOptions::optionRules() {
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, setup);
    QFETCH(QString, step);
    QFETCH(QStringList, written);
    QFETCH(QString, expect);
    QFETCH(QStringList, errors);
    Sandbox sandbox;
    Recorder recorder;
    if (!stored.isEmpty())
        WriteAll(SettingsFilePath(), "[System]\n" + stored);

    TMainForm form;
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (const QString& s : setup)
        Do(form, s);
    QCOMPARE(recorder.texts(), QStringList());

    // Whatever lands in the emptied section was written by this one step.
    WriteAll(SettingsFilePath(), "[System]\n");
    Do(form, step);
    QCOMPARE(SettingsLines(), QStringList{"[System]"} + written);
    QCOMPARE(recorder.texts(), errors);
    for (const QString& pair : expect.split(';', Qt::SkipEmptyParts))
        QCOMPARE(State(form, pair.section('=', 0, 0)), pair.section('=', 1));
}

void TestOptions::conversionOptions_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("tiff"); // -1: no selection
    QTest::addColumn<bool>("range");
    QTest::addColumn<bool>("each");
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("formatName");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("compression");
    QTest::addColumn<QString>("multiPage");

    QTest::newRow("All Pages drops the page numbers") << 0 << 1 << false << true << 0 << "JPG"
                                                      << ""
                                                      << "" << 7 << "0";
    QTest::newRow("From keeps them") << 2 << 1 << true << false << 1 << "PNG"
                                     << "3"
                                     << "9" << 7 << "1";
    const int tags[] = {1, 7, 5, 2, 3, 4, 32773};
    for (int i = 0; i < 7; ++i)
        QTest::addRow("compression %d", i) << 4 << i << false << true << 0 << "TIFF"
                                           << ""
                                           << "" << tags[i] << "0";
    QTest::newRow("no compression keeps the previous value")
        << 4 << -1 << false << true << 0 << "TIFF"
        << ""
        << "" << 12345 << "0";
}

void TestOptions::conversionOptions() {
    QFETCH(int, format);
    QFETCH(int, tiff);
    QFETCH(bool, range);
    QFETCH(bool, each);
    QFETCH(int, color);
    Sandbox sandbox;
    Recorder recorder;
    TMainForm form;
    form.cmbFormat->setCurrentIndex(format);
    form.cmbTiffFmt->setCurrentIndex(tiff);
    (range ? form.radRange : form.radAll)->setChecked(true);
    form.chkEachpage->setChecked(each);
    form.cmbColor->setCurrentIndex(color);
    form.txtFirstPage->setText("3");
    form.txtLastPage->setText("9");
    form.txtDpi->setText("96");
    form.sEdit1->setText("/typed/folder");

    TConversionOptions options;
    options.TiffCompression = 12345;
    form.Options().FillConversionOptions(options);
    QCOMPARE(options.OutputFolder, QString("/typed/folder"));
    QTEST(options.FormatName, "formatName");
    QCOMPARE(options.Range, QString(range ? "1" : "0"));
    QTEST(options.FirstPage, "first");
    QTEST(options.LastPage, "last");
    QCOMPARE(options.Dpi, QString("96"));
    QCOMPARE(options.JPEGQuality, QString("75"));
    QTEST(int(options.TiffCompression), "compression");
    QCOMPARE(options.OutputColor, QString::number(color));
    QTEST(options.MultiPage, "multiPage");
}

void TestOptions::chooseOutputFolder_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("a folder is chosen") << false;
    QTest::newRow("cancelled") << true;
}

void TestOptions::chooseOutputFolder() {
    QFETCH(bool, cancel);
    Sandbox sandbox;
    Recorder recorder;
    TMainForm form;
    const QString before = form.sEdit1->text();
    const QByteArray fileBefore = ReadAll(SettingsFilePath());
    const QString chosen = sandbox.path("chosen");
    QString title;
    QString initial;
    SetBrowseForFolderHook([&](const QString& t, const QString& i) {
        title = t;
        initial = i;
        return cancel ? QString() : chosen;
    });

    form.sButton1->click();
    SetBrowseForFolderHook({});

    QCOMPARE(title, QString("Please select an output folder:"));
    QCOMPARE(initial, before);
    if (cancel) {
        QCOMPARE(form.sEdit1->text(), before);
        QCOMPARE(ReadAll(SettingsFilePath()), fileBefore);
    } else {
        QCOMPARE(form.sEdit1->text(), chosen);
        QVERIFY(SettingsLines().contains("OutputFolder=" + chosen));
        QCOMPARE(SettingsLines().size(), 4);
    }
    QCOMPARE(recorder.texts(), QStringList());
}

void TestOptions::openOutputFolder_data() {
    QTest::addColumn<QString>("folder"); // "@" stands for the sandbox
    QTest::addColumn<bool>("opened");

    QTest::newRow("existing folder") << "@/home" << true;
    QTest::newRow("missing last level is created") << "@/home/Documents/Pixolund" << true;
    QTest::newRow("missing parent") << "@/none/Pixolund" << false;
    QTest::newRow("relative path") << "images" << false;
}

void TestOptions::openOutputFolder() {
    QFETCH(QString, folder);
    QFETCH(bool, opened);
    Sandbox sandbox;
    Recorder recorder;
    TMainForm form;
    folder.replace("@", sandbox.root());
    form.sEdit1->setText(folder);

    form.sBitBtn7->click();
    if (opened) {
        QCOMPARE(recorder.opened, QStringList{folder});
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(recorder.texts(), QStringList());
    } else {
        QCOMPARE(recorder.opened, QStringList());
        QCOMPARE(recorder.texts(), QStringList{"Invalid directory!"});
        QCOMPARE(recorder.boxes.first().kind, platform::BoxKind::Error);
    }
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
