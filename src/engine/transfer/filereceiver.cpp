#include "transfer/filereceiver.h"

#include "addressbook/peername.h"
#include "platform/localaddress.h"
#include "transfer/protocol.h"
#include "transfer/receiveconnection.h"
#include "transfer/receiverseats.h"

#include <QDir>
#include <QStandardPaths>
#include <QTcpSocket>

namespace
{

const QString kPartIndexName = QStringLiteral("partfiles.json");

} // namespace

FileReceiver::FileReceiver(const QHostAddress& bindAddress, QObject* parent)
    : QObject(parent), bindAddress_(bindAddress),
      partIndex_(QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                     .filePath(kPartIndexName))
{
    setLimits(limits_);
    connect(&server_, &QTcpServer::newConnection, this, &FileReceiver::acceptConnections);
    connect(&speed_, &SpeedMeter::ticked, this, &FileReceiver::speedTicked);
}

FileReceiver::~FileReceiver()
{
    server_.close();
    qDeleteAll(std::exchange(connections_, {}));
}

void FileReceiver::setLimits(const ReceiverLimits& limits)
{
    limits_ = limits;
    parts_.setStrangerLimits(limits.maxStrangerPartBytes, limits.maxStrangerParts);
}

void FileReceiver::setDataFolder(const QString& folder)
{
    partIndex_ = QDir(folder).filePath(kPartIndexName);
}

void FileReceiver::setAddressBook(const AddressBook& book)
{
    parts_.setKnownSenders(inBook(book));
}

std::optional<SocketError> FileReceiver::listen()
{
    parts_.open(partIndex_);
    server_.close();
    if (server_.listen(bindAddress_, kFilePort))
        return std::nullopt;
    return socketError(server_.serverError(), server_.errorString());
}

void FileReceiver::stop()
{
    server_.close();
    for (ReceiveConnection* connection : QList<ReceiveConnection*>(connections_))
        connection->stop();
}

void FileReceiver::acceptConnections()
{
    while (QTcpSocket* socket = server_.nextPendingConnection())
        take(socket);
}

void FileReceiver::take(QTcpSocket* socket)
{
    const QString peer = dottedAddress(socket->peerAddress());
    if (accepts_ && !accepts_(peer)) {
        socket->abort();
        socket->deleteLater();
        const int id = ++lastId_;
        Q_EMIT connectionOpened(id, peer);
        ReceiveEnd end{id, ReceiveEnd::Outcome::Refused, peer, {}, 0, 0, {}, {}};
        end.status = QStringLiteral("Refused: %1 is not in your address book").arg(peer);
        Q_EMIT finished(end);
        return;
    }
    // Whoever heard of the connection that gave way may have stopped the receiver.
    if (!makeRoomFor(peer) || !server_.isListening()) {
        // Turned away at once, as a full receiver always was: the sender tries again.
        socket->abort();
        socket->deleteLater();
        return;
    }
    const int id = ++lastId_;
    auto* connection = new ReceiveConnection(id, socket, saveFolder_, limits_, parts_, this);
    connections_.append(connection);
    connect(connection, &ReceiveConnection::fileStarted, this,
            [this, id](const QString& name, qint64 size) {
                metered_ = id;
                speed_.record(0);
                speed_.start();
                Q_EMIT fileStarted(id, name, size);
            });
    connect(connection, &ReceiveConnection::progressed, this,
            [this, id](qint64 received, qint64 size) {
                if (id == metered_)
                    speed_.record(received);
                Q_EMIT progressed(id, received, size);
            });
    connect(connection, &ReceiveConnection::ended, this,
            [this, connection](const ReceiveEnd& end) { connectionEnded(connection, end); });
    Q_EMIT connectionOpened(id, peer);
}

bool FileReceiver::makeRoomFor(const QString& peer)
{
    QList<SeatHolder> holders;
    for (const ReceiveConnection* connection : std::as_const(connections_))
        holders.append(connection->seat());
    const Seating seating = seatFor(peer, holders, limits_);
    if (seating.givesWay >= 0)
        connections_[seating.givesWay]->giveWay();
    return seating.admitted;
}

void FileReceiver::connectionEnded(ReceiveConnection* connection, ReceiveEnd end)
{
    if (const std::optional<QString> problem = parts_.takeProblem())
        end.detail = end.detail.isEmpty() ? *problem : end.detail + QStringLiteral(". ") + *problem;
    connections_.removeOne(connection);
    connection->deleteLater();
    if (end.connection == metered_)
        speed_.stop();
    Q_EMIT finished(end);
}
