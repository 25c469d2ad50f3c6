#pragma once

#include "cli/command.h"
#include "presence/onlinepeers.h"

#include <QTimer>

class AddressBook;
class Console;
class Station;

// quillo online: listens for one round of announcements, then prints every entry of the
// address book as online or offline. It ends sooner once everyone has been heard.
class OnlineCommand : public Command
{
    Q_OBJECT

public:
    // station must outlive the command.
    OnlineCommand(Station& station, int waitSeconds, Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override { report(); }

private:
    void seen(const QString& address);
    bool everyoneSeen() const;
    void report();

    Station& station_;
    const AddressBook& book_;
    OnlinePeers peers_;
    QTimer wait_;
    Console& console_;
    bool reported_ = false;
};
