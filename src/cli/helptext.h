#pragma once

#include <QString>

// What --help prints: every subcommand when topic is empty, otherwise the one named.
QString helpText(const QString& topic);
// What --version prints.
QString versionText();
