#include "platform/tcpdialer.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

struct Endpoint {
    sockaddr_storage storage{};
    socklen_t size = 0;
};

Endpoint endpoint(const QHostAddress& address, quint16 port)
{
    Endpoint e;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&e.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        e.size = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&e.storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        e.size = sizeof(sockaddr_in);
    }
    return e;
}

bool isIPv6(const QHostAddress& address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol;
}

// In the words and kinds Qt gives the same errors, so that they read as before.
std::pair<QAbstractSocket::SocketError, QString> describe(int code)
{
    using E = QAbstractSocket::SocketError;
    switch (code) {
    case ECONNREFUSED:
        return {E::ConnectionRefusedError, QStringLiteral("Connection refused")};
    case ECONNRESET:
    case EPIPE:
        return {E::RemoteHostClosedError, QStringLiteral("The remote host closed the connection")};
    case ETIMEDOUT:
        return {E::NetworkError, QStringLiteral("Connection timed out")};
    case EHOSTUNREACH:
        return {E::NetworkError, QStringLiteral("Host unreachable")};
    case ENETUNREACH:
        return {E::NetworkError, QStringLiteral("Network unreachable")};
    case EADDRINUSE:
        return {E::AddressInUseError, QStringLiteral("The bound address is already in use")};
    case EADDRNOTAVAIL:
        return {E::SocketAddressNotAvailableError, QStringLiteral("The address is not available")};
    case EACCES:
    case EPERM:
        return {E::SocketAccessError, QStringLiteral("Permission denied")};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return {E::SocketResourceError, QStringLiteral("Insufficient resources")};
    default:
        return {E::UnknownSocketError, QString::fromLocal8Bit(std::strerror(code))};
    }
}

} // namespace

TcpDialer::TcpDialer(QObject* parent) : QObject(parent)
{
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &TcpDialer::tryNext);
}

TcpDialer::~TcpDialer()
{
    abort();
}

bool TcpDialer::bind(const QHostAddress& from, quint16 port)
{
    abort();
    return open(from, port);
}

bool TcpDialer::open(const QHostAddress& from, quint16 port)
{
    from_ = from;
    descriptor_ =
        ::socket(isIPv6(from) ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor_ < 0) {
        bindError_ = describe(errno).first;
        return false;
    }
    const int on = 1;
    ::setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const Endpoint local = endpoint(from, port);
    if (::bind(descriptor_, reinterpret_cast<const sockaddr*>(&local.storage), local.size) == 0)
        return true;
    bindError_ = describe(errno).first;
    close();
    return false;
}

void TcpDialer::connectTo(const QString& host, quint16 port)
{
    port_ = port;
    addresses_.clear();
    resolved_.clear();
    lastError_ = EHOSTUNREACH;
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        addresses_.append(literal);
        resolved_ = addresses_;
        next_.start();
        return;
    }
    lookup_ = QHostInfo::lookupHost(host, this, &TcpDialer::lookedUp);
}

void TcpDialer::lookedUp(const QHostInfo& info)
{
    lookup_ = -1;
    // The socket bound decides the kind of address it can reach.
    for (const QHostAddress& address : info.addresses())
        if (descriptor_ < 0 || isIPv6(address) == isIPv6(from_))
            addresses_.append(address);
    resolved_ = addresses_;
    if (addresses_.isEmpty()) {
        close();
        Q_EMIT failed(QAbstractSocket::HostNotFoundError, QStringLiteral("Host not found"));
        return;
    }
    tryNext();
}

void TcpDialer::tryNext()
{
    if (addresses_.isEmpty()) {
        const auto [error, description] = describe(lastError_);
        close();
        Q_EMIT failed(error, description);
        return;
    }
    const QHostAddress address = addresses_.takeFirst();
    if (descriptor_ < 0) {
        from_ = {};
        descriptor_ = ::socket(isIPv6(address) ? AF_INET6 : AF_INET,
                               SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor_ < 0) {
            addressFailed(errno);
            return;
        }
    }
    const Endpoint peer = endpoint(address, port_);
    if (::connect(descriptor_, reinterpret_cast<const sockaddr*>(&peer.storage), peer.size) == 0) {
        Q_EMIT connected(std::exchange(descriptor_, -1));
        return;
    }
    if (errno != EINPROGRESS) {
        addressFailed(errno);
        return;
    }
    notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Write, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TcpDialer::writable);
}

void TcpDialer::writable()
{
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    int code = 0;
    socklen_t size = sizeof code;
    if (::getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
        code = errno;
    if (code != 0) {
        addressFailed(code);
        return;
    }
    Q_EMIT connected(std::exchange(descriptor_, -1));
}

void TcpDialer::addressFailed(int code)
{
    lastError_ = code;
    // A socket whose connection failed is not connected again: the next address gets a
    // socket of its own, from the same place.
    const bool bound = !from_.isNull();
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    const bool named =
        bound && ::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &size) == 0;
    close();
    // sin_port and sin6_port lie at the same place.
    if (!addresses_.isEmpty() && named &&
        !open(from_, ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port)))
        from_ = {};
    next_.start();
}

void TcpDialer::abort()
{
    next_.stop();
    if (lookup_ >= 0)
        QHostInfo::abortHostLookup(lookup_);
    lookup_ = -1;
    addresses_.clear();
    close();
}

void TcpDialer::close()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }
    if (descriptor_ >= 0)
        ::close(std::exchange(descriptor_, -1));
}
