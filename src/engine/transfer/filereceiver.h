#pragma once

#include "platform/socketerror.h"
#include "transfer/partfiles.h"
#include "transfer/receiveend.h"
#include "transfer/receiverlimits.h"
#include "transfer/speedmeter.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <optional>

class AddressBook;
class ReceiveConnection;

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

Q_SIGNALS:
    void connectionOpened(int connection, const QString& peer);
    void fileStarted(int connection, const QString& name, qint64 size);
    void progressed(int connection, qint64 received, qint64 size);
    void finished(const ReceiveEnd& end);
    // The speed of the file that started last.
    void speedTicked(qint64 bytes, int seconds);

private:
    void acceptConnections();
    void take(QTcpSocket* socket);
    bool makeRoomFor(const QString& peer);
    void connectionEnded(ReceiveConnection* connection, ReceiveEnd end);

    QHostAddress bindAddress_;
    QString saveFolder_;
    ReceiverLimits limits_;
    SenderFilter accepts_;
    QTcpServer server_;
    QList<ReceiveConnection*> connections_;
    QString partIndex_;
    PartFiles parts_; // part files of ours that a sender trying again may take over
    int lastId_ = 0;
    int metered_ = 0;        // the connection whose file started last
    SpeedMeter speed_{this}; // a child, so that tests can find it and tick it by hand
};
