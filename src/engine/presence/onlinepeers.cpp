#include "presence/onlinepeers.h"

#include "text/clocktext.h"

namespace
{

constexpr int kSecondsPerDay = 24 * 60 * 60;

// Seconds from earlier to later, across midnight when later is the smaller time of day.
int secondsBetween(const QTime& earlier, const QTime& later)
{
    return (earlier.secsTo(later) + kSecondsPerDay) % kSecondsPerDay;
}

} // namespace

bool OnlinePeers::isFresh(const Sighting& sighting, const QTime& now)
{
    return sighting.online && secondsBetween(sighting.last, now) < kOnlineSeconds;
}

void OnlinePeers::seen(const QString& address, const QTime& at)
{
    Sighting& sighting = sightings_[address];
    if (!isFresh(sighting, at))
        sighting.since = at;
    sighting.last = at;
    sighting.online = true;
}

void OnlinePeers::expire(const QTime& now)
{
    for (Sighting& sighting : sightings_) {
        if (!isFresh(sighting, now))
            sighting.online = false;
    }
}

bool OnlinePeers::isOnline(const QString& address, const QTime& now) const
{
    const auto found = sightings_.constFind(address);
    return found != sightings_.cend() && isFresh(*found, now);
}

QString OnlinePeers::description(const QString& address, const QTime& now) const
{
    const auto found = sightings_.constFind(address);
    if (found == sightings_.cend())
        return QStringLiteral("Not seen since the program started");
    if (isFresh(*found, now))
        return QStringLiteral("Online since ") + clockMinutesText(found->since);
    return QStringLiteral("Last seen ") + clockMinutesText(found->last);
}
