#pragma once

#include <QtGlobal>

#include <chrono>

// What the receiver grants one sender. Anyone on the network can connect, so nobody may
// hold the receiver by sending slowly or not at all, or by connecting again and again.
struct ReceiverLimits {
    // No byte of the file for this long ends a connection; nothing else counts.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
    // The whole header must have come this long after the connection was taken.
    std::chrono::milliseconds headerDeadline = std::chrono::seconds(10);
    // While a file arrives, each such window must bring at least minProgressBytes.
    std::chrono::milliseconds progressWindow = std::chrono::seconds(15);
    qint64 minProgressBytes = 16 * 1024;
    // Once the file is whole, the sender has this long to close before the receiver does.
    std::chrono::milliseconds closeGrace = std::chrono::seconds(2);
    // Connections served at once, in all and from one address; when all are taken, a
    // newcomer may take the seat of one that makes no progress (see seatFor()).
    int maxConnections = 8;
    int maxConnectionsPerHost = 2;
    // The unfinished files of senders outside the address book, all together.
    qint64 maxStrangerPartBytes = qint64(4) * 1024 * 1024 * 1024;
    int maxStrangerParts = 100;
    // Files and folders one stranger's connection may make, and all strangers together
    // while the receiver runs; never more than half of the save folder's free inodes.
    int maxStrangerMadePerConnection = 2000;
    int maxStrangerMade = 20000;
    // A connection that brings this much per second over its life makes progress.
    qint64 keepSeatBytesPerSecond = 256 * 1024;
    // A copy that hears chat lines only turns every file away, saying so.
    bool takesFiles = true;
};
