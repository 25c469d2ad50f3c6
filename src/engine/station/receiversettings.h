#pragma once

#include <QString>

class SettingsStore;

// The folder received files go into, as the user chose it: [Settings] SaveDir. Empty
// when none has been chosen yet.
QString storedSaveFolder(const SettingsStore& settings);
void storeSaveFolder(SettingsStore& settings, const QString& folder);

// Whether files are taken only from addresses in the address book: [Settings]
// OnlyKnownSenders. Off unless chosen.
bool storedOnlyKnownSenders(const SettingsStore& settings);
void storeOnlyKnownSenders(SettingsStore& settings, bool only);

// Whether LocalSend devices in the address book that announce themselves are answered:
// [Settings] AnswerLocalSend. On unless turned off.
bool storedAnswerLocalSend(const SettingsStore& settings);
void storeAnswerLocalSend(SettingsStore& settings, bool answer);
