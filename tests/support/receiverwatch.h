#pragma once

#include "receiving/filereceiver.h"
#include "transfer/receivetext.h"

#include <QList>

// Keeps what a receiver has reported of the connection that opened last, in the
// receiver's own words, and every connection's end.
struct ReceiverWatch {
    explicit ReceiverWatch(FileReceiver& receiver)
    {
        QObject::connect(&receiver, &FileReceiver::connectionOpened,
                         [this](int c, const QString& p) {
                             latest = c;
                             peer = p;
                             status = QStringLiteral("Connected");
                         });
        QObject::connect(&receiver, &FileReceiver::fileStarted,
                         [this](int, const QString& n, qint64 s) {
                             name = n;
                             size = s;
                             status = QStringLiteral("Recieving file");
                         });
        QObject::connect(&receiver, &FileReceiver::progressed,
                         [this](int, qint64 r, qint64) { received = r; });
        QObject::connect(&receiver, &FileReceiver::finished, [this](const ReceiveEnd& end) {
            ends.append(end);
            if (end.connection != latest)
                return;
            status = receiveStatusText(end);
            peer.clear();
            name.clear();
            size = received = 0;
        });
    }

    int latest = 0;
    QString status = QStringLiteral("Disconnected");
    QString peer;
    QString name;
    qint64 size = 0;
    qint64 received = 0;
    QList<ReceiveEnd> ends;
};
