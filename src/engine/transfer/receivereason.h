#pragma once

#include <QString>

#include <chrono>

// Why a receiving connection, or one file of it, ended or was turned away. Each face words
// it (receivetext.h); the private port tells the sender the same words.
struct ReceiveReason {
    enum class Code {
        Closed,           // the sender closed the connection, the file whole or not
        SocketError,      // errorNumber, as socket errors are numbered for the user
        NameUnusable,     // the announced name cannot be used
        PathTooLong,      // the path is too long or has too many folders
        NoSaveFolder,     // no save folder has been chosen
        ChatOnly,         // this copy hears chat lines only, and takes no file
        CannotSave,       // why: what the system said, or what stood in the way
        NoRoom,           // strangers' unfinished files have used up their room
        NotInAddressBook, // only known senders are taken
        NoKey,            // the private sender showed no key Quillo takes; why: what it showed
        KeyChanged,       // why: the entry whose key the sender did not show
        KeyShared,        // why: the entries that all hold the key the sender showed
        NoCommonVersion,  // the private sender speaks no version this receiver knows
        BrokeProtocol,    // the private sender broke its protocol
        BadHeader,        // why: what was wrong with the plain file header
        Idle,             // nothing arrived for `seconds`
        NoFileHeader,     // no plain file header within `seconds`
        NoGreeting,       // no private greeting within `seconds`
        TooSlow,          // less than `bytes` within `seconds`
        GaveWay,          // its place went to another sender
        TakenOver,        // the sender goes on with the file on a new connection
        Mismatch,         // the bytes did not match the sender's digest; not kept
    };

    static ReceiveReason of(Code code) { return {code, 0, {}, 0, {}}; }
    static ReceiveReason socketError(int number) { return {Code::SocketError, number, {}, 0, {}}; }
    static ReceiveReason with(Code code, const QString& why) { return {code, 0, why, 0, {}}; }
    static ReceiveReason after(Code code, std::chrono::milliseconds time, qint64 bytes = 0)
    {
        return {code, 0, {}, bytes, std::chrono::duration_cast<std::chrono::seconds>(time)};
    }

    Code code = Code::Closed;
    int errorNumber = 0;
    QString why;
    qint64 bytes = 0;
    std::chrono::seconds seconds{0};
};
