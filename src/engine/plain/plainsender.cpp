#include "plain/plainsender.h"

#include "plain/localport.h"
#include "plain/protocol.h"
#include "platform/randomsource.h"
#include "platform/socketrelease.h"

#include <QFileInfo>

namespace
{

// How many local ports are drawn for one file before the system is left to choose.
constexpr int kPortDraws = 4;

} // namespace

PlainSender::PlainSender(RandomSource& random, const QHostAddress& bindAddress, Clock& clock,
                         QObject* parent)
    : QObject(parent), random_(random), bindAddress_(bindAddress),
      retry_(clock.makeAlarm([this] { connectSocket(); }))
{
    connect(&file_, &OutgoingFile::blockReady, this, &PlainSender::sendMore);
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleTimeout);
    connect(&idle_, &QTimer::timeout, this, [this] {
        SendStatus silent = SendStatus::at(SendStatus::Stage::NoAnswer);
        silent.seconds = int(
            std::chrono::duration_cast<std::chrono::seconds>(idle_.intervalAsDuration()).count());
        showStatus(silent);
        end(SendOutcome::NotSent);
    });
    connect(&dialer_, &TcpDialer::connected, this, &PlainSender::dialed);
    connect(&dialer_, &TcpDialer::failed, this, &PlainSender::dialFailed);
    connect(&speed_, &SpeedMeter::ticked, this, &PlainSender::speedTicked);
}

PlainSender::~PlainSender()
{
    cancel();
}

void PlainSender::setRefusalRetries(int count, std::chrono::milliseconds longestWait)
{
    retriesAllowed_ = count;
    longestRetryWait_ = longestWait;
}

std::chrono::milliseconds PlainSender::retryWait(int done, std::chrono::milliseconds longestWait)
{
    return std::min(kFirstRetryWait * (1 << std::min(done, 16)), longestWait);
}

void PlainSender::send(const QString& path, qint64 size, const QString& host)
{
    retry_->cancel();
    release();
    path_ = path;
    size_ = size;
    host_ = host;
    retriesLeft_ = retriesAllowed_;
    portDrawsLeft_ = kPortDraws;
    connectSocket();
}

void PlainSender::cancel()
{
    retry_->cancel();
    speed_.stop();
    release();
}

quint16 PlainSender::nextLocalPort()
{
    if (portDrawsLeft_ == 0)
        return 0; // the system chooses
    --portDrawsLeft_;
    return localPortFor(random_.next());
}

void PlainSender::connectSocket()
{
    state_ = State::Connecting;
    // An earlier connection may still hold the port drawn; then draw again, and in the
    // end let the system choose.
    const QHostAddress from =
        bindAddress_ == QHostAddress::Any ? QHostAddress(QHostAddress::AnyIPv4) : bindAddress_;
    localPort_ = nextLocalPort();
    while (!dialer_.bind(from, localPort_) &&
           dialer_.error() == QAbstractSocket::AddressInUseError && localPort_ != 0)
        localPort_ = nextLocalPort();
    dialer_.connectTo(host_, kFilePort);
}

void PlainSender::dialed(qintptr descriptor)
{
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::readyRead, this, &PlainSender::readArrival);
    connect(socket_, &QTcpSocket::disconnected, this, &PlainSender::peerClosed);
    connect(socket_, &QTcpSocket::errorOccurred, this, &PlainSender::socketFailed);
    connect(socket_, &QTcpSocket::bytesWritten, this, &PlainSender::sendMore);
    socket_->setSocketDescriptor(descriptor);
    beginOffer();
}

void PlainSender::dialFailed(QAbstractSocket::SocketError error, const QString& description)
{
    // Taken and reset before the connection was seen as made: turned away, as a receiver
    // with every place taken does.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        if (!retryLater())
            end(SendOutcome::PeerClosed);
        return;
    }
    // The port drawn is still taken towards this peer (an earlier connection to it
    // lingers): connect again from another one.
    const bool portTaken = error == QAbstractSocket::AddressInUseError ||
                           error == QAbstractSocket::SocketAddressNotAvailableError;
    if (portTaken && localPort_ != 0) {
        connectSocket();
        return;
    }
    if (error == QAbstractSocket::ConnectionRefusedError && retryLater())
        return;
    showStatus(SendStatus::fromSocketError(error, description));
    end(SendOutcome::Failed);
}

void PlainSender::dropSocket()
{
    dialer_.abort();
    if (socket_)
        abortLater(std::exchange(socket_, nullptr), this);
}

void PlainSender::beginOffer()
{
    // Each step waits for a short line from the other side: a header or a last block
    // held back to gather more would only stall it.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    state_ = State::AwaitingAcceptance;
    replies_ = ReplyLineSplitter();
    const QString bareName = QFileInfo(path_).fileName();
    socket_->write(transferHeader(bareName.toUtf8(), size_));
    idle_.start();
    Q_EMIT reached();
    showStatus(SendStatus::at(SendStatus::Stage::Connected));
}

void PlainSender::readArrival()
{
    const QList<QByteArray> lines = replies_.feed(socket_->readAll());
    for (const QByteArray& line : lines) {
        if (state_ == State::AwaitingAcceptance)
            accepted(); // whatever the line says
        else if (state_ == State::Streaming)
            countArrived(line);
        else
            return; // the transfer has ended
    }
}

void PlainSender::accepted()
{
    idle_.start();
    state_ = State::Streaming;
    confirmed_ = 0;
    speed_.record(0);
    speed_.start();
    showStatus(SendStatus::at(SendStatus::Stage::Sending));
    // Whoever hears of it may have cancelled the transfer.
    if (state_ != State::Streaming)
        return;
    if (!file_.open(path_, size_, 0, std::nullopt)) {
        sendFileFailed(file_.error());
        return;
    }
    // Nothing to stream and nothing to count: the acceptance is the whole transfer.
    if (size_ == 0) {
        showStatus(SendStatus::at(SendStatus::Stage::Sent));
        end(SendOutcome::Sent);
        return;
    }
    sendMore();
}

void PlainSender::sendMore()
{
    if (state_ != State::Streaming || !file_.isOpen())
        return;
    while (file_.hasMore() && socket_->bytesToWrite() < kMaxUnsentBytes) {
        if (!file_.blockAtHand())
            return; // on its way from the disk: blockReady() goes on
        const QByteArray bytes = file_.next();
        if (bytes.isEmpty()) {
            sendFileFailed(file_.error());
            return;
        }
        socket_->write(bytes);
    }
    if (!file_.hasMore())
        file_.close();
}

void PlainSender::sendFileFailed(const QString& description)
{
    const SendStatus status = SendStatus::notSent(NotSentReason::Unreadable, description);
    showStatus(status);
    Q_EMIT readFailed(status);
    end(SendOutcome::NotSent);
}

void PlainSender::countArrived(const QByteArray& line)
{
    const std::optional<qint64> count = parseCount(line);
    if (!count)
        return;
    // Only a count that comes closer to the size is a sign of life: a receiver that
    // repeats itself holds the transfer no longer than one that says nothing.
    if (*count > confirmed_ && *count <= size_)
        idle_.start();
    confirmed_ = *count;
    speed_.record(confirmed_);
    Q_EMIT progressed(confirmed_, size_);
    if (confirmed_ == size_ && state_ == State::Streaming) {
        showStatus(SendStatus::at(SendStatus::Stage::Sent));
        end(SendOutcome::Sent);
    }
}

void PlainSender::peerClosed()
{
    // A receiver with every place taken turns a connection away by closing it before the
    // acceptance: that is tried again as a refusal is.
    if (state_ == State::AwaitingAcceptance && retryLater())
        return;
    end(SendOutcome::PeerClosed);
}

void PlainSender::socketFailed(QAbstractSocket::SocketError error)
{
    // The peer's ordinary close comes as an error too; the close handler takes it.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    showStatus(SendStatus::fromSocketError(error, socket_ ? socket_->errorString() : QString()));
    end(SendOutcome::Failed);
}

bool PlainSender::retryLater()
{
    if (retriesLeft_ <= 0) {
        Q_EMIT triesUsedUp();
        return false;
    }
    const int done = retriesAllowed_ - retriesLeft_--;
    idle_.stop();
    dropSocket();
    state_ = State::Connecting;
    retry_->set(retryWait(done, longestRetryWait_));
    return true;
}

void PlainSender::showStatus(const SendStatus& status)
{
    Q_EMIT statusChanged(status);
}

void PlainSender::end(SendOutcome outcome)
{
    if (state_ == State::Closed)
        return;
    // An error leaves the speed meter running, as it leaves the rest of the panel.
    if (outcome != SendOutcome::Failed)
        speed_.stop();
    release();
    Q_EMIT finished(outcome);
}

void PlainSender::release()
{
    idle_.stop();
    file_.close();
    state_ = State::Closed;
    dropSocket();
}
