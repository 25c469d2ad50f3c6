#pragma once

#include "cli/command.h"
#include "platform/clock.h"
#include "presence/onlinepeers.h"

#include <chrono>
#include <memory>

class AddressBook;
class Console;
class Station;

// quillo online: listens for one round of announcements, then prints every entry of the
// address book as online or offline. It ends sooner once everyone has been heard.
class OnlineCommand : public Command
{
    Q_OBJECT

public:
    // station and clock must outlive the command; the clock times the wait and tells the
    // time of day the announcements are judged by.
    OnlineCommand(Station& station, int waitSeconds, Console& console, Clock& clock = systemClock(),
                  QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override { report(); }

private:
    void seen(const QString& address);
    bool everyoneSeen() const;
    void report();

    Station& station_;
    const AddressBook& book_;
    OnlinePeers peers_;
    Clock& clock_;
    std::chrono::seconds wait_;
    std::unique_ptr<Alarm> waitAlarm_;
    Console& console_;
    bool reported_ = false;
};
