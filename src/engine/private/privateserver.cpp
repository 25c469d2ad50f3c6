#include "private/privateserver.h"

#include <QSslSocket>

void PrivateServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
