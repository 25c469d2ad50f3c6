#pragma once

#include "cli/command.h"
#include "presence/presence.h"

class Console;

// quillo listen: what the mini chat would show, one line each, without announcing this
// computer to anyone.
class ListenCommand : public Command
{
    Q_OBJECT

public:
    ListenCommand(const QHostAddress& bindAddress, const AddressBook& book, Console& console,
                  QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override { Q_EMIT finished(kExitDone); }

private:
    Presence presence_;
    QHostAddress bindAddress_;
    Console& console_;
};
