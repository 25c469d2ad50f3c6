#pragma once

#include "transfer/receiveend.h"

#include <QString>

// Why an announced file was not taken, whichever port announced it.
struct FileRefusal {
    ReceiveEnd::Outcome outcome = ReceiveEnd::Outcome::Refused;
    ReceiveReason reason;
};
