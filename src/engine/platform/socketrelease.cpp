#include "platform/socketrelease.h"

#include <QMetaObject>
#include <QSslSocket>
#include <QTimer>

void abortLater(QAbstractSocket* socket, const QObject* owner)
{
    socket->disconnect(owner);
    QMetaObject::invokeMethod(
        socket,
        [socket] {
            socket->abort();
            socket->deleteLater();
        },
        Qt::QueuedConnection);
}

void closeLater(QAbstractSocket* socket, const QObject* owner, std::chrono::milliseconds grace)
{
    socket->disconnect(owner);
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(grace, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    QMetaObject::invokeMethod(
        socket,
        [socket] {
            if (socket->state() == QAbstractSocket::UnconnectedState)
                socket->deleteLater();
            else
                socket->disconnectFromHost();
        },
        Qt::QueuedConnection);
}

void releaseSecureSocket(QSslSocket* socket, const QObject* owner, QObject* keeper, bool graceful,
                         std::chrono::milliseconds grace)
{
    if (!graceful || !keeper || !socket->isEncrypted()) {
        abortLater(socket, owner);
        return;
    }
    socket->setParent(keeper);
    closeLater(socket, owner, grace);
}
