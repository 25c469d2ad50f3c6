#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"

#include <QHostInfo>
#include <QUdpSocket>

class Console;
class Station;

// quillo chat: one chat line to one peer, the datagram a peer's window would show as a
// line of the mini chat; to a peer whose key is known, a line over the private port.
class ChatCommand : public Command
{
    Q_OBJECT

public:
    // station must outlive the command.
    ChatCommand(Station& station, const QHostAddress& bindAddress, const Peer& peer,
                const QString& to, const QString& text, Console& console,
                QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override;

private:
    void hostLookedUp(const QHostInfo& info);
    int sendTo(const QHostAddress& address);
    std::optional<int> sendPrivately();

    Station& station_;
    QUdpSocket socket_;
    QHostAddress bindAddress_;
    Peer peer_;
    QString to_;
    QString text_;
    QByteArray payload_;
    Console& console_;
    int lookup_ = -1;
    bool stopped_ = false;
};
