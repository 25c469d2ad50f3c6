#pragma once

// What the transfer benchmark is built from: payload files, child processes with their
// peak memory, the kernel's view of listening sockets and of a process's memory, and a
// heartbeat that measures how long an event loop keeps to itself.

#include "machinestops.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <optional>
#include <vector>

// Writes bytes of pseudo-random content to path; seed makes each file different.
bool makePayload(const QString& path, qint64 bytes, quint64 seed);
// Whether both files exist and hold the same bytes.
bool sameContents(const QString& a, const QString& b);

// Whether something listens on TCP address:port, as /proc/net/tcp tells, waiting up to
// timeoutMs for it. Looking does not take the connection a one-shot listener waits for.
bool waitListening(const QHostAddress& address, quint16 port, int timeoutMs);

// Whether any TCP socket, in any state, has address at either end: a connection of an
// earlier run may linger in TIME_WAIT for a minute.
bool hasConnections(const QHostAddress& address);
// Whether a TCP connection to or from address:port is established.
bool isConnected(const QHostAddress& address, quint16 port);

// The bytes the loopback interface has sent, from /proc/net/dev: every packet between
// two loopback addresses, headers included, counted once.
std::optional<qint64> loopbackSentBytes();

// The resident memory of a running process, from /proc/PID/status: "VmRSS" now, or
// "VmHWM" for its peak so far. Nothing once the process is gone.
std::optional<long> processMemoryKiB(qint64 pid, const char* field = "VmRSS");
// The peak resident memory of this process so far.
long ownPeakKiB();

// Every file and folder of the benchmark starts with this in the temporary folder, the
// benchmark's process id after it, so that what an interrupted run left can be told.
QString scratchPrefix();
// Removes what earlier runs that are no longer running left in the temporary folder.
void removeLeftovers();

// Flushes every file system, so that one run's writes do not land in the next one's time.
void settleDisk();

// A program run as a child of the benchmark, in the benchmark's process group so that
// Ctrl-C stops it too. With peak memory wanted, it runs under /usr/bin/time, which forks
// it afresh: the peak is then the program's own, and not inherited from the benchmark
// that started it; the CPU time it took comes with it. A program that only sets things up
// and then puts itself in place (nsenter, taskset) counts as the program it becomes.
class Child
{
public:
    Child(const QString& program, const QStringList& arguments, bool measurePeak = false);
    ~Child();

    void setEnvironment(const QProcessEnvironment& environment)
    {
        process_.setProcessEnvironment(environment);
    }
    void setStandardInputFile(const QString& path) { process_.setStandardInputFile(path); }
    // Standard output goes to a file of the child's own unless set here.
    void setStandardOutputFile(const QString& path) { process_.setStandardOutputFile(path); }

    bool start();
    // Waits for the child to end; after timeoutMs it is killed and false is returned.
    bool wait(int timeoutMs);
    // Whether the child has ended, waiting up to waitMs for it; it keeps running.
    bool hasEnded(int waitMs);
    // SIGTERM to the program (not to a /usr/bin/time around it: that would lose the peak).
    void terminate();
    // SIGKILL to the program and to a /usr/bin/time around it, and waits for the end.
    void kill();

    bool succeeded() const
    {
        return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    int exitCode() const { return process_.exitCode(); }
    qint64 pid() const { return process_.processId(); }
    // What it wrote to standard output and standard error.
    QByteArray output() const;
    QByteArray errors() const;
    // The program's peak resident memory, once it has ended under /usr/bin/time.
    std::optional<long> peakKiB() const;
    // The CPU time it took, in user and system mode together, likewise.
    std::optional<double> cpuSeconds() const;

private:
    // The program itself, which is the child of /usr/bin/time when that measures it.
    qint64 programPid() const;
    // What /usr/bin/time wrote: peak KiB, user seconds, system seconds.
    QList<QByteArray> timeFigures() const;

    QProcess process_;
    QString base_;
    QString peakFile_;
};

// Ticks every millisecond on the event loop of the thread it lives in and keeps the
// longest time between two ticks: the longest the loop was kept from its timers. Of that
// gap it also keeps how long the thread ran, how long it waited for a CPU while ready to
// run, and how long the host stopped its CPU (see MachineStops); the rest it was blocked,
// in a system call or a page fault. The longest turn is the one longest once the host's
// stops are taken out: the CPU the loop was on at both ends of the turn, or every CPU at
// once when it moved.
class Heartbeat : public QObject
{
    Q_OBJECT

public:
    explicit Heartbeat(QObject* parent = nullptr);
    ~Heartbeat() override;

    void start();
    void stop();
    double longestMs() const { return longest_.wall / 1e6; }
    double longestRunningMs() const { return longest_.running / 1e6; }
    double longestQueuedMs() const { return longest_.queued / 1e6; }
    double longestStoppedMs() const { return longest_.stopped / 1e6; }
    qint64 ticks() const { return ticks_; }

private:
    // Nanoseconds: on the clock (CLOCK_MONOTONIC), on the CPU, and waiting for one.
    struct Times {
        qint64 wall = 0;
        qint64 running = 0;
        qint64 queued = 0;
        int cpu = -1;
    };
    // One turn: its lengths, where it began, and how long the host stopped it.
    struct Turn : Times {
        qint64 began = 0;
        qint64 stopped = 0;
    };

    void tick();
    Times now() const;

    QTimer timer_;
    MachineStops stops_;
    int schedstat_ = -1;
    Times last_;
    // The longest turns by the clock, longest first; the host's stops are known only once
    // the witnesses are done.
    std::vector<Turn> longestTurns_;
    Turn longest_;
    qint64 ticks_ = 0;
};
