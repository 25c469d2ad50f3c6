#pragma once

#include "transfer/receivereason.h"

#include <QString>

// How one connection to the receiver ended.
struct ReceiveEnd {
    enum class Outcome {
        Saved,      // the announced size arrived whole and the file has its final name
        Incomplete, // the peer closed before the end (or before any header); what came is kept
        Refused,    // the header could not be used, or the sender was turned away
        CannotSave, // the file could not be created, written or named
        Idle,       // the sender fell silent, or too slow to be a sender
        Failed,     // a socket error
    };
    int connection = 0; // which connection, as its other signals name it
    Outcome outcome = Outcome::Incomplete;
    QString peer;    // the sender's address, dotted
    QString path;    // where the received bytes are; empty when no file was made
    qint64 size = 0; // the announced size
    qint64 received = 0;
    ReceiveReason reason;   // why it ended; receiveStatusText() words it
    QString detail;         // more for the user, such as an error's description; may be empty
    bool isPrivate = false; // it came on the private port
    QString keyName;        // the entry whose key the sender showed; empty for plain or a stranger
    QString folder = {};    // the top folder the file went into as saved, full path; empty if loose
    // "Anna (unverified)": plain, from the address of an entry that holds a key; else empty
    QString unverifiedName = {};
    bool isLocalSend = false; // it came from a LocalSend device, by that protocol
};
