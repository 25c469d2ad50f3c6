#pragma once

#include <QString>

// "Resuming at 73 %": a transfer that goes on from offset of size bytes, in whole percent.
QString resumingText(qint64 offset, qint64 size);
