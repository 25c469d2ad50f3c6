#pragma once

#include "secure/messagereader.h"
#include "secure/privatemessage.h"
#include "transfer/fileintake.h"
#include "transfer/incomingconnection.h"
#include "transfer/receiverlimits.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <functional>
#include <optional>

class PeerKeys;

// One connection to the private port, from the accept to its end, as docs/protocol.md
// has the receiver do: the TLS handshake, the peer's key judged by the address book, the
// HELLOs, then any number of files and chat lines until BYE.
//
// How it is told: nothing until the first FILE (a batch of chat lines only is not a
// transfer); then, for each file, shown(), fileStarted(), progressed() and one
// fileEnded() when the file is saved, refused or fails its digest, the connection going
// on. Its own end is told through ended() when it cuts a file short, when it comes
// before the HELLOs are over, or when this side ends it for cause (ERROR); after a batch
// whose files were all told, an orderly end (BYE, the peer closing, the receiver
// stopping) is only closed().
class PrivateConnection : public IncomingConnection
{
    Q_OBJECT

public:
    // The encryption starts at once. keys judges the peer's key; a stranger is taken only
    // when there is no sender filter, or it says yes. Both must outlive the connection.
    using SenderFilter = std::function<bool(const QString& peer)>;
    PrivateConnection(int id, QSslSocket* socket, const QSslConfiguration& tls, PeerKeys& keys,
                      const SenderFilter& accepts, const QString& saveFolder,
                      const ReceiverLimits& limits, PartFiles& parts, QObject* parent = nullptr);
    // Lets go quietly; a file in progress stays a part file.
    ~PrivateConnection() override;

    SeatHolder seat() const override;
    void stop() override;
    void giveWay() override;

private:
    enum class State { Handshake, Greeting, Between, Receiving, Verifying, Ended };

    void judgePeer();
    void readArrival();
    void answersWritten();
    bool answersPileUp() const;
    void take(const PrivateMessage& message);
    void greet(const PrivateMessage& message);
    void between(const PrivateMessage& message);
    void takeFile(const QByteArray& body);
    void refuseFile(const FileRefusal& refusal, qint64 size);
    void takeData(const QByteArray& body);
    void takeEnd(const QByteArray& digest);
    void answerSettled(ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    void waitForSender();
    void takeChat(const QByteArray& body);
    void fileDone(ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
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
    ReceiveEnd fileEnd(ReceiveEnd::Outcome outcome, const ReceiveReason& reason) const;
    void dropSocket(bool graceful);

    QPointer<QSslSocket> socket_;
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
    MessageReader reader_;
    QTimer deadline_; // the handshake and the sender's HELLO
    QTimer idle_;
    QElapsedTimer age_;
    FileIntake file_;
    qint64 counted_ = 0;    // the last total sent in a COUNT
    qint64 batchBytes_ = 0; // file bytes of all files so far, for the seat
};
