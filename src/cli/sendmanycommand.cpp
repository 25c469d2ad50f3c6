#include "cli/sendmanycommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "station/station.h"
#include "text/peertext.h"

SendManyCommand::SendManyCommand(Station& station, const QList<Recipient>& recipients,
                                 const QStringList& files, Console& console, QObject* parent)
    : Command(parent), station_(station), console_(console), recipients_(recipients)
{
    for (const QString& file : files)
        station_.queue(file);
    connect(&station_, &Station::recipientRowFinished, this, &SendManyCommand::printRowFinished);
    connect(&station_, &Station::recipientRowSkipped, this, &SendManyCommand::printRowSkipped);
    connect(&station_, &Station::sendLoosened, this,
            [this](const QString& name) { console_.printProblem(loosenedMessage(name)); });
    connect(&station_, &Station::recipientsFinished, this,
            [this] { finish(allSent_ ? kExitDone : kExitNotDone); });
}

std::optional<int> SendManyCommand::start()
{
    station_.sendQueueTo(recipients_);
    if (!station_.isSending())
        return kExitNotDone;
    return std::nullopt;
}

void SendManyCommand::stop()
{
    if (finished_)
        return;
    station_.stopSending();
    console_.printProblem(QStringLiteral("stopped before every file was sent"));
    finish(kExitNotDone);
}

void SendManyCommand::finish(int exitStatus)
{
    if (!std::exchange(finished_, true))
        Q_EMIT finished(exitStatus);
}

void SendManyCommand::printRowFinished(const Recipient&, int, const SendEnd& end)
{
    if (end.outcome == SendOutcome::Sent) {
        console_.printLine(sentLine(end.path, end.size, end.address, end.isPrivate));
        return;
    }
    allSent_ = false;
    console_.printProblem(sendProblem(end));
}

void SendManyCommand::printRowSkipped(const Recipient& who, int, int, const QString& path,
                                      const QString& reason)
{
    allSent_ = false;
    console_.printProblem(QStringLiteral("%1 not sent to %2: %3")
                              .arg(shownOnOneLine(path), shownOnOneLine(who.address), reason));
}
