#include "receiving/filereceiver.h"

#include "addressbook/peerkeys.h"
#include "addressbook/peername.h"
#include "identity/identity.h"
#include "localsend/devicebook.h"
#include "localsend/messages.h"
#include "plain/protocol.h"
#include "plain/receiveconnection.h"
#include "platform/clock.h"
#include "platform/heaptuning.h"
#include "platform/localaddress.h"
#include "platform/socketrelease.h"
#include "platform/tlssocket.h"
#include "private/privateconnection.h"
#include "secure/privatemessage.h"
#include "secure/tlsconfiguration.h"
#include "transfer/receiverseats.h"

#include <QDir>
#include <QStandardPaths>
#include <QTcpSocket>

namespace
{

const QString kPartIndexName = QStringLiteral("partfiles.json");
// How long after the last connection ended the heap's free pages go back to the system:
// once for all the connections of a flood, after the closing grace of the last of them.
constexpr auto kHeapReturnDelay = std::chrono::seconds(3);

} // namespace

FileReceiver::FileReceiver(const QHostAddress& bindAddress, QObject* parent)
    : QObject(parent), bindAddress_(bindAddress), sessions_(systemClock()),
      partIndex_(QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                     .filePath(kPartIndexName))
{
    setLimits(limits_);
    connect(&server_, &QTcpServer::newConnection, this, [this] { acceptConnections(server_); });
    connect(&privateServer_, &PrivateServer::accepted, this, &FileReceiver::takePrivately);
    connect(&deviceServer_, &QTcpServer::newConnection, this,
            [this] { acceptConnections(deviceServer_); });
    deviceService_.sessions = &sessions_;
    connect(&speed_, &SpeedMeter::ticked, this, &FileReceiver::speedTicked);
    heapReturn_.setSingleShot(true);
    heapReturn_.setInterval(kHeapReturnDelay);
    connect(&heapReturn_, &QTimer::timeout, this, &returnFreeHeap);
}

FileReceiver::~FileReceiver()
{
    closePorts();
    qDeleteAll(std::exchange(connections_, {}));
}

void FileReceiver::setLimits(const ReceiverLimits& limits)
{
    limits_ = limits;
    parts_.setStrangerLimits(limits);
}

void FileReceiver::setDataFolder(const QString& folder)
{
    partIndex_ = QDir(folder).filePath(kPartIndexName);
}

void FileReceiver::setAddressBook(const AddressBook& book)
{
    parts_.setKnownSenders(
        [known = inBook(book), plainly = inBookPlainly(book)](const QString& peer, bool privately) {
            return privately ? known(peer) : plainly(peer);
        });
    parts_.setHeldKeys([&book](const QByteArray& key) { return holdsKey(book, key); });
}

void FileReceiver::setDevices(DeviceBook& devices)
{
    deviceService_.judge = [&devices](const QString& peer, const QByteArray& fingerprint) {
        return devices.checkCertificate(peer, fingerprint);
    };
}

void FileReceiver::setPrivacy(const Identity* identity, PeerKeys* keys)
{
    identity_ = identity;
    privateTls_ = identity ? privateTlsContext(*identity) : nullptr;
    keys_ = keys;
    // A key forgotten takes the part files it began with it.
    if (keys)
        connect(keys, &PeerKeys::keysChanged, &parts_, &PartFiles::removeForgotten,
                Qt::UniqueConnection);
    privateServer_.close();
    deviceServer_.close();
    if (server_.isListening())
        listenPrivately();
}

std::optional<SocketError> FileReceiver::listen()
{
    parts_.open(partIndex_);
    server_.close();
    if (!server_.listen(bindAddress_, kFilePort))
        return socketError(server_.serverError(), server_.errorString());
    listenPrivately();
    return std::nullopt;
}

void FileReceiver::listenPrivately()
{
    privateServer_.close();
    listenForDevices();
    if (!identity_ || !keys_ || privateServer_.listen(bindAddress_, kPrivatePort))
        return;
    Q_EMIT privatePortFailed(
        socketError(privateServer_.serverError(), privateServer_.errorString()));
}

// LocalSend devices are answered as this computer, with its identity's certificate.
void FileReceiver::listenForDevices()
{
    deviceServer_.close();
    if (!identity_)
        return;
    deviceService_.info = infoDocument(ownDeviceInfo(identity_->certificate()));
    if (deviceServer_.listen(bindAddress_, DeviceBook::kDefaultPort))
        return;
    Q_EMIT devicePortFailed(socketError(deviceServer_.serverError(), deviceServer_.errorString()));
}

std::optional<SocketError> FileReceiver::listenForChat()
{
    limits_.takesFiles = false;
    privateServer_.close();
    if (privateServer_.listen(bindAddress_, kPrivatePort))
        return std::nullopt;
    return socketError(privateServer_.serverError(), privateServer_.errorString());
}

void FileReceiver::closePorts()
{
    server_.close();
    privateServer_.close();
    deviceServer_.close();
}

void FileReceiver::stop()
{
    closePorts();
    for (IncomingConnection* connection : QList<IncomingConnection*>(connections_))
        connection->stop();
}

void FileReceiver::acceptConnections(QTcpServer& server)
{
    while (QTcpSocket* socket = server.nextPendingConnection())
        take(socket, &server == &deviceServer_);
}

void FileReceiver::take(QTcpSocket* socket, bool fromDevice)
{
    auto* secure = qobject_cast<QSslSocket*>(socket);
    const QString peer = dottedAddress(socket->peerAddress());
    if (!secure && refusePlainly(socket, peer))
        return;
    // Whoever heard of the connection that gave way may have stopped the receiver.
    if (!makeRoomFor(peer) || !isListening() || (secure && !identity_)) {
        // Turned away at once, as a full receiver always was: the sender tries again.
        abortLater(socket, this);
        return;
    }
    const int id = ++lastId_;
    if (fromDevice) {
        deviceService_.accepts = accepts_;
        follow(new DeviceConnection(id, secure, deviceTlsConfiguration(*identity_), deviceService_,
                                    saveFolder_, limits_, parts_, this));
        return;
    }
    follow(new ReceiveConnection(id, socket, saveFolder_, limits_, parts_, this));
    Q_EMIT connectionOpened(id, peer);
    Q_EMIT privacyKnown(id, false, {});
}

void FileReceiver::takePrivately(qintptr descriptor)
{
    auto* socket = new TlsSocket(descriptor, privateTls_);
    const QString peer = dottedAddress(socket->peerAddress());
    if (!makeRoomFor(peer) || !isListening() || !identity_) {
        delete socket; // turned away at once, as on the file port
        return;
    }
    follow(new PrivateConnection(++lastId_, socket, *keys_, accepts_, saveFolder_, limits_, parts_,
                                 this));
}

// "Only from my address book" on the file port: those it says no to are told at once.
bool FileReceiver::refusePlainly(QTcpSocket* socket, const QString& peer)
{
    if (!accepts_ || accepts_(peer))
        return false;
    abortLater(socket, this);
    const int id = ++lastId_;
    Q_EMIT connectionOpened(id, peer);
    Q_EMIT privacyKnown(id, false, {});
    Q_EMIT finished({id,
                     ReceiveEnd::Outcome::Refused,
                     peer,
                     {},
                     0,
                     0,
                     ReceiveReason::of(ReceiveReason::Code::NotInAddressBook),
                     {},
                     false,
                     {},
                     {}});
    return true;
}

void FileReceiver::follow(IncomingConnection* connection)
{
    const int id = connection->id();
    connections_.append(connection);
    connect(connection, &IncomingConnection::shown, this,
            [this, connection](bool isPrivate, const QString& name) {
                Q_EMIT connectionOpened(connection->id(), connection->peer());
                Q_EMIT privacyKnown(connection->id(), isPrivate, name);
            });
    connect(connection, &IncomingConnection::fileStarted, this,
            [this, id](const QString& name, qint64 size) {
                metered_ = id;
                meteredFrom_ = 0;
                speed_.record(0);
                speed_.start();
                Q_EMIT fileStarted(id, name, size);
            });
    connect(connection, &IncomingConnection::resumed, this, [this, id](qint64 offset, qint64 size) {
        if (id == metered_)
            meteredFrom_ = offset; // the speed counts the bytes that come now
        Q_EMIT resumed(id, offset, size);
    });
    connect(connection, &IncomingConnection::progressed, this,
            [this, id](qint64 received, qint64 size) {
                if (id == metered_)
                    speed_.record(received - meteredFrom_);
                Q_EMIT progressed(id, received, size);
            });
    connect(connection, &IncomingConnection::fileEnded, this, [this](const ReceiveEnd& end) {
        if (end.connection == metered_)
            speed_.stop();
        tell(end);
    });
    connect(connection, &IncomingConnection::chatReceived, this, &FileReceiver::chatReceived);
    connect(connection, &IncomingConnection::ended, this,
            [this, connection](const ReceiveEnd& end) { connectionEnded(connection, end); });
    connect(connection, &IncomingConnection::closed, this,
            [this, connection] { connectionEnded(connection, std::nullopt); });
}

bool FileReceiver::makeRoomFor(const QString& peer)
{
    QList<SeatHolder> holders;
    for (const IncomingConnection* connection : std::as_const(connections_))
        holders.append(connection->seat());
    const Seating seating = seatFor(peer, holders, limits_);
    if (seating.givesWay >= 0)
        connections_[seating.givesWay]->giveWay();
    return seating.admitted;
}

void FileReceiver::tell(ReceiveEnd end)
{
    if (const std::optional<QString> problem = parts_.takeProblem())
        end.detail = end.detail.isEmpty() ? *problem : end.detail + QStringLiteral(". ") + *problem;
    Q_EMIT finished(end);
}

void FileReceiver::connectionEnded(IncomingConnection* connection,
                                   const std::optional<ReceiveEnd>& end)
{
    connections_.removeOne(connection);
    connection->deleteLater();
    heapReturn_.start();
    if (connection->id() == metered_)
        speed_.stop();
    if (end)
        tell(*end);
}
