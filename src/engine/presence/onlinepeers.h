#pragma once

#include <QHash>
#include <QString>
#include <QTime>

// Who has announced themselves lately, by the address their announcements come from.
// Everyone announces once a minute, so an address counts as online while its last
// announcement is less than two and a half minutes old: one announcement may go missing,
// two may not. An online run lasts from the first announcement after a silence to the
// last one.
//
// Times are times of day. A sighting a day old would look fresh again, so expire() must
// run well within a day of every change (the window runs it every second).
class OnlinePeers
{
public:
    static constexpr int kOnlineSeconds = 150;

    // An announcement from address arrived at the time given.
    void seen(const QString& address, const QTime& at);
    // Ends the online runs that are over by now.
    void expire(const QTime& now);

    bool isOnline(const QString& address, const QTime& now) const;
    // "Online since 09:05", "Last seen 09:05" or "Not seen since the program started".
    QString description(const QString& address, const QTime& now) const;

private:
    struct Sighting {
        QTime since; // the first announcement of the current or last online run
        QTime last;
        bool online = false;
    };

    static bool isFresh(const Sighting& sighting, const QTime& now);

    QHash<QString, Sighting> sightings_;
};
