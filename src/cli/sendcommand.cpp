#include "cli/sendcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "platform/socketerror.h"
#include "text/speedtext.h"

#include <QFileInfo>

SendCommand::SendCommand(const QHostAddress& bindAddress, const Peer& peer, const QString& to,
                         const QStringList& files, Console& console, QObject* parent)
    : Command(parent), sender_(random_, bindAddress), batch_(sender_), console_(console),
      peer_(peer), to_(to)
{
    for (const QString& file : files)
        batch_.append(file);
    connect(&batch_, &SendBatch::rowStarted, this, &SendCommand::rowStarted);
    connect(&batch_, &SendBatch::rowSkipped, this, &SendCommand::rowSkipped);
    connect(&batch_, &SendBatch::rowFinished, this, &SendCommand::rowFinished);
    connect(&batch_, &SendBatch::finished, this, &SendCommand::batchEnded);
    connect(&batch_, &SendBatch::cutOff, this, &SendCommand::batchCutOff);
    connect(&sender_, &FileSender::cutOff, this, [this] { cut_ = true; });
    connect(&sender_, &FileSender::keyChanged, this, [this] { keyChanged_ = true; });
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &SendCommand::retry);
    connect(&sender_, &FileSender::statusChanged, this,
            [this](const QString& status, const QString& detail) {
                status_ = status;
                detail_ = detail;
            });
    connect(&sender_, &FileSender::loosened, this,
            [this](const QString& name) { console_.printProblem(loosenedMessage(name)); });
    connect(&sender_, &FileSender::privacyKnown, this,
            [this](bool isPrivate) { sentPrivately_ = isPrivate; });
    connect(&sender_, &FileSender::progressed, this,
            [this](qint64 confirmed, qint64 size) { console_.progress().update(confirmed, size); });
    connect(&sender_, &FileSender::speedTicked, this, [this](qint64 bytes, int seconds) {
        console_.progress().setSpeed(speedText(bytes, seconds));
    });
}

void SendCommand::setRetry(int seconds)
{
    retrySeconds_ = seconds;
    // Without retries, the files after a cut one are tried as after any other failure.
    batch_.setStopsAtCut(seconds > 0);
}

std::optional<int> SendCommand::start()
{
    retryDeadline_.setRemainingTime(std::chrono::seconds(retrySeconds_));
    sendBatch();
    return std::nullopt;
}

void SendCommand::sendBatch()
{
    // The batch asks for the peer before every file; it is the same one for them all.
    batch_.start([host = peer_.host] { return std::optional<QString>(host); });
}

void SendCommand::stop()
{
    if (!batch_.isRunning() && !retryTimer_.isActive())
        return;
    retryTimer_.stop();
    batch_.stop();
    console_.printProblem(QStringLiteral("stopped before every file was sent"));
    Q_EMIT finished(kExitNotDone);
}

void SendCommand::rowStarted(int, int, const QString& path, const QString&, qint64 size)
{
    status_.clear();
    detail_.clear();
    sentPrivately_ = false;
    console_.progress().begin(QFileInfo(path).fileName());
    console_.progress().update(0, size);
}

void SendCommand::rowSkipped(int, int, const QString& path)
{
    allSent_ = false;
    console_.printProblem(QStringLiteral("%1 not sent: it is not an existing file").arg(path));
}

void SendCommand::rowFinished(int, const QString& path, qint64 size, const QString& host,
                              SendOutcome outcome)
{
    const bool cut = std::exchange(cut_, false);
    if (outcome == SendOutcome::Sent) {
        console_.printLine(sentLine(path, size, host, sentPrivately_));
        return;
    }
    const bool broke = cut || outcome == SendOutcome::Failed || outcome == SendOutcome::PeerClosed;
    if (broke && !keyChanged_ && mayRetry()) {
        if (!cut) // a cut file comes back with the rest of the batch
            again_.append(batch_.current());
        if (!std::exchange(toldRetry_, true))
            console_.printProblem(
                sendProblem(path, host, outcome, status_, detail_) +
                QStringLiteral(" (trying again for up to %1 seconds)").arg(retrySeconds_));
        return;
    }
    allSent_ = false;
    console_.printProblem(sendProblem(path, host, outcome, status_, detail_));
    const SocketError notFound = socketError(QAbstractSocket::HostNotFoundError, {});
    if (status_ == QStringLiteral("Error %1").arg(notFound.number))
        tellHostNotFound();
}

void SendCommand::tellHostNotFound()
{
    if (toldHostNotFound_)
        return;
    toldHostNotFound_ = true;
    console_.printProblem(hostNotFoundProblem(to_, peer_));
}

bool SendCommand::mayRetry() const
{
    return retrySeconds_ > 0 && !retryDeadline_.hasExpired();
}

void SendCommand::batchEnded()
{
    if (again_.isEmpty()) {
        Q_EMIT finished(allSent_ ? kExitDone : kExitNotDone);
        return;
    }
    const qint64 left = retryDeadline_.remainingTime();
    retryTimer_.start(std::chrono::milliseconds(std::min<qint64>(left, kRetryWait.count())));
}

// The time is up when the files' last attempt has failed: they are given up then.
void SendCommand::retry()
{
    batch_.clear();
    for (const QueuedFile& file : std::exchange(again_, {}))
        batch_.append(file);
    sendBatch();
}

// The batch ended at the cut file, told already; the files after it wait with it.
void SendCommand::batchCutOff(const QString& host, const QList<QueuedFile>& rest)
{
    if (!keyChanged_ && mayRetry()) {
        again_ += rest;
        return;
    }
    allSent_ = false;
    for (qsizetype k = 1; k < rest.size(); ++k)
        console_.printProblem(sendProblem(rest.at(k).path, host, SendOutcome::NotSent,
                                          QStringLiteral("Not sent: the connection broke off "
                                                         "before it"),
                                          {}));
}
