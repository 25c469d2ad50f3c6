#include "platform/socketrelease.h"

#include "platform/tlssocket.h"

#include <QMetaObject>
#include <QSslSocket>
#include <QTimer>

namespace
{

// Qt's sockets and ours let go the same way.
template <typename Socket> void abortSocketLater(Socket* socket, const QObject* owner)
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

template <typename Socket>
void closeSocketLater(Socket* socket, const QObject* owner, std::chrono::milliseconds grace)
{
    socket->disconnect(owner);
    QObject::connect(socket, &Socket::disconnected, socket, &QObject::deleteLater);
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

template <typename Socket>
void releaseSocket(Socket* socket, const QObject* owner, QObject* keeper, bool graceful,
                   std::chrono::milliseconds grace)
{
    if (!graceful || !keeper || !socket->isEncrypted()) {
        abortSocketLater(socket, owner);
        return;
    }
    socket->setParent(keeper);
    closeSocketLater(socket, owner, grace);
}

} // namespace

void abortLater(QAbstractSocket* socket, const QObject* owner)
{
    abortSocketLater(socket, owner);
}

void abortLater(TlsSocket* socket, const QObject* owner)
{
    abortSocketLater(socket, owner);
}

void closeLater(QAbstractSocket* socket, const QObject* owner, std::chrono::milliseconds grace)
{
    closeSocketLater(socket, owner, grace);
}

void closeLater(TlsSocket* socket, const QObject* owner, std::chrono::milliseconds grace)
{
    closeSocketLater(socket, owner, grace);
}

void releaseSecureSocket(QSslSocket* socket, const QObject* owner, QObject* keeper, bool graceful,
                         std::chrono::milliseconds grace)
{
    releaseSocket(socket, owner, keeper, graceful, grace);
}

void releaseSecureSocket(TlsSocket* socket, const QObject* owner, QObject* keeper, bool graceful,
                         std::chrono::milliseconds grace)
{
    releaseSocket(socket, owner, keeper, graceful, grace);
}
