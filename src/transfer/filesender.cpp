#include "transfer/filesender.h"

#include "platform/dialogs.h"
#include "platform/randomsource.h"
#include "platform/socketerror.h"
#include "shell/mainlayout.h"
#include "transfer/localport.h"
#include "transfer/protocol.h"
#include "transfer/speedtext.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

namespace
{

// How many local ports are drawn for one file before the system is left to choose.
constexpr int kPortDraws = 4;

} // namespace

FileSender::FileSender(const MainUi& ui, Dialogs& dialogs, RandomSource& random,
                       const QHostAddress& bindAddress)
    : ui_(ui), dialogs_(dialogs), random_(random), bindAddress_(bindAddress)
{
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleTimeout);
    connect(&idle_, &QTimer::timeout, this, [this] {
        resetPanel();
        showStatus(
            QStringLiteral("Closed: no answer for %1 seconds")
                .arg(std::chrono::duration_cast<std::chrono::seconds>(idle_.intervalAsDuration())
                         .count()));
        closeSocket();
    });
    retry_.setSingleShot(true);
    retry_.setInterval(std::chrono::milliseconds(500));
    connect(&retry_, &QTimer::timeout, this, &FileSender::connectSocket);
    connect(ui_.TimerSendSpeed, &QTimer::timeout, this, &FileSender::TimerSendSpeed_Timer);
}

FileSender::~FileSender()
{
    close();
}

void FileSender::setRefusalRetries(int count, std::chrono::milliseconds interval)
{
    retriesAllowed_ = count;
    retry_.setInterval(interval);
}

void FileSender::send(const QString& path, qint64 size, const QString& host)
{
    path_ = path;
    size_ = size;
    host_ = host;
    retriesLeft_ = retriesAllowed_;
    portDrawsLeft_ = kPortDraws;
    connectSocket();
}

void FileSender::close()
{
    retry_.stop();
    if (state_ != State::Closed)
        closeSocket();
}

quint16 FileSender::nextLocalPort()
{
    if (portDrawsLeft_ == 0)
        return 0; // the system chooses
    --portDrawsLeft_;
    return localPortFor(random_.next());
}

void FileSender::connectSocket()
{
    state_ = State::Connecting;
    socket_ = new QTcpSocket(this);
    // An earlier connection may still hold the port drawn; then draw again, and in the
    // end let the system choose.
    const QHostAddress from =
        bindAddress_ == QHostAddress::Any ? QHostAddress(QHostAddress::AnyIPv4) : bindAddress_;
    localPort_ = nextLocalPort();
    while (!socket_->bind(from, localPort_, QAbstractSocket::ReuseAddressHint) &&
           socket_->error() == QAbstractSocket::AddressInUseError && localPort_ != 0)
        localPort_ = nextLocalPort();

    connect(socket_, &QTcpSocket::connected, this, &FileSender::FileSendSocket_Connect);
    connect(socket_, &QTcpSocket::readyRead, this, &FileSender::FileSendSocket_DataArrival);
    connect(socket_, &QTcpSocket::disconnected, this, &FileSender::FileSendSocket_Close);
    connect(socket_, &QTcpSocket::errorOccurred, this, &FileSender::FileSendSocket_Error);
    connect(socket_, &QTcpSocket::bytesWritten, this, &FileSender::SendFile);
    socket_->connectToHost(host_, kFilePort);
}

void FileSender::dropSocket()
{
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void FileSender::FileSendSocket_Connect()
{
    showStatus(QStringLiteral("Connected"));
    state_ = State::AwaitingAcceptance;
    replies_ = ReplyLineSplitter();
    const QString bareName = QFileInfo(path_).fileName();
    socket_->write(transferHeader(bareName.toUtf8(), size_));
    idle_.start();
}

void FileSender::FileSendSocket_DataArrival()
{
    idle_.start();
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

void FileSender::accepted()
{
    showStatus(QStringLiteral("Sending File"));
    state_ = State::Streaming;
    seconds_ = 0;
    ui_.TimerSendSpeed->start();
    confirmed_ = 0;
    handed_ = 0;
    file_.setFileName(path_);
    if (!file_.open(QIODevice::ReadOnly)) {
        sendFileFailed(file_.errorString());
        return;
    }
    // Nothing to stream and nothing to count: the acceptance is the whole transfer.
    if (size_ == 0) {
        complete();
        return;
    }
    SendFile();
}

void FileSender::SendFile()
{
    if (state_ != State::Streaming || !file_.isOpen())
        return;
    QElapsedTimer turn;
    turn.start();
    while (handed_ < size_ && socket_->bytesToWrite() < kMaxUnsentBytes &&
           turn.elapsed() < kTimeSlice.count()) {
        const qint64 block = std::min(kBlockBytes, size_ - handed_);
        const QByteArray bytes = file_.read(block);
        if (bytes.size() != block) {
            sendFileFailed(file_.error() != QFileDevice::NoError
                               ? file_.errorString()
                               : QStringLiteral("The file has become shorter than it was"));
            return;
        }
        socket_->write(bytes);
        handed_ += block;
    }
    if (handed_ == size_)
        file_.close();
}

void FileSender::sendFileFailed(const QString& description)
{
    resetPanel();
    showStatus(QStringLiteral("Not sent: ") + description);
    closeSocket();
    dialogs_.message(description + QStringLiteral(" During SendFile"));
}

void FileSender::countArrived(const QByteArray& line)
{
    const std::optional<qint64> count = parseCount(line);
    if (!count)
        return;
    confirmed_ = *count;
    const int percent = percentage(confirmed_, size_);
    ui_.LABSendBytesSent->setText(QString::number(confirmed_));
    ui_.LABprogressSend->setText(QStringLiteral("%1 %").arg(percent));
    ui_.ProgressSend->setValue(percent);
    if (confirmed_ == size_)
        complete();
}

void FileSender::complete()
{
    showStatus(QStringLiteral("File Sent"));
    resetPanel();
    closeSocket();
}

void FileSender::FileSendSocket_Close()
{
    resetPanel();
    closeSocket();
}

void FileSender::FileSendSocket_Error(QAbstractSocket::SocketError error)
{
    // The peer's ordinary close comes as an error too; the close handler takes it.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    if (state_ == State::Connecting) {
        // The port drawn is still taken towards this peer (an earlier connection to it
        // lingers): connect again from another one.
        const bool portTaken = error == QAbstractSocket::AddressInUseError ||
                               error == QAbstractSocket::SocketAddressNotAvailableError;
        if (portTaken && localPort_ != 0) {
            dropSocket();
            connectSocket();
            return;
        }
        if (error == QAbstractSocket::ConnectionRefusedError && retriesLeft_ > 0) {
            --retriesLeft_;
            dropSocket();
            retry_.start();
            return;
        }
    }
    const SocketError shown = socketError(error, socket_ ? socket_->errorString() : QString());
    showStatus(QStringLiteral("Error %1").arg(shown.number), shown.description);
    closeSocket();
}

void FileSender::TimerSendSpeed_Timer()
{
    ++seconds_;
    ui_.LABsendSpeed->setText(speedText(confirmed_, seconds_));
}

void FileSender::showStatus(const QString& text, const QString& toolTip)
{
    ui_.LABSendStatus->setText(text);
    ui_.LABSendStatus->setToolTip(toolTip);
}

void FileSender::resetPanel()
{
    ui_.LABSendRemoteIP->setText(QStringLiteral("0.0.0.0"));
    ui_.LABSendFileName->clear();
    ui_.LABSendBytesSent->setText(QStringLiteral("0"));
    ui_.LABSendFileSize->setText(QStringLiteral("0"));
    ui_.LABprogressSend->setText(QStringLiteral("0 %"));
    ui_.LABsendSpeed->setText(QStringLiteral("0 K per second"));
    ui_.ProgressSend->setValue(0);
    seconds_ = 0;
    ui_.TimerSendSpeed->stop();
}

void FileSender::closeSocket()
{
    idle_.stop();
    file_.close();
    state_ = State::Closed;
    if (socket_)
        dropSocket();
    Q_EMIT finished();
}
