#include "machinestops.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace
{

constexpr qint64 kNap = 1000000;       // a witness sleeps 1 ms at a time
constexpr qint64 kUnnoticed = 1000000; // lateness below this is a timer's own slack
constexpr std::size_t kMostSpans = 100000;

} // namespace

MachineStops::~MachineStops()
{
    stop();
}

qint64 MachineStops::queuedTime(int schedstat)
{
    char line[128] = {};
    if (schedstat < 0 || ::pread(schedstat, line, sizeof line - 1, 0) <= 0)
        return 0;
    char* rest = nullptr;
    std::strtoll(line, &rest, 10); // time on a CPU
    return std::strtoll(rest, nullptr, 10);
}

qint64 MachineStops::now()
{
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void MachineStops::start()
{
    stop();
    stopping_ = false;
    misplaced_ = false;
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    spans_.assign(std::size_t(std::max(cpus, 1L)), Spans());
    for (std::size_t cpu = 0; cpu < spans_.size(); ++cpu)
        witnesses_.emplace_back([this, cpu] { watch(int(cpu), spans_[cpu]); });
}

void MachineStops::stop()
{
    stopping_ = true;
    for (std::thread& witness : witnesses_)
        witness.join();
    witnesses_.clear();
}

void MachineStops::watch(int cpu, Spans& spans)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (::pthread_setaffinity_np(::pthread_self(), sizeof set, &set) != 0) {
        misplaced_ = true;
        return;
    }
    const int schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    qint64 last = now();
    qint64 lastQueued = queuedTime(schedstat);
    const timespec nap{0, kNap};
    while (!stopping_) {
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &nap, nullptr);
        const qint64 woke = now();
        const qint64 queued = queuedTime(schedstat);
        const qint64 late = woke - last - kNap - (queued - lastQueued);
        // Late by this much, it was stopped for at least the time just before it woke.
        if (late > kUnnoticed && spans.size() < kMostSpans)
            spans.push_back({woke - late, woke});
        last = woke;
        lastQueued = queued;
    }
    if (schedstat >= 0)
        ::close(schedstat);
}

MachineStops::Spans MachineStops::clip(const Spans& spans, qint64 from, qint64 to)
{
    Spans inside;
    for (const Span& span : spans)
        if (span.to > from && span.from < to)
            inside.push_back({std::max(span.from, from), std::min(span.to, to)});
    return inside;
}

MachineStops::Spans MachineStops::overlap(const Spans& a, const Spans& b)
{
    // Both are in order and apart, as a witness records them.
    Spans both;
    auto i = a.begin();
    auto j = b.begin();
    while (i != a.end() && j != b.end()) {
        const qint64 from = std::max(i->from, j->from);
        const qint64 to = std::min(i->to, j->to);
        if (from < to)
            both.push_back({from, to});
        (i->to < j->to ? i : j)++;
    }
    return both;
}

qint64 MachineStops::stoppedWithin(qint64 from, qint64 to, int cpu) const
{
    if (misplaced_ || spans_.empty() || cpu >= int(spans_.size()))
        return 0;
    Spans all = clip(spans_[std::size_t(std::max(cpu, 0))], from, to);
    if (cpu < 0)
        for (std::size_t other = 1; other < spans_.size(); ++other)
            all = overlap(all, clip(spans_[other], from, to));
    qint64 stopped = 0;
    for (const Span& span : all)
        stopped += span.to - span.from;
    return stopped;
}
