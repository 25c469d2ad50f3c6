#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <optional>

// Turns SIGINT, SIGTERM and SIGHUP into a signal on the event loop, for the window and the
// command line alike. The handler only writes a byte to a pipe, which is all a handler may
// safely do; the loop reads it and stops the program from there, between two events. A
// signal that was ignored when the program started (as under nohup) stays ignored. Without
// a pipe the signals keep their default action. Only one may exist at a time.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

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
    std::array<struct sigaction, kSignals.size()> former_ = {};
};
