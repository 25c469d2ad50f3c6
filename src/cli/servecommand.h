#pragma once

#include "cli/command.h"
#include "station/station.h"

class Console;

// quillo serve: a copy that stays online without a window. Its station announces it,
// receives files, keeps their history and delivers the files waiting for someone who
// comes online; each of these events is one line on standard output.
class ServeCommand : public Command
{
    Q_OBJECT

public:
    // station, loaded, must outlive the command; folder ends with '/'; onlyKnown adds to
    // the stored choice, never takes it away.
    ServeCommand(Station& station, const QString& folder, bool onlyKnown, Console& console,
                 QObject* parent = nullptr);

    // Lends the ports to a window of this user, through folder (see Station::lendPorts).
    void sharePortsThrough(const QString& folder) { sharingFolder_ = folder; }
    std::optional<int> start() override;
    void stop() override;

private:
    void deliveryEnded(BatchKind batch, int row, const SendEnd& end);

    Station& station_;
    QString sharingFolder_;
    Console& console_;
    bool stopping_ = false;
};
