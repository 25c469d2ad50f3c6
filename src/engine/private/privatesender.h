#pragma once

#include "private/privatelink.h"
#include "transfer/outgoingfile.h"
#include "transfer/sendoutcome.h"
#include "transfer/speedmeter.h"

#include <QObject>
#include <QTimer>

#include <chrono>

// The sending side of the private port: sends files one after another over one
// connection to the same receiver (docs/protocol.md), each with the SHA-256 taken while
// reading it. The connection stays open between files and says BYE at the end of the
// batch, or after lingering a while with nothing to send.
//
// A receiver that holds the first part of a file from a transfer that was cut off says
// where to go on from, and only the rest is sent. A file that arrives not as sent is
// sent again whole, once.
class PrivateSender : public QObject
{
    Q_OBJECT

public:
    // An open connection with nothing to send is closed after this.
    static constexpr std::chrono::milliseconds kLinger = std::chrono::seconds(5);
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    // identity, keys and clock must outlive the sender; the clock times the connection and
    // the waits before a connection closed early is tried again.
    PrivateSender(const Identity& identity, PeerKeys& keys, const QHostAddress& bindAddress,
                  Clock& clock = systemClock(), QObject* parent = nullptr);
    ~PrivateSender() override;

    void setIdleTimeout(std::chrono::milliseconds timeout) { link_.setIdleTimeout(timeout); }
    // A connection closed before the file's acceptance is tried again, as the plain
    // sender tries a refusal again.
    void setRetries(int count, std::chrono::milliseconds longestWait);

    bool isBusy() const { return state_ != State::Closed || retry_->isSet(); }
    // Sends the file at path, of the size measured before, to port 1053 of host, on the
    // connection open to host if there is one. When the port refuses the connection and
    // mayFallBack, plainOnly() follows instead of finished(); otherwise that is an error.
    // announced is the file's path inside a folder, used where the receiver takes folders;
    // empty for a loose file, which goes by its bare name.
    void send(const QString& path, qint64 size, const QString& host, bool mayFallBack,
              const QString& announced = {});
    // The batch is over: an open connection says BYE and closes.
    void endBatch();
    // Ends a transfer in progress at once, quietly, and closes the connection.
    void cancel();

Q_SIGNALS:
    // As FileSender's.
    void statusChanged(const SendStatus& status);
    void progressed(qint64 confirmed, qint64 size);
    void readFailed(const SendStatus& status);
    void speedTicked(qint64 bytes, int seconds);
    void finished(SendOutcome outcome);
    void privacyKnown(bool isPrivate, const QString& name);
    void keyChanged(const QString& name, const QString& address);
    // Port 1053 of host refused the connection: it speaks the plain protocol only.
    void plainOnly(const QString& host);
    // The receiver takes files only: a file inside a folder went by its bare name.
    void loosened(const QString& name);
    // Before its Resuming status: the receiver had offset bytes of the file in hand,
    // and only the rest is sent. The speed counts from there.
    void resumed(qint64 offset, qint64 size);
    // As PlainSender's.
    void triesUsedUp();
    // Right before finished(): the connection broke off once the file had been accepted.
    // Its receiver keeps what came, and sending the file again goes on from there.
    void cutOff();

private:
    enum class State { Closed, Opening, AwaitingAcceptance, Streaming, AwaitingSaved };

    void keyChecked(const KeyCheck& check);
    void offer();
    void handleMessage(const PrivateMessage& message);
    void accepted(const QByteArray& body);
    void sendMore();
    void sendEnd(const QByteArray& digest);
    bool openFile(qint64 offset);
    void readFailedWith(const QString& description);
    // The file in hand failed its check on arrival: it goes again, whole, once.
    bool sendAgainWhole(const PrivateMessage& failed);
    // The link ended the file in hand, as status says.
    void linkEnded(const SendStatus& status);
    // The connection is gone in the middle of the file in hand.
    void tellIfCut();
    void countArrived(const QByteArray& body);
    // The receiver's answer ends the file in hand; the connection stays for the next.
    void answered(SendOutcome outcome, const SendStatus& status);
    // The receiver's refusal or failure of the file in hand, with its words.
    SendStatus notTaken(NotSentReason reason, const PrivateMessage& message) const;
    void linkClosed(bool early);
    void linkFailed(QAbstractSocket::SocketError error, const QString& description, bool early);
    void refusedKey(const QString& name);
    bool retryLater();
    void showStatus(const SendStatus& status);
    // The receiver broke the protocol: the connection goes.
    void dropBrokenPeer();
    // The file in hand ended; keepLink leaves the connection open for the next one.
    void end(SendOutcome outcome, bool keepLink);

    PrivateLink link_;
    std::unique_ptr<Alarm> retry_;
    QTimer linger_;
    SpeedMeter speed_{this};
    OutgoingFile file_; // one block of it is one DATA message
    State state_ = State::Closed;
    int retriesAllowed_ = 0;
    int retriesLeft_ = 0;
    std::chrono::milliseconds longestRetryWait_{0};
    bool mayFallBack_ = false;
    QString path_;
    QString announced_;
    QString host_;
    QString name_; // the receiver's, as privacyKnown() tells it
    qint64 size_ = 0;
    qint64 offset_ = 0; // where the receiver had the file start
    qint64 confirmed_ = 0;
    bool ending_ = false;    // every byte handed over; END waits for the digest
    bool sentAgain_ = false; // the file in hand goes a second time
};
