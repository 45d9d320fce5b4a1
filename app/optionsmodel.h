#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QByteArray;
struct TConversionOptions;

// List indexes of the format and compression lists.
constexpr int FormatTiff = 4;
inline const QStringList FormatNames = {"JPG", "BMP", "PNG", "GIF", "TIFF", "PCX", "TGA"};
inline const QStringList TiffCompressionNames = {"None",   "JPEG",   "LZW",     "RLE",
                                                 "Fax G3", "Fax G4", "PACKBITS"};
inline const QStringList ColorEntries = {"Color", "Gray"};
inline const QString BlackWhiteEntry = QStringLiteral("Black/White");

// RLE, Fax G3 and Fax G4 write black-and-white images.
bool IsTwoLevelCompression(int tiffIndex);

// The TIFF Compression tag value of a compression list entry; 0 for an index outside the list.
qint32 TiffCompressionOf(int tiffIndex);

// The colour list for a format and compression: "Black/White" alone for a two-level TIFF.
QStringList ColorList(int format, int tiffIndex);

// A stored list index: the stored text when it is a whole number inside a list of `count`
// entries, otherwise the fallback.
int StoredIndex(const QString& stored, int count, int fallback);

// A signed 32-bit decimal whole number (blanks around it allowed); false when it is none.
bool ParseInt32(const QString& text, qint32* value);

// The options as the window shows them; both front ends build a conversion from these.
struct OptionValues {
    QString outputFolder;
    int format = -1; // FormatNames index; -1: none selected
    bool range = false;
    QString firstPage;
    QString lastPage;
    QString dpi;
    QString quality;
    int tiff = -1;  // TiffCompressionNames index; -1: none selected
    int color = -1; // index into ColorList(format, tiff)
    bool eachPage = false;
};

// The stored options read with every rule for missing and hostile values, and which defaults
// the window writes back at start-up.
struct StoredOptions {
    OptionValues values;
    bool writeFolder = false;   // OutputFolder was missing: the default folder is stored
    bool writeRange = false;    // a range was stored: "1" is written
    bool writeDpi = false;      // Dpi was missing: the default is stored
    bool writeEachPage = false; // EachPage missing, no number or 1: "1" is written
};

// Reads the ten keys from settings file content. Values that are not whole numbers where a
// number is expected, and indexes outside their list, count as missing; a JPEG quality that is
// no number of 0 or more is the default.
StoredOptions ReadStoredOptions(const QByteArray& content);

// The snapshot a conversion reads. TiffCompression keeps its previous value when no compression
// is selected.
void BuildConversionOptions(const OptionValues& values, TConversionOptions& options);
