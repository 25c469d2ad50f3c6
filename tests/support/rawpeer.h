#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <sys/socket.h>

// A peer that speaks plain bytes to a receiver, as any other program might, and keeps
// everything the receiver answers.
class RawPeer
{
public:
    RawPeer()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { replies += socket.readAll(); });
    }

    // Connects from the address "from", so the receiver sees a source of our choosing.
    void connectTo(const QHostAddress& from, const QHostAddress& address, quint16 port)
    {
        socket.bind(from);
        socket.connectToHost(address, port);
    }
    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    void send(const QByteArray& bytes) { socket.write(bytes); }
    void close() { socket.disconnectFromHost(); }
    // Says "no more from me" but keeps listening, as `nc -N` does.
    void finishSending()
    {
        socket.flush();
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    }
    // Ends the connection with a reset instead of an orderly close.
    void reset()
    {
        const linger hard{1, 0};
        setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket.abort();
    }

    QTcpSocket socket;
    QByteArray replies;
};
