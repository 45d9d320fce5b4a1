#include "app/settings.h"

#include "app/inifile.h"
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/msgbox.h"

#include <QFileInfo>

QString SettingsFilePath() {
    QString folder = platform::CommonAppDataFolder();
    if (folder.isEmpty())
        return {};
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder + QString::fromUtf8(DecipherName(EncSettingsPath));
}

bool PrepareSettingsFolder() {
    const QString path = SettingsFilePath();
    if (path.isEmpty())
        return false;
    const QString folder = QFileInfo(path).path();
    return platform::DirectoryExists(folder) || platform::ForceDirectories(folder);
}

namespace {

// Set when this session's settings file was refused at start-up: it is then never written.
bool settingsRefused = false;

constexpr SettingKey Keys[] = {
    {Setting::OutputFolder, "OutputFolder", nullptr, true},
    {Setting::OutputFormat, "OutputFormat", "0", false},
    {Setting::Range, "Range", "0", false},
    {Setting::FirstPage, "FirstPage", "", false},
    {Setting::LastPage, "LastPage", "", false},
    {Setting::Dpi, "Dpi", "150", true},
    {Setting::JPEGQuality, "JPEGQuality", "75", false},
    {Setting::TiffFormat, "TiffFormat", "1", false},
    {Setting::OutputColor, "OutputColor", "0", false},
    {Setting::EachPage, "EachPage", "1", true},
};

} // namespace

const SettingKey& SettingRow(Setting id) {
    for (const SettingKey& row : Keys) {
        if (row.id == id)
            return row;
    }
    Q_UNREACHABLE();
}

QString StoredSetting(const QByteArray& content, Setting id) {
    return ini::ReadValue(content, SettingsSection, QString::fromLatin1(SettingRow(id).key));
}

QByteArray LoadSettingsFile() {
    settingsRefused = false;
    const QString path = SettingsFilePath();
    if (path.isEmpty())
        return {};
    QByteArray content;
    ini::Encoding encoding;
    QString why;
    if (ini::LoadFile(path, &content, &encoding, &why))
        return content;
    settingsRefused = true;
    platform::MessageBox(platform::BoxKind::Error,
                         QStringLiteral("The settings file %1 cannot be used: %2.\n\n"
                                        "Pixolund starts with the default settings and leaves the "
                                        "file as it is; changes are not saved in this session.")
                             .arg(path, why));
    return {};
}

namespace {

const QString WindowSection = QStringLiteral("Window");
const QString GeometryKey = QStringLiteral("Geometry");

} // namespace

QByteArray StoredWindowGeometry() {
    const QString path = SettingsFilePath();
    if (path.isEmpty() || settingsRefused)
        return {};
    const QString text = ini::ReadValue(ini::ReadFile(path), WindowSection, GeometryKey);
    return QByteArray::fromBase64(text.toLatin1());
}

void WriteWindowGeometry(const QByteArray& geometry) {
    const QString path = SettingsFilePath();
    if (path.isEmpty() || settingsRefused)
        return;
    PrepareSettingsFolder();
    ini::WriteValue(path, WindowSection, GeometryKey, QString::fromLatin1(geometry.toBase64()));
}

bool WriteSetting(Setting id, const QString& value) {
    const QString path = SettingsFilePath();
    if (path.isEmpty() || settingsRefused)
        return true;
    PrepareSettingsFolder(); // a failure shows up as a failed write below
    const QString key = QString::fromLatin1(SettingRow(id).key);
    if (ini::WriteValue(path, SettingsSection, key, value))
        return true;
    platform::MessageBox(platform::BoxKind::Error,
                         QStringLiteral("Unable to write to %1").arg(path));
    return false;
}

QString DefaultOutputFolder() {
    QString documents = platform::DocumentsFolder();
    while (documents.size() > 1 && documents.endsWith(u'/'))
        documents.chop(1);
    return documents + QStringLiteral("/Pixolund");
}
