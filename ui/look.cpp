#include "ui/look.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>
#include <QStyleFactory>

// The pictures live in a static library: registering them by hand keeps the linker from
// dropping them.
static void InitPictures() {
    static const bool done = [] {
        Q_INIT_RESOURCE(pixolund);
        return true;
    }();
    (void)done;
}

namespace {

const char* const StyleSheet = R"(
#sPanel1 {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e6ecf4);
    border: none;
    border-bottom: 1px solid #c3ccd8;
}
#sPanel1 QToolButton {
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 2px 6px 2px 4px;
    color: #1e2a38;
}
#sPanel1 QToolButton:hover { background: #dde9f8; border-color: #a7c3e9; }
#sPanel1 QToolButton:pressed { background: #c7daf3; border-color: #8fb1df; }
#sPanel1 QToolButton:disabled { color: #9aa4b0; }
#sPanel1 QToolButton:focus { border-color: #266ec4; background: #eaf2fc; }
#sPanel2 {
    background: #eef2f7;
    border: none;
    border-left: 1px solid #c3ccd8;
}
QGroupBox {
    background: #ffffff;
    border: 1px solid #c9d2de;
    border-radius: 6px;
    margin-top: 8px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 10px;
    padding: 0 4px;
    color: #1f5296;
}
#sPanel2 #sBitBtn1 {
    font-weight: bold;
    color: #ffffff;
    border: 1px solid #1c5aa4;
    border-radius: 8px;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4a93e3, stop:1 #2468bd);
}
#sPanel2 #sBitBtn1:hover {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5ca1ea, stop:1 #2d74ca);
}
#sPanel2 #sBitBtn1:pressed { background: #1f5ea9; }
#sPanel2 #sBitBtn1:focus { border: 3px solid #0d3463; }
#sPanel2 #sBitBtn1:disabled { color: #e8eef6; background: #a8bcd5; border-color: #97abc5; }
#ListView1 {
    border: none;
    gridline-color: #e2e7ee;
    selection-background-color: #cfe1f7;
    selection-color: #10202f;
}
QHeaderView {
    background-color: #eef2f7;
    border: none;
}
QHeaderView::section {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfe, stop:1 #e9eef5);
    border: none;
    border-right: 1px solid #d3dae4;
    border-bottom: 1px solid #c3ccd8;
    padding: 4px 2px;
    color: #2b3846;
}
#AboutPanel { background: #ffffff; }
)";

// On a dark desktop palette only the start button keeps its own colours; everything else is the
// desktop's.
const char* const DarkStyleSheet = R"(
#sPanel2 #sBitBtn1 {
    font-weight: bold;
    color: #ffffff;
    border: 1px solid #5b8fd0;
    border-radius: 8px;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2f6fbd, stop:1 #1d4f8f);
}
#sPanel2 #sBitBtn1:focus { border: 3px solid #bcd6f5; }
#sPanel2 #sBitBtn1:disabled { color: #aab4c0; background: #3a4350; border-color: #4a5563; }
)";

bool darkPalette = false;

QPalette LightPalette() {
    QPalette p;
    const QColor text(0x21, 0x21, 0x21);
    const QColor disabledText(0x9a, 0xa3, 0xad);
    p.setColor(QPalette::Window, QColor(0xf3, 0xf5, 0xf8));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf6, 0xf8, 0xfb));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0xf7, 0xf8, 0xfa));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x26, 0x6e, 0xc4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xf4));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, QColor(0, 0, 255));
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xf1, 0xf3, 0xf6));
    return p;
}

} // namespace

bool LookIsDark() {
    return darkPalette;
}

QString LookLabelStyle() {
    return darkPalette ? QString() : QStringLiteral("color: %1;").arg(QLatin1String(LookDarkGrey));
}

void ApplyLook(QApplication& app) {
    InitPictures();
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // A dark desktop keeps its palette; a light one gets the program's own light colours.
    darkPalette = app.palette().color(QPalette::Window).lightnessF() < 0.5;
    if (!darkPalette)
        app.setPalette(LightPalette());

    // The desktop's font and size; where the desktop names none that exists (a bare X session
    // says "Sans Serif"), a sans-serif face rather than whatever fontconfig falls back to.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamilies(
        {font.family(), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    app.setFont(font);

    app.setStyleSheet(QString::fromLatin1(darkPalette ? DarkStyleSheet : StyleSheet));
    app.setWindowIcon(LookAppIcon());
}

QHBoxLayout* LookCentredPair(QWidget* left, QWidget* right, int spacing) {
    auto* row = new QHBoxLayout;
    row->setSpacing(spacing);
    row->addStretch(1);
    row->addWidget(left);
    row->addWidget(right);
    row->addStretch(1);
    return row;
}

QColor LookStatusColour(bool error, const QColor& background) {
    if (background.lightnessF() < 0.5)
        return error ? QColor(0xff, 0x8a, 0x8a) : QColor(0x9c, 0xc2, 0xff);
    return error ? QColor(QLatin1String(LookErrorRed)) : QColor(0, 0, 0xff);
}

QIcon LookIcon(const QString& name) {
    InitPictures();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        const QString file = QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

QIcon LookAppIcon() {
    return LookIcon(QStringLiteral("pixolund"));
}
