#include "transfer/receiverseats.h"

#include "transfer/receiverlimits.h"

#include <QHash>

#include <algorithm>

// When every seat is taken, a newcomer may only take the seat of a connection from an
// address that holds at least as many seats as the newcomer's address will. An address
// with more than that gives way whatever its connections do; one with just as many only
// when the connection makes no progress: its file is whole, it has no header yet, or it
// brings less than keepSeatBytesPerSecond over its life. Of those, the one with least
// progress gives way: a whole file first, then the oldest without a header, then the
// slowest.
//
// Reconnecting does not help against this: a newcomer of an address never counts for
// more than the seats that address holds, so addresses that hold two seats each can
// only take seats from one another, never from a sender with one; and a sender at full
// speed keeps its seat against anyone with an equal share.

namespace
{

constexpr double kMillisecondsPerSecond = 1000.0;

double bytesPerSecond(const SeatHolder& holder)
{
    const auto age = std::max<qint64>(holder.age.count(), 1);
    return double(holder.received) * kMillisecondsPerSecond / double(age);
}

bool makesProgress(const SeatHolder& holder, const ReceiverLimits& limits)
{
    return holder.stage == SeatHolder::Stage::Receiving &&
           bytesPerSecond(holder) >= double(limits.keepSeatBytesPerSecond);
}

// Whether a has made less progress than b.
bool lessProgress(const SeatHolder& a, const SeatHolder& b)
{
    if (a.stage != b.stage)
        return a.stage < b.stage;
    if (a.stage == SeatHolder::Stage::NoHeader)
        return a.age > b.age;
    return bytesPerSecond(a) < bytesPerSecond(b);
}

} // namespace

Seating seatFor(const QString& peer, const QList<SeatHolder>& holders, const ReceiverLimits& limits)
{
    QHash<QString, int> held;
    for (const SeatHolder& holder : holders)
        ++held[holder.peer];
    const int share = held.value(peer) + 1;
    if (share > limits.maxConnectionsPerHost)
        return {};
    if (holders.size() < limits.maxConnections)
        return {true, -1};
    qsizetype weakest = -1;
    for (qsizetype i = 0; i < holders.size(); ++i) {
        const SeatHolder& holder = holders[i];
        const int theirs = held.value(holder.peer);
        if (theirs < share || (theirs == share && makesProgress(holder, limits)))
            continue;
        if (weakest < 0 || lessProgress(holder, holders[weakest]))
            weakest = i;
    }
    return {weakest >= 0, weakest};
}
