#include "transfer/filereceiver.h"

#include "platform/localaddress.h"
#include "shell/mainlayout.h"
#include "transfer/receivedname.h"
#include "transfer/speedtext.h"

#include <QLabel>
#include <QProgressBar>

namespace
{

// A sender that never reads our count lines must not make them pile up: beyond this
// many unsent bytes, only the latest count is kept, and sent once the queue drains.
constexpr qint64 kMaxQueuedReplyBytes = 64 * 1024;
// What one arrival may hold; Qt stops reading from the network beyond it.
constexpr qint64 kReadBufferBytes = 1024 * 1024;

const QString kDisconnected = QStringLiteral("Disconnected");

} // namespace

FileReceiver::FileReceiver(const MainUi& ui, const QHostAddress& bindAddress)
    : ui_(ui), bindAddress_(bindAddress)
{
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleTimeout);
    connect(&idle_, &QTimer::timeout, this, [this] {
        endConnection(
            QStringLiteral("Closed: nothing arrived for %1 seconds")
                .arg(std::chrono::duration_cast<std::chrono::seconds>(idle_.intervalAsDuration())
                         .count()));
    });
    connect(&FileRecieveSocket, &QTcpServer::newConnection, this,
            &FileReceiver::FileRecieveSocket_ConnectionRequest);
    connect(ui_.TimerRecieveSpeed, &QTimer::timeout, this, &FileReceiver::TimerRecieveSpeed_Timer);
}

FileReceiver::~FileReceiver()
{
    close();
}

std::optional<SocketError> FileReceiver::listen()
{
    FileRecieveSocket.close();
    if (FileRecieveSocket.listen(bindAddress_, kFilePort))
        return std::nullopt;
    return socketError(FileRecieveSocket.serverError(), FileRecieveSocket.errorString());
}

void FileReceiver::close()
{
    FileRecieveSocket.close();
    file_.close(isWhole());
    dropConnection();
    ui_.TimerRecieveSpeed->stop();
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
    ui_.LABrecieveRemoteIP->setText(dottedAddress(connection->peerAddress()));
    showStatus(QStringLiteral("Connected"));
    total_ = 0;
    size_ = 0;
    unsentCount_.reset();
    idle_.start();
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
        endConnection(QStringLiteral("Refused: ") + header_.problem());
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
        endConnection(QStringLiteral("Refused: the file name cannot be used"));
        return false;
    }
    if (saveFolder_.isEmpty()) {
        endConnection(QStringLiteral("Cannot save: no save folder has been chosen"));
        return false;
    }
    if (!file_.create(saveFolder_, *name)) {
        endConnection(QStringLiteral("Cannot save: ") + file_.error());
        return false;
    }
    state_ = State::Receiving;
    size_ = header_.header().size;
    ui_.LABrecieveFileName->setText(file_.finalName());
    ui_.LABrecieveFileSize->setText(QString::number(size_));
    showStatus(QStringLiteral("Recieving file"));
    seconds_ = 0;
    ui_.TimerRecieveSpeed->start();
    send(acceptanceLine());
    return true;
}

void FileReceiver::receive(const QByteArray& bytes)
{
    // Bytes beyond the announced size are not part of the file.
    const QByteArray wanted = bytes.left(size_ - total_);
    if (wanted.isEmpty())
        return;
    if (!file_.write(wanted)) {
        endConnection(QStringLiteral("Cannot save: ") + file_.error());
        return;
    }
    total_ += wanted.size();
    const int percent = percentage(total_, size_);
    ui_.LABrecieveBytesSent->setText(QString::number(total_));
    ui_.LABprogressRecieve->setText(QStringLiteral("%1 %").arg(percent));
    ui_.ProgressRecieve->setValue(percent);
    reply(total_);
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
        endConnection(kDisconnected);
}

void FileReceiver::FileRecieveSocket_Error(QAbstractSocket::SocketError error)
{
    const SocketError shown =
        socketError(error, connection_ ? connection_->errorString() : QString());
    endConnection(QStringLiteral("Error %1").arg(shown.number), shown.description);
}

void FileReceiver::TimerRecieveSpeed_Timer()
{
    ++seconds_;
    ui_.LABrecieveSpeed->setText(speedText(total_, seconds_));
}

bool FileReceiver::isWhole() const
{
    return state_ == State::Receiving && total_ == size_;
}

void FileReceiver::showStatus(const QString& text, const QString& toolTip)
{
    ui_.LABrecieveStatus->setText(text);
    ui_.LABrecieveStatus->setToolTip(toolTip);
}

void FileReceiver::resetPanel()
{
    ui_.LABrecieveRemoteIP->setText(QStringLiteral("0.0.0.0"));
    ui_.LABrecieveFileName->clear();
    ui_.LABrecieveBytesSent->setText(QStringLiteral("0"));
    ui_.LABrecieveFileSize->setText(QStringLiteral("0"));
    ui_.LABprogressRecieve->setText(QStringLiteral("0 %"));
    ui_.LABrecieveSpeed->setText(QStringLiteral("0 K per Second"));
    ui_.ProgressRecieve->setValue(0);
}

void FileReceiver::endConnection(const QString& status, const QString& toolTip)
{
    resetPanel();
    if (file_.close(isWhole()))
        showStatus(status, toolTip);
    else
        showStatus(QStringLiteral("Cannot save: ") + file_.error());
    dropConnection();
    if (const std::optional<SocketError> error = listen())
        showStatus(QStringLiteral("Error %1").arg(error->number), error->description);
    seconds_ = 0;
    ui_.TimerRecieveSpeed->stop();
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
