#include "plain/receiveconnection.h"

#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "platform/socketrelease.h"

namespace
{

using Code = ReceiveReason::Code;

} // namespace

ReceiveConnection::ReceiveConnection(int id, QTcpSocket* socket, const QString& saveFolder,
                                     const ReceiverLimits& limits, PartFiles& parts,
                                     QObject* parent)
    : IncomingConnection(id, dottedAddress(socket->peerAddress()), parent), socket_(socket),
      limits_(limits), file_(saveFolder, limits, parts)
{
    adopt(socket);
    connect(socket, &QTcpSocket::readyRead, this, &ReceiveConnection::readArrival);
    connect(socket, &QTcpSocket::disconnected, this, &ReceiveConnection::peerClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A peer's ordinary close also comes as an error; the close handler takes it.
        if (e != QAbstractSocket::RemoteHostClosedError)
            socketFailed(e);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, &ReceiveConnection::sendPendingCount);

    idle_.setSingleShot(true);
    idle_.setInterval(limits_.idleTimeout);
    connect(&idle_, &QTimer::timeout, this, [this] {
        end(ReceiveEnd::Outcome::Idle, ReceiveReason::after(Code::Idle, limits_.idleTimeout));
    });
    headerDeadline_.setSingleShot(true);
    headerDeadline_.setInterval(limits_.headerDeadline);
    connect(&headerDeadline_, &QTimer::timeout, this, [this] {
        end(ReceiveEnd::Outcome::Idle,
            ReceiveReason::after(Code::NoFileHeader, limits_.headerDeadline));
    });
    connect(&file_, &FileIntake::tooSlow, this,
            [this](const ReceiveReason& reason) { end(ReceiveEnd::Outcome::Idle, reason); });
    connect(&file_, &FileIntake::settled, this, &ReceiveConnection::saved);
    closeGrace_.setSingleShot(true);
    closeGrace_.setInterval(limits_.closeGrace);
    connect(&closeGrace_, &QTimer::timeout, this, &ReceiveConnection::stop);
    idle_.start();
    headerDeadline_.start();
    age_.start();
}

ReceiveConnection::~ReceiveConnection()
{
    dropSocket();
}

SeatHolder ReceiveConnection::seat() const
{
    const auto stage = state_ == State::AwaitingHeader ? SeatHolder::Stage::NoHeader
                       : state_ == State::Receiving    ? SeatHolder::Stage::Receiving
                                                       : SeatHolder::Stage::Done;
    return {stage, peer_, std::chrono::milliseconds(age_.elapsed()), file_.received()};
}

void ReceiveConnection::stop()
{
    end(isWhole() ? ReceiveEnd::Outcome::Saved : ReceiveEnd::Outcome::Incomplete,
        ReceiveReason::of(Code::Closed));
}

void ReceiveConnection::giveWay()
{
    if (state_ == State::Saving) {
        endOnceSaved(); // its seat is free as soon as its bytes are on the disk
        dropSocket();
        return;
    }
    end(ReceiveEnd::Outcome::Idle, ReceiveReason::of(Code::GaveWay));
}

void ReceiveConnection::readArrival()
{
    if (!socket_ || state_ == State::Ended)
        return;
    const QByteArray arrival = socket_->readAll();
    if (arrival.isEmpty())
        return;
    if (state_ == State::Receiving) {
        receive(arrival);
        return;
    }
    if (state_ == State::Whole || state_ == State::Saving) {
        endOnceSaved(); // bytes beyond the announced size
        return;
    }
    switch (header_.feed(arrival)) {
    case HeaderParser::Result::NeedMore:
        return;
    case HeaderParser::Result::Malformed:
        end(ReceiveEnd::Outcome::Refused, ReceiveReason::with(Code::BadHeader, header_.problem()));
        return;
    case HeaderParser::Result::Header:
        if (takeHeader())
            receive(header_.takeRest());
        return;
    }
}

bool ReceiveConnection::takeHeader()
{
    headerDeadline_.stop();
    const TransferHeader& header = header_.header();
    // The plain port makes no folders and continues nothing: a path is a name, and every
    // file starts anew.
    if (const std::optional<FileRefusal> refusal =
            file_.admit({{peer_, {}, false}, header.name, header.size})) {
        end(refusal->outcome, refusal->reason);
        return false;
    }
    state_ = State::Receiving;
    Q_EMIT fileStarted(file_.shownName(), file_.size());
    if (socket_)
        send(acceptanceLine());
    return true;
}

void ReceiveConnection::receive(const QByteArray& bytes)
{
    if (state_ != State::Receiving)
        return;
    const QByteArray wanted = bytes.left(file_.missing());
    if (!wanted.isEmpty() && !file_.write(wanted)) {
        end(ReceiveEnd::Outcome::CannotSave, file_.problem());
        return;
    }
    if (!wanted.isEmpty())
        idle_.start(); // only bytes of the file count as a sign of life
    if (file_.missing() == 0)
        fileIsWhole();
    if (!wanted.isEmpty() && socket_) {
        // The last count waits for the file's name: see saved().
        if (state_ == State::Receiving)
            reply(file_.received());
        Q_EMIT progressed(file_.received(), file_.size());
    }
    // Bytes beyond the announced size are not part of the file, and end the connection.
    if (bytes.size() > wanted.size())
        endOnceSaved();
}

// The file is synced and named off the event loop, and only then does its last count go
// out: a sender told that every byte arrived may count on the file lasting.
void ReceiveConnection::fileIsWhole()
{
    idle_.stop();
    state_ = State::Saving;
    file_.save();
}

// The sender has a short while to read the last count and close; nothing it does after
// that keeps the connection.
void ReceiveConnection::saved(ReceiveEnd::Outcome outcome, const ReceiveReason& reason)
{
    if (state_ != State::Saving)
        return;
    if (outcome != ReceiveEnd::Outcome::Saved) {
        end(outcome, reason);
        return;
    }
    state_ = State::Whole;
    if (socket_ && file_.size() > 0)
        reply(file_.size());
    if (endsOnceSaved_)
        stop();
    else
        closeGrace_.start();
}

// Whatever the sender does once every byte is in, the file is made to last first.
void ReceiveConnection::endOnceSaved()
{
    if (state_ == State::Saving)
        endsOnceSaved_ = true;
    else
        stop();
}

// A sender that never reads the count lines holds them back: only the latest count is
// kept, and sent once the queue drains.
void ReceiveConnection::reply(qint64 total)
{
    if (socket_->bytesToWrite() > kMaxQueuedReplyBytes) {
        unsentCount_ = total;
        return;
    }
    send(countLine(total));
}

void ReceiveConnection::send(const QByteArray& bytes)
{
    socket_->write(bytes);
    // Hand it to the system at once: a sender that closes its side right after its last
    // bytes makes the socket close on reading that end, and whatever is still queued
    // here would be lost.
    socket_->flush();
}

void ReceiveConnection::sendPendingCount()
{
    if (!socket_ || !unsentCount_ || socket_->bytesToWrite() > kMaxQueuedReplyBytes)
        return;
    send(countLine(*std::exchange(unsentCount_, std::nullopt)));
}

void ReceiveConnection::peerClosed()
{
    if (!socket_ || state_ == State::Ended)
        return;
    if (socket_->bytesAvailable() > 0)
        readArrival();
    endOnceSaved();
}

void ReceiveConnection::socketFailed(QAbstractSocket::SocketError error)
{
    if (state_ == State::Saving) {
        endOnceSaved();
        dropSocket();
        return;
    }
    const SocketError shown = socketError(error, socket_ ? socket_->errorString() : QString());
    end(ReceiveEnd::Outcome::Failed, ReceiveReason::socketError(shown.number), shown.description);
}

bool ReceiveConnection::isWhole() const
{
    return state_ == State::Whole;
}

void ReceiveConnection::end(ReceiveEnd::Outcome outcome, const ReceiveReason& reason,
                            const QString& detail)
{
    if (state_ == State::Ended)
        return;
    ReceiveEnd end{id_,    outcome, peer_, {}, file_.size(), file_.received(), reason,
                   detail, false,   {},    {}};
    if (isWhole()) { // however it ends, a whole file was saved
        end.outcome = ReceiveEnd::Outcome::Saved;
        end.reason = ReceiveReason::of(Code::Closed);
        end.detail.clear();
    }
    file_.keepPart();
    end.path = file_.path();
    state_ = State::Ended;
    idle_.stop();
    headerDeadline_.stop();
    closeGrace_.stop();
    dropSocket();
    Q_EMIT ended(end);
}

void ReceiveConnection::dropSocket()
{
    if (!socket_)
        return;
    abortLater(std::exchange(socket_, nullptr), this);
}
