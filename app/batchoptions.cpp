#include "app/batchoptions.h"

#include "app/optionsmodel.h"

#include <QRegularExpression>

namespace {

// Whole decimal number within [low, high], as written (no sign, no blanks).
bool InRange(const QString& text, int low, int high) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    const int value = text.toInt();
    return value >= low && value <= high;
}

// --tiff names and the compression list's indexes.
int TiffIndexOf(const QString& name) {
    static const QStringList names = {"none", "jpeg", "lzw", "rle", "g3", "g4", "packbits"};
    return int(names.indexOf(name.toLower()));
}

const QStringList ValuedOptions = {"--format", "--dpi",    "--quality", "--tiff",
                                   "--pages",  "--output", "--jobs"};

// --pages: A-B, A-, -B or N with A <= B. Returns an error text or empty.
QString ParsePages(const QString& value, BatchOptions& o) {
    static const QRegularExpression range(QStringLiteral("^([0-9]*)(-([0-9]*))?$"));
    const QRegularExpressionMatch match = range.match(value);
    const QString first = match.captured(1);
    const QString last = match.hasCaptured(2) ? match.captured(3) : first;
    if (!match.hasMatch() || (first.isEmpty() && last.isEmpty()) ||
        (!first.isEmpty() && !InRange(first, 1, 999999999)) ||
        (!last.isEmpty() && !InRange(last, 1, 999999999)) ||
        (!first.isEmpty() && !last.isEmpty() && last.toInt() < first.toInt()))
        return QStringLiteral("--pages takes A-B, A-, -B or N with A <= B");
    o.firstPage = first.isEmpty() ? QString() : QString::number(first.toInt());
    o.lastPage = last.isEmpty() ? QString() : QString::number(last.toInt());
    return QString();
}

// An option that takes a value. Returns an error text or empty.
QString ApplyValued(const QString& option, const QString& value, BatchOptions& o) {
    if (option == QStringLiteral("--format")) {
        const qsizetype index = FormatNames.indexOf(value.toUpper());
        if (index < 0)
            return QStringLiteral("unknown format '%1'").arg(value);
        o.format = FormatNames.at(index);
    } else if (option == QStringLiteral("--dpi")) {
        if (!InRange(value, 1, 9600))
            return QStringLiteral("--dpi must be a whole number from 1 to 9600");
        o.dpi = QString::number(value.toInt());
    } else if (option == QStringLiteral("--quality")) {
        if (!InRange(value, 1, 100))
            return QStringLiteral("--quality must be a whole number from 1 to 100");
        o.quality = QString::number(value.toInt());
    } else if (option == QStringLiteral("--tiff")) {
        const int index = TiffIndexOf(value);
        if (index < 0)
            return QStringLiteral("unknown TIFF compression '%1'").arg(value);
        o.tiffIndex = index;
    } else if (option == QStringLiteral("--pages")) {
        return ParsePages(value, o);
    } else if (option == QStringLiteral("--output")) {
        if (value.isEmpty())
            return QStringLiteral("--output needs a folder");
        o.output = value;
    } else if (option == QStringLiteral("--jobs")) {
        if (!InRange(value, 1, 256))
            return QStringLiteral("--jobs must be a whole number from 1 to 256");
        o.jobs = value.toInt();
    }
    return QString();
}

// An option without a value. Returns an error text or empty.
QString ApplyFlag(const QString& option, BatchOptions& o) {
    if (option == QStringLiteral("--gray"))
        o.gray = true;
    else if (option == QStringLiteral("--color"))
        o.gray = false;
    else if (option == QStringLiteral("--mono"))
        o.mono = true;
    else if (option == QStringLiteral("--multipage"))
        o.multiPage = true;
    else if (option == QStringLiteral("--separate"))
        o.multiPage = false;
    else if (option == QStringLiteral("--password-stdin"))
        o.passwordFromStdin = true;
    else if (option == QStringLiteral("--save-options"))
        o.saveOptions = true;
    else if (option == QStringLiteral("--help"))
        o.help = true;
    else if (option == QStringLiteral("--version"))
        o.version = true;
    else if (option == QStringLiteral("--password"))
        return QStringLiteral("passwords are not taken as arguments (they would show in the "
                              "process list); use --password-stdin");
    else
        return QStringLiteral("unknown option %1").arg(option);
    return QString();
}

// What no single option can tell.
QString CheckCombination(const BatchOptions& o) {
    if (o.mono && o.gray.has_value())
        return QStringLiteral("--mono cannot be combined with --gray or --color");
    if (o.mono && o.format.has_value() && *o.format != QStringLiteral("TIFF"))
        return QStringLiteral("--mono writes TIFF images");
    if (!o.help && !o.version && o.inputs.isEmpty())
        return QStringLiteral("no PDF files or folders given");
    return QString();
}

} // namespace

QString BatchUsage() {
    return QStringLiteral(
        "Usage: pixolund convert [options] FILE|FOLDER...\n"
        "Converts PDF files into images without a window: one subfolder per PDF in the output\n"
        "folder. A folder stands for the PDFs below it. Options not given are the ones stored\n"
        "by the window.\n"
        "\n"
        "  --format FORMAT     jpg, png, bmp, gif, tiff, pcx or tga\n"
        "  --dpi N             resolution, 1 to 9600\n"
        "  --gray              grey images (--color: colour)\n"
        "  --mono              black-and-white TIFF (Fax G4 unless --tiff rle or g3)\n"
        "  --quality N         JPEG quality, 1 to 100\n"
        "  --tiff METHOD       TIFF compression: none, lzw, jpeg, packbits, rle, g3, g4\n"
        "  --multipage         all pages of a PDF in one TIFF (--separate: one per page)\n"
        "  --pages A-B         page range: A-B, A-, -B or N (all pages when not given)\n"
        "  --output DIR        output folder\n"
        "  --jobs N            convert N files at once (default: one per processor core)\n"
        "  --password-stdin    read the password of protected files from the first line of\n"
        "                      standard input (never give it as an argument)\n"
        "  --save-options      store the options used as the window's options\n"
        "  --help              show this help\n"
        "  --version           show the version\n"
        "\n"
        "Exit status: 0 when every file was converted, 1 when some failed, 2 for a usage "
        "error.\n");
}

BatchParse ParseBatchArguments(const QStringList& arguments) {
    BatchParse parse;
    BatchOptions& o = parse.options;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && parse.error.isEmpty(); ++i) {
        QString option = arguments.at(i);
        if (optionsEnded || !option.startsWith(QStringLiteral("--"))) {
            o.inputs.append(option);
            continue;
        }
        if (option == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        // "--opt=value" and "--opt value" both work.
        const qsizetype equals = option.indexOf(QLatin1Char('='));
        const bool inline_ = equals > 0;
        QString value = inline_ ? option.mid(equals + 1) : QString();
        if (inline_)
            option = option.left(equals);
        if (!ValuedOptions.contains(option)) {
            parse.error =
                inline_ ? QStringLiteral("%1 takes no value").arg(option) : ApplyFlag(option, o);
            continue;
        }
        if (!inline_) {
            if (i + 1 >= arguments.size()) {
                parse.error = QStringLiteral("%1 needs a value").arg(option);
                continue;
            }
            value = arguments.at(++i);
        }
        parse.error = ApplyValued(option, value, o);
    }
    if (parse.error.isEmpty())
        parse.error = CheckCombination(o);
    return parse;
}
