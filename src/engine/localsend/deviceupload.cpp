#include "localsend/deviceupload.h"

#include "localsend/devicebook.h"
#include "localsend/messages.h"
#include "platform/socketrelease.h"

#include <QSslConfiguration>

namespace
{

// The status of an answer's header block ("HTTP/1.1 200 OK"); 0 when it has none.
int statusOf(const QByteArray& head)
{
    const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
    if (words.size() < 2 || !words.at(0).startsWith("HTTP/1.") || words.at(1).size() != 3)
        return 0;
    bool ok = false;
    const int status = words.at(1).toInt(&ok);
    return ok && status >= 100 ? status : 0;
}

} // namespace

DeviceUpload::DeviceUpload(DeviceBook& devices, QObject* parent)
    : QObject(parent), devices_(devices)
{
    connect(&dialer_, &TcpDialer::connected, this, &DeviceUpload::dialed);
    connect(&dialer_, &TcpDialer::failed, this, &DeviceUpload::fail);
    connect(&file_, &OutgoingFile::blockReady, this, &DeviceUpload::feed);
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
        fail(QAbstractSocket::SocketTimeoutError,
             QStringLiteral("The device took and said nothing for %1 seconds")
                 .arg(std::chrono::duration_cast<std::chrono::seconds>(idleTimeout_).count()));
    });
}

DeviceUpload::~DeviceUpload()
{
    release();
}

bool DeviceUpload::start(const QUrl& url, const QString& path, qint64 size)
{
    release();
    if (!file_.open(path, size, 0, std::nullopt))
        return false;
    url_ = url;
    size_ = size;
    handed_ = 0;
    answer_.clear();
    idle_.start(idleTimeout_);
    dialer_.connectTo(url.host(), quint16(url.port()));
    return true;
}

void DeviceUpload::abort()
{
    release();
}

void DeviceUpload::dialed(qintptr descriptor)
{
    socket_ = new QSslSocket(this);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    // Signed by no one: the certificate is judged by its fingerprint once it is shown.
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket_->setSslConfiguration(tls);
    // A device that talks on while the body goes out is held to what an answer may be.
    socket_->setReadBufferSize(kMaxDocumentBytes);
    connect(socket_, &QSslSocket::encrypted, this, &DeviceUpload::encrypted);
    connect(socket_, &QSslSocket::readyRead, this, &DeviceUpload::readAnswer);
    connect(socket_, &QSslSocket::bytesWritten, this, &DeviceUpload::feed);
    connect(socket_, &QSslSocket::encryptedBytesWritten, this, &DeviceUpload::feed);
    connect(socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        readAnswer(); // an answer the device gave before it closed counts
        if (socket_)
            fail(error, socket_->errorString());
    });
    socket_->setSocketDescriptor(descriptor);
    socket_->setPeerVerifyName(url_.host());
    socket_->startClientEncryption();
}

void DeviceUpload::encrypted()
{
    const QSslCertificate certificate = socket_->peerCertificate();
    const KeyCheck check =
        certificate.isNull()
            ? KeyCheck{}
            : devices_.checkCertificate(url_.host(), certificateFingerprint(certificate));
    if (certificate.isNull() || check.isRefused()) {
        DeviceAnswer answer;
        answer.certificateRefused = true;
        answer.refusedName = check.name;
        answer.errorString = QStringLiteral("The device showed another certificate");
        end(answer);
        return;
    }
    const QByteArray target =
        url_.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    socket_->write("POST " + target +
                   " HTTP/1.1\r\nHost: " + url_.authority(QUrl::FullyEncoded).toLatin1() +
                   "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                   QByteArray::number(size_) + "\r\nConnection: close\r\n\r\n");
    feed();
}

void DeviceUpload::feed()
{
    if (!socket_ || !socket_->isEncrypted())
        return;
    idle_.start(idleTimeout_);
    const auto unsent = [this] {
        return socket_->bytesToWrite() + socket_->encryptedBytesToWrite();
    };
    while (file_.hasMore() && unsent() < kMaxUnsentBytes) {
        if (!file_.blockAtHand())
            return; // on its way from the disk: blockReady() goes on
        const QByteArray bytes = file_.next();
        if (bytes.isEmpty()) {
            DeviceAnswer answer;
            answer.unreadable = true;
            answer.errorString = file_.error();
            end(answer);
            return;
        }
        socket_->write(bytes);
        handed_ += bytes.size();
    }
    if (!file_.hasMore() && file_.isOpen())
        file_.finish();
    Q_EMIT progressed(std::max<qint64>(0, handed_ - unsent()));
}

void DeviceUpload::readAnswer()
{
    if (!socket_)
        return;
    idle_.start(idleTimeout_);
    answer_ += socket_->read(kMaxDocumentBytes - answer_.size());
    qsizetype headEnd = answer_.indexOf("\r\n\r\n");
    // A device may say it goes on before it answers.
    while (headEnd >= 0 && statusOf(answer_) / 100 == 1) {
        answer_.remove(0, headEnd + 4);
        headEnd = answer_.indexOf("\r\n\r\n");
    }
    if (headEnd >= 0) {
        DeviceAnswer answer;
        answer.status = statusOf(answer_);
        if (answer.status == 0)
            answer.errorString = QStringLiteral("The device's answer could not be read");
        end(answer);
    } else if (answer_.size() >= kMaxDocumentBytes) {
        fail(QAbstractSocket::UnknownSocketError,
             QStringLiteral("The device's answer is longer than any answer can be"));
    }
}

void DeviceUpload::fail(QAbstractSocket::SocketError error, const QString& description)
{
    DeviceAnswer answer;
    answer.error = error;
    answer.errorString = description;
    end(answer);
}

void DeviceUpload::end(const DeviceAnswer& answer)
{
    release();
    Q_EMIT finished(answer);
}

void DeviceUpload::release()
{
    idle_.stop();
    dialer_.abort();
    file_.close();
    if (socket_)
        abortLater(socket_, this);
    socket_ = nullptr;
}
