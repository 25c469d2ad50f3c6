#pragma once

#include "receiving/receivedhistory.h"

#include <QList>

// One row of the Received Files list: a loose file, or a received folder named once with
// all its files.
struct ReceivedRow {
    ReceivedEntry entry; // a folder's: its name, its path, the newest time, the total size
    int files = 1;
};

// The rows for entries, newest first; a folder takes the place of its newest file.
QList<ReceivedRow> receivedRows(const QList<ReceivedEntry>& entries);
