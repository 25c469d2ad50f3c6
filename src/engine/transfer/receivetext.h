#pragma once

#include "transfer/receiveend.h"
#include "transfer/receivereason.h"

#include <QString>

// The receiver's words for a reason, the same on either port and in both faces: "Refused:
// the file name cannot be used". peer is the sender's address, dotted.
QString receiveReasonText(const ReceiveReason& reason, const QString& peer);
// The receiver's status line once a connection or file ended: "Disconnected", "Error 10054".
QString receiveStatusText(const ReceiveEnd& end);
