// Which folder texts can be output folders, and what the check creates.

#include "app/outputfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestOutputFolder : public QObject {
    Q_OBJECT

private slots:
    void checkOutputFolder_data();
    void checkOutputFolder();
};

void TestOutputFolder::checkOutputFolder_data() {
    QTest::addColumn<QString>("folder"); // "@" stands for the temporary folder
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("existing") << "@/existing" << true << true;
    QTest::newRow("missing last level is created") << "@/new" << true << true;
    QTest::newRow("missing parent is refused") << "@/none/new" << false << false;
    QTest::newRow("relative is refused") << "images" << false << false;
    QTest::newRow("empty is refused") << "" << false << false;
    QTest::newRow("a file is refused") << "@/file" << false << false;
}

void TestOutputFolder::checkOutputFolder() {
    QFETCH(QString, folder);
    QFETCH(bool, usable);
    QFETCH(bool, existsAfter);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("existing"));
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    folder.replace("@", dir.path());

    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path()); // a relative text must not create anything here either
    const bool result = CheckOutputFolder(folder);
    QDir::setCurrent(cwd);

    QCOMPARE(result, usable);
    if (!folder.isEmpty()) {
        const QString absolute = QDir(dir.path()).absoluteFilePath(folder);
        QCOMPARE(QFileInfo(absolute).isDir(), existsAfter);
    }
}

QTEST_GUILESS_MAIN(TestOutputFolder)
#include "tst_outputfolder.moc"
