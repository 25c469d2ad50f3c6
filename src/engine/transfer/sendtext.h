#pragma once

#include "transfer/sendoutcome.h"

#include <QString>

// The words both faces use for what the sender tells; the window has shown them so
// from the start. What the receiver said stays its own words, as plain text.

// The sender's status line: "Connected", "Sending File", "File Sent", "Error 10061"...
QString sendStatusText(const SendStatus& status);
// What the status line says more, such as an error's description; may be empty.
QString sendStatusDetail(const SendStatus& status);
// Why a file was not sent, as its status says after "Not sent: ".
QString notSentText(const SendStatus& status);
