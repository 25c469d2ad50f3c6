#include "cli/whenonlinecommand.h"

#include "cli/console.h"
#include "presence/datagram.h"

#include <chrono>

WhenOnlineCommand::WhenOnlineCommand(Station& station, const Peer& peer, const QString& to,
                                     const QStringList& files, int timeoutSeconds, Console& console,
                                     Clock& clock, QObject* parent)
    : Command(parent), station_(station), send_(station, peer, to, files, console, clock),
      timeout_(timeoutSeconds), timeoutAlarm_(clock.makeAlarm([this] { timedOut(); })),
      peerAddress_(peer.host), console_(console), to_(to)
{
    connect(&station_, &Station::announced, this, &WhenOnlineCommand::heardAnnounced);
    connect(&send_, &Command::finished, this, &Command::finished);
}

std::optional<int> WhenOnlineCommand::start()
{
    // Announcements name no one: the peer is known by the address they come from.
    if (peerAddress_.isNull()) {
        console_.printProblem(QStringLiteral("--when-online needs a name in the address book or "
                                             "an IP address, not '%1'")
                                  .arg(to_));
        return kExitUsage;
    }
    if (const std::optional<SocketError> error = station_.bindPresence()) {
        console_.printProblem(QStringLiteral("cannot listen for %1 on UDP port %2: Error %3: %4")
                                  .arg(to_, QString::number(kDatagramPort),
                                       QString::number(error->number), error->description));
        return kExitNotDone;
    }
    if (timeout_.count() > 0)
        timeoutAlarm_->set(timeout_);
    console_.printProblem(QStringLiteral("waiting for %1 to come online").arg(to_));
    return std::nullopt;
}

void WhenOnlineCommand::stop()
{
    if (sending_) {
        send_.stop();
        return;
    }
    timeoutAlarm_->cancel();
    console_.printProblem(QStringLiteral("stopped before %1 came online").arg(to_));
    Q_EMIT finished(kExitNotDone);
}

void WhenOnlineCommand::heardAnnounced(const QString& address)
{
    if (sending_ ||
        !peerAddress_.isEqual(QHostAddress(address), QHostAddress::ConvertV4MappedToIPv4))
        return;
    sending_ = true;
    timeoutAlarm_->cancel();
    if (const std::optional<int> status = send_.start())
        Q_EMIT finished(*status);
}

void WhenOnlineCommand::timedOut()
{
    if (sending_)
        return;
    console_.printProblem(QStringLiteral("%1 did not come online within %2 seconds")
                              .arg(to_, QString::number(timeout_.count())));
    Q_EMIT finished(kExitNotDone);
}
