#pragma once

#include <QList>
#include <QString>

struct ChatLine;

// What the program is doing, as the tray's tooltip tells it.
struct TrayActivity {
    QString receiving;       // the name of the file arriving, or empty
    int receivedPercent = 0; // of that file
    int sendingRow = 0;      // the row of the batch being sent, from 1; 0 when idle
    int sendingRows = 0;
};

// "Quillo", then one line per activity: "Receiving photo.jpg 42 %", "Sending 3 of 7", or
// "Idle".
QString trayToolTip(const TrayActivity& activity);

// A size as a person reads it: "812 bytes", "2.4 MB".
QString readableSize(qint64 bytes);

// The notifications' texts: "photo.jpg (2.4 MB) from Anna", and a chat turn's lines as
// the transcript shows them, one per line.
QString receivedNotice(const QString& name, qint64 size, const QString& peer);
QString chatNotice(const QList<ChatLine>& lines);
