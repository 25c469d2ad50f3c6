#pragma once

#include "private/privatelink.h"

#include <QObject>

// One chat line to one receiver over the private port: a batch of one CHAT, answered
// with HEARD, then BYE. done() comes once, however it ended.
class PrivateChat : public QObject
{
    Q_OBJECT

public:
    // identity, keys and clock must outlive it; the clock times the connection.
    PrivateChat(const Identity& identity, PeerKeys& keys, const QHostAddress& bindAddress,
                Clock& clock = systemClock(), QObject* parent = nullptr);

    void setIdleTimeout(std::chrono::milliseconds timeout) { link_.setIdleTimeout(timeout); }
    void send(const QString& host, const QString& line);

Q_SIGNALS:
    // problem is empty when the receiver heard the line; otherwise it says why not.
    void done(const QString& problem);

private:
    void finish(const QString& problem);

    PrivateLink link_;
    QString line_;
    bool done_ = false;
};
