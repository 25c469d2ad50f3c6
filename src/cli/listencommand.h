#pragma once

#include "cli/command.h"

class Console;
class Station;

// quillo listen: the announcements and chat lines this computer hears, by datagram and
// privately, one line each, without announcing this computer to anyone. It takes no
// files: one offered on the private port is turned away with the reason.
class ListenCommand : public Command
{
    Q_OBJECT

public:
    // station must outlive the command. human prints what the mini chat would show
    // instead of the tab-separated lines of serve.
    ListenCommand(Station& station, bool human, Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override;

private:
    void printInWords();

    Station& station_;
    Console& console_;
};
