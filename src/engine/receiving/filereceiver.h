#pragma once

#include "localsend/deviceconnection.h"
#include "localsend/deviceserver.h"
#include "localsend/uploadsessions.h"
#include "platform/socketerror.h"
#include "presence/presence.h"
#include "private/privateserver.h"
#include "transfer/partfiles.h"
#include "transfer/receiveend.h"
#include "transfer/receiverlimits.h"
#include "transfer/speedmeter.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class AddressBook;
class DeviceBook;
class IncomingConnection;
class Identity;
class PeerKeys;
class TlsContext;

// The receiving side: listens on the file port, and on the private port and LocalSend's
// once it has an identity, and serves each connection that comes, several at once and under one set
// of caps for both ports, each writing its own files into the save folder. It reports what happens
// through its signals and never asks anyone anything.
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
    // Who counts as a friend for the room part files may take (as for the sender filter, an
    // entry with a key only on the private port); the book must outlive the receiver.
    // Without it, everyone counts as a stranger.
    void setAddressBook(const AddressBook& book);
    // Whom files are taken from, by address; when set, anyone it says no to is turned
    // away at once with the status "Refused: ADDRESS is not in your address book".
    using SenderFilter = std::function<bool(const QString& peer)>;
    // On the private port it turns away strangers only (an entry's key is checked there).
    void setSenderFilter(SenderFilter accepts) { accepts_ = std::move(accepts); }
    // Receives on the private port too, as identity, judging senders' keys with keys; both
    // must outlive the receiver. A null identity: the file port only. Takes effect at
    // once when listening, otherwise at the next listen().
    void setPrivacy(const Identity* identity, PeerKeys* keys);
    // Judges the certificates LocalSend devices show as clients; devices must outlive the
    // receiver. Without it, such certificates are not looked at.
    void setDevices(DeviceBook& devices);

    // Starts listening anew. Returns the error when the file port cannot be had; the
    // private port failing does not stop the file port and is told by privatePortFailed().
    std::optional<SocketError> listen();
    // Takes TCP port 1053 alone, for private chat lines: every file offered is turned away.
    // Requires the privacy set.
    std::optional<SocketError> listenForChat();
    // Gives up both ports and takes no more connections; those open go on to their end.
    void closePorts();
    // Runs then once the index of part files holds what is known now (see PartFiles).
    void whenPartsWritten(std::function<void()> then) { parts_.whenWritten(std::move(then)); }
    bool isListening() const { return server_.isListening() || privateServer_.isListening(); }
    bool isListeningPrivately() const { return privateServer_.isListening(); }
    bool isListeningForDevices() const { return deviceServer_.isListening(); }
    // Stops listening. Connections in progress end as if their peers had closed them: what
    // arrived is kept and finished() reports each.
    void stop();

Q_SIGNALS:
    // A plain connection opens at the accept; a private one with each file of its batch,
    // and with its end when that is worth telling.
    void connectionOpened(int connection, const QString& peer);
    // Right after connectionOpened(); name is the verified entry's, empty otherwise.
    void privacyKnown(int connection, bool isPrivate, const QString& name);
    void fileStarted(int connection, const QString& name, qint64 size);
    // Right after fileStarted(): the file continues from offset, where a transfer of it
    // was cut off before. The speed counts from there.
    void resumed(int connection, qint64 offset, qint64 size);
    void progressed(int connection, qint64 received, qint64 size);
    // A plain connection ends once, with its one file. A private one tells each file of its
    // batch by one end of its own as that file is over, the connection staying open, and
    // its closing only when that has more to tell (see PrivateConnection).
    void finished(const ReceiveEnd& end);
    // A chat line that came privately: under the verified name, or the sender's address.
    void chatReceived(const ChatLine& line);
    void privatePortFailed(const SocketError& error);
    // LocalSend's port could not be had: such devices cannot send here.
    void devicePortFailed(const SocketError& error);
    // The speed of the file that started last.
    void speedTicked(qint64 bytes, int seconds);

private:
    void acceptConnections(QTcpServer& server);
    void take(QTcpSocket* socket, bool fromDevice);
    void takePrivately(qintptr descriptor);
    bool refusePlainly(QTcpSocket* socket, const QString& peer);
    void follow(IncomingConnection* connection);
    bool makeRoomFor(const QString& peer);
    void listenPrivately();
    void listenForDevices();
    void tell(ReceiveEnd end);
    void connectionEnded(IncomingConnection* connection, const std::optional<ReceiveEnd>& end);

    QHostAddress bindAddress_;
    QString saveFolder_;
    ReceiverLimits limits_;
    SenderFilter accepts_;
    QTcpServer server_;
    PrivateServer privateServer_;
    DeviceServer deviceServer_;
    UploadSessions sessions_;
    DeviceService deviceService_;
    const Identity* identity_ = nullptr;
    std::shared_ptr<const TlsContext> privateTls_; // the identity's, for every connection
    PeerKeys* keys_ = nullptr;
    QList<IncomingConnection*> connections_;
    QString partIndex_;
    PartFiles parts_; // part files of ours that a sender trying again may take over
    int lastId_ = 0;
    int metered_ = 0;        // the connection whose file started last
    qint64 meteredFrom_ = 0; // where its file started
    SpeedMeter speed_{this}; // a child, so that tests can find it and tick it by hand
    QTimer heapReturn_;
};
