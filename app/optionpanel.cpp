#include "app/optionpanel.h"

#include "app/inifile.h"
#include "app/settings.h"
#include "app/spinedit.h"
#include "engine/conversionoptions.h"
#include "platform/msgbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

namespace {

QString Fallback(Setting id) {
    return QString::fromLatin1(SettingRow(id).fallback);
}

const QString DefaultDpi = Fallback(Setting::Dpi);
const QString DefaultQuality = Fallback(Setting::JPEGQuality);
const int DefaultTiffIndex = Fallback(Setting::TiffFormat).toInt(); // "JPEG"
const QStringList ColorEntries = {"Color", "Gray"};
const QString BlackWhiteEntry = QStringLiteral("Black/White");

void ShowConversionError(const QString& text) {
    platform::MessageBox(platform::BoxKind::Error,
                         QStringLiteral("'%1' is not a valid integer value").arg(text));
}

// Replaces the box text by its number in plain decimal ("0072" -> "72"); an error box and false
// when the text is not a 32-bit whole number (the text then stays).
bool Normalise(QLineEdit* box) {
    qint32 value = 0;
    if (!ParseInt32(box->text(), &value)) {
        ShowConversionError(box->text());
        return false;
    }
    box->setText(QString::number(value));
    return true;
}

void SelectDirectly(QComboBox* box, int index) {
    const QSignalBlocker block(box);
    box->setCurrentIndex(index);
}

} // namespace

int StoredIndex(const QString& stored, int count, int fallback) {
    qint32 value = 0;
    if (stored.trimmed().isEmpty() || !ParseInt32(stored, &value) || value < 0 || value >= count)
        return fallback;
    return value;
}

bool IsTwoLevelCompression(int tiffIndex) {
    return tiffIndex >= 3 && tiffIndex <= 5;
}

qint32 TiffCompressionOf(int tiffIndex) {
    static constexpr qint32 Tags[] = {1, 7, 5, 2, 3, 4, 32773};
    if (tiffIndex < 0 || tiffIndex >= qint32(std::size(Tags)))
        return 0;
    return Tags[tiffIndex];
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

OptionPanel::OptionPanel(const OptionControls& controls) : m_c(controls) {}

void OptionPanel::SetBuiltInState() {
    {
        const QSignalBlocker block(m_c.cmbFormat);
        m_c.cmbFormat->clear();
        m_c.cmbFormat->addItems(FormatNames);
        m_c.cmbFormat->setCurrentIndex(-1);
    }
    {
        const QSignalBlocker block(m_c.cmbTiffFmt);
        m_c.cmbTiffFmt->clear();
        m_c.cmbTiffFmt->addItems(TiffCompressionNames);
        m_c.cmbTiffFmt->setCurrentIndex(-1);
    }
    {
        const QSignalBlocker block(m_c.cmbColor);
        m_c.cmbColor->clear();
        m_c.cmbColor->addItems(ColorEntries);
        m_c.cmbColor->setCurrentIndex(-1);
    }
    m_c.txtQuality->setLimits(1, 100);
    m_c.txtQuality->setText(QStringLiteral("1"));
    m_c.txtDpi->setText(DefaultDpi);
    m_c.chkEachpage->setChecked(false);
    m_c.radAll->setChecked(true);
    m_c.txtFirstPage->clear();
    m_c.txtLastPage->clear();
}

void OptionPanel::LoadSettings() {
    const QByteArray content = LoadSettingsFile();
    const auto stored = [&](Setting id) { return StoredSetting(content, id); };

    const QString folder = stored(Setting::OutputFolder);
    if (!folder.trimmed().isEmpty()) {
        m_c.sEdit1->setText(folder);
    } else {
        m_c.sEdit1->setText(DefaultOutputFolder());
        WriteSetting(Setting::OutputFolder, m_c.sEdit1->text());
    }

    const int format = StoredIndex(stored(Setting::OutputFormat), m_c.cmbFormat->count(),
                                   Fallback(Setting::OutputFormat).toInt());
    SelectDirectly(m_c.cmbFormat, format);

    const QString range = stored(Setting::Range);
    if (range.isEmpty() || range == u"0") {
        m_c.radAll->setChecked(true);
    } else {
        m_c.radRange->setChecked(true);
        radRangeClick();
    }

    m_c.txtFirstPage->setText(stored(Setting::FirstPage));
    m_c.txtLastPage->setText(stored(Setting::LastPage));

    const QString dpi = stored(Setting::Dpi);
    if (!dpi.trimmed().isEmpty()) {
        m_c.txtDpi->setText(dpi);
    } else {
        m_c.txtDpi->setText(DefaultDpi);
        WriteSetting(Setting::Dpi, DefaultDpi);
    }

    // Shown as stored ("075" stays "075"); only text that is no such number is replaced.
    const QString storedQuality = stored(Setting::JPEGQuality);
    qint32 quality = 0;
    if (ParseInt32(storedQuality, &quality) && quality >= 0)
        m_c.txtQuality->setText(storedQuality);
    else
        m_c.txtQuality->setText(DefaultQuality);

    const int tiff =
        StoredIndex(stored(Setting::TiffFormat), m_c.cmbTiffFmt->count(), DefaultTiffIndex);
    SelectDirectly(m_c.cmbTiffFmt, tiff);

    // The colour list follows the format and compression just selected, so an odd but valid
    // stored text (" 4", "05") gives the same list as its plain form.
    {
        const QSignalBlocker block(m_c.cmbColor);
        m_c.cmbColor->clear();
        if (format == FormatTiff && IsTwoLevelCompression(tiff))
            m_c.cmbColor->addItem(BlackWhiteEntry);
        else
            m_c.cmbColor->addItems(ColorEntries);
        m_c.cmbColor->setCurrentIndex(-1);
    }
    SelectDirectly(m_c.cmbColor, StoredIndex(stored(Setting::OutputColor), m_c.cmbColor->count(),
                                             Fallback(Setting::OutputColor).toInt()));

    const QString eachPage = stored(Setting::EachPage);
    qint32 each = 0;
    if (eachPage.trimmed().isEmpty() || !ParseInt32(eachPage, &each)) {
        m_c.chkEachpage->setChecked(true);
        chkEachpageClick();
    } else if (each == 0) {
        m_c.chkEachpage->setChecked(false);
    } else if (each == 1) {
        m_c.chkEachpage->setChecked(true);
        chkEachpageClick();
    }
    // Any other number leaves the box in its built-in state.
}

void OptionPanel::ApplyPageBoxRule() {
    const bool range = m_c.radRange->isChecked();
    m_c.txtFirstPage->setEnabled(range);
    m_c.txtLastPage->setEnabled(range);
}

void OptionPanel::ApplyVisibilityRule() {
    const QString format = m_c.cmbFormat->currentText();
    const bool jpg = m_c.cmbFormat->currentIndex() >= 0 && format == u"JPG";
    const bool tiff = m_c.cmbFormat->currentIndex() >= 0 && format == u"TIFF";
    m_c.sLabel9->setVisible(jpg);
    m_c.txtQuality->setVisible(jpg);
    m_c.sLabel10->setVisible(tiff);
    m_c.cmbTiffFmt->setVisible(tiff);
    m_c.chkEachpage->setVisible(tiff);
}

void OptionPanel::RefillColorList(bool twoLevel) {
    const int previous = m_c.cmbColor->currentIndex();
    const QSignalBlocker block(m_c.cmbColor);
    m_c.cmbColor->clear();
    if (twoLevel) {
        m_c.cmbColor->addItem(BlackWhiteEntry);
        m_c.cmbColor->setCurrentIndex(0);
    } else {
        m_c.cmbColor->addItems(ColorEntries);
        m_c.cmbColor->setCurrentIndex(previous < m_c.cmbColor->count() ? previous : -1);
    }
}

void OptionPanel::cmbFormatChange() {
    const int format = m_c.cmbFormat->currentIndex();
    if (format != FormatTiff)
        RefillColorList(false);
    else
        RefillColorList(IsTwoLevelCompression(m_c.cmbTiffFmt->currentIndex()));
    ApplyVisibilityRule();
    WriteSetting(Setting::OutputFormat, QString::number(format));
}

void OptionPanel::cmbTiffFmtChange() {
    const int tiff = m_c.cmbTiffFmt->currentIndex();
    RefillColorList(IsTwoLevelCompression(tiff));
    WriteSetting(Setting::TiffFormat, QString::number(tiff));
    WriteSetting(Setting::OutputColor, QString::number(m_c.cmbColor->currentIndex()));
}

void OptionPanel::cmbColorChange() {
    WriteSetting(Setting::OutputColor, QString::number(m_c.cmbColor->currentIndex()));
}

void OptionPanel::chkEachpageClick() {
    WriteSetting(Setting::EachPage,
                 m_c.chkEachpage->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void OptionPanel::radAllClick() {
    m_c.txtFirstPage->setEnabled(false);
    m_c.txtLastPage->setEnabled(false);
    WriteSetting(Setting::Range, QStringLiteral("0"));
}

void OptionPanel::radRangeClick() {
    m_c.txtFirstPage->setEnabled(true);
    m_c.txtLastPage->setEnabled(true);
    WriteSetting(Setting::Range, QStringLiteral("1"));
}

void OptionPanel::txtDpiExit() {
    if (m_c.txtDpi->text().trimmed().isEmpty())
        m_c.txtDpi->setText(DefaultDpi);
    else if (!Normalise(m_c.txtDpi))
        return;
    WriteSetting(Setting::Dpi, m_c.txtDpi->text());
}

void OptionPanel::txtQualityExit() {
    TSpinEdit* box = m_c.txtQuality;
    if (box->text().size() > 3)
        box->setText(QStringLiteral("100"));
    if (box->text().trimmed().isEmpty()) {
        box->setText(QStringLiteral("1"));
    } else {
        qint32 value = 0;
        if (!ParseInt32(box->text(), &value)) {
            ShowConversionError(box->text());
            return;
        }
        if (value <= 0)
            box->setText(QStringLiteral("1"));
        else if (value > 100)
            box->setText(QStringLiteral("100"));
    }
    WriteSetting(Setting::JPEGQuality, box->text());
}

void OptionPanel::txtFirstPageExit() {
    if (!m_c.txtFirstPage->text().trimmed().isEmpty() && !Normalise(m_c.txtFirstPage))
        return;
    WriteSetting(Setting::FirstPage, m_c.txtFirstPage->text());
}

void OptionPanel::txtLastPageExit() {
    QLineEdit* last = m_c.txtLastPage;
    QLineEdit* first = m_c.txtFirstPage;
    if (last->text().trimmed().isEmpty()) {
        last->clear();
    } else if (!first->text().trimmed().isEmpty()) {
        qint32 lastValue = 0;
        qint32 firstValue = 0;
        if (!ParseInt32(last->text(), &lastValue)) {
            ShowConversionError(last->text());
            return;
        }
        if (!ParseInt32(first->text(), &firstValue)) {
            ShowConversionError(first->text());
            return;
        }
        if (lastValue < firstValue)
            last->clear();
        else
            last->setText(QString::number(lastValue));
    } else if (!Normalise(last)) {
        return;
    }
    WriteSetting(Setting::LastPage, last->text());
}

void OptionPanel::FillConversionOptions(TConversionOptions& options) const {
    options.OutputFolder = m_c.sEdit1->text();
    options.FormatName =
        m_c.cmbFormat->currentIndex() >= 0 ? m_c.cmbFormat->currentText() : QString();
    options.Range = m_c.radAll->isChecked() ? QStringLiteral("0") : QStringLiteral("1");
    const bool range = options.Range == u"1";
    options.FirstPage = range ? m_c.txtFirstPage->text() : QString();
    options.LastPage = range ? m_c.txtLastPage->text() : QString();
    options.Dpi = m_c.txtDpi->text();
    options.JPEGQuality = m_c.txtQuality->text();
    if (m_c.cmbTiffFmt->currentIndex() >= 0)
        options.TiffCompression = TiffCompressionOf(m_c.cmbTiffFmt->currentIndex());
    options.OutputColor = QString::number(m_c.cmbColor->currentIndex());
    options.MultiPage = m_c.chkEachpage->isChecked() ? QStringLiteral("0") : QStringLiteral("1");
}
