#pragma once

#include "transfer/receiveend.h"

#include <QString>

// Why an announced file was not taken, whichever port announced it.
struct FileRefusal {
    enum class Why { NameUnusable, NoSaveFolder, NoRoom, CannotCreate, NotTaken };
    Why why = Why::NameUnusable;
    ReceiveEnd::Outcome outcome = ReceiveEnd::Outcome::Refused;
    QString status; // the receiver's words: "Refused: the file name cannot be used"
};
