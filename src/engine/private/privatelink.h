#pragma once

#include "addressbook/peerkeys.h"
#include "platform/clock.h"
#include "platform/tcpdialer.h"
#include "secure/messagereader.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class Identity;
class TlsSocket;

// One connection to a receiver's private port, as the sender sees it (docs/protocol.md):
// it connects, finishes the TLS handshake, judges the receiver's key by the address book,
// greets it and then hands on the receiver's messages. It stays open for as many
// requests as its owner makes, until bye() or abort().
class PrivateLink : public QObject
{
    Q_OBJECT

public:
    // How long a wait for the receiver may last: the handshake with the greeting, or an
    // answer its owner waits for.
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);
    // How long the connection itself may take: a firewall that drops what comes to the
    // port would otherwise hold the sender for the whole idle time.
    static constexpr std::chrono::milliseconds kConnectTimeout = std::chrono::seconds(5);

    // identity, keys and clock must outlive the link; the clock times the connection.
    PrivateLink(const Identity& identity, PeerKeys& keys, const QHostAddress& bindAddress,
                Clock& clock = systemClock(), QObject* parent = nullptr);
    ~PrivateLink() override;

    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    // Connects to port 1053 of host; ready() or one of the signals that end it follows.
    void open(const QString& host);
    bool isOpen() const { return state_ == State::Open; }
    bool isActive() const { return state_ != State::Closed; }
    const QString& host() const { return host_; }
    // Whether an address the host stood for is that of an entry with a key: a host name
    // typed for a friend is that friend, and nothing goes to them in the clear.
    bool reachesKeyedEntry() const;
    // The features the receiver's HELLO set; none before ready().
    quint32 features() const { return features_; }

    void write(const QByteArray& bytes);
    // What the connection holds unsent, in the clear or already encrypted.
    qint64 unsentBytes() const;
    // Waits for an answer, the idle time at most, from now, and longer by extra.
    void awaitAnswer(std::chrono::milliseconds extra = {}) { idle_.start(idleTimeout_ + extra); }
    void stopWaiting() { idle_.stop(); }
    // Ends the batch with BYE and closes once it is out; the link is free at once.
    void bye();
    // Closes at once, quietly.
    void abort();

Q_SIGNALS:
    // The receiver is greeted and its key checked; check.name is empty for a stranger.
    void ready(const KeyCheck& check);
    void arrived(const PrivateMessage& message);
    // The connection has room for more.
    void written();
    // Each of these ends the link: it is closed when they come.
    // The receiver's key is not the one name's entry holds: nothing was sent.
    void keyChanged(const QString& name);
    // The receiver's key cannot be taken (another kind of key, or one several entries
    // hold): why says so, for the user. Nothing was sent.
    void keyRefused(const QString& why);
    void silent(int seconds);
    // The receiver closed the connection, or it broke off; before ready() when early.
    void closed(bool early);
    // A connection not made within the connect timeout fails with SocketTimeoutError.
    void failed(QAbstractSocket::SocketError error, const QString& description, bool early);
    // The receiver said ERROR; told is what it gave as the reason, plain text, maybe empty.
    void ended(const QString& told);
    void brokeProtocol();

private:
    enum class State { Closed, Connecting, Greeting, Open };

    void dialed(qintptr descriptor);
    void dialFailed(QAbstractSocket::SocketError error, const QString& description);
    void connectTimedOut();
    void encrypted();
    void readArrival();
    void take(const PrivateMessage& message);
    void greeted(const PrivateMessage& message);
    void socketFailed(QAbstractSocket::SocketError error);
    void peerClosed();
    // Tells the receiver of the protocol error and closes.
    void refuse();
    void release();

    const Identity& identity_;
    PeerKeys& keys_;
    QHostAddress bindAddress_;
    TcpDialer dialer_;
    QPointer<TlsSocket> socket_;
    QTimer idle_;
    std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
    std::unique_ptr<Alarm> connecting_;
    MessageReader reader_;
    State state_ = State::Closed;
    QString host_;
    KeyCheck check_;
    quint32 features_ = 0;
};
