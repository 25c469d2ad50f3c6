#include "transfer/filereceiver.h"

#include "platform/localaddress.h"
#include "transfer/receivedname.h"

namespace
{

// A sender that never reads our count lines must not make them pile up: beyond this
// many unsent bytes, only the latest count is kept, and sent once the queue drains.
constexpr qint64 kMaxQueuedReplyBytes = 64 * 1024;
// What one arrival may hold; Qt stops reading from the network beyond it.
constexpr qint64 kReadBufferBytes = 1024 * 1024;

const QString kDisconnected = QStringLiteral("Disconnected");

} // namespace

FileReceiver::FileReceiver(const QHostAddress& bindAddress, QObject* parent)
    : QObject(parent), bindAddress_(bindAddress)
{
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleTimeout);
    connect(&idle_, &QTimer::timeout, this, [this] {
        endConnection(
            ReceiveEnd::Outcome::Idle,
            QStringLiteral("Closed: nothing arrived for %1 seconds")
                .arg(std::chrono::duration_cast<std::chrono::seconds>(idle_.intervalAsDuration())
                         .count()));
    });
    connect(&FileRecieveSocket, &QTcpServer::newConnection, this,
            &FileReceiver::FileRecieveSocket_ConnectionRequest);
    connect(&speed_, &SpeedMeter::ticked, this, &FileReceiver::speedTicked);
}

FileReceiver::~FileReceiver()
{
    FileRecieveSocket.close();
    file_.close(isWhole());
    dropConnection();
}

std::optional<SocketError> FileReceiver::listen()
{
    FileRecieveSocket.close();
    if (FileRecieveSocket.listen(bindAddress_, kFilePort))
        return std::nullopt;
    return socketError(FileRecieveSocket.serverError(), FileRecieveSocket.errorString());
}

void FileReceiver::stop()
{
    FileRecieveSocket.close();
    if (connection_)
        endConnection(isWhole() ? ReceiveEnd::Outcome::Saved : ReceiveEnd::Outcome::Incomplete,
                      kDisconnected, {}, false);
}

void FileReceiver::FileRecieveSocket_ConnectionRequest()
{
    QTcpSocket* connection = FileRecieveSocket.nextPendingConnection();
    // One connection at a time: while it lasts nobody else is let in.
    FileRecieveSocket.close();
    if (!connection)
        return;
    connection_ = connection;
    connection->setParent(this);
    connection->setReadBufferSize(kReadBufferBytes);
    // The acceptance and the counts are short lines the sender waits for: send each at once.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(connection, &QTcpSocket::readyRead, this, &FileReceiver::FileRecieveSocket_DataArrival);
    connect(connection, &QTcpSocket::disconnected, this, &FileReceiver::FileRecieveSocket_Close);
    connect(connection, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A peer's ordinary close also comes as an error; the close handler takes it.
        if (e != QAbstractSocket::RemoteHostClosedError)
            FileRecieveSocket_Error(e);
    });
    connect(connection, &QTcpSocket::bytesWritten, this, &FileReceiver::sendPendingCount);

    state_ = State::AwaitingHeader;
    header_ = HeaderParser();
    peer_ = dottedAddress(connection->peerAddress());
    total_ = 0;
    size_ = 0;
    unsentCount_.reset();
    idle_.start();
    Q_EMIT connectionOpened(peer_);
}

void FileReceiver::FileRecieveSocket_DataArrival()
{
    if (!connection_)
        return;
    const QByteArray arrival = connection_->readAll();
    if (arrival.isEmpty())
        return;
    idle_.start();
    if (state_ == State::Receiving) {
        receive(arrival);
        return;
    }
    switch (header_.feed(arrival)) {
    case HeaderParser::Result::NeedMore:
        return;
    case HeaderParser::Result::Malformed:
        endConnection(ReceiveEnd::Outcome::Refused,
                      QStringLiteral("Refused: ") + header_.problem());
        return;
    case HeaderParser::Result::Header:
        if (takeHeader())
            receive(header_.takeRest());
        return;
    }
}

bool FileReceiver::takeHeader()
{
    const std::optional<QString> name = receivedFileName(header_.header().name);
    if (!name) {
        endConnection(ReceiveEnd::Outcome::Refused,
                      QStringLiteral("Refused: the file name cannot be used"));
        return false;
    }
    if (saveFolder_.isEmpty()) {
        endConnection(ReceiveEnd::Outcome::CannotSave,
                      QStringLiteral("Cannot save: no save folder has been chosen"));
        return false;
    }
    if (!file_.create(saveFolder_, *name)) {
        endConnection(ReceiveEnd::Outcome::CannotSave,
                      QStringLiteral("Cannot save: ") + file_.error());
        return false;
    }
    state_ = State::Receiving;
    size_ = header_.header().size;
    speed_.record(0);
    speed_.start();
    Q_EMIT fileStarted(file_.finalName(), size_);
    if (connection_)
        send(acceptanceLine());
    return true;
}

void FileReceiver::receive(const QByteArray& bytes)
{
    // Bytes beyond the announced size are not part of the file.
    const QByteArray wanted = bytes.left(size_ - total_);
    if (wanted.isEmpty() || !connection_)
        return;
    if (!file_.write(wanted)) {
        endConnection(ReceiveEnd::Outcome::CannotSave,
                      QStringLiteral("Cannot save: ") + file_.error());
        return;
    }
    total_ += wanted.size();
    speed_.record(total_);
    reply(total_);
    Q_EMIT progressed(total_, size_);
}

void FileReceiver::reply(qint64 total)
{
    if (connection_->bytesToWrite() > kMaxQueuedReplyBytes) {
        unsentCount_ = total;
        return;
    }
    send(countLine(total));
}

void FileReceiver::send(const QByteArray& bytes)
{
    connection_->write(bytes);
    // Hand it to the system at once: a sender that closes its side right after its last
    // bytes makes the socket close on reading that end, and whatever is still queued
    // here would be lost.
    connection_->flush();
}

void FileReceiver::sendPendingCount()
{
    if (!connection_ || !unsentCount_ || connection_->bytesToWrite() > kMaxQueuedReplyBytes)
        return;
    send(countLine(*std::exchange(unsentCount_, std::nullopt)));
}

void FileReceiver::FileRecieveSocket_Close()
{
    if (!connection_)
        return;
    if (connection_->bytesAvailable() > 0)
        FileRecieveSocket_DataArrival();
    if (connection_)
        endConnection(isWhole() ? ReceiveEnd::Outcome::Saved : ReceiveEnd::Outcome::Incomplete,
                      kDisconnected);
}

void FileReceiver::FileRecieveSocket_Error(QAbstractSocket::SocketError error)
{
    const SocketError shown =
        socketError(error, connection_ ? connection_->errorString() : QString());
    endConnection(ReceiveEnd::Outcome::Failed, QStringLiteral("Error %1").arg(shown.number),
                  shown.description);
}

bool FileReceiver::isWhole() const
{
    return state_ == State::Receiving && total_ == size_;
}

void FileReceiver::endConnection(ReceiveEnd::Outcome outcome, const QString& status,
                                 const QString& detail, bool listenAgain)
{
    ReceiveEnd end{outcome, peer_, {}, size_, total_, status, detail};
    const bool hadFile = file_.isOpen();
    if (!file_.close(isWhole())) {
        end.outcome = ReceiveEnd::Outcome::CannotSave;
        end.status = QStringLiteral("Cannot save: ") + file_.error();
        end.detail.clear();
    }
    if (hadFile)
        end.path = file_.path();
    dropConnection();
    speed_.stop();
    Q_EMIT finished(end);
    if (!listenAgain)
        return;
    if (const std::optional<SocketError> error = listen())
        Q_EMIT listenFailed(*error);
}

void FileReceiver::dropConnection()
{
    idle_.stop();
    state_ = State::Listening;
    if (!connection_)
        return;
    QTcpSocket* connection = connection_;
    connection_ = nullptr;
    connection->disconnect(this);
    connection->abort();
    connection->deleteLater();
}
