#pragma once

#include "receiving/filereceiver.h"
#include "station/station.h"
#include "transfer/receivetext.h"

#include <QList>

// Keeps what a receiver, or a station's receiving, has reported of the connection that
// opened last, in the receiver's own words, and every connection's end.
struct ReceiverWatch {
    explicit ReceiverWatch(FileReceiver& receiver)
    {
        watch(receiver, &FileReceiver::connectionOpened, &FileReceiver::fileStarted,
              &FileReceiver::progressed, &FileReceiver::finished);
    }
    explicit ReceiverWatch(Station& station)
    {
        watch(station, &Station::incomingOpened, &Station::incomingFileStarted,
              &Station::incomingProgressed, &Station::incomingEnded);
    }

    int latest = 0;
    QString status = QStringLiteral("Disconnected");
    QString peer;
    QString name;
    qint64 size = 0;
    qint64 received = 0;
    QList<ReceiveEnd> ends;

private:
    template <typename Source, typename Opened, typename Started, typename Progressed,
              typename Finished>
    void watch(Source& source, Opened opened, Started started, Progressed progressed,
               Finished finished)
    {
        QObject::connect(&source, opened, [this](int c, const QString& p) {
            latest = c;
            peer = p;
            status = QStringLiteral("Connected");
        });
        QObject::connect(&source, started, [this](int, const QString& n, qint64 s) {
            name = n;
            size = s;
            status = QStringLiteral("Recieving file");
        });
        QObject::connect(&source, progressed, [this](int, qint64 r, qint64) { received = r; });
        QObject::connect(&source, finished, [this](const ReceiveEnd& end) {
            ends.append(end);
            if (end.connection != latest)
                return;
            status = receiveStatusText(end);
            peer.clear();
            name.clear();
            size = received = 0;
        });
    }
};
