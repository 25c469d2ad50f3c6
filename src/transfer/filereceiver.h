#pragma once

#include "platform/socketerror.h"
#include "transfer/protocol.h"
#include "transfer/receivefile.h"
#include "transfer/speedmeter.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>

// How one connection to the receiver ended.
struct ReceiveEnd {
    enum class Outcome {
        Saved,      // the announced size arrived whole and the file has its final name
        Incomplete, // the peer closed before the end (or before any header); what came is kept
        Refused,    // the header could not be used
        CannotSave, // the file could not be created, written or named
        Idle,       // nothing arrived for too long
        Failed,     // a socket error
    };
    Outcome outcome = Outcome::Incomplete;
    QString peer;    // the sender's address, dotted
    QString path;    // where the received bytes are; empty when no file was made
    qint64 size = 0; // the announced size
    qint64 received = 0;
    QString status; // the receiver's status in its own words: "Disconnected", "Error 10054"
    QString detail; // more for the user, such as an error's description; may be empty
};

// The receiving side: listens on the file port, serves one connection at a time and
// writes the announced file into the save folder. It reports what happens through its
// signals and never asks anyone anything.
class FileReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);

    explicit FileReceiver(const QHostAddress& bindAddress, QObject* parent = nullptr);
    // Lets go of the connection and the port quietly; a file in progress stays a part file.
    ~FileReceiver() override;

    void setSaveFolder(const QString& folder) { saveFolder_ = folder; }
    void setIdleTimeout(std::chrono::milliseconds timeout) { idle_.setInterval(timeout); }

    // Starts listening anew. Returns the error when the port cannot be had.
    std::optional<SocketError> listen();
    // Stops listening. A connection in progress ends as if the peer had closed it: what
    // arrived is kept and finished() reports it.
    void stop();

    // The meter behind speedTicked(), for tests that tick it by hand.
    SpeedMeter& speedMeter() { return speed_; }

Q_SIGNALS:
    void connectionOpened(const QString& peer);
    void fileStarted(const QString& name, qint64 size);
    void progressed(qint64 received, qint64 size);
    void finished(const ReceiveEnd& end);
    // Listening again after a connection failed; the receiver takes no more files.
    void listenFailed(const SocketError& error);
    void speedTicked(qint64 bytes, int seconds);

private:
    enum class State { Listening, AwaitingHeader, Receiving };

    void FileRecieveSocket_ConnectionRequest();
    void FileRecieveSocket_DataArrival();
    void FileRecieveSocket_Close();
    void FileRecieveSocket_Error(QAbstractSocket::SocketError error);

    bool takeHeader();
    void receive(const QByteArray& bytes);
    void reply(qint64 total);
    void send(const QByteArray& bytes);
    void sendPendingCount();
    // Whether the announced size has been received in full.
    bool isWhole() const;
    // Ends the connection: the file is closed (and named, when whole), finished() tells
    // how it went, and the receiver listens again unless it was told to stop.
    void endConnection(ReceiveEnd::Outcome outcome, const QString& status,
                       const QString& detail = {}, bool listenAgain = true);
    void dropConnection();

    QHostAddress bindAddress_;
    QString saveFolder_;
    QTcpServer FileRecieveSocket;
    QPointer<QTcpSocket> connection_;
    QString peer_;
    QTimer idle_;
    SpeedMeter speed_;
    State state_ = State::Listening;
    HeaderParser header_;
    ReceiveFile file_;
    qint64 size_ = 0;
    qint64 total_ = 0;
    std::optional<qint64> unsentCount_;
};
