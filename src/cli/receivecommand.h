#pragma once

#include "cli/command.h"
#include "station/station.h"

#include <QSet>

class Console;

// quillo receive: the receiver of the window, without the window. It takes files until
// stopped or, with once, until the first connection that brought a file has ended; with
// once it takes one connection at a time, so that no other file arrives meanwhile.
class ReceiveCommand : public Command
{
    Q_OBJECT

public:
    // folder ends with '/'; station must outlive the command.
    ReceiveCommand(Station& station, const QString& folder, bool once, Console& console,
                   QObject* parent = nullptr);

    // Lends the ports to a window of this user, through folder (see Station::lendPorts).
    void sharePortsThrough(const QString& folder) { sharingFolder_ = folder; }
    std::optional<int> start() override;
    void stop() override;

private:
    void printFileStarted(int connection, const QString& name, qint64 size);
    void connectionEnded(const ReceiveEnd& end);
    // Tells the exit status, once only.
    void finish(int exitStatus);

    Station& station_;
    QString sharingFolder_;
    Console& console_;
    bool once_;
    QSet<int> filesBegun_; // the connections in progress that brought a file
    int latestFile_ = 0;   // the one the progress bar follows
    bool stopping_ = false;
    bool saved_ = false; // a file was saved whole
    bool finished_ = false;
};
