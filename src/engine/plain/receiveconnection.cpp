#include "plain/receiveconnection.h"

#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "platform/socketrelease.h"
#include "transfer/fileadmission.h"
#include "transfer/partfiles.h"
#include "transfer/receiverstatus.h"

namespace
{

// A sender that never reads our count lines must not make them pile up: beyond this
// many unsent bytes, only the latest count is kept, and sent once the queue drains.
constexpr qint64 kMaxQueuedReplyBytes = 64 * 1024;
// What one arrival may hold; Qt stops reading from the network beyond it.
constexpr qint64 kReadBufferBytes = 1024 * 1024;

const QString kDisconnected = QStringLiteral("Disconnected");

qint64 wholeSeconds(std::chrono::milliseconds duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

} // namespace

ReceiveConnection::ReceiveConnection(int id, QTcpSocket* socket, const QString& saveFolder,
                                     const ReceiverLimits& limits, PartFiles& parts,
                                     QObject* parent)
    : IncomingConnection(id, dottedAddress(socket->peerAddress()), parent), socket_(socket),
      saveFolder_(saveFolder), limits_(limits), parts_(parts)
{
    socket->setParent(this);
    socket->setReadBufferSize(kReadBufferBytes);
    // The acceptance and the counts are short lines the sender waits for: send each at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
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
    connect(&idle_, &QTimer::timeout, this,
            [this] { end(ReceiveEnd::Outcome::Idle, idleStatus(limits_.idleTimeout)); });
    headerDeadline_.setSingleShot(true);
    headerDeadline_.setInterval(limits_.headerDeadline);
    connect(&headerDeadline_, &QTimer::timeout, this, [this] {
        end(ReceiveEnd::Outcome::Idle, QStringLiteral("Closed: no file header within %1 seconds")
                                           .arg(wholeSeconds(limits_.headerDeadline)));
    });
    progressCheck_.setInterval(limits_.progressWindow);
    connect(&progressCheck_, &QTimer::timeout, this, &ReceiveConnection::checkProgress);
    closeGrace_.setSingleShot(true);
    closeGrace_.setInterval(limits_.closeGrace);
    connect(&closeGrace_, &QTimer::timeout, this, &ReceiveConnection::stop);
    idle_.start();
    headerDeadline_.start();
    age_.start();
}

ReceiveConnection::~ReceiveConnection()
{
    file_.close(isWhole());
    dropSocket();
}

SeatHolder ReceiveConnection::seat() const
{
    const auto stage = state_ == State::AwaitingHeader ? SeatHolder::Stage::NoHeader
                       : state_ == State::Receiving    ? SeatHolder::Stage::Receiving
                                                       : SeatHolder::Stage::Done;
    return {stage, peer_, std::chrono::milliseconds(age_.elapsed()), total_};
}

void ReceiveConnection::stop()
{
    end(isWhole() ? ReceiveEnd::Outcome::Saved : ReceiveEnd::Outcome::Incomplete, kDisconnected);
}

void ReceiveConnection::giveWay()
{
    end(ReceiveEnd::Outcome::Idle, gaveWayStatus());
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
    if (state_ == State::Whole) {
        stop(); // bytes beyond the announced size
        return;
    }
    switch (header_.feed(arrival)) {
    case HeaderParser::Result::NeedMore:
        return;
    case HeaderParser::Result::Malformed:
        end(ReceiveEnd::Outcome::Refused, QStringLiteral("Refused: ") + header_.problem());
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
    const QByteArray& name = header_.header().name;
    ReceivedTree tree(saveFolder_); // a loose file: the plain port makes no folders
    ReceivedTree::Place place;
    place.folder = saveFolder_;
    place.name = name;
    if (const std::optional<FileRefusal> refusal = admitFile(
            file_, tree, place, parts_, {peer_, {}, false}, name, header_.header().size)) {
        end(refusal->outcome, refusal->status);
        return false;
    }
    fileMade_ = true;
    state_ = State::Receiving;
    size_ = header_.header().size;
    receivedAtLastCheck_ = 0;
    progressCheck_.start();
    Q_EMIT fileStarted(file_.finalName(), size_);
    if (socket_)
        send(acceptanceLine());
    return true;
}

void ReceiveConnection::receive(const QByteArray& bytes)
{
    if (state_ != State::Receiving)
        return;
    const QByteArray wanted = bytes.left(size_ - total_);
    if (!wanted.isEmpty() && !file_.write(wanted)) {
        // A disk that is full stays full: the space this file took is given back.
        file_.discard();
        fileMade_ = false;
        end(ReceiveEnd::Outcome::CannotSave, cannotSaveStatus(file_.error()));
        return;
    }
    total_ += wanted.size();
    if (!wanted.isEmpty())
        idle_.start(); // only bytes of the file count as a sign of life
    // Named before the count goes out: a sender that is gone by then leaves a whole file.
    if (total_ == size_)
        fileIsWhole();
    if (!wanted.isEmpty() && socket_) {
        reply(total_);
        if (state_ != State::Ended)
            Q_EMIT progressed(total_, size_);
    }
    // Bytes beyond the announced size are not part of the file, and end the connection.
    if (bytes.size() > wanted.size())
        stop();
}

// The file is saved at once. The sender has a short while to read the last count and
// close; nothing it does after that keeps the connection.
void ReceiveConnection::fileIsWhole()
{
    idle_.stop();
    progressCheck_.stop();
    if (!file_.close(true)) {
        end(ReceiveEnd::Outcome::CannotSave, cannotSaveStatus(file_.error()));
        return;
    }
    state_ = State::Whole;
    closeGrace_.start();
}

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

// A sender that trickles a byte now and then would hold its file open for ever.
void ReceiveConnection::checkProgress()
{
    if (total_ - receivedAtLastCheck_ < limits_.minProgressBytes) {
        end(ReceiveEnd::Outcome::Idle,
            tooSlowStatus(limits_.minProgressBytes, limits_.progressWindow));
        return;
    }
    receivedAtLastCheck_ = total_;
}

void ReceiveConnection::peerClosed()
{
    if (!socket_ || state_ == State::Ended)
        return;
    if (socket_->bytesAvailable() > 0)
        readArrival();
    stop();
}

void ReceiveConnection::socketFailed(QAbstractSocket::SocketError error)
{
    const SocketError shown = socketError(error, socket_ ? socket_->errorString() : QString());
    end(ReceiveEnd::Outcome::Failed, QStringLiteral("Error %1").arg(shown.number),
        shown.description);
}

bool ReceiveConnection::isWhole() const
{
    return state_ == State::Whole;
}

void ReceiveConnection::end(ReceiveEnd::Outcome outcome, const QString& status,
                            const QString& detail)
{
    if (state_ == State::Ended)
        return;
    ReceiveEnd end{id_, outcome, peer_, {}, size_, total_, status, detail, false, {}, {}};
    if (isWhole()) // however it ends, a whole file was saved
        end = {
            id_, ReceiveEnd::Outcome::Saved, peer_, {}, size_, total_, kDisconnected, {}, false, {},
            {}};
    const bool hadFile = fileMade_;
    if (!file_.close(isWhole())) {
        end.outcome = ReceiveEnd::Outcome::CannotSave;
        end.status = cannotSaveStatus(file_.error());
        end.detail.clear();
    }
    if (hadFile)
        end.path = file_.path();
    state_ = State::Ended;
    idle_.stop();
    headerDeadline_.stop();
    progressCheck_.stop();
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
