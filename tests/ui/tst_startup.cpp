// Start-up and shutdown of the main window: the settings it reads and writes back, the renderer
// folder, the single instance, unpacking the rendering package and cleaning up at the end.

#include "testsupport.h"

#include "app/lifecycle.h"
#include "engine/pdffile.h"
#include "engine/provisioning/provisioning.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "tests/common/unsafefile.h"
#include "ui/aboutform.h"
#include "ui/infoform.h"
#include "ui/loadfileform.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/passwordinputform.h"
#include "ui/spinedit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QStyle>
#include <QTest>

#include <cmath>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using platform::BoxKind;

namespace {

// What the controls show after start-up; the defaults are the first start's.
struct Shown {
    QString folder = "/out";
    int format = 0;
    bool from = false;
    QString first = QString();
    QString last = QString();
    QString dpi = "150";
    QString quality = "75";
    int tiff = 1;
    QStringList colors = {"Color", "Gray"};
    int color = 0;
    bool each = true;
};

QString Name(const char* enciphered) {
    return QString::fromUtf8(DecipherName(enciphered));
}

QByteArray Utf16(const char* text, QStringEncoder::Encoding encoding) {
    QStringEncoder encoder(encoding, QStringEncoder::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(text));
}
QByteArray Utf16Le(const char* text) {
    return Utf16(text, QStringEncoder::Utf16LE);
}
QByteArray Utf16Be(const char* text) {
    return Utf16(text, QStringEncoder::Utf16BE);
}

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

} // namespace

Q_DECLARE_METATYPE(Shown)

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstStart();
    void startupTable_data();
    void startupTable();
    void settingsWriteFailure_data();
    void settingsWriteFailure();
    void settingsFileRefused_data();
    void settingsFileRefused();
    void withoutAppDataFolder();
    void libraryDirElsewhere_data();
    void libraryDirElsewhere();
    void secondInstanceEndsAtOnce();
    void formDestroyDeletesPackageFiles();
    void createTempLib_data();
    void createTempLib();
    void windowLayout_data();
    void windowLayout();
    void nothingClipped_data();
    void nothingClipped();
    void windowSizeRemembered();
    void paletteContrast_data();
    void paletteContrast();
};

void TestStartup::initTestCase() {
    ApplyLook(*qApp);
}

void TestStartup::firstStart() {
    Sandbox sandbox;
    Recorder recorder;
    TMainForm form;

    const QString folder = sandbox.path("home/Documents/Pixolund");
    QCOMPARE(SettingsLines(),
             QStringList({"[System]", "OutputFolder=" + folder, "Dpi=150", "EachPage=1"}));
    QVERIFY(!QFileInfo::exists(folder)); // created only when first needed
    QCOMPARE(form.sEdit1->text(), folder);
    QCOMPARE(form.cmbFormat->currentText(), QString("JPG"));
    QVERIFY(form.radAll->isChecked());
    QCOMPARE(form.txtFirstPage->text(), QString());
    QCOMPARE(form.txtLastPage->text(), QString());
    QCOMPARE(form.txtDpi->text(), QString("150"));
    QCOMPARE(form.txtQuality->text(), QString("75"));
    QCOMPARE(form.cmbTiffFmt->currentText(), QString("JPEG"));
    QCOMPARE(Items(form.cmbColor), QStringList({"Color", "Gray"}));
    QCOMPARE(form.cmbColor->currentText(), QString("Color"));
    QVERIFY(form.chkEachpage->isChecked());
    QVERIFY(recorder.boxes.isEmpty());

    // The renderer's folder: private, in the runtime folder.
    QCOMPARE(LibraryDir, sandbox.path("run/") + Name(EncLibraryDir));
    QCOMPARE(QFileInfo(LibraryDir).permissions() & 0x0077, QFileDevice::Permissions());
    QVERIFY(PdfFileList != nullptr && PdfFileList->count() == 0);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.txtFirstPage->isEnabled() && !form.txtLastPage->isEnabled());
    QVERIFY(!form.txtQuality->isHidden() && !form.sLabel9->isHidden());
    QVERIFY(form.cmbTiffFmt->isHidden() && form.sLabel10->isHidden());
    QVERIFY(form.chkEachpage->isHidden());
    QVERIFY(!PackagePassword.isEmpty() && !InnerPackagePassword.isEmpty());
    QVERIFY(PackagePassword != InnerPackagePassword);
}

void TestStartup::startupTable_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<Shown>("shown");
    QTest::addColumn<QByteArray>("after"); // empty: the file is unchanged

    const auto file = [](const char* extra) {
        return QByteArray("[System]\nOutputFolder=/out\nDpi=150\nEachPage=1\n") + extra;
    };
    QTest::newRow("Range 1") << file("Range=1\n") << Shown{.from = true} << QByteArray();
    QTest::newRow("Range with a blank")
        << file("Range=\" 0\"\n") << Shown{.from = true} << file("Range=1\n");
    QTest::newRow("Range 0") << file("Range=0\n") << Shown{} << QByteArray();
    QTest::newRow("Range empty") << file("Range=\n") << Shown{} << QByteArray();
    QTest::newRow("pages as stored")
        << file("FirstPage=5\nLastPage=3\n") << Shown{.first = "5", .last = "3"} << QByteArray();
    QTest::newRow("Dpi 0") << QByteArray("[System]\nOutputFolder=/out\nDpi=0\nEachPage=1\n")
                           << Shown{.dpi = "0"} << QByteArray();
    QTest::newRow("Dpi missing") << QByteArray("[System]\nOutputFolder=/out\nEachPage=1\n")
                                 << Shown{}
                                 << QByteArray(
                                        "[System]\nOutputFolder=/out\nEachPage=1\nDpi=150\n");
    QTest::newRow("JPEGQuality 500")
        << file("JPEGQuality=500\n") << Shown{.quality = "500"} << QByteArray();
    QTest::newRow("JPEGQuality as stored")
        << file("JPEGQuality=075\n") << Shown{.quality = "075"} << QByteArray();
    QTest::newRow("UTF-8 with BOM")
        << "\xEF\xBB\xBF" + file("OutputFormat=2\n") << Shown{.format = 2} << QByteArray();
    QTest::newRow("UTF-16 LE read")
        << Utf16Le("[System]\r\nOutputFolder=/out\r\nEachPage=1\r\nDpi=72\r\n")
        << Shown{.dpi = "72"} << QByteArray();
    QTest::newRow("UTF-16 BE, a missing key added in UTF-16 BE")
        << Utf16Be("[System]\nOutputFolder=/out\nEachPage=1\n") << Shown{}
        << Utf16Be("[System]\nOutputFolder=/out\nEachPage=1\nDpi=150\n");
    QTest::newRow("JPEGQuality negative") << file("JPEGQuality=-3\n") << Shown{} << QByteArray();
    QTest::newRow("JPEGQuality no number") << file("JPEGQuality=high\n") << Shown{} << QByteArray();
    QTest::newRow("EachPage 2") << QByteArray("[System]\nOutputFolder=/out\nDpi=150\nEachPage=2\n")
                                << Shown{.each = false} << QByteArray();
    QTest::newRow("EachPage 0") << QByteArray("[System]\nOutputFolder=/out\nDpi=150\nEachPage=0\n")
                                << Shown{.each = false} << QByteArray();
    QTest::newRow("EachPage no number")
        << QByteArray("[System]\nOutputFolder=/out\nDpi=150\nEachPage=yes\n") << Shown{}
        << file("");
    QTest::newRow("TIFF with Fax G4")
        << file("OutputFormat=4\nTiffFormat=5\n")
        << Shown{.format = 4, .tiff = 5, .colors = {"Black/White"}} << QByteArray();
    QTest::newRow("Fax G4 with colour 1 outside the list")
        << file("OutputFormat=4\nTiffFormat=5\nOutputColor=1\n")
        << Shown{.format = 4, .tiff = 5, .colors = {"Black/White"}} << QByteArray();
    QTest::newRow("TIFF with LZW and gray")
        << file("OutputFormat=4\nTiffFormat=2\nOutputColor=1\n")
        << Shown{.format = 4, .tiff = 2, .color = 1} << QByteArray();
    QTest::newRow("JPG keeps Fax G4 with a colour list")
        << file("OutputFormat=0\nTiffFormat=4\n") << Shown{.tiff = 4} << QByteArray();
    QTest::newRow("format outside the list") << file("OutputFormat=9\n") << Shown{} << QByteArray();
    QTest::newRow("format no number") << file("OutputFormat=png\n") << Shown{} << QByteArray();
    QTest::newRow("format PNG") << file("OutputFormat=2\n") << Shown{.format = 2} << QByteArray();
    QTest::newRow("compression outside the list")
        << file("TiffFormat=7\n") << Shown{} << QByteArray();
    QTest::newRow("colour outside the list") << file("OutputColor=2\n") << Shown{} << QByteArray();
    QTest::newRow("folder blank") << QByteArray(
                                         "[System]\nOutputFolder=\" \"\nDpi=150\nEachPage=1\n")
                                  << Shown{.folder = "@"}
                                  << QByteArray("[System]\nOutputFolder=@\nDpi=150\nEachPage=1\n");
}

void TestStartup::startupTable() {
    QFETCH(QByteArray, stored);
    QFETCH(Shown, shown);
    QFETCH(QByteArray, after);
    Sandbox sandbox;
    Recorder recorder;
    const QString folder = sandbox.path("home/Documents/Pixolund");
    shown.folder.replace("@", folder);
    after.replace("@", folder.toUtf8());
    WriteAll(SettingsFilePath(), stored);

    TMainForm form;
    form.FormShow();

    QCOMPARE(ReadAll(SettingsFilePath()), after.isEmpty() ? stored : after);
    QCOMPARE(form.sEdit1->text(), shown.folder);
    QCOMPARE(form.cmbFormat->currentIndex(), shown.format);
    QCOMPARE(form.radRange->isChecked(), shown.from);
    QCOMPARE(form.radAll->isChecked(), !shown.from);
    QCOMPARE(form.txtFirstPage->isEnabled(), shown.from);
    QCOMPARE(form.txtLastPage->isEnabled(), shown.from);
    QCOMPARE(form.txtFirstPage->text(), shown.first);
    QCOMPARE(form.txtLastPage->text(), shown.last);
    QCOMPARE(form.txtDpi->text(), shown.dpi);
    QCOMPARE(form.txtQuality->text(), shown.quality);
    QCOMPARE(form.cmbTiffFmt->currentIndex(), shown.tiff);
    QCOMPARE(Items(form.cmbColor), shown.colors);
    QCOMPARE(form.cmbColor->currentIndex(), shown.color);
    QCOMPARE(form.chkEachpage->isChecked(), shown.each);
    QCOMPARE(recorder.texts(), QStringList());
}

void TestStartup::settingsWriteFailure_data() {
    QTest::addColumn<bool>("folderIsFile");
    QTest::newRow("a file where the folder belongs") << true;
    if (::geteuid() != 0) // permissions do not stop root
        QTest::newRow("read-only folder") << false;
}

void TestStartup::settingsWriteFailure() {
    QFETCH(bool, folderIsFile);
    Sandbox sandbox;
    Recorder recorder;
    const QString path = SettingsFilePath();
    const QString folder = QFileInfo(path).path();
    if (folderIsFile) {
        WriteAll(folder, "not a folder");
    } else {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }

    auto form = std::make_unique<TMainForm>();
    const QString message = "Unable to write to " + path;
    // OutputFolder, Dpi and EachPage could not be written back; the controls show them anyway.
    QCOMPARE(recorder.texts(), QStringList({message, message, message}));
    QCOMPARE(recorder.boxes.first().kind, BoxKind::Error);
    QCOMPARE(form->txtDpi->text(), QString("150"));
    QVERIFY(form->chkEachpage->isChecked());

    // The next change tries again, and the control keeps its new state.
    form->cmbFormat->setCurrentIndex(2);
    emit form->cmbFormat->activated(2);
    QCOMPARE(recorder.texts().size(), 4);
    QCOMPARE(form->cmbFormat->currentText(), QString("PNG"));
    form.reset();
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestStartup::settingsFileRefused_data() {
    AddUnsafeFileRows();
}

// A settings file that cannot be read safely neither holds up the start nor gets written: the
// defaults are used, and one box names the file and the reason.
void TestStartup::settingsFileRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    Sandbox sandbox;
    Recorder recorder;
    const QString path = SettingsFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    const QByteArray large = "[System]\nDpi=300\n" + QByteArray(2 << 20, ';');
    if (!PlantSpecialFile(kind, path))
        WriteAll(path, large);

    auto form = std::make_unique<TMainForm>();
    QCOMPARE(recorder.boxes.size(), 1);
    QCOMPARE(recorder.boxes.first().kind, BoxKind::Error);
    const QString text = recorder.boxes.first().text;
    QVERIFY2(text.contains(path) && text.contains(reason), qPrintable(text));
    QCOMPARE(form->txtDpi->text(), QString("150"));
    QCOMPARE(form->sEdit1->text(), DefaultOutputFolder());
    QVERIFY(form->chkEachpage->isChecked());

    // A change later in the session is not saved either, and asks nothing.
    form->cmbFormat->setCurrentIndex(2);
    emit form->cmbFormat->activated(2);
    form.reset();
    QCOMPARE(recorder.boxes.size(), 1);
    const QFileInfo after(path);
    if (kind == "fifo") {
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    } else if (kind == "zero") {
        QCOMPARE(after.symLinkTarget(), QString("/dev/zero"));
    } else if (kind == "link") {
        QCOMPARE(after.symLinkTarget(), ForeignFile());
        QVERIFY(ForeignFileUntouched());
    } else {
        QCOMPARE(ReadAll(path), large);
    }
    QCOMPARE(QDir(after.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{after.fileName()});
}

// Without a place for settings, nothing is stored, yet the options and the renderer's folder
// are set up as on any start.
void TestStartup::withoutAppDataFolder() {
    Sandbox sandbox;
    Recorder recorder;
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    QCOMPARE(SettingsFilePath(), QString());

    TMainForm form;
    QCOMPARE(recorder.texts(), QStringList());
    QCOMPARE(LibraryDir, sandbox.path("run/") + Name(EncLibraryDir));
    QCOMPARE(form.sEdit1->text(), DefaultOutputFolder());
    QCOMPARE(form.cmbFormat->currentText(), QString("JPG"));
    QCOMPARE(form.txtDpi->text(), QString("150"));
    QCOMPARE(form.txtQuality->text(), QString("75"));
    QCOMPARE(form.cmbTiffFmt->currentText(), QString("JPEG"));
    QCOMPARE(form.cmbColor->currentText(), QString("Color"));
    QVERIFY(form.chkEachpage->isChecked());
    QCOMPARE(QDir(sandbox.path("data")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(QDir(sandbox.path("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"Documents"});
}

void TestStartup::libraryDirElsewhere_data() {
    QTest::addColumn<bool>("tempUsable");
    QTest::newRow("usual place taken: a fresh folder") << true;
    QTest::newRow("no private folder at all: a box") << false;
}

void TestStartup::libraryDirElsewhere() {
    QFETCH(bool, tempUsable);
    Sandbox sandbox;
    Recorder recorder;
    // The usual place is open to other users, so it must not be used.
    const QString usual = sandbox.path("run/") + Name(EncLibraryDir);
    QVERIFY(QDir().mkpath(usual));
    QVERIFY(QFile::setPermissions(usual, QFileDevice::Permissions(0x7777)));
    if (!tempUsable) {
        // Not even root can make a folder below a file.
        WriteAll(sandbox.path("file"), "x");
        ::setenv("TMPDIR", QFile::encodeName(sandbox.path("file/tmp")).constData(), 1);
    }

    TMainForm form;
    if (tempUsable) {
        QVERIFY2(LibraryDir.startsWith(sandbox.path("tmp/") + Name(EncLibraryDir).remove(u'/') +
                                       QStringLiteral("-%1-").arg(::geteuid())),
                 qPrintable(LibraryDir));
        QCOMPARE(QFileInfo(LibraryDir).permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(recorder.boxes.size(), 0);
    } else {
        QCOMPARE(LibraryDir, QString());
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes.first().kind, BoxKind::Error);
        QVERIFY2(recorder.boxes.first().text.contains("working folder cannot be used"),
                 qPrintable(recorder.boxes.first().text));
    }
    // The program runs on: settings read and written, job list ready.
    QCOMPARE(SettingsLines().size(), 4);
    QVERIFY(PdfFileList != nullptr);
}

void TestStartup::secondInstanceEndsAtOnce() {
    Sandbox sandbox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString program = QStringLiteral(PIXOLUND_BIN_DIR "/pixolund");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    QVERIFY(first.waitForStarted());
    // The settings file is written after the instance lock is held.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(SettingsFilePath()), 60000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(program, {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAll(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished());
}

void TestStartup::formDestroyDeletesPackageFiles() {
    Sandbox sandbox;
    Recorder recorder;
    auto form = std::make_unique<TMainForm>();
    const QString dir = LibraryDir;
    QVERIFY(!dir.isEmpty());
    const QString library = dir + Name(EncRenderLibraryName);
    const QString companion = dir + Name(EncRenderCompanionName);
    const QString other = dir + "other.bin";
    for (const QString& path : {library, companion, other})
        WriteAll(path, "x");
    PdfFileList->append(std::make_unique<TPdffile>("/a.pdf", "a.pdf", "1 Byte", "", "", false));

    form.reset();
    QCOMPARE(PdfFileList, nullptr);
    QVERIFY(!QFileInfo::exists(library));
    QVERIFY(!QFileInfo::exists(companion));
    QVERIFY(QFileInfo::exists(other));
    QVERIFY(QFileInfo(dir).isDir());
}

void TestStartup::createTempLib_data() {
    QTest::addColumn<QString>("package"); // "shipped", "damaged" or "missing"
    QTest::addColumn<bool>("rightPassword");
    QTest::addColumn<bool>("extracted");

    QTest::newRow("shipped package") << "shipped" << true << true;
    QTest::newRow("wrong password") << "shipped" << false << false;
    QTest::newRow("damaged package") << "damaged" << true << false;
    QTest::newRow("missing package") << "missing" << true << false;
}

void TestStartup::createTempLib() {
    QFETCH(QString, package);
    QFETCH(bool, rightPassword);
    QFETCH(bool, extracted);
    const QString shipped = QStringLiteral(PIXOLUND_BIN_DIR "/") + Name(EncRenderPackageName);
    if (package == "shipped" && !QFileInfo::exists(shipped))
        QSKIP("this build makes no rendering package");
    Sandbox sandbox;
    Recorder recorder;
    TMainForm form;
    form.FormShow();

    QString path = shipped;
    if (package == "damaged") {
        path = sandbox.path(Name(EncRenderPackageName));
        QByteArray bytes = ReadAll(shipped);
        if (bytes.isEmpty())
            bytes = QByteArray("PK\x03\x04", 4) + QByteArray(200, 'x');
        bytes.truncate(bytes.size() / 2);
        WriteAll(path, bytes);
    } else if (package == "missing") {
        path = sandbox.path(Name(EncRenderPackageName));
    }
    if (!rightPassword)
        PackagePassword = "not the password";
    RenderPackagePath.set(QFile::encodeName(path));

    const int before = ExtractionCount();
    QVERIFY(platform::PostMessage(WM_CREATETEMPLIB, 0, 0));
    QCoreApplication::sendPostedEvents(&form);
    // Unpacked off the GUI thread: the window goes on meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(ExtractionCount() > before, 60000);
    WaitForExtraction();

    const QString library = LibraryDir + Name(EncRenderLibraryName);
    const QString companion = LibraryDir + Name(EncRenderCompanionName);
    const QString inner = LibraryDir + QFileInfo(path).suffix();
    QCOMPARE(QFileInfo::exists(library) && QFileInfo::exists(companion), extracted);
    QVERIFY(!QFileInfo::exists(inner));
    if (extracted) {
        QCOMPARE(recorder.texts(), QStringList());
    } else {
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes.first().kind, BoxKind::Error);
        QVERIFY(!recorder.boxes.first().text.isEmpty());
    }
}

void TestStartup::windowLayout_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control"); // empty: the window itself (caption)
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("extra"); // "mask=<character>"

    const auto row = [](const char* window, const char* control, const char* text,
                        const char* hint = "", const char* extra = "") {
        QTest::addRow("%s %s", window, control) << window << control << text << hint << extra;
    };
    row("main", "", "Pixolund");
    row("main", "sBitBtn2", "Add Files");
    row("main", "sBitBtn3", "Remove", "Remove a selected file from the list.");
    row("main", "sBitBtn4", "Clear", "Remove all files from the list.");
    row("main", "sBitBtn6", "Help");
    row("main", "sBitBtn1", "Start Convert");
    row("main", "sButton1", "...", "Specify an output folder.");
    row("main", "sBitBtn7", "", "Open the output folder.");
    row("main", "sLabel6", "Output Folder:");
    row("load", "percent", "0%");
    row("info", "", "Pixolund");
    row("info", "sLabel1", "Conversion finished!");
    row("info", "sBitBtn1", "Open Folder");
    row("info", "sButton1", "Close");
    row("password", "", "Pixolund");
    row("password", "sEdit1", "", "", "mask=*");
    row("password", "sButton1", "OK");
    row("password", "sButton2", "Cancel");
    row("about", "", "About");
    row("about", "sLabel4", "Home Page: ");
    row("about", "sLabel6", "Support:");
    row("about", "sLabel8", "Email:");
    row("about", "sButton1", "OK");
}

void TestStartup::windowLayout() {
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, hint);
    QFETCH(QString, extra);
    Sandbox sandbox;
    Recorder recorder;
    TMainForm mainForm;
    TLoadFileForm loadFileForm;
    TInfoForm infoForm;
    TPasswordInputForm passwordInputForm;
    TAboutForm aboutForm;
    QWidget* const windows[] = {&mainForm, &loadFileForm, &infoForm, &passwordInputForm,
                                &aboutForm};
    const QStringList keys = {"main", "load", "info", "password", "about"};
    QWidget* form = windows[keys.indexOf(window)];
    form->ensurePolished();

    QWidget* widget = form;
    if (!control.isEmpty()) {
        widget = form->findChild<QWidget*>(control);
        QVERIFY(widget != nullptr);
        widget->ensurePolished();
        // As shown: the marker of an underlined access key is not part of the text.
        QString shown = widget->property("text").toString();
        shown.remove(QRegularExpression(QStringLiteral("&(?!&)")));
        QCOMPARE(shown, text);
        QCOMPARE(widget->toolTip(), hint);
    } else {
        QCOMPARE(form->windowTitle(), text);
    }
    if (extra.startsWith("mask="))
        QCOMPARE(QChar(widget->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                  widget)),
                 extra.at(5));
}

// Every window at the usual font and at one half larger: each text has the room it asks for,
// and no two controls side by side cover each other.
void TestStartup::nothingClipped_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<double>("scale");
    for (const char* window : {"main", "load", "info", "password", "about"}) {
        QTest::addRow("%s, usual font", window) << window << 1.0;
        QTest::addRow("%s, font 1.5x", window) << window << 1.5;
    }
}

void TestStartup::nothingClipped() {
    QFETCH(QString, window);
    QFETCH(double, scale);
    const QFont usual = QApplication::font();
    QFont font = usual;
    font.setPointSizeF(usual.pointSizeF() * scale);
    QApplication::setFont(font);
    const auto restore = qScopeGuard([&] { QApplication::setFont(usual); });
    Sandbox sandbox;
    Recorder recorder;
    std::unique_ptr<QWidget> form;
    if (window == "main") {
        form = std::make_unique<TMainForm>();
    } else if (window == "load") {
        form = std::make_unique<TLoadFileForm>();
    } else if (window == "info") {
        auto info = std::make_unique<TInfoForm>();
        info->SetFailures(1);
        info->SetSummary(2, 7, sandbox.path("home/Documents/Pixolund"),
                         {"gone.pdf: No such file or directory"});
        form = std::move(info);
    } else if (window == "password") {
        auto password = std::make_unique<TPasswordInputForm>();
        password->SetPdfName(QString(120, u'n') + ".pdf");
        form = std::move(password);
    } else {
        form = std::make_unique<TAboutForm>();
    }
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    if (window == "main" && scale == 1.0)
        QCOMPARE(form->size(), QSize(744, 464));

    const QList<QWidget*> all = form->findChildren<QWidget*>();
    for (QWidget* widget : all) {
        if (!widget->isVisibleTo(form.get()) || widget->isWindow())
            continue;
        const auto* label = qobject_cast<QLabel*>(widget);
        const bool texted = (label && !label->wordWrap() && !label->text().isEmpty()) ||
                            qobject_cast<QAbstractButton*>(widget) ||
                            qobject_cast<QComboBox*>(widget);
        if (texted && widget->objectName() != "fname") {
            QSize hint = widget->sizeHint();
            // A push button's hint holds the style's least width; the text is what must fit.
            if (const auto* button = qobject_cast<QPushButton*>(widget))
                hint.setWidth(std::min(
                    hint.width(),
                    button->fontMetrics().horizontalAdvance(button->text()) +
                        (button->icon().isNull() ? 0 : button->iconSize().width() + 4) + 8));
            QVERIFY2(widget->width() >= hint.width() && widget->height() >= hint.height(),
                     qPrintable(QString("%1 is %2x%3, needs %4x%5")
                                    .arg(widget->objectName())
                                    .arg(widget->width())
                                    .arg(widget->height())
                                    .arg(hint.width())
                                    .arg(hint.height())));
        }
        if (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
            continue;
        for (QWidget* other : all) {
            if (other == widget || other->parentWidget() != widget->parentWidget() ||
                !other->isVisibleTo(form.get()) || other->objectName().isEmpty() ||
                other->objectName().startsWith("qt_") || other->objectName() < widget->objectName())
                continue;
            QVERIFY2(!widget->geometry().intersects(other->geometry()),
                     qPrintable(widget->objectName() + " overlaps " + other->objectName()));
        }
    }
}

// The size the user gave the window comes back at the next start, in a section of its own.
void TestStartup::windowSizeRemembered() {
    Sandbox sandbox;
    Recorder recorder;
    const QSize chosen(900, 600);
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(chosen);
        QTRY_COMPARE(form.size(), chosen);
        QVERIFY(form.close());
    }
    QVERIFY(SettingsLines().contains("[Window]"));
    QVERIFY(SettingsLines().contains("[System]"));
    TMainForm again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), chosen);
}

namespace {

// WCAG contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

} // namespace

// The desktop's palette decides the look: a dark one is kept. Either way the texts, and the red
// and blue of the Status column, even on a selected row, keep 4.5:1.
void TestStartup::paletteContrast_data() {
    QTest::addColumn<bool>("dark");
    QTest::newRow("light desktop") << false;
    QTest::newRow("dark desktop") << true;
}

void TestStartup::paletteContrast() {
    QFETCH(bool, dark);
    const auto restore = qScopeGuard([] { UseDesktopPalette(false); });
    UseDesktopPalette(dark);
    QCOMPARE(LookIsDark(), dark);
    const QPalette p = QApplication::palette();
    QCOMPARE(p.color(QPalette::Window).lightnessF() < 0.5, dark);
    QVERIFY(Contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)) >= 4.5);
    QVERIFY(Contrast(p.color(QPalette::Text), p.color(QPalette::Base)) >= 4.5);
    for (const bool error : {true, false}) {
        const QColor base = p.color(QPalette::Base);
        QVERIFY2(Contrast(LookStatusColour(error, base), base) >= 4.5,
                 qPrintable(LookStatusColour(error, base).name()));
    }
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
