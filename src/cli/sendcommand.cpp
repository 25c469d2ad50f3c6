#include "cli/sendcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "text/speedtext.h"

#include <QFileInfo>

#include <algorithm>

SendCommand::SendCommand(Station& station, const Peer& peer, const QString& to,
                         const QStringList& files, Console& console, Clock& clock, QObject* parent)
    : Command(parent), station_(station), console_(console), peer_(peer), to_(to), clock_(clock),
      retryTimer_(clock.makeAlarm([this] { retry(); }))
{
    for (const QString& file : files)
        station_.queue(file);
    connect(&station_, &Station::rowStarted, this, &SendCommand::printRowStarted);
    connect(&station_, &Station::rowSkipped, this, &SendCommand::printRowSkipped);
    connect(&station_, &Station::rowFinished, this, &SendCommand::printRowFinished);
    connect(&station_, &Station::batchFinished, this, &SendCommand::attemptEnded);
    connect(&station_, &Station::queueCutOff, this, &SendCommand::printCutOff);
    connect(&station_, &Station::waitingCutOff, this, &SendCommand::printCutOff);
    connect(&station_, &Station::sendCutOff, this, [this] { cut_ = true; });
    connect(&station_, &Station::sendKeyChanged, this, [this] { keyChanged_ = true; });
    // A command cannot ask: the PIN is --pin's, and a missing or wrong one ends the files.
    connect(&station_, &Station::sendPinNeeded, this,
            [this](const QString& name, const QString&, bool wrong) {
                console_.printProblem(
                    wrong ? QStringLiteral("%1 did not take the PIN given with --pin").arg(name)
                          : QStringLiteral("%1 asks for a PIN: give it with --pin").arg(name));
                station_.answerPin({});
            });
    connect(&station_, &Station::sendLoosened, this,
            [this](const QString& name) { console_.printProblem(loosenedMessage(name)); });
    connect(&station_, &Station::sendProgressed, this,
            [this](qint64 confirmed, qint64 size) { console_.progress().update(confirmed, size); });
    connect(&station_, &Station::sendSpeed, this, [this](qint64 bytes, int seconds) {
        console_.progress().setSpeed(speedText(bytes, seconds));
    });
}

void SendCommand::setRetry(int seconds)
{
    retrySeconds_ = seconds;
    // Without retries, the files after a cut one are tried as after any other failure.
    station_.setQueueStopsAtCut(seconds > 0);
}

std::optional<int> SendCommand::start()
{
    retryDeadline_ = clock_.steadyTime() + std::chrono::seconds(retrySeconds_);
    // The queue asks for the peer before every file; it is the same one for them all.
    station_.sendQueue([host = peer_.host] { return std::optional<QString>(host); });
    return std::nullopt;
}

void SendCommand::stop()
{
    if (finished_)
        return;
    retryTimer_->cancel();
    station_.stopSending();
    console_.printProblem(QStringLiteral("stopped before every file was sent"));
    finish(kExitNotDone);
}

void SendCommand::finish(int exitStatus)
{
    retryTimer_->cancel();
    if (!std::exchange(finished_, true))
        Q_EMIT finished(exitStatus);
}

void SendCommand::printRowStarted(BatchKind, int, int, const QString& path, const QString&,
                                  qint64 size)
{
    console_.progress().begin(QFileInfo(path).fileName());
    console_.progress().update(0, size);
}

void SendCommand::printRowSkipped(BatchKind, int, int, const QString& path)
{
    allSent_ = false;
    console_.printProblem(QStringLiteral("%1 not sent: it is not an existing file").arg(path));
}

void SendCommand::printRowFinished(BatchKind batch, int, const SendEnd& end)
{
    const bool cut = std::exchange(cut_, false);
    if (end.outcome == SendOutcome::Sent) {
        console_.printLine(
            sentLine(end.path, end.size, end.address, end.isPrivate, end.isLocalSend));
        return;
    }
    const bool broke =
        cut || end.outcome == SendOutcome::Failed || end.outcome == SendOutcome::PeerClosed;
    if (broke && !keyChanged_ && mayRetry()) {
        tryAgain_ = true;
        // A waiting file waits still, and the station keeps a cut one with the rest.
        if (batch == BatchKind::Queue && !cut)
            station_.sendWhenOnline(end.address, QList<QueuedFile>{station_.currentFile()}, false);
        if (!std::exchange(toldRetry_, true))
            console_.printProblem(
                sendProblem(end) +
                QStringLiteral(" (trying again for up to %1 seconds)").arg(retrySeconds_));
        return;
    }
    allSent_ = false;
    givenUp_.append(end.path);
    lastFailure_ = end;
    console_.printProblem(sendProblem(end));
    if (hostNotFound(end))
        tellHostNotFound();
}

void SendCommand::tellHostNotFound()
{
    if (toldHostNotFound_)
        return;
    toldHostNotFound_ = true;
    console_.printProblem(hostNotFoundProblem(to_, peer_));
}

// A --to that is neither a name in the address book nor a host is a usage error, as an
// unknown name is for every subcommand.
int SendCommand::failureStatus() const
{
    return toldHostNotFound_ && !peer_.inBook ? kExitUsage : kExitNotDone;
}

bool SendCommand::mayRetry() const
{
    return retrySeconds_ > 0 && clock_.steadyTime() < retryDeadline_;
}

// What the attempt gave up on waits no more; the rest is tried again once it is time.
void SendCommand::attemptEnded()
{
    if (!givenUp_.isEmpty())
        station_.cancelWaiting(peer_.host, std::exchange(givenUp_, {}));
    // A computer that did not show its key is not tried again: the station holds its
    // files back until the keys change.
    if (!std::exchange(tryAgain_, false) || keyChanged_) {
        giveUpWaiting();
        finish(allSent_ ? kExitDone : failureStatus());
        return;
    }
    const std::chrono::milliseconds left = retryDeadline_ - clock_.steadyTime();
    retryTimer_->set(std::clamp(left, std::chrono::milliseconds(0), kRetryWait));
}

// Files that were to be tried again, when the computer there has shown another key since,
// end for the reason the last file did.
void SendCommand::giveUpWaiting()
{
    for (const WaitingBatches::Batch& batch : station_.waitingBatches()) {
        if (batch.address != peer_.host)
            continue;
        for (const QueuedFile& file : batch.files) {
            SendEnd end = lastFailure_;
            end.path = file.path;
            allSent_ = false;
            console_.printProblem(sendProblem(end));
        }
    }
    station_.cancelWaiting(peer_.host);
}

// The time is up when the files' last attempt has failed: they are given up then. A cut
// delivery is tried again at once by the station itself, and each attempt's end sets the
// next try; one the station could not start yet, as while the sender still closes the
// last connection, is asked for again.
void SendCommand::retry()
{
    if (!station_.isDeliveringWaiting())
        station_.tryWaitingNow(peer_.host);
    retryTimer_->set(kRetryWait);
}

// The batch ended at the cut file, told already; the files after it wait with it, on the
// station, unless the time is up.
void SendCommand::printCutOff(const QString& host, const QList<QueuedFile>& rest)
{
    if (!keyChanged_ && mayRetry())
        return;
    allSent_ = false;
    SendEnd end;
    end.status = SendStatus::notSent(NotSentReason::CutBefore);
    end.address = host;
    for (qsizetype k = 1; k < rest.size(); ++k) {
        end.path = rest.at(k).path;
        givenUp_.append(end.path);
        console_.printProblem(sendProblem(end));
    }
}
