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
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        sendTo(payload, literal, port);
        return;
    }
    // The answer comes on this thread's event loop. It is not tied to this object as its
    // context: Qt would then never free the callback of a lookup that outlives the socket.
    QHostInfo::lookupHost(
        host, [socket = QPointer<DatagramSocket>(this), payload, port](const QHostInfo& info) {
            const QHostAddress address = preferredAddress(info.addresses());
            if (socket && info.error() == QHostInfo::NoError && !address.isNull())
                socket->sendTo(payload, address, port);
        });
}

void DatagramSocket::sendTo(const QByteArray& payload, const QHostAddress& address, quint16 port)
{
    // A failed send is not retried: the datagram is simply lost, as any datagram may be.
    socket_.writeDatagram(payload, address, port);
}
