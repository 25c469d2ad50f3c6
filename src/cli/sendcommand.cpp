#include "cli/sendcommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "platform/socketerror.h"
#include "transfer/speedtext.h"

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
    connect(&batch_, &SendBatch::finished, this,
            [this] { Q_EMIT finished(allSent_ ? kExitDone : kExitNotDone); });
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

std::optional<int> SendCommand::start()
{
    // The batch asks for the peer before every file; it is the same one for them all.
    batch_.start([host = peer_.host] { return std::optional<QString>(host); });
    return std::nullopt;
}

void SendCommand::stop()
{
    if (!batch_.isRunning())
        return;
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
    if (outcome == SendOutcome::Sent) {
        console_.printLine(sentLine(path, size, host, sentPrivately_));
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
