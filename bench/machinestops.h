#pragma once

#include <QtGlobal>

#include <atomic>
#include <thread>
#include <vector>

// When the host stopped this machine's CPUs: on a virtual machine the host may take a CPU
// away, or every CPU at once, and an event loop's turn then lasts as long as the stop,
// whatever the loop did; the guest counts the time as its own, running or idle. Each CPU
// gets a witness thread of its own that sleeps a millisecond at a time: the time a witness
// wakes late, less what it spent waiting in its CPU's run queue, its CPU was stopped.
//
// Times are CLOCK_MONOTONIC nanoseconds. Ask only once stop() has returned.
class MachineStops
{
public:
    MachineStops() = default;
    ~MachineStops();
    MachineStops(const MachineStops&) = delete;
    MachineStops& operator=(const MachineStops&) = delete;

    void start();
    void stop();
    // How much of [from, to] cpu was stopped, or with none given every CPU at once; 0 when
    // a witness could not be placed.
    qint64 stoppedWithin(qint64 from, qint64 to, int cpu = -1) const;

    static qint64 now();
    // How long the calling thread has waited for a CPU while ready to run, in nanoseconds,
    // from its /proc/thread-self/schedstat open as schedstat; 0 when it cannot be read.
    // The count is brought up to date each time the thread gets a CPU, so it is whole
    // whenever the thread itself reads it.
    static qint64 queuedTime(int schedstat);

private:
    struct Span {
        qint64 from = 0;
        qint64 to = 0;
    };
    using Spans = std::vector<Span>;

    // Each witness writes only its own spans; they are read once it has been joined.
    void watch(int cpu, Spans& spans);
    static Spans clip(const Spans& spans, qint64 from, qint64 to);
    static Spans overlap(const Spans& a, const Spans& b);

    std::vector<Spans> spans_;
    std::vector<std::thread> witnesses_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> misplaced_{false};
};
