#pragma once

#include "presence/presence.h"
#include "transfer/receiveend.h"
#include "transfer/receiverseats.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>

// One connection to the receiver, on either port, as the receiver seats and hears it.
class IncomingConnection : public QObject
{
    Q_OBJECT

public:
    IncomingConnection(int id, const QString& peer, QObject* parent)
        : QObject(parent), id_(id), peer_(peer)
    {
    }

    int id() const { return id_; }
    const QString& peer() const { return peer_; }
    // How far it has come, for choosing whom a newcomer displaces.
    virtual SeatHolder seat() const = 0;
    // Ends at once as if the sender had closed.
    virtual void stop() = 0;
    // Ends at once, its seat going to a newcomer.
    virtual void giveWay() = 0;

Q_SIGNALS:
    // The connection is worth showing from now on, and how private it is; keyName is the
    // verified entry's name, empty for a stranger or a plain connection.
    void shown(bool isPrivate, const QString& keyName);
    void fileStarted(const QString& name, qint64 size);
    // Right after fileStarted(): the file continues a part file that holds offset bytes.
    void resumed(qint64 offset, qint64 size);
    void progressed(qint64 received, qint64 size);
    // One file of several is over; the connection goes on.
    void fileEnded(const ReceiveEnd& end);
    void chatReceived(const ChatLine& line);
    // The connection is over; the object may be deleted once control is back in the loop.
    void ended(const ReceiveEnd& end);
    // The same, with nothing left to tell: its last file was told through fileEnded().
    void closed();

protected:
    // What one arrival may hold; Qt stops reading from the network beyond it.
    static constexpr qint64 kReadBufferBytes = 1024 * 1024;
    // A sender that does not read the answers must not make them pile up: beyond this
    // many unsent bytes of them, the connection holds back.
    static constexpr qint64 kMaxQueuedReplyBytes = 64 * 1024;

    // Takes socket as its own. The answers are short, and the sender waits for each: they
    // go at once.
    void adopt(QAbstractSocket* socket)
    {
        socket->setParent(this);
        socket->setReadBufferSize(kReadBufferBytes);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }

    const int id_;
    const QString peer_;
};
