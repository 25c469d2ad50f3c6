#pragma once

#include "plain/replylines.h"
#include "platform/clock.h"
#include "platform/tcpdialer.h"
#include "transfer/outgoingfile.h"
#include "transfer/sendoutcome.h"
#include "transfer/speedmeter.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <memory>

class RandomSource;

// The sending side of one transfer on the plain port: connects to a receiver, announces the file,
// streams it once accepted and follows the receiver's counts until the last one. Every wait is a
// state: each step runs when the event that ends its wait arrives.
class PlainSender : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);
    // What the socket may hold unsent. It bounds the memory a transfer takes, whatever the
    // size of the file or the pace of the receiver.
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    // Together about three seconds of refusals: 5, 10, 20 ... 320 ms, then 500 ms apart.
    static constexpr int kRefusalRetries = 12;
    static constexpr std::chrono::milliseconds kFirstRetryWait = std::chrono::milliseconds(5);
    static constexpr std::chrono::milliseconds kLongestRetryWait = std::chrono::milliseconds(500);

    // The clock, which must outlive the sender, times the waits before the tries again.
    explicit PlainSender(RandomSource& random, const QHostAddress& bindAddress,
                         Clock& clock = systemClock(), QObject* parent = nullptr);
    // Ends a transfer in progress quietly.
    ~PlainSender() override;

    void setIdleTimeout(std::chrono::milliseconds timeout) { idle_.setInterval(timeout); }
    // A receiver that has not gone back to listening yet refuses; one with every place
    // taken closes the connection before its acceptance. Either is tried again this many
    // times before it counts as an error: soon at first, as a receiver normally listens
    // again, or has a place free, within moments, then less and less often, up to
    // longestWait apart.
    void setRefusalRetries(int count, std::chrono::milliseconds longestWait);
    // The wait before the try after done earlier ones: doubling, up to longestWait.
    static std::chrono::milliseconds retryWait(int done, std::chrono::milliseconds longestWait);

    bool isBusy() const { return state_ != State::Closed || retry_->isSet(); }
    // Sends the file at path, of the size measured before, to port 1052 of host.
    // finished() follows once the connection is closed again, however it ended.
    void send(const QString& path, qint64 size, const QString& host);
    // Ends a transfer in progress at once, quietly: no signal, and nothing follows.
    void cancel();

Q_SIGNALS:
    // Where the file in hand stands: connected, sending, sent, an error...
    void statusChanged(const SendStatus& status);
    void progressed(qint64 confirmed, qint64 size);
    // The file could not be read, as status says; the transfer ends NotSent.
    void readFailed(const SendStatus& status);
    void speedTicked(qint64 bytes, int seconds);
    void finished(SendOutcome outcome);
    // The receiver's port took the connection, before its "Connected".
    void reached();
    // Right before finished(): the receiver refused or closed every try, the retries too.
    void triesUsedUp();

private:
    enum class State { Closed, Connecting, AwaitingAcceptance, Streaming };

    void beginOffer();
    void readArrival();
    void peerClosed();
    void socketFailed(QAbstractSocket::SocketError error);

    quint16 nextLocalPort();
    void connectSocket();
    void dialed(qintptr descriptor);
    void dialFailed(QAbstractSocket::SocketError error, const QString& description);
    void dropSocket();
    void accepted();
    void countArrived(const QByteArray& line);
    // Hands the socket the next blocks of the file, while it has room for them.
    void sendMore();
    void sendFileFailed(const QString& description);
    // Connects again after a wait, while retries are left; false, with triesUsedUp(), when
    // none are.
    bool retryLater();
    void showStatus(const SendStatus& status);
    // Closes the connection and reports how the transfer ended.
    void end(SendOutcome outcome);
    void release();

    RandomSource& random_;
    QHostAddress bindAddress_;
    TcpDialer dialer_;
    QPointer<QTcpSocket> socket_;
    QTimer idle_;
    std::unique_ptr<Alarm> retry_;
    SpeedMeter speed_{this}; // a child, so that tests can find it and tick it by hand
    int retriesAllowed_ = kRefusalRetries;
    int retriesLeft_ = 0;
    std::chrono::milliseconds longestRetryWait_ = kLongestRetryWait;
    int portDrawsLeft_ = 0;
    quint16 localPort_ = 0;
    State state_ = State::Closed;
    ReplyLineSplitter replies_;
    QString path_;
    QString host_;
    qint64 size_ = 0;
    qint64 confirmed_ = 0;
    OutgoingFile file_;
};
