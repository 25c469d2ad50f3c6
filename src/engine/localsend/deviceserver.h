#pragma once

#include <QTcpServer>

// LocalSend's port. Each connection comes as a QSslSocket that has not begun its
// handshake, so that the receiver seats it and starts its deadline from the accept.
class DeviceServer : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};
