#include "platform/tlssocket.h"

#include "platform/socketbio.h"
#include "platform/tlscontext.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// What one call into the record layer may take: its lengths are ints.
constexpr qint64 kMostPerCall = INT_MAX / 2;
// Records are gathered up to this many bytes for one system call: writing each record of
// 16 KiB on its own costs the sender more than the encryption.
constexpr long kWriteGatherBytes = 128 * 1024;

QHostAddress peerOf(int descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

// Before each call into OpenSSL, so that what it reports afterwards is that call's own.
void clearErrors()
{
    ERR_clear_error();
    errno = 0;
}

} // namespace

TlsSocket::TlsSocket(qintptr descriptor, std::shared_ptr<const TlsContext> context, QObject* parent)
    : QIODevice(parent), descriptor_(int(descriptor)), context_(std::move(context))
{
    ::fcntl(descriptor_, F_SETFL, ::fcntl(descriptor_, F_GETFL) | O_NONBLOCK);
    peerAddress_ = peerOf(descriptor_);
    readNotifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Write, this);
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, &TlsSocket::readable);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &TlsSocket::writable);
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

TlsSocket::~TlsSocket()
{
    abort();
    SSL_free(ssl_);
}

void TlsSocket::startClientEncryption(const QString& peerName)
{
    if (!start())
        return;
    SSL_set_connect_state(ssl_);
    if (!peerName.isEmpty() && QHostAddress(peerName).isNull())
        SSL_set_tlsext_host_name(ssl_, QUrl::toAce(peerName).constData());
    handshake();
}

void TlsSocket::startServerEncryption()
{
    if (!start())
        return;
    SSL_set_accept_state(ssl_);
    handshake();
}

bool TlsSocket::start()
{
    if (stage_ != Stage::Idle)
        return false;
    stage_ = Stage::Handshake;
    clearErrors();
    ssl_ = context_ ? SSL_new(context_->handle()) : nullptr;
    BIO* socket = ssl_ ? newSocketBio(descriptor_) : nullptr;
    if (!socket) {
        fail(QAbstractSocket::SslInternalError,
             QStringLiteral("TLS cannot be set up: %1").arg(tlsErrors()));
        return false;
    }
    SSL_set_bio(ssl_, socket, socket);
    return true;
}

// From the handshake on, the records go out through a gathering buffer: a connection that
// never gets that far costs no more than its handshake. Without one, each record goes out
// on its own, which is slower but as right.
void TlsSocket::gatherWrites()
{
    BIO* socket = SSL_get_rbio(ssl_);
    BIO* gather = BIO_new(BIO_f_buffer());
    if (!gather || BIO_set_write_buffer_size(gather, kWriteGatherBytes) != 1) {
        BIO_free(gather);
        return;
    }
    BIO_up_ref(socket); // held by the reading end and by the gathering one
    SSL_set0_wbio(ssl_, BIO_push(gather, socket));
}

QAbstractSocket::SocketState TlsSocket::state() const
{
    switch (stage_) {
    case Stage::Closing:
        return QAbstractSocket::ClosingState;
    case Stage::Closed:
        return QAbstractSocket::UnconnectedState;
    default:
        return QAbstractSocket::ConnectedState;
    }
}

QByteArray TlsSocket::peerCertificate() const
{
    X509* certificate = ssl_ ? SSL_get0_peer_certificate(ssl_) : nullptr;
    const int length = certificate ? i2d_X509(certificate, nullptr) : 0;
    if (length <= 0)
        return {};
    QByteArray der(length, Qt::Uninitialized);
    auto out = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(certificate, &out);
    return der;
}

void TlsSocket::setLowDelay()
{
    const int on = 1;
    ::setsockopt(descriptor_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

qint64 TlsSocket::bytesAvailable() const
{
    return (ssl_ ? SSL_pending(ssl_) : 0) + QIODevice::bytesAvailable();
}

qint64 TlsSocket::bytesToWrite() const
{
    if (stage_ == Stage::Closed || !ssl_)
        return 0;
    return unsentBytes_ + qint64(BIO_wpending(SSL_get_wbio(ssl_)));
}

qint64 TlsSocket::write(const QByteArray& bytes)
{
    if (stage_ == Stage::Closing || stage_ == Stage::Closed)
        return -1;
    if (!bytes.isEmpty()) {
        unsent_.push_back(bytes);
        unsentBytes_ += bytes.size();
        flush();
    }
    return bytes.size();
}

qint64 TlsSocket::writeData(const char* data, qint64 size)
{
    return write(QByteArray(data, qsizetype(size)));
}

qint64 TlsSocket::readData(char* data, qint64 maxSize)
{
    if (stage_ != Stage::Encrypted && stage_ != Stage::Closed)
        return 0;
    if (descriptor_ < 0 || !ssl_)
        return 0;
    qint64 got = 0;
    while (got < maxSize) {
        clearErrors();
        const int n = SSL_read(ssl_, data + got, int(std::min(maxSize - got, kMostPerCall)));
        if (n > 0) {
            got += n;
            continue;
        }
        // Once the connection is over, only what it had decrypted is left to read.
        if (stage_ == Stage::Encrypted)
            readWaitsForWrite_ = awaitSocket(n, "reading") == SSL_ERROR_WANT_WRITE;
        break;
    }
    return got;
}

void TlsSocket::readable()
{
    readNotifier_->setEnabled(false);
    switch (stage_) {
    case Stage::Handshake:
        handshake();
        break;
    case Stage::Encrypted:
        if (std::exchange(writeWaitsForRead_, false))
            flush();
        if (stage_ == Stage::Encrypted)
            Q_EMIT readyRead();
        break;
    case Stage::Closing:
        drain();
        break;
    default:
        break;
    }
}

void TlsSocket::writable()
{
    writeNotifier_->setEnabled(false);
    if (stage_ == Stage::Handshake) {
        handshake();
        return;
    }
    flush();
    if (stage_ == Stage::Encrypted && std::exchange(readWaitsForWrite_, false))
        Q_EMIT readyRead();
}

void TlsSocket::handshake()
{
    clearErrors();
    const int result = SSL_do_handshake(ssl_);
    if (result != 1) {
        awaitSocket(result, "handshake");
        return;
    }
    stage_ = Stage::Encrypted;
    gatherWrites();
    const QPointer<TlsSocket> self(this);
    Q_EMIT encrypted();
    if (!self || stage_ != Stage::Encrypted)
        return;
    flush();
    if (stage_ != Stage::Encrypted)
        return;
    // The peer's first bytes may have come with the end of the handshake.
    if (SSL_has_pending(ssl_))
        Q_EMIT readyRead();
    else
        readNotifier_->setEnabled(true);
}

void TlsSocket::flush()
{
    while (!unsent_.empty() && (stage_ == Stage::Encrypted || stage_ == Stage::Closing)) {
        const QByteArray& first = unsent_.front();
        const qint64 left = first.size() - unsentStart_;
        clearErrors();
        const int n =
            SSL_write(ssl_, first.constData() + unsentStart_, int(std::min(left, kMostPerCall)));
        if (n <= 0) {
            writeWaitsForRead_ = awaitSocket(n, "writing") == SSL_ERROR_WANT_READ;
            break;
        }
        unsentStart_ += n;
        unsentBytes_ -= n;
        written_ += n;
        if (unsentStart_ == first.size()) {
            unsent_.pop_front();
            unsentStart_ = 0;
        }
    }
    const bool gathered = (stage_ == Stage::Encrypted || stage_ == Stage::Closing) && send();
    if (written_ > 0)
        tellWritten();
    if (unsent_.empty() && gathered && stage_ == Stage::Closing)
        closeOnceFlushed();
}

// Hands the gathered records to the system; whether all have gone.
bool TlsSocket::send()
{
    BIO* out = SSL_get_wbio(ssl_);
    if (BIO_wpending(out) == 0)
        return true;
    errno = 0;
    if (BIO_flush(out) == 1)
        return true;
    const int number = errno;
    if (BIO_should_retry(out))
        writeNotifier_->setEnabled(true);
    else
        brokeOff(number);
    return false;
}

// The system failed a read or write with number: a close when the peer closed or reset.
void TlsSocket::brokeOff(int number)
{
    if (number == 0 || number == ECONNRESET || number == EPIPE)
        peerClosed();
    else
        fail(QAbstractSocket::NetworkError, QString::fromLocal8Bit(std::strerror(number)));
}

// bytesWritten() is told from the event loop, never inside the write that caused it.
void TlsSocket::tellWritten()
{
    if (std::exchange(tellingWritten_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            tellingWritten_ = false;
            if (const qint64 written = std::exchange(written_, 0); written > 0 && !quiet_)
                Q_EMIT bytesWritten(written);
        },
        Qt::QueuedConnection);
}

int TlsSocket::awaitSocket(int result, const char* step)
{
    const int error = SSL_get_error(ssl_, result);
    const int number = errno;
    switch (error) {
    case SSL_ERROR_WANT_READ:
        readNotifier_->setEnabled(true);
        return error;
    case SSL_ERROR_WANT_WRITE:
        writeNotifier_->setEnabled(true);
        return error;
    case SSL_ERROR_ZERO_RETURN:
        peerClosed();
        return error;
    case SSL_ERROR_SYSCALL:
        brokeOff(number);
        return error;
    default:
        break;
    }
    const QString why = tlsErrors();
    if (stage_ == Stage::Handshake)
        fail(QAbstractSocket::SslHandshakeFailedError,
             QStringLiteral("Error during SSL handshake: %1").arg(why));
    else
        fail(QAbstractSocket::SslInternalError,
             QStringLiteral("Error while %1: %2").arg(QLatin1String(step), why));
    return error;
}

void TlsSocket::disconnectFromHost()
{
    if (stage_ == Stage::Closing || stage_ == Stage::Closed)
        return;
    if (stage_ != Stage::Encrypted) {
        peerClosed();
        return;
    }
    stage_ = Stage::Closing;
    flush();
}

void TlsSocket::closeOnceFlushed()
{
    clearErrors();
    SSL_shutdown(ssl_);
    (void)BIO_flush(SSL_get_wbio(ssl_)); // the close goes as the last record, or not at all
    ::shutdown(descriptor_, SHUT_WR);
    drain();
}

// Once this side has said all, what still comes is read and let go until the peer closes.
void TlsSocket::drain()
{
    char scratch[16 * 1024];
    ssize_t n = 0;
    while ((n = ::recv(descriptor_, scratch, sizeof scratch, 0)) > 0) {
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        readNotifier_->setEnabled(true);
    else
        peerClosed();
}

void TlsSocket::peerClosed()
{
    if (stage_ == Stage::Closed)
        return;
    shut();
    // As a closed socket would: the peer hears of it too.
    ::shutdown(descriptor_, SHUT_RDWR);
    setErrorString(QStringLiteral("The remote host closed the connection"));
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!quiet_)
                Q_EMIT disconnected();
        },
        Qt::QueuedConnection);
}

void TlsSocket::fail(QAbstractSocket::SocketError error, const QString& description)
{
    if (stage_ == Stage::Closed)
        return;
    shut();
    setErrorString(description);
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            if (!quiet_)
                Q_EMIT errorOccurred(error);
        },
        Qt::QueuedConnection);
}

// Nothing more goes in or out; what was decrypted may still be read.
void TlsSocket::shut()
{
    stage_ = Stage::Closed;
    if (readNotifier_) {
        readNotifier_->setEnabled(false);
        writeNotifier_->setEnabled(false);
    }
    unsent_.clear();
    unsentStart_ = 0;
    unsentBytes_ = 0;
}

void TlsSocket::abort()
{
    quiet_ = true;
    shut();
    if (descriptor_ >= 0) {
        delete std::exchange(readNotifier_, nullptr);
        delete std::exchange(writeNotifier_, nullptr);
        ::close(std::exchange(descriptor_, -1));
    }
}
