#include "cli/chatcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "presence/datagram.h"
#include "station/station.h"

ChatCommand::ChatCommand(Station& station, const QHostAddress& bindAddress, const Peer& peer,
                         const QString& to, const QString& text, Console& console, QObject* parent)
    : Command(parent), station_(station), bindAddress_(bindAddress), peer_(peer), to_(to),
      text_(text), payload_(chatDatagram(text)), console_(console)
{
}

std::optional<int> ChatCommand::start()
{
    if (station_.hasKey(peer_.host))
        return sendPrivately();
    // From the chat port, as a window would send it; from any port when that is taken,
    // by a window on this computer for one.
    if (!socket_.bind(bindAddress_, kDatagramPort) && !socket_.bind(bindAddress_, 0)) {
        const SocketError error = socketError(socket_.error(), socket_.errorString());
        console_.printProblem(
            QStringLiteral("cannot send from %1: Error %2: %3")
                .arg(bindAddress_.toString(), QString::number(error.number), error.description));
        return kExitNotDone;
    }
    const QHostAddress literal(peer_.host);
    if (!literal.isNull())
        return sendTo(literal);
    lookup_ = QHostInfo::lookupHost(peer_.host, this, &ChatCommand::hostLookedUp);
    return std::nullopt;
}

void ChatCommand::stop()
{
    stopped_ = true;
    QHostInfo::abortHostLookup(lookup_);
    Q_EMIT finished(kExitNotDone);
}

void ChatCommand::hostLookedUp(const QHostInfo& info)
{
    const QHostAddress address = preferredAddress(info.addresses());
    if (info.error() != QHostInfo::NoError || address.isNull()) {
        console_.printProblem(hostNotFoundProblem(to_, peer_));
        Q_EMIT finished(peer_.inBook ? kExitNotDone : kExitUsage);
        return;
    }
    Q_EMIT finished(sendTo(address));
}

// A person whose key is known is only ever spoken to privately.
std::optional<int> ChatCommand::sendPrivately()
{
    if (!station_.identity()) {
        console_.printProblem(QStringLiteral("chat line not sent to %1: private transfers are "
                                             "off, and %1 is only spoken to privately")
                                  .arg(to_));
        return kExitNotDone;
    }
    connect(&station_, &Station::privateChatDone, this,
            [this](const QString&, const QString& problem) {
                if (stopped_)
                    return;
                if (!problem.isEmpty())
                    console_.printProblem(
                        QStringLiteral("chat line not sent to %1: %2").arg(peer_.host, problem));
                Q_EMIT finished(problem.isEmpty() ? kExitDone : kExitNotDone);
            });
    station_.sendPrivateChat(peer_.host, text_);
    return std::nullopt;
}

int ChatCommand::sendTo(const QHostAddress& address)
{
    if (socket_.writeDatagram(payload_, address, kDatagramPort) == payload_.size())
        return kExitDone;
    const SocketError error = socketError(socket_.error(), socket_.errorString());
    console_.printProblem(QStringLiteral("chat line not sent to %1: Error %2: %3")
                              .arg(peer_.host, QString::number(error.number), error.description));
    return kExitNotDone;
}
