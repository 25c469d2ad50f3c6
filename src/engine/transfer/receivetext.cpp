#include "transfer/receivetext.h"

#include "addressbook/peerkeys.h"

namespace
{

using Code = ReceiveReason::Code;

// Words for a reason that needs nothing but its code.
QString plainText(Code code)
{
    switch (code) {
    case Code::Closed:
        return QStringLiteral("Disconnected");
    case Code::NameUnusable:
        return QStringLiteral("Refused: the file name cannot be used");
    case Code::PathTooLong:
        return QStringLiteral("Refused: the path is too long or has too many folders");
    case Code::NoSaveFolder:
        return QStringLiteral("Cannot save: no save folder has been chosen");
    case Code::ChatOnly:
        return QStringLiteral("Refused: this copy of Quillo takes chat lines only (quillo listen), "
                              "not files");
    case Code::NoRoom:
        return QStringLiteral("Refused: no more room for unfinished files from senders outside "
                              "your address book");
    case Code::NoCommonVersion:
        return QStringLiteral(
            "Refused: the sender speaks no version of the private protocol that Quillo knows");
    case Code::BrokeProtocol:
        return QStringLiteral("Closed: the sender broke the private protocol");
    case Code::GaveWay:
        return QStringLiteral("Closed: its place went to another sender");
    case Code::TakenOver:
        return QStringLiteral("Closed: the sender goes on with this file on a new connection");
    case Code::Mismatch:
        return QStringLiteral(
            "Failed: the bytes that arrived do not match the file that was sent, so it was not "
            "kept");
    default:
        return {};
    }
}

} // namespace

QString receiveReasonText(const ReceiveReason& reason, const QString& peer)
{
    const qint64 seconds = reason.seconds.count();
    switch (reason.code) {
    case Code::SocketError:
        return QStringLiteral("Error %1").arg(reason.errorNumber);
    case Code::CannotSave:
        return QStringLiteral("Cannot save: ") + reason.why;
    case Code::NoKey:
        return QStringLiteral("Refused: the sender's key cannot be taken: ") +
               (reason.why.isEmpty() ? QStringLiteral("it showed none") : reason.why);
    case Code::NotInAddressBook:
        return QStringLiteral("Refused: %1 is not in your address book").arg(peer);
    case Code::KeyChanged:
        return QStringLiteral("Refused: ") + keyNotShownMessage(reason.why, peer);
    case Code::KeyShared:
        return keySharedMessage(reason.why);
    case Code::BadHeader:
        return QStringLiteral("Refused: ") + reason.why;
    case Code::Idle:
        return QStringLiteral("Closed: nothing arrived for %1 seconds").arg(seconds);
    case Code::NoFileHeader:
        return QStringLiteral("Closed: no file header within %1 seconds").arg(seconds);
    case Code::NoGreeting:
        return QStringLiteral("Closed: no greeting within %1 seconds").arg(seconds);
    case Code::TooSlow:
        return QStringLiteral("Closed: less than %1 KiB in %2 seconds")
            .arg(reason.bytes / 1024)
            .arg(seconds);
    default:
        return plainText(reason.code);
    }
}

QString receiveStatusText(const ReceiveEnd& end)
{
    return receiveReasonText(end.reason, end.peer);
}
