#include "cli/chatcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "presence/datagram.h"
#include "private/privatechat.h"

ChatCommand::ChatCommand(const QHostAddress& bindAddress, const Peer& peer, const QString& to,
                         const QString& text, Console& console, QObject* parent)
    : Command(parent), bindAddress_(bindAddress), peer_(peer), to_(to), text_(text),
      payload_(chatDatagram(text)), console_(console)
{
}

ChatCommand::~ChatCommand() = default;

void ChatCommand::setPrivacy(const Identity* identity, PeerKeys* keys)
{
    identity_ = identity;
    keys_ = keys;
}

std::optional<int> ChatCommand::start()
{
    if (keys_ && keys_->hasKey(peer_.host))
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
    private_.reset();
    QHostInfo::abortHostLookup(lookup_);
    Q_EMIT finished(kExitNotDone);
}

void ChatCommand::hostLookedUp(const QHostInfo& info)
{
    const QHostAddress address = preferredAddress(info.addresses());
    if (info.error() != QHostInfo::NoError || address.isNull()) {
        console_.printProblem(hostNotFoundProblem(to_, peer_));
        Q_EMIT finished(kExitNotDone);
        return;
    }
    Q_EMIT finished(sendTo(address));
}

// A person whose key is known is only ever spoken to privately.
std::optional<int> ChatCommand::sendPrivately()
{
    if (!identity_) {
        console_.printProblem(QStringLiteral("chat line not sent to %1: private transfers are "
                                             "off, and %1 is only spoken to privately")
                                  .arg(to_));
        return kExitNotDone;
    }
    private_ = std::make_unique<PrivateChat>(*identity_, *keys_, bindAddress_);
    connect(private_.get(), &PrivateChat::done, this, [this](const QString& problem) {
        if (!problem.isEmpty())
            console_.printProblem(
                QStringLiteral("chat line not sent to %1: %2").arg(peer_.host, problem));
        Q_EMIT finished(problem.isEmpty() ? kExitDone : kExitNotDone);
    });
    private_->send(peer_.host, text_);
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
