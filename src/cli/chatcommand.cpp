#include "cli/chatcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "platform/socketerror.h"
#include "station/station.h"

ChatCommand::ChatCommand(Station& station, const QHostAddress& bindAddress, const Peer& peer,
                         const QString& to, const QString& text, Console& console, QObject* parent)
    : Command(parent), station_(station), bindAddress_(bindAddress), peer_(peer), to_(to),
      text_(text), console_(console)
{
}

std::optional<int> ChatCommand::start()
{
    if (station_.hasKey(peer_.host))
        return sendPrivately();
    if (const std::optional<SocketError> error = station_.bindPresenceToSend()) {
        console_.printProblem(
            QStringLiteral("cannot send from %1: Error %2: %3")
                .arg(bindAddress_.toString(), QString::number(error->number), error->description));
        return kExitNotDone;
    }
    connect(&station_, &Station::chatLineSent, this, &ChatCommand::printSent);
    station_.sendChatLine(peer_.host, text_);
    return std::nullopt;
}

void ChatCommand::stop()
{
    stopped_ = true;
    Q_EMIT finished(kExitNotDone);
}

void ChatCommand::printSent(const QString&, const SendStatus& status)
{
    if (stopped_)
        return;
    if (status.stage == SendStatus::Stage::Sent) {
        Q_EMIT finished(kExitDone);
        return;
    }
    if (status.socketError == QAbstractSocket::HostNotFoundError) {
        console_.printProblem(hostNotFoundProblem(to_, peer_));
        Q_EMIT finished(peer_.inBook ? kExitNotDone : kExitUsage);
        return;
    }
    console_.printProblem(
        QStringLiteral("chat line not sent to %1: Error %2: %3")
            .arg(peer_.host, QString::number(status.errorNumber), status.description));
    Q_EMIT finished(kExitNotDone);
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
