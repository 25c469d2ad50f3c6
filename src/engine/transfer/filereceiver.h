#pragma once

#include "platform/socketerror.h"
#include "transfer/partfiles.h"
#include "transfer/speedmeter.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <optional>

class AddressBook;
class ReceiveConnection;

// How one connection to the receiver ended.
struct ReceiveEnd {
    enum class Outcome {
        Saved,      // the announced size arrived whole and the file has its final name
        Incomplete, // the peer closed before the end (or before any header); what came is kept
        Refused,    // the header could not be used, or the sender was turned away
        CannotSave, // the file could not be created, written or named
        Idle,       // the sender fell silent, or too slow to be a sender
        Failed,     // a socket error
    };
    int connection = 0; // which connection, as its other signals name it
    Outcome outcome = Outcome::Incomplete;
    QString peer;    // the sender's address, dotted
    QString path;    // where the received bytes are; empty when no file was made
    qint64 size = 0; // the announced size
    qint64 received = 0;
    QString status; // the receiver's status in its own words: "Disconnected", "Error 10054"
    QString detail; // more for the user, such as an error's description; may be empty
};

// What the receiver grants one sender. Anyone on the network can connect, so nobody may
// hold the receiver by sending slowly or not at all, or by connecting again and again.
struct ReceiverLimits {
    // No byte of the file for this long ends a connection; nothing else counts.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
    // The whole header must have come this long after the connection was taken.
    std::chrono::milliseconds headerDeadline = std::chrono::seconds(10);
    // While a file arrives, each such window must bring at least minProgressBytes.
    std::chrono::milliseconds progressWindow = std::chrono::seconds(15);
    qint64 minProgressBytes = 16 * 1024;
    // Once the file is whole, the sender has this long to close before the receiver does.
    std::chrono::milliseconds closeGrace = std::chrono::seconds(2);
    // Connections served at once, in all and from one address; when all are taken, a
    // newcomer may take the seat of one that makes no progress (see seatFor()).
    int maxConnections = 8;
    int maxConnectionsPerHost = 2;
    // The unfinished files of senders outside the address book, all together.
    qint64 maxStrangerPartBytes = qint64(4) * 1024 * 1024 * 1024;
    int maxStrangerParts = 100;
    // A connection that brings this much per second over its life makes progress.
    qint64 keepSeatBytesPerSecond = 256 * 1024;
};

// The receiving side: listens on the file port and serves each connection that comes,
// several at once, each writing its own file into the save folder. It reports what
// happens through its signals and never asks anyone anything.
class FileReceiver : public QObject
{
    Q_OBJECT

public:
    explicit FileReceiver(const QHostAddress& bindAddress, QObject* parent = nullptr);
    // Lets go of the connections and the port quietly; files in progress stay part files.
    ~FileReceiver() override;

    void setSaveFolder(const QString& folder) { saveFolder_ = folder; }
    void setLimits(const ReceiverLimits& limits);
    // Where the index of our part files is kept, read at the first listen(); the
    // program's data folder unless told otherwise.
    void setDataFolder(const QString& folder);
    // Who counts as a friend for the room part files may take; the book must outlive the
    // receiver. Without it, everyone counts as a stranger.
    void setAddressBook(const AddressBook& book);
    // Whom files are taken from, by address; when set, anyone it says no to is turned
    // away at once with the status "Refused: ADDRESS is not in your address book".
    using SenderFilter = std::function<bool(const QString& peer)>;
    void setSenderFilter(SenderFilter accepts) { accepts_ = std::move(accepts); }

    // Starts listening anew. Returns the error when the port cannot be had.
    std::optional<SocketError> listen();
    // Stops listening. Connections in progress end as if their peers had closed them: what
    // arrived is kept and finished() reports each.
    void stop();

    // The meter behind speedTicked(), for tests that tick it by hand.
    SpeedMeter& speedMeter() { return speed_; }

Q_SIGNALS:
    void connectionOpened(int connection, const QString& peer);
    void fileStarted(int connection, const QString& name, qint64 size);
    void progressed(int connection, qint64 received, qint64 size);
    void finished(const ReceiveEnd& end);
    // The speed of the file that started last.
    void speedTicked(qint64 bytes, int seconds);

private:
    void FileRecieveSocket_ConnectionRequest();
    void take(QTcpSocket* socket);
    bool makeRoomFor(const QString& peer);
    void connectionEnded(ReceiveConnection* connection, ReceiveEnd end);

    QHostAddress bindAddress_;
    QString saveFolder_;
    ReceiverLimits limits_;
    SenderFilter accepts_;
    QTcpServer FileRecieveSocket;
    QList<ReceiveConnection*> connections_;
    QString partIndex_;
    PartFiles parts_; // part files of ours that a sender trying again may take over
    int lastId_ = 0;
    int metered_ = 0; // the connection whose file started last
    SpeedMeter speed_;
};
