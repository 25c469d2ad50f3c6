#include "station/porthandover.h"

namespace
{

const char* const kWindowName = "quillo-window";
const char* const kPortsName = "quillo-ports";
const QByteArray kReleased = "released\n";

// Connects to name and tells at once whether someone listens there. A local connection
// is made or refused within connectToServer(); one still under way is counted as made.
bool connectNow(QLocalSocket& socket, const QString& name)
{
    socket.connectToServer(name);
    return socket.state() != QLocalSocket::UnconnectedState;
}

} // namespace

PortHandover::PortHandover(const QString& folder, QObject* parent)
    : QObject(parent), folder_(folder)
{
    windowServer_.setSocketOptions(QLocalServer::UserAccessOption);
    portsServer_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&windowServer_, &QLocalServer::newConnection, this, [this] {
        // The connection is the whole request; it is closed once this signal is over.
        while (QLocalSocket* window = windowServer_.nextPendingConnection()) {
            window->disconnectFromServer();
            window->deleteLater();
        }
        Q_EMIT raiseAsked();
    });
    connect(&portsServer_, &QLocalServer::newConnection, this, &PortHandover::takeClaim);
}

QString PortHandover::path(const char* name) const
{
    return folder_ + QLatin1Char('/') + QLatin1String(name);
}

bool PortHandover::otherWindowRuns()
{
    QLocalSocket probe;
    return connectNow(probe, path(kWindowName));
}

// A socket file nobody answers at was left by a copy that ended without closing it. One
// that answers is another copy's, as of a second receive on another address: this one
// then shares nothing.
bool PortHandover::listen(QLocalServer& server, const char* name)
{
    if (server.listen(path(name)))
        return true;
    QLocalSocket probe;
    if (connectNow(probe, path(name)))
        return false;
    QLocalServer::removeServer(path(name));
    return server.listen(path(name));
}

void PortHandover::holdWindow()
{
    listen(windowServer_, kWindowName);
}

bool PortHandover::claimPorts()
{
    auto* claimer = new QLocalSocket(this);
    if (!connectNow(*claimer, path(kPortsName))) {
        claimer->deleteLater();
        return false;
    }
    claimer_ = claimer;
    connect(claimer, &QLocalSocket::readyRead, this, &PortHandover::claimAnswered);
    // A holder that ended without answering has given up the ports all the same.
    connect(claimer, &QLocalSocket::disconnected, this, &PortHandover::claimAnswered);
    connect(claimer, &QLocalSocket::errorOccurred, this, &PortHandover::claimAnswered);
    return true;
}

void PortHandover::claimAnswered()
{
    if (released_ || !claimer_)
        return;
    // The holder writes one line only, once it has let go; a part of it waits for the rest.
    const bool gone = claimer_->state() != QLocalSocket::ConnectedState;
    if (!gone && !claimer_->canReadLine())
        return;
    released_ = true;
    Q_EMIT portsReleased();
}

void PortHandover::holdPorts()
{
    listen(portsServer_, kPortsName);
}

void PortHandover::takeClaim()
{
    while (QLocalSocket* claim = portsServer_.nextPendingConnection()) {
        // One window at a time holds the ports; a second one finds them taken.
        if (claim_) {
            claim->disconnectFromServer();
            claim->deleteLater();
            continue;
        }
        claim_ = claim;
        connect(claim, &QLocalSocket::disconnected, this, [this, claim] {
            claim->deleteLater();
            Q_EMIT returned();
        });
        Q_EMIT claimed();
    }
}

void PortHandover::released()
{
    if (claim_)
        claim_->write(kReleased);
}

void PortHandover::end()
{
    windowServer_.close();
    portsServer_.close();
    for (QLocalSocket* socket : {claimer_.data(), claim_.data()}) {
        if (!socket)
            continue;
        socket->disconnect(this);
        socket->disconnectFromServer();
    }
}
