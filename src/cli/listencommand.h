#pragma once

#include "cli/command.h"

class Console;
class Station;

// quillo listen: what the mini chat would show, one line each, without announcing this
// computer to anyone.
class ListenCommand : public Command
{
    Q_OBJECT

public:
    // station must outlive the command.
    ListenCommand(Station& station, Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override { Q_EMIT finished(kExitDone); }

private:
    Station& station_;
    Console& console_;
};
