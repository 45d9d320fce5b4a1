// The profile editor: one key changes, every other byte stays; writes replace the file whole.

#include "app/inifile.h"
#include "tests/common/unsafefile.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void setValue_data();
    void setValue();
    void readValue_data();
    void readValue();
    void refusesWhatALineCannotHold();
    void writeValueReplacesTheFile();
    void writeValueFailsWithoutFolder();
    void writeValueKeepsTheEncoding_data();
    void writeValueKeepsTheEncoding();
    void unsafeFilesAreLeftAlone_data();
    void unsafeFilesAreLeftAlone();
};

namespace {

QByteArray Encoded(const QString& text, ini::Encoding encoding) {
    switch (encoding) {
    case ini::Encoding::Utf8:
        return text.toUtf8();
    case ini::Encoding::Utf8Bom:
        return "\xEF\xBB\xBF" + text.toUtf8();
    case ini::Encoding::Utf16LE:
    case ini::Encoding::Utf16BE: {
        QStringEncoder encoder(encoding == ini::Encoding::Utf16LE ? QStringEncoder::Utf16LE
                                                                  : QStringEncoder::Utf16BE,
                               QStringEncoder::Flag::WriteBom);
        return encoder.encode(text);
    }
    }
    return {};
}

void Write(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(content), content.size());
}

} // namespace

Q_DECLARE_METATYPE(ini::Encoding)

void TestIniFile::setValue_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << "Dpi"
                              << "150" << QByteArray("[System]\nDpi=150\n");
    QTest::newRow("replace keeps the rest byte for byte")
        << QByteArray("; note\r\n[Other]\r\nDpi=1\r\n[System]\r\nA = x \r\ndpi = 72\r\nB=y\r\n")
        << "Dpi"
        << "300"
        << QByteArray("; note\r\n[Other]\r\nDpi=1\r\n[System]\r\nA = x \r\nDpi=300\r\nB=y\r\n");
    QTest::newRow("added after the section's last entry")
        << QByteArray("[System]\nA=1\n\n\n[Next]\nC=3\n") << "B"
        << "2" << QByteArray("[System]\nA=1\nB=2\n\n\n[Next]\nC=3\n");
    QTest::newRow("section header in other case") << QByteArray("[system]\nA=1\n") << "B"
                                                  << "2" << QByteArray("[system]\nA=1\nB=2\n");
    QTest::newRow("last line without line break") << QByteArray("[System]\nA=1") << "B"
                                                  << "2" << QByteArray("[System]\nA=1\nB=2\n");
    QTest::newRow("section appended, CRLF kept")
        << QByteArray("[Other]\r\nA=1") << "B"
        << "2" << QByteArray("[Other]\r\nA=1\r\n[System]\r\nB=2\r\n");
    QTest::newRow("commented key is not the key") << QByteArray("[System]\n;Dpi=1\n") << "Dpi"
                                                  << "2" << QByteArray("[System]\n;Dpi=1\nDpi=2\n");
    QTest::newRow("outer blanks are quoted") << QByteArray("[System]\n") << "Range"
                                             << " 0" << QByteArray("[System]\nRange=\" 0\"\n");
    QTest::newRow("empty value") << QByteArray("[System]\nLastPage=3\n") << "LastPage"
                                 << "" << QByteArray("[System]\nLastPage=\n");
}

void TestIniFile::setValue() {
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    QByteArray result;
    QVERIFY(ini::SetValue(before, "System", key, value, &result));
    QCOMPARE(result, after);
    QCOMPARE(ini::ReadValue(result, "System", key), value);
}

void TestIniFile::readValue_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("found");

    QTest::newRow("plain") << QByteArray("[System]\nDpi=150\n") << "Dpi"
                           << "150" << true;
    QTest::newRow("blanks dropped") << QByteArray("[System]\r\n  dpi =  72  \r\n") << "Dpi"
                                    << "72" << true;
    QTest::newRow("quotes keep blanks") << QByteArray("[System]\nRange=\" 0\"\n") << "Range"
                                        << " 0" << true;
    QTest::newRow("other section") << QByteArray("[Other]\nDpi=1\n[System]\n") << "Dpi"
                                   << "" << false;
    QTest::newRow("value holding =")
        << QByteArray("[System]\nOutputFolder=/a=b\n") << "OutputFolder"
        << "/a=b" << true;
    QTest::newRow("empty") << QByteArray("[System]\nFirstPage=\n") << "FirstPage"
                           << "" << true;
}

void TestIniFile::readValue() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, found);
    bool isThere = !found;
    QCOMPARE(ini::ReadValue(content, "System", key, &isThere), value);
    QCOMPARE(isThere, found);
}

void TestIniFile::refusesWhatALineCannotHold() {
    // A folder name with a line break must not smuggle a second key into the file.
    QByteArray result = "unchanged";
    QVERIFY(!ini::SetValue("[System]\n", "System", "OutputFolder", "/a\nDpi=1", &result));
    QVERIFY(!ini::SetValue("[System]\n", "System", "", "1", &result));
    QVERIFY(!ini::SetValue("[System]\n", "System", "A=B", "1", &result));
    QCOMPARE(result, QByteArray("unchanged"));
}

void TestIniFile::writeValueReplacesTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[System]\nOutputFolder=/x\n");
    }
    QVERIFY(ini::WriteValue(path, "System", "Dpi", "96"));
    QVERIFY(ini::WriteValue(path, "System", "OutputFolder", "/y"));
    QCOMPARE(ini::ReadFile(path), QByteArray("[System]\nOutputFolder=/y\nDpi=96\n"));
    // Nothing but the file itself is left in the folder (no temporary files).
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.ini"});
}

void TestIniFile::writeValueFailsWithoutFolder() {
    QTemporaryDir dir;
    QVERIFY(!ini::WriteValue(dir.filePath("missing/settings.ini"), "System", "Dpi", "96"));
}

void TestIniFile::writeValueKeepsTheEncoding_data() {
    QTest::addColumn<ini::Encoding>("encoding");
    QTest::newRow("UTF-8") << ini::Encoding::Utf8;
    QTest::newRow("UTF-8 with BOM") << ini::Encoding::Utf8Bom;
    QTest::newRow("UTF-16 LE") << ini::Encoding::Utf16LE;
    QTest::newRow("UTF-16 BE") << ini::Encoding::Utf16BE;
}

// Settings saved by an editor with a byte order mark are read, and written back as they came.
void TestIniFile::writeValueKeepsTheEncoding() {
    QFETCH(ini::Encoding, encoding);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    Write(path, Encoded("[System]\r\nOutputFolder=/Bilder/Übersicht\r\nDpi=150\r\n", encoding));

    QByteArray content;
    ini::Encoding found = ini::Encoding::Utf8;
    QVERIFY(ini::LoadFile(path, &content, &found, nullptr));
    QCOMPARE(found, encoding);
    QCOMPARE(ini::ReadValue(content, "System", "OutputFolder"), QString("/Bilder/Übersicht"));

    QVERIFY(ini::WriteValue(path, "System", "Dpi", "300"));
    QVERIFY(ini::WriteValue(path, "System", "EachPage", "0"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
             Encoded("[System]\r\nOutputFolder=/Bilder/Übersicht\r\nDpi=300\r\nEachPage=0\r\n",
                     encoding));
}

void TestIniFile::unsafeFilesAreLeftAlone_data() {
    AddUnsafeFileRows();
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("damaged UTF-16") << "odd"
                                    << "UTF-16";
}

// Whatever stands at the file's name, reading neither waits nor grows without bound, and
// writing leaves it as it was.
void TestIniFile::unsafeFilesAreLeftAlone() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    QByteArray before;
    if (kind == "fifo" || kind == "zero" || kind == "link") {
        QVERIFY(PlantSpecialFile(kind, path));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "large") {
        before = "[System]\nDpi=150\n" + QByteArray(ini::MaxFileSize, ';');
        Write(path, before);
    } else {
        before = "\xFF\xFE[\0S\0]";
        Write(path, before);
    }

    QByteArray content = "stale";
    ini::Encoding encoding;
    QString error;
    QVERIFY(!ini::LoadFile(path, &content, &encoding, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(ini::ReadFile(path).isEmpty());
    QVERIFY(!ini::WriteValue(path, "System", "Dpi", "300"));

    const QFileInfo after(path);
    QCOMPARE(after.isSymLink(), kind == "zero" || kind == "link");
    QVERIFY(kind != "link" || ForeignFileUntouched());
    if (!before.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{"settings.ini"});
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
