#pragma once

#include "cli/command.h"
#include "presence/onlinepeers.h"
#include "presence/presence.h"

#include <QTimer>

class Console;

// quillo online: listens for one round of announcements, then prints every entry of the
// address book as online or offline. It ends sooner once everyone has been heard.
class OnlineCommand : public Command
{
    Q_OBJECT

public:
    OnlineCommand(const QHostAddress& bindAddress, const AddressBook& book, int waitSeconds,
                  Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override { report(); }

private:
    void seen(const QString& address);
    bool everyoneSeen() const;
    void report();

    const AddressBook& book_;
    Presence presence_;
    OnlinePeers peers_;
    QTimer wait_;
    QHostAddress bindAddress_;
    Console& console_;
    bool reported_ = false;
};
