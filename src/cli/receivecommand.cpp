#include "cli/receivecommand.h"

#include "cli/console.h"
#include "cli/readylines.h"
#include "cli/receiveends.h"
#include "plain/protocol.h"
#include "secure/privatemessage.h"
#include "text/speedtext.h"

namespace
{

QString listenProblem(quint16 port, const SocketError& error)
{
    return QStringLiteral("cannot receive on TCP port %1: Error %2: %3")
        .arg(QString::number(port), QString::number(error.number), error.description);
}

} // namespace

ReceiveCommand::ReceiveCommand(Station& station, const QString& folder, bool once, Console& console,
                               QObject* parent)
    : Command(parent), station_(station), console_(console), once_(once)
{
    station_.setSaveFolder(folder, false);
    if (once) {
        ReceiverLimits limits;
        limits.maxConnections = 1;
        limits.maxConnectionsPerHost = 1;
        station_.setReceiveLimits(limits);
    }
    connect(&station_, &Station::incomingFileStarted, this, &ReceiveCommand::printFileStarted);
    connect(&station_, &Station::incomingProgressed, this,
            [this](int connection, qint64 received, qint64 size) {
                if (connection == latestFile_)
                    console_.progress().update(received, size);
            });
    connect(&station_, &Station::incomingSpeed, this, [this](qint64 bytes, int seconds) {
        console_.progress().setSpeed(speedText(bytes, seconds));
    });
    connect(&station_, &Station::incomingEnded, this, &ReceiveCommand::connectionEnded);
    connect(&station_, &Station::privatePortFailed, this, [this](const SocketError& error) {
        console_.printProblem(listenProblem(kPrivatePort, error) +
                              QStringLiteral("; files come in the clear only"));
    });
}

std::optional<int> ReceiveCommand::start()
{
    if (const std::optional<SocketError> error = station_.listen()) {
        console_.printProblem(listenProblem(kFilePort, *error));
        return kExitNotDone;
    }
    const auto readyNote = [this] {
        return receivingNote(station_) +
               (once_ ? QStringLiteral(", until a file has come") : QString());
    };
    lendPortsToWindow(station_, sharingFolder_, console_, this, readyNote);
    console_.printProblem(readyNote());
    return std::nullopt;
}

void ReceiveCommand::stop()
{
    // A file in progress ends as if its sender had closed: what came is kept.
    stopping_ = true;
    station_.stop();
    finish(once_ && !saved_ ? kExitNotDone : kExitDone);
}

void ReceiveCommand::finish(int exitStatus)
{
    if (!std::exchange(finished_, true))
        Q_EMIT finished(exitStatus);
}

void ReceiveCommand::printFileStarted(int connection, const QString& name, qint64 size)
{
    filesBegun_.insert(connection);
    latestFile_ = connection;
    console_.progress().begin(name);
    console_.progress().update(0, size);
}

void ReceiveCommand::connectionEnded(const ReceiveEnd& end)
{
    const bool saved = end.outcome == ReceiveEnd::Outcome::Saved;
    saved_ = saved_ || saved;
    printReceiveEnd(console_, end, stopping_);
    if (end.connection == latestFile_)
        console_.progress().clear();
    // A file that could not even be created counts too, or a sender trying again and
    // again would keep this waiting for ever.
    const bool broughtFile =
        filesBegun_.remove(end.connection) || end.outcome == ReceiveEnd::Outcome::CannotSave;
    if (!once_ || stopping_ || !broughtFile)
        return;
    finish(saved ? kExitDone : kExitNotDone);
    // Whatever else is still open ends now, and is told.
    stopping_ = true;
    station_.stop();
}
