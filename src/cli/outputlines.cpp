#include "cli/outputlines.h"

#include "text/peertext.h"
#include "transfer/receivetext.h"
#include "transfer/sendtext.h"

namespace
{

const QChar kTab = QLatin1Char('\t');

// What a sender or receiver last told may hold what the peer said.
QString withDetail(const QString& status, const QString& detail)
{
    return shownOnOneLine(detail.isEmpty() ? status : status + QStringLiteral(": ") + detail);
}

// The address, or "Anna (unverified)" for a plain file from the address of a keyed friend.
QString senderOf(const ReceiveEnd& end)
{
    return end.unverifiedName.isEmpty() ? end.peer : end.unverifiedName;
}

QString how(bool isPrivate, bool isLocalSend)
{
    return isLocalSend ? QStringLiteral("localsend")
           : isPrivate ? QStringLiteral("private")
                       : QStringLiteral("plain");
}

} // namespace

QString receivedLine(const ReceiveEnd& end)
{
    return QStringLiteral("received") + kTab + shownOnOneLine(end.path) + kTab +
           QString::number(end.size) + kTab + shownOnOneLine(senderOf(end)) + kTab +
           how(end.isPrivate, end.isLocalSend);
}

QString sentLine(const QString& path, qint64 size, const QString& peer, bool isPrivate,
                 bool isLocalSend)
{
    return QStringLiteral("sent") + kTab + shownOnOneLine(path) + kTab + QString::number(size) +
           kTab + shownOnOneLine(peer) + kTab + how(isPrivate, isLocalSend);
}

QString onlineStateLine(const QString& name, const QString& address, bool online)
{
    return (online ? QStringLiteral("online") : QStringLiteral("offline")) + kTab +
           shownOnOneLine(name) + kTab + shownOnOneLine(address);
}

QString chatLine(const QString& name, const QString& address, const QString& text)
{
    return QStringLiteral("chat") + kTab + shownOnOneLine(name) + kTab + shownOnOneLine(address) +
           kTab + shownOnOneLine(text);
}

QString receiveProblem(const ReceiveEnd& end)
{
    QString text =
        QStringLiteral("from %1: %2")
            .arg(shownOnOneLine(senderOf(end)), withDetail(receiveStatusText(end), end.detail));
    if (!end.path.isEmpty())
        return text + QStringLiteral("; %1 of %2 bytes kept in %3")
                          .arg(QString::number(end.received), QString::number(end.size),
                               shownOnOneLine(end.path));
    if (end.outcome == ReceiveEnd::Outcome::Incomplete)
        text += QStringLiteral(" before a file began");
    return text;
}

QString sendProblem(const SendEnd& end)
{
    const QString why = end.outcome == SendOutcome::PeerClosed
                            ? QStringLiteral("the receiver closed the connection")
                            : withDetail(sendStatusText(end.status), sendStatusDetail(end.status));
    return QStringLiteral("%1 not sent to %2: %3")
        .arg(shownOnOneLine(end.path), shownOnOneLine(end.address), why);
}

bool hostNotFound(const SendEnd& end)
{
    return end.status.stage == SendStatus::Stage::SocketError &&
           end.status.socketError == QAbstractSocket::HostNotFoundError;
}

QString hostNotFoundProblem(const QString& to, const Peer& peer)
{
    if (peer.inBook)
        return QStringLiteral("%1 is in the address book as %2, a host that cannot be found")
            .arg(to, peer.host);
    return QStringLiteral("%1 is neither a name in the address book nor a host that can be found")
        .arg(to);
}
