#include "ui/optionpanel.h"

#include "app/settings.h"
#include "engine/conversionoptions.h"
#include "platform/msgbox.h"
#include "ui/spinedit.h"

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
    const StoredOptions stored = ReadStoredOptions(LoadSettingsFile());
    const OptionValues& v = stored.values;

    m_c.sEdit1->setText(v.outputFolder);
    if (stored.writeFolder)
        WriteSetting(Setting::OutputFolder, v.outputFolder);
    SelectDirectly(m_c.cmbFormat, v.format);
    if (v.range) {
        m_c.radRange->setChecked(true);
        radRangeClick();
    } else {
        m_c.radAll->setChecked(true);
    }
    m_c.txtFirstPage->setText(v.firstPage);
    m_c.txtLastPage->setText(v.lastPage);
    m_c.txtDpi->setText(v.dpi);
    if (stored.writeDpi)
        WriteSetting(Setting::Dpi, v.dpi);
    m_c.txtQuality->setText(v.quality);
    m_lastQuality = v.quality;
    m_lastDpi = v.dpi;
    SelectDirectly(m_c.cmbTiffFmt, v.tiff);
    {
        const QSignalBlocker block(m_c.cmbColor);
        m_c.cmbColor->clear();
        m_c.cmbColor->addItems(ColorList(v.format, v.tiff));
        m_c.cmbColor->setCurrentIndex(v.color);
    }
    m_c.chkEachpage->setChecked(v.eachPage);
    if (stored.writeEachPage)
        chkEachpageClick();
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
    // An emptied box takes back its last value: a blank is no wish for another resolution.
    if (m_c.txtDpi->text().trimmed().isEmpty())
        m_c.txtDpi->setText(m_lastDpi);
    else if (!Normalise(m_c.txtDpi))
        return;
    m_lastDpi = m_c.txtDpi->text();
    WriteSetting(Setting::Dpi, m_c.txtDpi->text());
}

void OptionPanel::RestoreQuality() {
    qint32 value = 0;
    const bool usable = ParseInt32(m_lastQuality, &value) && value >= 1 && value <= 100;
    m_c.txtQuality->setText(usable ? m_lastQuality : Fallback(Setting::JPEGQuality));
}

void OptionPanel::txtQualityExit() {
    TSpinEdit* box = m_c.txtQuality;
    if (box->text().size() > 3)
        box->setText(QStringLiteral("100"));
    if (box->text().trimmed().isEmpty()) {
        // Not the worst quality: a blank is no wish for another one.
        box->setText(m_lastQuality);
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
    m_lastQuality = box->text();
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

OptionValues OptionPanel::CurrentValues() const {
    OptionValues v;
    v.outputFolder = m_c.sEdit1->text();
    v.format = m_c.cmbFormat->currentIndex();
    v.range = !m_c.radAll->isChecked();
    v.firstPage = m_c.txtFirstPage->text();
    v.lastPage = m_c.txtLastPage->text();
    v.dpi = m_c.txtDpi->text();
    v.quality = m_c.txtQuality->text();
    v.tiff = m_c.cmbTiffFmt->currentIndex();
    v.color = m_c.cmbColor->currentIndex();
    v.eachPage = m_c.chkEachpage->isChecked();
    return v;
}

void OptionPanel::FillConversionOptions(TConversionOptions& options) const {
    BuildConversionOptions(CurrentValues(), options);
}
