#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>

// A peer that writes bytes to a receiver's file port as `nc` would, trying again until
// the receiver listens.
class CliRawPeer
{
public:
    CliRawPeer(const QHostAddress& from, const QHostAddress& to) : from_(from), to_(to) {}

    // Connects anew while the last attempt has failed; true once connected.
    bool connected()
    {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            return true;
        if (!socket || socket->state() == QAbstractSocket::UnconnectedState) {
            socket = std::make_unique<QTcpSocket>();
            QObject::connect(socket.get(), &QTcpSocket::readyRead,
                             [this] { replies += socket->readAll(); });
            socket->bind(from_);
            socket->connectToHost(to_, 1052);
        }
        return false;
    }

    std::unique_ptr<QTcpSocket> socket;
    QByteArray replies;

private:
    QHostAddress from_;
    QHostAddress to_;
};
