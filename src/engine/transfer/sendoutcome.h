#pragma once

#include <QAbstractSocket>
#include <QString>

// How the transfer of one file ended.
enum class SendOutcome {
    Sent,       // the receiver counted every byte
    PeerClosed, // the receiver closed the connection first
    NotSent,    // the file could not be read, the receiver refused it or fell silent
    Failed,     // a socket error, a refused connection among them
};

// Why a file was not sent, where this side or the receiver decided it.
enum class NotSentReason {
    None,
    Unreadable,      // the file could not be read: description says why
    Refused,         // the receiver refused the file: told says why, in its words
    FailedOnArrival, // the receiver could not take it after all: told, in its words
    ReceiverEnded,   // the receiver ended the connection: told, in its words, may be empty
    BrokeProtocol,   // the receiver did not keep to the private protocol
    ClosedPrivately, // the receiver closed the private connection before greeting
    KeyKnown,        // private transfers are off, and the receiver's key is known
    CutBefore,       // an earlier file of the batch was cut off, and the batch ended there
    KeyRefused,      // the receiver's key cannot be taken: told says why
};

// Where the file in hand stands, as the sender tells it while it goes.
struct SendStatus {
    enum class Stage {
        None,         // nothing told yet for this file
        Connected,    // the receiver took the connection; the file is announced
        Sending,      // the receiver accepted the file, from its beginning
        Resuming,     // the receiver accepted the file from offset on
        SendingAgain, // the file arrived not as sent, and goes again whole: told says why
        Sent,         // the receiver has the whole file
        NotSent,      // reason says why
        NoAnswer,     // the receiver said nothing for seconds
        SocketError,  // the connection failed: socketError, errorNumber, description
        KeyNotShown,  // the computer at address did not show keyName's key
    };

    Stage stage = Stage::None;
    NotSentReason reason = NotSentReason::None;
    QAbstractSocket::SocketError socketError = QAbstractSocket::UnknownSocketError;
    int errorNumber = 0; // as socketError() numbers it
    QString description; // a socket error's or a read error's
    // A known key's receiver whose private port did not take the connection: nothing
    // goes to it in the clear.
    bool privatePortRefused = false;
    QString told; // the receiver's own words, plain text
    qint64 offset = 0;
    qint64 size = 0;
    int seconds = 0;
    QString keyName;
    QString address;

    static SendStatus at(Stage stage)
    {
        SendStatus status;
        status.stage = stage;
        return status;
    }
    // Not sent for reason; text is the read error's description or the receiver's words,
    // as reason takes them.
    static SendStatus notSent(NotSentReason reason, const QString& text = {});
    static SendStatus fromSocketError(QAbstractSocket::SocketError error,
                                      const QString& description);
};

// How one file's transfer ended, with all a face tells about it.
struct SendEnd {
    SendOutcome outcome = SendOutcome::NotSent;
    SendStatus status;  // the sender's last status for the file
    QString path;       // the file on this computer
    qint64 size = 0;    // as measured when it was queued
    qint64 counted = 0; // the bytes the receiver confirmed
    QString address;    // the receiver's, as it was sent to
    // The address book's name for the receiver: the entry whose key it showed, when it
    // showed one; empty for someone outside the book, or without a book.
    QString peerName;
    bool isPrivate = false;
    bool isLocalSend = false; // it went by LocalSend's protocol
};
