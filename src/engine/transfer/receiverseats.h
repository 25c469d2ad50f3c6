#pragma once

#include <QList>
#include <QString>

#include <chrono>

// What the receiver knows of one connection when a newcomer needs its seat.
struct SeatHolder {
    enum class Stage { // in the order in which they give way
        Done,          // its file is whole and saved; only the closing is left
        NoHeader,      // it has not announced a file yet
        Receiving,     // its file is arriving
    };
    Stage stage = Stage::NoHeader;
    QString peer;                    // its address, dotted
    std::chrono::milliseconds age{}; // since the connection was taken
    qint64 received = 0;             // file bytes so far
};

struct ReceiverLimits;

// How a newcomer is seated: turned away, on a free seat, or on the seat of a holder that
// gives way to it.
struct Seating {
    bool admitted = false;
    qsizetype givesWay = -1; // index into the holders, or -1
};

// How the newcomer from the address peer is seated among holders under limits' caps.
Seating seatFor(const QString& peer, const QList<SeatHolder>& holders,
                const ReceiverLimits& limits);
