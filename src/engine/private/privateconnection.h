#pragma once

#include "secure/messagereader.h"
#include "secure/privatemessage.h"
#include "transfer/fileintake.h"
#include "transfer/incomingconnection.h"
#include "transfer/receiverlimits.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class PeerKeys;
class TlsSocket;

// One connection to the private port, from the accept to its end, as docs/protocol.md
// has the receiver do: the TLS handshake, the peer's key judged by the address book, the
// HELLOs, then any number of files and chat lines until BYE.
//
// How it is told: nothing until the first FILE (a batch of chat lines only is not a
// transfer); then, for each file, shown(), fileStarted(), progressed() and one
// fileEnded() when the file is saved, refused or fails its digest, the connection going
// on. Where the sender offers files before the earlier ones are answered (pipelined),
// each file is still told in the order offered, fileStarted() once those before it ended. Its own
// end is told through ended() when it cuts a file short, when it comes before the HELLOs are over,
// or when this side ends it for cause (ERROR); after a batch whose files were all told, an orderly
// end (BYE, the peer closing, the receiver stopping) is only closed().
class PrivateConnection : public IncomingConnection
{
    Q_OBJECT

public:
    // The encryption starts at once. keys judges the peer's key; a stranger is taken only
    // when there is no sender filter, or it says yes. Both must outlive the connection.
    using SenderFilter = std::function<bool(const QString& peer)>;
    PrivateConnection(int id, TlsSocket* socket, PeerKeys& keys, const SenderFilter& accepts,
                      const QString& saveFolder, const ReceiverLimits& limits, PartFiles& parts,
                      QObject* parent = nullptr);
    // Lets go quietly; a file in progress stays a part file.
    ~PrivateConnection() override;

    SeatHolder seat() const override;
    void stop() override;
    void giveWay() override;

private:
    // Passing: over the DATA and END of a file refused that the sender sent eagerly.
    enum class State { Handshake, Greeting, Between, Receiving, Passing, Ended };

    // A file offered, from its FILE until it is told. The files are answered and told
    // strictly in the order offered, however their checks end.
    struct Arrival {
        FileIntake* intake = nullptr;  // a child, let go of once told; none for a file refused
        std::optional<ReceiveEnd> end; // how it ended, once it has
        bool started = false;          // fileStarted() told
        bool closes = false;           // it failed while its DATA came: the connection ends
    };

    void judgePeer();
    void readArrival();
    void readNextTurn();
    void answersWritten();
    bool answersPileUp() const;
    bool holdsBack() const;
    void take(const PrivateMessage& message);
    void greet(const PrivateMessage& message);
    void between(const PrivateMessage& message);
    void takeFile(const QByteArray& body);
    void refuseFile(FileIntake& file, const FileRefusal& refusal, qint64 size);
    FileIntake& receiving() const { return *arrivals_.back().intake; }
    void takeData(const QByteArray& body);
    void passOver(const PrivateMessage& message);
    void takeEnd(const QByteArray& digest);
    void settle(const FileIntake* intake, ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    // Answers and tells the files whose outcome is known, from the first on, up to the
    // first one still on its way.
    void answerInOrder();
    void answerArrival(const Arrival& arrival);
    void showArrival(Arrival& arrival);
    int awaitingAnswers() const;
    void waitForSender();
    void waitBetweenFiles();
    void takeChat(const QByteArray& body);
    void told(const ReceiveEnd& end);
    void sendCount();
    void send(const QByteArray& message);
    // Sends a message of type that gives why, in the receiver's words.
    void sendReason(MessageType type, Reason code, const ReceiveReason& why);
    void show();
    // Ends the connection, sending ERROR reason first unless it is Unknown.
    void fail(Reason code, ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    void end(ReceiveEnd::Outcome outcome, const ReceiveReason& reason, bool tell,
             const QString& detail = {});
    // Tells the files still on their way as the connection ends; the last one, when it was
    // cut short, is what the end tells.
    std::optional<ReceiveEnd> tellOutstanding(ReceiveEnd::Outcome outcome,
                                              const ReceiveReason& reason);
    ReceiveEnd fileEnd(const FileIntake* intake, ReceiveEnd::Outcome outcome,
                       const ReceiveReason& reason) const;
    void dropSocket(bool graceful);

    QPointer<TlsSocket> socket_;
    PeerKeys& keys_;
    SenderFilter accepts_;
    ReceiverLimits limits_;
    QString keyName_; // the verified entry's name
    PartSender sender_;
    quint32 features_ = 0; // the features both sides speak
    State state_ = State::Handshake;
    bool shown_ = false;
    bool reading_ = false;
    bool heldBack_ = false; // nothing is read until the answers have gone
    bool nextTurn_ = false; // the rest is read in the loop's next turn
    MessageReader reader_;
    QTimer deadline_; // the handshake and the sender's HELLO
    QTimer idle_;
    QElapsedTimer age_;
    QString saveFolder_;
    PartFiles& parts_;
    std::shared_ptr<ReceivedTree> tree_; // the folders of every file of the connection
    std::deque<Arrival> arrivals_;
    bool closing_ = false;  // nothing more is taken: the files in hand are answered, then it ends
    qint64 counted_ = 0;    // the last total sent in a COUNT
    qint64 passing_ = 0;    // the bytes still to come of a file passed over
    qint64 batchBytes_ = 0; // file bytes of all files so far, for the seat
};
