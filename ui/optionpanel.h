#pragma once

#include "app/optionsmodel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class TSpinEdit;
struct TConversionOptions;

// The controls of the main window's groups "Option" and "Page Range" and the output folder box.
// The main window owns them; OptionPanel holds the rules that tie them to the settings file.
struct OptionControls {
    QComboBox* cmbFormat = nullptr;
    QLabel* sLabel9 = nullptr; // "JPEG Quality(1-100):"
    TSpinEdit* txtQuality = nullptr;
    QLabel* sLabel10 = nullptr; // "TIFF Compression:"
    QComboBox* cmbTiffFmt = nullptr;
    QLineEdit* txtDpi = nullptr;
    QComboBox* cmbColor = nullptr;
    QCheckBox* chkEachpage = nullptr;
    QRadioButton* radAll = nullptr;
    QRadioButton* radRange = nullptr;
    QLineEdit* txtFirstPage = nullptr;
    QLineEdit* txtLastPage = nullptr;
    QLineEdit* sEdit1 = nullptr; // output folder box
};

class OptionPanel {
public:
    explicit OptionPanel(const OptionControls& controls);

    // The controls' built-in initial state: lists filled, nothing selected in them, quality 1,
    // resolution "150", each-page box clear, "All Pages", empty page boxes.
    void SetBuiltInState();

    // Start-up: reads the ten keys once and applies them in their order, writing back the
    // defaults the rules name. Values that are not whole numbers where a number is expected, and
    // indexes outside their list, count as missing.
    void LoadSettings();

    // First showing: page boxes follow the range buttons; format-dependent controls follow the
    // selected format.
    void ApplyPageBoxRule();
    void ApplyVisibilityRule();

    // Handlers; each writes exactly the keys its rule names.
    void cmbFormatChange();
    void cmbTiffFmtChange();
    void cmbColorChange();
    void chkEachpageClick();
    void radAllClick();
    void radRangeClick();
    void txtDpiExit();
    void txtQualityExit();
    void txtFirstPageExit();
    void txtLastPageExit();

    // The quality box back to its last value (the default when that was out of range).
    void RestoreQuality();

    // What the controls show now.
    OptionValues CurrentValues() const;

    // The snapshot a conversion reads, taken from the controls. TiffCompression keeps its
    // previous value when the compression list has no selection.
    void FillConversionOptions(TConversionOptions& options) const;

private:
    // Empties the colour list and refills it: "Black/White" (selected) for a two-level
    // compression, else "Color" and "Gray" with the previously selected index selected again.
    void RefillColorList(bool twoLevel);

    OptionControls m_c;
    // What an emptied quality or resolution box returns to: its last loaded or written value.
    QString m_lastQuality = QStringLiteral("1");
    QString m_lastDpi = QStringLiteral("150");
};
