#pragma once

#include <QString>

// The folder receive saves into, or why there is none.
struct ReceiveFolder {
    QString folder;    // absolute, ending with '/'; empty when there is none
    QString problem;   // for the user when there is none
    QString note = {}; // for the user, once, when the folder is not the one they chose
};

// --dir when given, otherwise the save folder stored by the window. Either must be an
// existing folder: receiving is refused at the start rather than file by file.
ReceiveFolder chooseReceiveFolder(const QString& dirOption, const QString& storedFolder);
// The same for serve, which must start right the first time: without either, the
// downloads folder, made when missing. Any folder must be one it can write into.
ReceiveFolder chooseServeFolder(const QString& dirOption, const QString& storedFolder,
                                const QString& downloads);
