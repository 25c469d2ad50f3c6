#include "localsend/deviceserver.h"

#include <QSslSocket>

void DeviceServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
