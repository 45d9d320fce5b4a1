// The convert command's arguments: every option with good and bad values.

#include "app/batchoptions.h"

#include <QTest>

namespace {

// The options a parse set, in a fixed order; unset ones are left out.
QString Describe(const BatchOptions& o) {
    QStringList parts;
    const auto text = [&](const char* name, const std::optional<QString>& value) {
        if (value)
            parts << QStringLiteral("%1=%2").arg(QLatin1String(name), *value);
    };
    const auto flag = [&](const char* name, const std::optional<bool>& value) {
        if (value)
            parts << QStringLiteral("%1=%2").arg(QLatin1String(name), *value ? "1" : "0");
    };
    text("format", o.format);
    text("dpi", o.dpi);
    flag("gray", o.gray);
    if (o.mono)
        parts << "mono";
    text("quality", o.quality);
    if (o.tiffIndex)
        parts << QStringLiteral("tiff=%1").arg(*o.tiffIndex);
    flag("multipage", o.multiPage);
    text("first", o.firstPage);
    text("last", o.lastPage);
    text("output", o.output);
    if (o.passwordFromStdin)
        parts << "stdin";
    if (o.saveOptions)
        parts << "save";
    if (o.help)
        parts << "help";
    if (o.version)
        parts << "version";
    parts << "inputs=" + o.inputs.join(',');
    return parts.join(' ');
}

} // namespace

class TestBatchOptions : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("parsed"); // Describe() of the options, or "error: <text>"
        const auto row = [](const char* name, const QStringList& args, const QString& parsed) {
            QTest::newRow(name) << args << parsed;
        };
        row("files only", {"a.pdf", "dir/"}, "inputs=a.pdf,dir/");
        row("format any case", {"--format", "Png", "a.pdf"}, "format=PNG inputs=a.pdf");
        row("format inline", {"--format=tga", "a.pdf"}, "format=TGA inputs=a.pdf");
        row("format unknown", {"--format", "webp", "a.pdf"}, "error: unknown format 'webp'");
        row("dpi", {"--dpi", "0300", "a.pdf"}, "dpi=300 inputs=a.pdf");
        row("dpi bounds", {"--dpi", "9600", "--dpi=1", "a"}, "dpi=1 inputs=a");
        for (const char* bad : {"0", "9601", "-5", "1.5", "", "72dpi", "+72"})
            row(qPrintable(QStringLiteral("dpi '%1'").arg(bad)), {"--dpi", bad, "a.pdf"},
                "error: --dpi must be a whole number from 1 to 9600");
        row("quality", {"--quality=100", "a"}, "quality=100 inputs=a");
        for (const char* bad : {"0", "101", "high", ""})
            row(qPrintable(QStringLiteral("quality '%1'").arg(bad)), {"--quality", bad, "a"},
                "error: --quality must be a whole number from 1 to 100");
        row("gray then color", {"--gray", "--color", "a"}, "gray=0 inputs=a");
        row("mono", {"--mono", "a"}, "mono inputs=a");
        row("mono with gray", {"--mono", "--gray", "a"},
            "error: --mono cannot be combined with --gray or --color");
        row("mono as png", {"--mono", "--format", "png", "a"}, "error: --mono writes TIFF images");
        row("mono as tiff", {"--mono", "--format", "tiff", "a"}, "format=TIFF mono inputs=a");
        row("tiff names", {"--tiff", "PackBits", "a"}, "tiff=6 inputs=a");
        row("tiff g4", {"--tiff=g4", "a"}, "tiff=5 inputs=a");
        row("tiff unknown", {"--tiff", "zip", "a"}, "error: unknown TIFF compression 'zip'");
        row("multipage", {"--multipage", "a"}, "multipage=1 inputs=a");
        row("separate", {"--multipage", "--separate", "a"}, "multipage=0 inputs=a");
        row("pages A-B", {"--pages", "3-07", "a"}, "first=3 last=7 inputs=a");
        row("pages A-", {"--pages", "3-", "a"}, "first=3 last= inputs=a");
        row("pages -B", {"--pages=-4", "a"}, "first= last=4 inputs=a");
        row("pages N", {"--pages", "5", "a"}, "first=5 last=5 inputs=a");
        for (const char* bad : {"5-2", "-", "", "0-3", "1,3", "a-b", "1-2-3"})
            row(qPrintable(QStringLiteral("pages '%1'").arg(bad)), {"--pages", bad, "a"},
                "error: --pages takes A-B, A-, -B or N with A <= B");
        row("output", {"--output", "o u t", "a"}, "output=o u t inputs=a");
        row("output empty", {"--output=", "a"}, "error: --output needs a folder");
        row("value missing", {"a", "--output"}, "error: --output needs a value");
        row("flag with value", {"--gray=1", "a"}, "error: --gray takes no value");
        row("password argument", {"--password", "x", "a"},
            "error: passwords are not taken as arguments (they would show in the process list); "
            "use --password-stdin");
        row("password stdin", {"--password-stdin", "a"}, "stdin inputs=a");
        row("save options", {"--save-options", "a"}, "save inputs=a");
        row("unknown option", {"--fast", "a"}, "error: unknown option --fast");
        row("after --", {"--", "--gray", "-x.pdf"}, "inputs=--gray,-x.pdf");
        row("single dash is a file", {"-x.pdf"}, "inputs=-x.pdf");
        row("help alone", {"--help"}, "help inputs=");
        row("version alone", {"--version"}, "version inputs=");
        row("nothing", {}, "error: no PDF files or folders given");
        row("options only", {"--dpi", "72"}, "error: no PDF files or folders given");
    }

    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, parsed);
        const BatchParse result = ParseBatchArguments(arguments);
        QCOMPARE(result.error.isEmpty() ? Describe(result.options) : "error: " + result.error,
                 parsed);
    }
};

QTEST_GUILESS_MAIN(TestBatchOptions)
#include "tst_batchoptions.moc"
