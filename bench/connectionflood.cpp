#include "connectionflood.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// A connection the other end neither takes nor closes within this long is given up.
constexpr auto kClientTimeout = std::chrono::seconds(10);

// What every fourth connection sends, and what the fourth after it: the ten-byte record
// that once made the receiver crash, and a ClientHello whose record promises 512 bytes of
// which only the first few come. The other half send nothing.
const QByteArray kTenByteRecord = QByteArray::fromHex("16 03 01 00 05 68 65 6c 6c 6f");
const QByteArray kHelloCutShort =
    QByteArray::fromHex("16 03 01 02 00 01 00 01 fc 03 03") + QByteArray(32, '\x5a');

QByteArray greetingFor(int index)
{
    switch (index % 4) {
    case 1:
        return kTenByteRecord;
    case 3:
        return kHelloCutShort;
    default:
        return {};
    }
}

sockaddr_in endpoint(const QHostAddress& address, quint16 port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = qToBigEndian(port);
    result.sin_addr.s_addr = qToBigEndian(address.toIPv4Address());
    return result;
}

} // namespace

// One connection of the flood, driven by notifiers on its descriptor. It tells its end
// once, then goes from the event loop; the descriptor is closed as it goes, so that no
// new connection of the same turn gets its number while a notifier may still watch it.
class FloodClient : public QObject
{
public:
    enum class End { Failed, ClosedByPeer, TimedOut };

    FloodClient(const QHostAddress& source, const QHostAddress& target, quint16 port,
                QByteArray greeting, std::function<void(const FloodClient&)> ended, QObject* parent)
        : QObject(parent), greeting_(std::move(greeting)), ended_(std::move(ended))
    {
        QTimer::singleShot(kClientTimeout, this, [this] { finish(End::TimedOut); });
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in from = endpoint(source, 0);
        const sockaddr_in to = endpoint(target, port);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
            (::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
             errno != EINPROGRESS)) {
            // Told from the event loop: the flood is still starting this one.
            QTimer::singleShot(0, this, [this] { finish(End::Failed); });
            return;
        }
        writable_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
        connect(writable_, &QSocketNotifier::activated, this, &FloodClient::connected);
    }

    ~FloodClient() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool wasConnected() const { return connected_; }
    End end() const { return end_; }

private:
    void connected()
    {
        writable_->setEnabled(false);
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            finish(End::Failed);
            return;
        }
        connected_ = true;
        // A few bytes always fit in an empty send buffer.
        if (!greeting_.isEmpty())
            (void)::send(fd_, greeting_.constData(), size_t(greeting_.size()), MSG_NOSIGNAL);
        ::shutdown(fd_, SHUT_WR);
        readable_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(readable_, &QSocketNotifier::activated, this, &FloodClient::drain);
    }

    // Whatever the other end answers (a TLS alert, say) is read and dropped, until it closes.
    void drain()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got > 0 || (got < 0 && errno == EINTR))
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            finish(End::ClosedByPeer); // an orderly close or a reset
            return;
        }
    }

    void finish(End end)
    {
        if (finished_)
            return;
        finished_ = true;
        end_ = end;
        if (writable_)
            writable_->setEnabled(false);
        if (readable_)
            readable_->setEnabled(false);
        ended_(*this);
        deleteLater();
    }

    int fd_ = -1;
    QByteArray greeting_;
    std::function<void(const FloodClient&)> ended_;
    QSocketNotifier* writable_ = nullptr;
    QSocketNotifier* readable_ = nullptr;
    bool connected_ = false;
    bool finished_ = false;
    End end_ = End::Failed;
};

ConnectionFlood::ConnectionFlood(const QHostAddress& target, quint16 port,
                                 const QList<QHostAddress>& sources, int total, int atOnce,
                                 QObject* parent)
    : QObject(parent), target_(target), port_(port), sources_(sources), total_(total),
      atOnce_(atOnce)
{
}

void ConnectionFlood::start()
{
    clock_.start();
    fill();
}

void ConnectionFlood::fill()
{
    while (started_ < total_ && started_ - ended_ < atOnce_) {
        const int index = started_++;
        new FloodClient(
            sources_.at(index % sources_.size()), target_, port_, greetingFor(index),
            [this](const FloodClient& client) { clientEnded(client); }, this);
    }
}

void ConnectionFlood::clientEnded(const FloodClient& client)
{
    ++ended_;
    counts_.connected += client.wasConnected() ? 1 : 0;
    switch (client.end()) {
    case FloodClient::End::Failed:
        ++counts_.failed;
        break;
    case FloodClient::End::ClosedByPeer:
        ++counts_.closedByPeer;
        break;
    case FloodClient::End::TimedOut:
        ++counts_.timedOut;
        break;
    }
    if (isDone()) {
        seconds_ = clock_.nsecsElapsed() / 1e9;
        Q_EMIT finished();
        return;
    }
    fill();
}
