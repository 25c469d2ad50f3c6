#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <optional>

// Turns SIGINT and SIGTERM into a signal on the event loop. The handler only writes a
// byte to a pipe, which is all a handler may safely do; the loop reads it and stops the
// command from there, between two events. Without a pipe the signals keep their default
// action. Only one may exist at a time.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    // Puts the former handlers back.
    ~StopSignals() override;

Q_SIGNALS:
    void stopRequested();

private:
    static void handle(int signal);
    void pipeReadable();

    int pipe_[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier_;
    struct sigaction formerInterrupt_ = {};
    struct sigaction formerTerminate_ = {};
};
