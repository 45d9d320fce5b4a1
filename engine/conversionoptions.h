#pragma once

#include <QString>
#include <QtGlobal>

// Snapshot of the option controls that one conversion reads. The GUI thread fills it before it
// starts the conversion worker and keeps the controls that feed it disabled until the end.
struct TConversionOptions {
    QString OutputFolder;
    QString FormatName;
    QString Range;
    QString FirstPage;
    QString LastPage;
    QString Dpi;
    QString JPEGQuality;
    qint32 TiffCompression = 0;
    QString OutputColor;
    QString MultiPage;
};

extern TConversionOptions ConversionOptions;
