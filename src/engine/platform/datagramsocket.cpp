#include "platform/datagramsocket.h"

#include "platform/localaddress.h"

#include <QHostInfo>
#include <QPointer>

DatagramSocket::DatagramSocket(QObject* parent) : QObject(parent)
{
    connect(&socket_, &QUdpSocket::readyRead, this, &DatagramSocket::readyRead);
}

std::optional<SocketError> DatagramSocket::bind(const QHostAddress& address, quint16 port)
{
    if (socket_.bind(address, port))
        return std::nullopt;
    return socketError(socket_.error(), socket_.errorString());
}

void DatagramSocket::send(const QByteArray& payload, const QString& host, quint16 port)
{
    // A failed send is not retried: the datagram is simply lost, as any datagram may be.
    sendOne(payload, host, port, [](const std::optional<DatagramFailure>&) {});
}

void DatagramSocket::sendOne(const QByteArray& payload, const QString& host, quint16 port,
                             Sent done)
{
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        done(sendTo(payload, literal, port));
        return;
    }
    // The answer comes on this thread's event loop. It is not tied to this object as its
    // context: Qt would then never free the callback of a lookup that outlives the socket.
    QHostInfo::lookupHost(host, [socket = QPointer<DatagramSocket>(this), payload, port,
                                 done = std::move(done)](const QHostInfo& info) {
        if (!socket)
            return;
        const QHostAddress address = preferredAddress(info.addresses());
        if (info.error() != QHostInfo::NoError || address.isNull()) {
            done(DatagramFailure{QAbstractSocket::HostNotFoundError, info.errorString()});
            return;
        }
        done(socket->sendTo(payload, address, port));
    });
}

std::optional<DatagramFailure> DatagramSocket::sendTo(const QByteArray& payload,
                                                      const QHostAddress& address, quint16 port)
{
    if (socket_.writeDatagram(payload, address, port) == payload.size())
        return std::nullopt;
    return DatagramFailure{socket_.error(), socket_.errorString()};
}
