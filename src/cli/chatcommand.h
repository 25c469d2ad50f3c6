#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"

#include <QHostInfo>
#include <QUdpSocket>

class Console;

// quillo chat: one chat line to one peer, the datagram a peer's window would show as a
// line of the mini chat.
class ChatCommand : public Command
{
    Q_OBJECT

public:
    ChatCommand(const QHostAddress& bindAddress, const Peer& peer, const QString& to,
                const QString& text, Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override;

private:
    void hostLookedUp(const QHostInfo& info);
    int sendTo(const QHostAddress& address);

    QUdpSocket socket_;
    QHostAddress bindAddress_;
    Peer peer_;
    QString to_;
    QByteArray payload_;
    Console& console_;
    int lookup_ = -1;
};
