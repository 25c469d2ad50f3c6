#pragma once

#include <QObject>

#include <optional>

// The exit status of the command line.
constexpr int kExitDone = 0;    // everything asked for was done
constexpr int kExitNotDone = 1; // something was not: a file not delivered, a port taken...
constexpr int kExitUsage = 2;   // the command line itself was wrong

// One subcommand at work. It runs on the event loop: start() sets it going, and
// finished() tells, later and once, that it is over.
class Command : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~Command() override;

    // Returns the exit status when the command is over at once, as when a port cannot be
    // had; otherwise finished() follows.
    virtual std::optional<int> start() = 0;
    // Ctrl-C or SIGTERM: end soon and cleanly; finished() follows.
    virtual void stop() = 0;

Q_SIGNALS:
    void finished(int exitStatus);
};
