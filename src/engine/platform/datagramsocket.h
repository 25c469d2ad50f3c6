#pragma once

#include "platform/socketerror.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>

#include <functional>
#include <optional>

// Why a datagram did not leave.
struct DatagramFailure {
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QString description;
};

// One UDP socket that both sends and receives. A destination is given as the text the
// user typed: a literal address is sent to at once, a host name once it has been
// resolved in the background. A destination that cannot be used is passed over.
class DatagramSocket : public QObject
{
    Q_OBJECT

public:
    explicit DatagramSocket(QObject* parent = nullptr);

    // Returns the error when the address and port cannot be taken.
    std::optional<SocketError> bind(const QHostAddress& address, quint16 port);

    void send(const QByteArray& payload, const QString& host, quint16 port);
    // Sends to one destination, and tells done whether the datagram left: nothing, or what
    // failed (HostNotFoundError for a name that could not be looked up).
    using Sent = std::function<void(const std::optional<DatagramFailure>& failure)>;
    void sendOne(const QByteArray& payload, const QString& host, quint16 port, Sent done);
    // Gives the port up.
    void close() { socket_.close(); }

    bool hasPendingDatagrams() const { return socket_.hasPendingDatagrams(); }
    // The next waiting datagram whole, or an invalid one when the read failed.
    QNetworkDatagram receive() { return socket_.receiveDatagram(); }

Q_SIGNALS:
    void readyRead();

private:
    std::optional<DatagramFailure> sendTo(const QByteArray& payload, const QHostAddress& address,
                                          quint16 port);

    QUdpSocket socket_;
};
