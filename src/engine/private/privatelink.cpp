#include "private/privatelink.h"

#include "identity/certificatekey.h"
#include "platform/localaddress.h"
#include "platform/socketrelease.h"
#include "platform/tlssocket.h"
#include "secure/tlsconfiguration.h"

#include <algorithm>

PrivateLink::PrivateLink(const Identity& identity, PeerKeys& keys, const QHostAddress& bindAddress,
                         Clock& clock, QObject* parent)
    : QObject(parent), identity_(identity), keys_(keys), bindAddress_(bindAddress),
      connecting_(clock.makeAlarm([this] { connectTimedOut(); }))
{
    connect(&dialer_, &TcpDialer::connected, this, &PrivateLink::dialed);
    connect(&dialer_, &TcpDialer::failed, this, &PrivateLink::dialFailed);
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(idle_.intervalAsDuration()).count();
        release();
        Q_EMIT silent(int(seconds));
    });
}

void PrivateLink::connectTimedOut()
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kConnectTimeout).count();
    release();
    Q_EMIT failed(
        QAbstractSocket::SocketTimeoutError,
        QStringLiteral("No answer from port %1 within %2 seconds").arg(kPrivatePort).arg(seconds),
        true);
}

PrivateLink::~PrivateLink()
{
    release();
}

void PrivateLink::open(const QString& host)
{
    release();
    host_ = host;
    reader_ = MessageReader();
    state_ = State::Connecting;
    const QHostAddress from =
        bindAddress_ == QHostAddress::Any ? QHostAddress(QHostAddress::AnyIPv4) : bindAddress_;
    dialer_.bind(from, 0);
    awaitAnswer();
    connecting_->set(kConnectTimeout);
    dialer_.connectTo(host, kPrivatePort);
}

void PrivateLink::dialed(qintptr descriptor)
{
    connecting_->cancel();
    socket_ = new TlsSocket(descriptor, privateTlsContext(identity_), this);
    connect(socket_, &TlsSocket::encrypted, this, &PrivateLink::encrypted);
    connect(socket_, &TlsSocket::readyRead, this, &PrivateLink::readArrival);
    connect(socket_, &TlsSocket::disconnected, this, &PrivateLink::peerClosed);
    connect(socket_, &TlsSocket::errorOccurred, this, &PrivateLink::socketFailed);
    connect(socket_, &TlsSocket::bytesWritten, this, &PrivateLink::written);
    // As connecting by name would: the name goes in the greeting, an address does not.
    socket_->startClientEncryption(host_);
}

void PrivateLink::dialFailed(QAbstractSocket::SocketError error, const QString& description)
{
    release();
    // Taken and reset before the connection was seen as made: a close before the HELLO.
    if (error == QAbstractSocket::RemoteHostClosedError)
        Q_EMIT closed(true);
    else
        Q_EMIT failed(error, description, true);
}

bool PrivateLink::reachesKeyedEntry() const
{
    const QList<QHostAddress>& addresses = dialer_.resolved();
    return std::any_of(addresses.cbegin(), addresses.cend(), [this](const QHostAddress& address) {
        return keys_.hasKey(dottedAddress(address));
    });
}

void PrivateLink::write(const QByteArray& bytes)
{
    if (socket_)
        socket_->write(bytes);
}

qint64 PrivateLink::unsentBytes() const
{
    return socket_ ? socket_->bytesToWrite() : 0;
}

void PrivateLink::bye()
{
    if (!socket_) {
        release(); // still connecting
        return;
    }
    TlsSocket* socket = socket_;
    if (state_ == State::Open)
        socket->write(encodeMessage(MessageType::Bye));
    socket_ = nullptr;
    state_ = State::Closed;
    idle_.stop();
    connecting_->cancel();
    // A receiver that never reads the BYE does not keep the socket for ever.
    closeLater(socket, this, idleTimeout_);
}

void PrivateLink::abort()
{
    release();
}

void PrivateLink::encrypted()
{
    const std::variant<QByteArray, QString> shown = certificateKey(socket_->peerCertificate());
    if (const QString* problem = std::get_if<QString>(&shown)) {
        release();
        Q_EMIT keyRefused(QStringLiteral("The receiver's key cannot be taken: ") + *problem);
        return;
    }
    // The host as typed, and the address it resolved to: either may be an entry's.
    const QStringList addresses{host_, dottedAddress(socket_->peerAddress())};
    const KeyCheck check = keys_.checkDialled(addresses, std::get<QByteArray>(shown));
    if (check.verdict == KeyCheck::Verdict::Shared) {
        release();
        Q_EMIT keyRefused(keySharedMessage(check.name));
        return;
    }
    if (check.isRefused()) {
        release();
        Q_EMIT keyChanged(check.name);
        return;
    }
    check_ = check;
    // Every step waits for a short message from the other side.
    socket_->setLowDelay();
    state_ = State::Greeting;
    features_ = 0;
    // A sender can always announce a file's path inside a folder.
    socket_->write(helloMessage(kPrivateVersion, kOurFeatures));
}

void PrivateLink::readArrival()
{
    if (state_ != State::Greeting && state_ != State::Open)
        return;
    PrivateMessage message;
    // Whoever hears of a message may close the link.
    while (socket_) {
        const MessageReader::Result result = reader_.next(message, socket_);
        if (result == MessageReader::Result::NeedMore)
            return;
        if (result == MessageReader::Result::Malformed) {
            refuse();
            return;
        }
        take(message);
    }
}

void PrivateLink::take(const PrivateMessage& message)
{
    if (message.type == MessageType::Error) {
        const std::optional<ReasonText> reason = parseReason(message.body);
        release();
        Q_EMIT ended(reason ? reason->text : QString());
        return;
    }
    if (state_ == State::Greeting) {
        greeted(message);
        return;
    }
    Q_EMIT arrived(message);
}

void PrivateLink::greeted(const PrivateMessage& message)
{
    const std::optional<Hello> hello =
        message.type == MessageType::Hello ? parseHello(message.body) : std::nullopt;
    if (!hello || hello->version != kPrivateVersion) {
        refuse();
        return;
    }
    idle_.stop();
    state_ = State::Open;
    features_ = hello->features;
    Q_EMIT ready(check_);
}

void PrivateLink::refuse()
{
    socket_->write(reasonMessage(MessageType::Error, Reason::ProtocolError,
                                 QStringLiteral("Out of turn or malformed")));
    state_ = State::Closed; // no BYE after an ERROR
    bye();
    Q_EMIT brokeProtocol();
}

void PrivateLink::socketFailed(QAbstractSocket::SocketError error)
{
    // The peer's ordinary close comes as an error too; the close handler takes it.
    if (error == QAbstractSocket::RemoteHostClosedError || !socket_)
        return;
    const bool early = state_ != State::Open;
    const QString description = socket_->errorString();
    release();
    Q_EMIT failed(error, description, early);
}

void PrivateLink::peerClosed()
{
    const bool early = state_ != State::Open;
    release();
    Q_EMIT closed(early);
}

void PrivateLink::release()
{
    idle_.stop();
    connecting_->cancel();
    dialer_.abort();
    state_ = State::Closed;
    if (TlsSocket* socket = std::exchange(socket_, nullptr))
        abortLater(socket, this);
}
