#include "station/receiversettings.h"

#include "platform/settingsstore.h"

namespace
{

const QString kSettingsSection = QStringLiteral("Settings");
const QString kSaveDirKey = QStringLiteral("SaveDir");
const QString kOnlyKnownKey = QStringLiteral("OnlyKnownSenders");
const QString kAnswerLocalSendKey = QStringLiteral("AnswerLocalSend");

} // namespace

QString storedSaveFolder(const SettingsStore& settings)
{
    return settings.read(kSettingsSection, kSaveDirKey, QString());
}

void storeSaveFolder(SettingsStore& settings, const QString& folder)
{
    settings.write(kSettingsSection, kSaveDirKey, folder);
}

bool storedOnlyKnownSenders(const SettingsStore& settings)
{
    return settings.read(kSettingsSection, kOnlyKnownKey, QString()) == QLatin1String("true");
}

void storeOnlyKnownSenders(SettingsStore& settings, bool only)
{
    settings.write(kSettingsSection, kOnlyKnownKey,
                   only ? QStringLiteral("true") : QStringLiteral("false"));
}

bool storedAnswerLocalSend(const SettingsStore& settings)
{
    return settings.read(kSettingsSection, kAnswerLocalSendKey, QString()) !=
           QLatin1String("false");
}

void storeAnswerLocalSend(SettingsStore& settings, bool answer)
{
    settings.write(kSettingsSection, kAnswerLocalSendKey,
                   answer ? QStringLiteral("true") : QStringLiteral("false"));
}
