#include "app/settings.h"

#include "app/inifile.h"
#include "app/literals/literal_values.h"
#include "app/literals/literals.h"
#include "platform/folders.h"
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

bool WriteSetting(const QString& key, const QString& value) {
    const QString path = SettingsFilePath();
    if (path.isEmpty())
        return true;
    PrepareSettingsFolder(); // a failure shows up as a failed write below
    if (key.isEmpty())
        return true;
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
