#pragma once

#include "private/privatelink.h"
#include "transfer/nextfile.h"
#include "transfer/outgoingfile.h"
#include "transfer/sendoutcome.h"
#include "transfer/speedmeter.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

// The sending side of the private port: sends files one after another over one
// connection to the same receiver (docs/protocol.md), each with the SHA-256 taken while
// reading it. The connection stays open between files and says BYE at the end of the
// batch, or after lingering a while with nothing to send.
//
// A receiver that holds the first part of a file from a transfer that was cut off says
// where to go on from, and only the rest is sent. A file that arrives not as sent is
// sent again whole, once.
//
// Where the receiver takes pipelined batches, the batch's next files are taken ahead of
// their turn (setAhead) and offered as soon as the one before has been sent, at most
// pipelineWindow() of them awaiting their answers. What befalls such a file is held until
// the batch sends it in its turn, and then told as if it happened then: the batch hears
// of one file at a time, in its order, as with any receiver. Only the file whose bytes
// go holds a buffer.
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

    // Where the batch's next files are taken ahead of their turn; none: one at a time.
    void setAhead(NextFileSource ahead) { ahead_ = std::move(ahead); }
    bool isBusy() const { return !flights_.empty() || opening_ || retry_->isSet(); }
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
    // A file on the connection: the batch's file in hand, then those taken ahead of it.
    struct Flight {
        enum class Stage { Waiting, Offered, Streaming, Unanswered, Done };
        QString path;
        QString announced;
        qint64 size = 0;
        Stage stage = Stage::Waiting;
        qint64 offset = 0; // where the receiver had it start
        qint64 confirmed = 0;
        bool sentAgain = false;  // it goes a second time
        bool inHand = false;     // the batch sends it now: what befalls it is told at once
        bool unaccepted = false; // sent eagerly, its ACCEPT or REFUSE not yet read
        std::optional<SendStatus> refusal; // refused while its bytes still went
        QList<std::function<void()>> held; // what befell it before, to be told in order
        bool heldProgress = false;         // the last one held is progress
    };
    using Stage = Flight::Stage;

    void keyChecked(const KeyCheck& check);
    // The batch's file in hand is the next one taken ahead: what befell it is told.
    bool adopt(const QString& path, const QString& announced, const QString& host);
    void tellHeld();
    void offer(Flight& flight);
    // The connection is free for a FILE: one to send again, or the batch's next.
    void offerNext();
    void handleMessage(const PrivateMessage& message);
    void accepted(Flight& flight, const QByteArray& body);
    // The bytes go from offset, accepted or, eagerly, before the answer.
    void startStreaming(Flight& flight, qint64 offset);
    // The earliest file sent eagerly whose answer had not come: this answer is its own.
    Flight& takeUnaccepted();
    // That answer, ACCEPT or REFUSE.
    void acceptedEagerly(const QByteArray& body);
    void refusedEagerly(const PrivateMessage& message);
    void sendMore();
    void sendEnd(const QByteArray& digest);
    bool openFile(Flight& flight);
    void readFailedWith(const QString& description);
    void failedOnArrival(Flight& flight, const PrivateMessage& message);
    // The file failed its check on arrival: it goes again, whole, once.
    bool sendAgainWhole(Flight& flight, const PrivateMessage& failed);
    void countArrived(Flight& flight, const QByteArray& body);
    // The receiver's answer ends the file; the connection stays for the next.
    void answered(Flight& flight, SendOutcome outcome, const SendStatus& status);
    // The receiver's refusal or failure of a file, with its words.
    SendStatus notTaken(NotSentReason reason, const PrivateMessage& message) const;
    void linkClosed(bool early);
    void linkFailed(QAbstractSocket::SocketError error, const QString& description, bool early);
    void linkEnded(const SendStatus& status);
    void refusedKey(const QString& name);
    bool waitsForAcceptance() const;
    bool retryLater();
    void showStatus(const SendStatus& status);
    // The receiver broke the protocol: the connection goes.
    void dropBrokenPeer();
    // The connection is gone: every file on it but spared ends with outcome, told status
    // first when there is one, and, when cut, cutOff() for a file whose bytes were accepted.
    void lose(SendOutcome outcome, const std::optional<SendStatus>& status, bool cut,
              const Flight* spared = nullptr);
    // Closes the connection at once, forgetting where each file stood on it.
    void letGo();
    // Once a file could not be read, the connection closes when those before it are answered.
    void closeIfDrained();
    void awaitAnswers();
    // What befalls flight, told now or held until the batch sends it.
    void tellBatch(Flight& flight, std::function<void()> event);
    void tellProgress(Flight& flight);
    void conclude(Flight& flight, SendOutcome outcome);
    // The file in hand is over.
    void retire(SendOutcome outcome);

    PrivateLink link_;
    std::unique_ptr<Alarm> retry_;
    QTimer linger_;
    SpeedMeter speed_{this};
    OutgoingFile file_; // the file whose bytes go; one block of it is one DATA message
    NextFileSource ahead_;
    std::deque<std::unique_ptr<Flight>> flights_; // in the batch's order
    Flight* onWire_ = nullptr;                    // offered, or its bytes going
    std::deque<Flight*> unanswered_;              // END sent, in that order
    std::deque<Flight*> unaccepted_;              // sent eagerly, awaiting ACCEPT or REFUSE
    std::deque<Flight*> resends_;                 // to be offered again, whole
    Flight* counting_ = nullptr;                  // the last one accepted: COUNTs are its
    bool opening_ = false;                        // connecting for the file in hand
    bool drains_ = false; // no more offers: the connection closes once all are answered
    quint64 turn_ = 0;    // changes whenever every file is let go of
    int retriesAllowed_ = 0;
    int retriesLeft_ = 0;
    std::chrono::milliseconds longestRetryWait_{0};
    bool mayFallBack_ = false;
    QString host_;
    QString name_;        // the receiver's, as privacyKnown() tells it
    bool ending_ = false; // every byte handed over; END waits for the digest
};
