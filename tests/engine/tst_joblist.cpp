// Job list, command lines, probe classification and output naming: the engine's plain parts.
#include "engine/conversionoptions.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/renderapi.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/winmsg.h"

#include <QtTest>

#include <memory>

class JobListTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        delete PdfFileList;
        PdfFileList = nullptr;
    }

    void countUnlisted_data() {
        QTest::addColumn<int>("listed");
        QTest::addColumn<int>("unlisted");
        QTest::newRow("no list at all") << -1 << 0;
        QTest::newRow("empty list") << 0 << 0;
        QTest::newRow("three behind two listed") << 2 << 3;
        QTest::newRow("all listed") << 4 << 0;
    }
    void countUnlisted() {
        QFETCH(int, listed);
        QFETCH(int, unlisted);
        if (listed >= 0) {
            PdfFileList = new TPdfList;
            for (int i = 0; i < listed + unlisted; ++i)
                PdfFileList->append(std::make_unique<TPdffile>(QStringLiteral("/d/%1.pdf").arg(i),
                                                               QStringLiteral("%1.pdf").arg(i),
                                                               "1 KB", "", "", i < listed));
        }
        QCOMPARE(CountUnlisted(), unlisted);
        if (!PdfFileList)
            return;
        // The GUI lists the rows at the end of a probe pass: none stays unlisted.
        for (int i = 0; i < PdfFileList->count(); ++i)
            PdfFileList->at(i)->setListed(true);
        QCOMPARE(CountUnlisted(), 0);
    }

    void entryFields() {
        TPdffile entry("/d/a b.pdf", "a b.pdf", "2 KB", "", "", false);
        QCOMPARE(entry.State(), QString());
        QCOMPARE(entry.OutputDir(), QString());
        QCOMPARE(entry.Password(), QString());
        entry.setProbeResult("", StateProtected, "The file is password protected.");
        QCOMPARE(entry.State(), StateProtected);
        QCOMPARE(entry.Pages(), QString());
        QCOMPARE(entry.StatusText(), QStringLiteral("The file is password protected."));
        QVERIFY(!IsConvertible(entry.State()));
        entry.setProbeResult("7", StateUnprotected, "");
        QVERIFY(IsConvertible(entry.State()));
        QVERIFY(IsConvertible(StateTrue));
        QVERIFY(!IsConvertible(QString()));
        QVERIFY(!IsConvertible(StateFalse));
        QVERIFY(!IsConvertible(QStringLiteral("true")));
    }

    void listMembership() {
        TPdfList list;
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.at(0), nullptr);
        for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
            list.append(std::make_unique<TPdffile>(QString("/d/") + name, name, "", "", "", false));
        QCOMPARE(list.count(), 3);
        list.removeAt(1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.at(1)->FileName(), QStringLiteral("c.pdf"));
        list.removeAt(5);
        list.removeAt(-1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.at(2), nullptr);
        QCOMPARE(list.at(-1), nullptr);
        list.clear();
        QCOMPARE(list.count(), 0);
    }

    void messageNumbers() {
        QCOMPARE(WM_SETLISTVIEW, 33968);
        QCOMPARE(WM_SETPROGRESS, 33969);
        QCOMPARE(WM_SETENDCONVERT, 33970);
        QCOMPARE(WM_SETPROGRESSINLISTVIEW, 33971);
        QCOMPARE(WM_TERMAPP, 33976);
        QCOMPARE(WM_CREATETEMPLIB, 33977);
        // The third entry probed, at position 7; the file at position 0 converting.
        QCOMPARE(platform::PackProgress(3, 100), qintptr(3100));
        QCOMPARE(platform::PackProgress(0 + 1, 95), qintptr(1095));
    }

    void probeCommandLine_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "/d/a.pdf"
                               << "pi \"/d/a.pdf\"";
        QTest::newRow("blanks") << "/d/my files/a b.pdf"
                                << "pi \"/d/my files/a b.pdf\"";
        QTest::newRow("double quote") << "/d/say \"hi\".pdf"
                                      << "pi \"/d/say \\\"hi\\\".pdf\"";
        QTest::newRow("backslash before quote") << "/d/x\\\"y.pdf"
                                                << "pi \"/d/x\\\\\\\"y.pdf\"";
        QTest::newRow("trailing backslash") << "/d/x\\"
                                            << "pi \"/d/x\\\\\"";
        QTest::newRow("inner backslash") << "/d/a\\b.pdf"
                                         << "pi \"/d/a\\b.pdf\"";
    }
    void probeCommandLine() {
        QFETCH(QString, path);
        QFETCH(QString, line);
        QCOMPARE(ProbeCommandLine(path), line);
        // Whatever the name, the tool gets the path as one argument.
        QCOMPARE(platform::SplitCommandLine(ProbeCommandLine(path)), QStringList({"pi", path}));
    }

    // The password never stands in the command line; the tool reads it from its input.
    void unlockCommandLine() {
        const QString path = QStringLiteral("/d/Ünïcode dir/a \"b\".pdf");
        QCOMPARE(platform::SplitCommandLine(UnlockCommandLine(path)),
                 QStringList({"pi", "-upw", "-", path}));
    }

    void classify_data() {
        QTest::addColumn<uint>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("pages");
        const int readable = int(ProbeOutcome::Readable);
        const int isProtected = int(ProbeOutcome::Protected);
        const int notReadable = int(ProbeOutcome::NotReadable);
        QTest::newRow("pages in the middle")
            << 0u << "Title: x\r\nPages:          12\r\nEncrypted: no\r\n"
            << readable << "12";
        QTest::newRow("pages on the last line") << 0u << "Title: x\r\nPages: 3\r\n"
                                                << readable << "3";
        QTest::newRow("first Pages line wins") << 0u << "Pages: 4\r\nPages: 5\r\n"
                                               << readable << "4";
        QTest::newRow("no pages line") << 0u << "Title: x\r\n" << readable << "";
        QTest::newRow("no output") << 0u << "" << readable << "";
        QTest::newRow("pages is case-sensitive") << 0u << "pages: 9\r\n" << readable << "";
        QTest::newRow("lower-case incorrect password") << 1u << "Error: incorrect password\r\n"
                                                       << isProtected << "";
        QTest::newRow("upper-case incorrect password") << 1u << "INCORRECT PASSWORD\r\n"
                                                       << isProtected << "";
        QTest::newRow("exit 1 without the text") << 1u << "Error: damaged\r\n" << notReadable << "";
        QTest::newRow("exit 3 with the text") << 3u << "Incorrect password\r\n"
                                              << notReadable << "";
        QTest::newRow("killed by a signal") << 137u << "" << notReadable << "";
        QTest::newRow("large exit code") << 0xFFFFFFFFu << "Pages: 2\r\n" << notReadable << "";
    }
    void classify() {
        QFETCH(uint, exitCode);
        QFETCH(QString, output);
        QFETCH(int, outcome);
        QFETCH(QString, pages);
        const ProbeClassification result = ClassifyProbe(exitCode, output);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(result.pages, pages);
    }

    void outputNames_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("stripped");
        QTest::addColumn<QString>("basePath");
        QTest::newRow("two dots") << "/out"
                                  << "report.final.pdf"
                                  << "report.final"
                                  << "/out/report.final/report.final";
        QTest::newRow("folder with delimiter") << "/out/"
                                               << "a.pdf"
                                               << "a"
                                               << "/out/a/a";
        QTest::newRow("no extension") << "/out"
                                      << "README"
                                      << "README"
                                      << "/out/README/README";
        QTest::newRow("dot before a delimiter") << "/out"
                                                << "x.d/y"
                                                << "x.d/y"
                                                << "/out/x.d/y/x.d/y";
        QTest::newRow("empty name") << "/out"
                                    << ""
                                    << ""
                                    << "";
    }
    void outputNames() {
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        QFETCH(QString, stripped);
        QFETCH(QString, basePath);
        ConversionOptions.OutputFolder = folder;
        QCOMPARE(StripExtension(fileName), stripped);
        QCOMPARE(OutputBasePath(fileName), basePath);
    }
};

QTEST_GUILESS_MAIN(JobListTest)
#include "tst_joblist.moc"
