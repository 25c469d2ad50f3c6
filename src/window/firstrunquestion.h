#pragma once

#include <QString>

class Dialogs;

// The first-run questions: a message, then the Save As dialog. Returns the chosen
// folder, ending with a separator, or the empty text.
QString askForSaveFolder(Dialogs& dialogs);
