#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"

#include <QHostInfo>
#include <QUdpSocket>

#include <memory>

class PrivateChat;

class Console;

// quillo chat: one chat line to one peer, the datagram a peer's window would show as a
// line of the mini chat; to a peer whose key is known, a line over the private port.
class ChatCommand : public Command
{
    Q_OBJECT

public:
    ChatCommand(const QHostAddress& bindAddress, const Peer& peer, const QString& to,
                const QString& text, Console& console, QObject* parent = nullptr);
    ~ChatCommand() override;

    std::optional<int> start() override;
    void stop() override;
    void setPrivacy(const Identity* identity, PeerKeys* keys) override;

private:
    void hostLookedUp(const QHostInfo& info);
    int sendTo(const QHostAddress& address);
    std::optional<int> sendPrivately();

    QUdpSocket socket_;
    QHostAddress bindAddress_;
    Peer peer_;
    QString to_;
    QString text_;
    QByteArray payload_;
    const Identity* identity_ = nullptr;
    PeerKeys* keys_ = nullptr;
    std::unique_ptr<PrivateChat> private_;
    Console& console_;
    int lookup_ = -1;
};
