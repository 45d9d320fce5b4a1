#pragma once

#include <QString>

// The settings file: one INI file under the common application data folder, section "System",
// ten keys. The main window reads it once at start-up (OptionPanel::LoadSettings); from then on
// every change of an option is written through at once, one key per write.

inline const QString SettingsSection = QStringLiteral("System");

class QByteArray;

// The ten keys. Every read and write names one of these, so a mistyped key cannot fail silently.
enum class Setting {
    OutputFolder,
    OutputFormat,
    Range,
    FirstPage,
    LastPage,
    Dpi,
    JPEGQuality,
    TiffFormat,
    OutputColor,
    EachPage,
};

struct SettingKey {
    Setting id;
    const char* key;      // the key in the file
    const char* fallback; // used when the value is missing; nullptr: computed (OutputFolder)
    bool writtenBack;     // start-up writes the fallback back when the value is missing
};

// The row of one key.
const SettingKey& SettingRow(Setting id);

// The stored text of a key in the given file content (empty when missing).
QString StoredSetting(const QByteArray& content, Setting id);

// The settings file's full path: the common application data folder followed by the deciphered
// relative path (which begins with "/"). Empty when that folder cannot be obtained.
QString SettingsFilePath();

// Creates the folder of the settings file with all missing parents. False without a common
// application data folder or when the folder cannot be made.
bool PrepareSettingsFolder();

// Reads the settings file at start-up (empty without a common application data folder or a
// file). A file that cannot be read safely (not a regular file, too large, unreadable, damaged
// text) gives empty content and an error box naming the file and the reason, and no setting is
// written to it until the next call.
QByteArray LoadSettingsFile();

// Writes one key of section "System"; every other line of the file stays as it was. Without a
// common application data folder, or after LoadSettingsFile refused the file, it does nothing
// (and returns true: there is nothing to report).
// A failed write shows "Unable to write to <path>" in an error box and returns false.
bool WriteSetting(Setting id, const QString& value);

// The main window's size and place (QWidget::saveGeometry, in base64) in section "Window" of
// the settings file, apart from the options. Reading gives an empty array when there is none;
// a write failure is not reported, as the window merely opens at its usual size next time.
QByteArray StoredWindowGeometry();
void WriteWindowGeometry(const QByteArray& geometry);

// The documents folder followed by "/Pixolund"; not created here.
QString DefaultOutputFolder();
