#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of "pixolund convert". Every option is optional: what is not given comes
// from the stored options.
struct BatchOptions {
    std::optional<QString> format;    // "JPG", "PNG", ...
    std::optional<QString> dpi;       // decimal text, 1..9600
    std::optional<bool> gray;         // --gray
    bool mono = false;                // --mono: 1-bit TIFF
    std::optional<QString> quality;   // 1..100
    std::optional<int> tiffIndex;     // index of the TIFF compression list
    std::optional<bool> multiPage;    // --multipage: all pages in one TIFF
    std::optional<QString> firstPage; // --pages A-B (either side may be empty)
    std::optional<QString> lastPage;
    std::optional<QString> output; // --output DIR
    std::optional<int> jobs;       // --jobs N: files converted at once
    bool passwordFromStdin = false;
    bool saveOptions = false;
    bool help = false;
    bool version = false;
    QStringList inputs; // files and folders
};

struct BatchParse {
    BatchOptions options;
    QString error; // a usage error, or empty
};

// Parses the arguments after "convert". "--opt=value" and "--opt value" both work; "--" ends
// the options.
BatchParse ParseBatchArguments(const QStringList& arguments);

// The text of --help.
QString BatchUsage();
