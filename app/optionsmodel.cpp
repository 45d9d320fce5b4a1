#include "app/optionsmodel.h"

#include "app/settings.h"
#include "engine/conversionoptions.h"

#include <QByteArray>

#include <iterator>

namespace {

QString Fallback(Setting id) {
    return QString::fromLatin1(SettingRow(id).fallback);
}

} // namespace

bool IsTwoLevelCompression(int tiffIndex) {
    return tiffIndex >= 3 && tiffIndex <= 5;
}

qint32 TiffCompressionOf(int tiffIndex) {
    static constexpr qint32 Tags[] = {1, 7, 5, 2, 3, 4, 32773};
    if (tiffIndex < 0 || tiffIndex >= qint32(std::size(Tags)))
        return 0;
    return Tags[tiffIndex];
}

QStringList ColorList(int format, int tiffIndex) {
    if (format == FormatTiff && IsTwoLevelCompression(tiffIndex))
        return {BlackWhiteEntry};
    return ColorEntries;
}

int StoredIndex(const QString& stored, int count, int fallback) {
    qint32 value = 0;
    if (stored.trimmed().isEmpty() || !ParseInt32(stored, &value) || value < 0 || value >= count)
        return fallback;
    return value;
}

bool ParseInt32(const QString& text, qint32* value) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    qsizetype i = (t.front() == u'-' || t.front() == u'+') ? 1 : 0;
    if (i == t.size())
        return false;
    for (qsizetype k = i; k < t.size(); ++k) {
        if (t.at(k) < u'0' || t.at(k) > u'9')
            return false;
    }
    bool ok = false;
    const int v = t.toInt(&ok, 10);
    if (!ok)
        return false;
    *value = v;
    return true;
}

StoredOptions ReadStoredOptions(const QByteArray& content) {
    StoredOptions s;
    OptionValues& v = s.values;
    const auto stored = [&](Setting id) { return StoredSetting(content, id); };

    v.outputFolder = stored(Setting::OutputFolder);
    if (v.outputFolder.trimmed().isEmpty()) {
        v.outputFolder = DefaultOutputFolder();
        s.writeFolder = true;
    }
    v.format = StoredIndex(stored(Setting::OutputFormat), int(FormatNames.size()),
                           Fallback(Setting::OutputFormat).toInt());

    const QString range = stored(Setting::Range);
    v.range = !range.isEmpty() && range != u"0";
    s.writeRange = v.range;
    v.firstPage = stored(Setting::FirstPage);
    v.lastPage = stored(Setting::LastPage);

    v.dpi = stored(Setting::Dpi);
    if (v.dpi.trimmed().isEmpty()) {
        v.dpi = Fallback(Setting::Dpi);
        s.writeDpi = true;
    }

    // Kept as stored ("075" stays "075"); only text that is no such number is replaced.
    v.quality = stored(Setting::JPEGQuality);
    qint32 quality = 0;
    if (!ParseInt32(v.quality, &quality) || quality < 0)
        v.quality = Fallback(Setting::JPEGQuality);

    v.tiff = StoredIndex(stored(Setting::TiffFormat), int(TiffCompressionNames.size()),
                         Fallback(Setting::TiffFormat).toInt());
    // The colour list follows the format and compression, so an odd but valid stored text
    // (" 4", "05") gives the same list as its plain form.
    v.color = StoredIndex(stored(Setting::OutputColor), int(ColorList(v.format, v.tiff).size()),
                          Fallback(Setting::OutputColor).toInt());

    const QString eachPage = stored(Setting::EachPage);
    qint32 each = 0;
    if (eachPage.trimmed().isEmpty() || !ParseInt32(eachPage, &each) || each == 1) {
        v.eachPage = true;
        s.writeEachPage = true;
    }
    // 0, and any other number, leave the box clear.
    return s;
}

void BuildConversionOptions(const OptionValues& v, TConversionOptions& options) {
    options.OutputFolder = v.outputFolder;
    options.FormatName =
        v.format >= 0 && v.format < FormatNames.size() ? FormatNames.at(v.format) : QString();
    options.Range = v.range ? QStringLiteral("1") : QStringLiteral("0");
    options.FirstPage = v.range ? v.firstPage : QString();
    options.LastPage = v.range ? v.lastPage : QString();
    options.Dpi = v.dpi;
    options.JPEGQuality = v.quality;
    if (v.tiff >= 0)
        options.TiffCompression = TiffCompressionOf(v.tiff);
    options.OutputColor = QString::number(v.color);
    options.MultiPage = v.eachPage ? QStringLiteral("0") : QStringLiteral("1");
}
