#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"

#include <QHostAddress>

class Console;
class Station;
struct SendStatus;

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
    void printSent(const QString& host, const SendStatus& status);
    std::optional<int> sendPrivately();

    Station& station_;
    QHostAddress bindAddress_;
    Peer peer_;
    QString to_;
    QString text_;
    Console& console_;
    bool stopped_ = false;
};
