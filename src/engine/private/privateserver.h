#pragma once

#include <QTcpServer>

// The private port's listener. Each connection comes as its descriptor, before any
// handshake, so that the receiver seats it and starts its deadline from the accept.
class PrivateServer : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

Q_SIGNALS:
    void accepted(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { Q_EMIT accepted(descriptor); }
};
