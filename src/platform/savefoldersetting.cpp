#include "platform/savefoldersetting.h"

#include "platform/settingsstore.h"

namespace
{

const QString kSettingsSection = QStringLiteral("Settings");
const QString kSaveDirKey = QStringLiteral("SaveDir");

} // namespace

QString storedSaveFolder(const SettingsStore& settings)
{
    return settings.read(kSettingsSection, kSaveDirKey, QString());
}

void storeSaveFolder(SettingsStore& settings, const QString& folder)
{
    settings.write(kSettingsSection, kSaveDirKey, folder);
}
