#pragma once

#include <QString>

// How long the rest of a transfer will take at its average speed so far (bytes in
// seconds), in words rounded enough to stay steady from one second to the next: "A few
// seconds left", "About 20 seconds left", "About 3 minutes left", "About 1 hour 20 minutes
// left". Empty while there is no speed to go by yet, or nothing is left.
QString timeLeftText(qint64 remaining, qint64 bytes, int seconds);
