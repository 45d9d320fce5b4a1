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
    const auto fail = [&](const QString& text) {
        parse.error = text;
        return parse;
    };
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QStringLiteral("--"))) {
            o.inputs.append(argument);
            continue;
        }
        if (argument == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        QString value;
        bool hasValue = false;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals > 0) {
            value = argument.mid(equals + 1);
            argument = argument.left(equals);
            hasValue = true;
        }
        static const QStringList valued = {"--format", "--dpi",   "--quality",
                                           "--tiff",   "--pages", "--output"};
        if (valued.contains(argument) && !hasValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(argument));
            value = arguments.at(++i);
        } else if (!valued.contains(argument) && hasValue) {
            return fail(QStringLiteral("%1 takes no value").arg(argument));
        }

        if (argument == QStringLiteral("--format")) {
            const qsizetype index = FormatNames.indexOf(value.toUpper());
            if (index < 0)
                return fail(QStringLiteral("unknown format '%1'").arg(value));
            o.format = FormatNames.at(index);
        } else if (argument == QStringLiteral("--dpi")) {
            if (!InRange(value, 1, 9600))
                return fail(QStringLiteral("--dpi must be a whole number from 1 to 9600"));
            o.dpi = QString::number(value.toInt());
        } else if (argument == QStringLiteral("--quality")) {
            if (!InRange(value, 1, 100))
                return fail(QStringLiteral("--quality must be a whole number from 1 to 100"));
            o.quality = QString::number(value.toInt());
        } else if (argument == QStringLiteral("--tiff")) {
            const int index = TiffIndexOf(value);
            if (index < 0)
                return fail(QStringLiteral("unknown TIFF compression '%1'").arg(value));
            o.tiffIndex = index;
        } else if (argument == QStringLiteral("--pages")) {
            static const QRegularExpression range(QStringLiteral("^([0-9]*)(-([0-9]*))?$"));
            const QRegularExpressionMatch match = range.match(value);
            const QString first = match.captured(1);
            const QString last = match.hasCaptured(2) ? match.captured(3) : first;
            if (!match.hasMatch() || (first.isEmpty() && last.isEmpty()) ||
                (!first.isEmpty() && !InRange(first, 1, 999999999)) ||
                (!last.isEmpty() && !InRange(last, 1, 999999999)) ||
                (!first.isEmpty() && !last.isEmpty() && last.toInt() < first.toInt()))
                return fail(QStringLiteral("--pages takes A-B, A-, -B or N with A <= B"));
            o.firstPage = first.isEmpty() ? QString() : QString::number(first.toInt());
            o.lastPage = last.isEmpty() ? QString() : QString::number(last.toInt());
        } else if (argument == QStringLiteral("--output")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--output needs a folder"));
            o.output = value;
        } else if (argument == QStringLiteral("--gray")) {
            o.gray = true;
        } else if (argument == QStringLiteral("--color")) {
            o.gray = false;
        } else if (argument == QStringLiteral("--mono")) {
            o.mono = true;
        } else if (argument == QStringLiteral("--multipage")) {
            o.multiPage = true;
        } else if (argument == QStringLiteral("--separate")) {
            o.multiPage = false;
        } else if (argument == QStringLiteral("--password-stdin")) {
            o.passwordFromStdin = true;
        } else if (argument == QStringLiteral("--save-options")) {
            o.saveOptions = true;
        } else if (argument == QStringLiteral("--help")) {
            o.help = true;
        } else if (argument == QStringLiteral("--version")) {
            o.version = true;
        } else if (argument == QStringLiteral("--password")) {
            return fail(QStringLiteral("passwords are not taken as arguments (they would show "
                                       "in the process list); use --password-stdin"));
        } else {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        }
    }
    if (o.mono && o.gray.has_value())
        return fail(QStringLiteral("--mono cannot be combined with --gray or --color"));
    if (o.mono && o.format.has_value() && *o.format != QStringLiteral("TIFF"))
        return fail(QStringLiteral("--mono writes TIFF images"));
    if (!o.help && !o.version && o.inputs.isEmpty())
        return fail(QStringLiteral("no PDF files or folders given"));
    return parse;
}
