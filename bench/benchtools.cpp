#include "benchtools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

constexpr qint64 kChunkBytes = 4 << 20;

// xorshift64*: fast, and no two stretches of a payload alike, so that a piece put in the
// wrong place shows in the comparison.
class Noise
{
public:
    explicit Noise(quint64 seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    quint64 next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

private:
    quint64 state_;
};

// Where a child's output and peak go: files, since a pipe nobody reads while the
// benchmark waits for another process would fill and stall the child.
QString childFilesBase()
{
    static int counter = 0;
    return scratchPrefix() + QString::number(++counter);
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool makePayload(const QString& path, qint64 bytes, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    Noise noise(seed);
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    for (qint64 written = 0; written < bytes;) {
        const qint64 size = std::min(kChunkBytes, bytes - written);
        for (qint64 i = 0; i < size; i += 8) {
            const quint64 word = noise.next();
            std::memcpy(chunk.data() + i, &word, size_t(std::min<qint64>(8, size - i)));
        }
        if (file.write(chunk.constData(), size) != size)
            return false;
        written += size;
    }
    return true;
}

bool sameContents(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    for (qint64 offset = 0; offset < first.size(); offset += kChunkBytes) {
        const qint64 size = std::min(kChunkBytes, first.size() - offset);
        uchar* x = first.map(offset, size);
        uchar* y = second.map(offset, size);
        const bool same = x && y && std::memcmp(x, y, size_t(size)) == 0;
        if (x)
            first.unmap(x);
        if (y)
            second.unmap(y);
        if (!same)
            return false;
    }
    return true;
}

namespace
{

// /proc/net/tcp shows an address as the 32-bit word in memory, in network order, printed
// in hex, and a port as four hex digits.
QByteArray procAddress(const QHostAddress& address)
{
    return QByteArray::number(qToBigEndian(address.toIPv4Address()), 16)
        .rightJustified(8, '0')
        .toUpper();
}

QByteArray procEndpoint(const QHostAddress& address, quint16 port)
{
    return procAddress(address) + ':' +
           QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
}

// Connection states in /proc/net/tcp.
const QByteArray kEstablishedState = QByteArrayLiteral("01");
const QByteArray kListenState = QByteArrayLiteral("0A");

QList<QList<QByteArray>> tcpTable()
{
    QList<QList<QByteArray>> rows;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (table.open(QIODevice::ReadOnly))
        for (const QByteArray& line : table.readAll().split('\n'))
            rows.append(line.simplified().split(' '));
    return rows;
}

} // namespace

bool waitListening(const QHostAddress& address, quint16 port, int timeoutMs)
{
    const QByteArray wanted = procEndpoint(address, port);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        for (const QList<QByteArray>& fields : tcpTable())
            if (fields.size() > 3 && fields.at(1) == wanted && fields.at(3) == kListenState)
                return true;
        QThread::msleep(5);
    }
    return false;
}

bool hasConnections(const QHostAddress& address)
{
    const QByteArray wanted = procAddress(address) + ':';
    for (const QList<QByteArray>& fields : tcpTable())
        if (fields.size() > 2 &&
            (fields.at(1).startsWith(wanted) || fields.at(2).startsWith(wanted)))
            return true;
    return false;
}

bool isConnected(const QHostAddress& address, quint16 port)
{
    const QByteArray wanted = procEndpoint(address, port);
    for (const QList<QByteArray>& fields : tcpTable())
        if (fields.size() > 3 && (fields.at(1) == wanted || fields.at(2) == wanted) &&
            fields.at(3) == kEstablishedState)
            return true;
    return false;
}

std::optional<qint64> loopbackSentBytes()
{
    // "lo: " then eight figures received (bytes first), then eight sent (bytes first).
    constexpr int kSentBytesField = 8;
    const QByteArray table = fileContents(QStringLiteral("/proc/net/dev"));
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = QByteArray(line).replace(':', ' ').simplified().split(' ');
        bool ok = false;
        const qint64 bytes = fields.value(kSentBytesField + 1).toLongLong(&ok);
        if (fields.first() == "lo" && ok)
            return bytes;
    }
    return std::nullopt;
}

std::optional<long> processMemoryKiB(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    return std::nullopt;
}

long ownPeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString scratchPrefix()
{
    return QDir::temp().filePath(
        QStringLiteral("quillo-bench-%1-").arg(QCoreApplication::applicationPid()));
}

namespace
{

// A process that has ended but not been collected yet (a zombie) counts as gone.
bool isRunning(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

void removeLeftovers()
{
    QDir temp = QDir::temp();
    const QStringList names =
        temp.entryList({QStringLiteral("quillo-bench-*")}, QDir::AllEntries | QDir::Hidden);
    for (const QString& name : names) {
        const QString pid = name.section(QLatin1Char('-'), 2, 2);
        bool number = false;
        pid.toLongLong(&number);
        if (!number || isRunning(pid))
            continue;
        const QFileInfo info(temp.filePath(name));
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else
            temp.remove(name);
    }
}

void settleDisk()
{
    ::sync();
}

Child::Child(const QString& program, const QStringList& arguments, bool measurePeak)
    : base_(childFilesBase())
{
    process_.setStandardOutputFile(base_ + QStringLiteral(".out"));
    process_.setStandardErrorFile(base_ + QStringLiteral(".err"));
    if (measurePeak) {
        peakFile_ = base_ + QStringLiteral(".peak");
        process_.setProgram(QStringLiteral("/usr/bin/time"));
        process_.setArguments(QStringList{QStringLiteral("-f"), QStringLiteral("%M %U %S"),
                                          QStringLiteral("-o"), peakFile_, program} +
                              arguments);
    } else {
        process_.setProgram(program);
        process_.setArguments(arguments);
    }
}

Child::~Child()
{
    if (process_.state() != QProcess::NotRunning)
        kill();
    for (const char* suffix : {".out", ".err", ".peak"})
        QFile::remove(base_ + QLatin1String(suffix));
}

bool Child::start()
{
    process_.start();
    return process_.waitForStarted(10000);
}

bool Child::wait(int timeoutMs)
{
    const bool ended = process_.waitForFinished(timeoutMs);
    if (!ended)
        kill();
    return ended;
}

bool Child::hasEnded(int waitMs)
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(waitMs);
}

void Child::kill()
{
    if (const qint64 program = programPid(); program > 0)
        ::kill(pid_t(program), SIGKILL);
    process_.kill();
    process_.waitForFinished(5000);
}

void Child::terminate()
{
    if (const qint64 program = programPid(); program > 0)
        ::kill(pid_t(program), SIGTERM);
}

qint64 Child::programPid() const
{
    const qint64 pid = process_.processId();
    if (pid <= 0 || peakFile_.isEmpty())
        return pid;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    return children.open(QIODevice::ReadOnly) ? children.readAll().trimmed().toLongLong() : 0;
}

QByteArray Child::output() const
{
    return fileContents(base_ + QStringLiteral(".out"));
}

QByteArray Child::errors() const
{
    return fileContents(base_ + QStringLiteral(".err"));
}

QList<QByteArray> Child::timeFigures() const
{
    QFile file(peakFile_);
    if (peakFile_.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    // A program that ended with a status other than 0 has a line about it first.
    return file.readAll().trimmed().split('\n').last().simplified().split(' ');
}

std::optional<long> Child::peakKiB() const
{
    bool ok = false;
    const long kib = timeFigures().value(0).toLong(&ok);
    return ok ? std::optional<long>(kib) : std::nullopt;
}

std::optional<double> Child::cpuSeconds() const
{
    const QList<QByteArray> figures = timeFigures();
    bool user = false;
    bool system = false;
    const double seconds = figures.value(1).toDouble(&user) + figures.value(2).toDouble(&system);
    return user && system ? std::optional<double>(seconds) : std::nullopt;
}

Heartbeat::Heartbeat(QObject* parent) : QObject(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, &Heartbeat::tick);
    // The thread's own line: time on the CPU, time waiting on a run queue, time slices.
    schedstat_ = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
}

Heartbeat::~Heartbeat()
{
    if (schedstat_ >= 0)
        ::close(schedstat_);
}

void Heartbeat::start()
{
    longestTurns_.clear();
    longest_ = {};
    ticks_ = 0;
    stops_.start();
    last_ = now();
    timer_.start();
}

void Heartbeat::stop()
{
    tick();
    timer_.stop();
    stops_.stop();
    for (Turn& turn : longestTurns_)
        turn.stopped = stops_.stoppedWithin(turn.began, turn.began + turn.wall, turn.cpu);
    const auto own = [](const Turn& turn) { return turn.wall - turn.stopped; };
    for (const Turn& turn : longestTurns_)
        if (own(turn) > own(longest_))
            longest_ = turn;
}

Heartbeat::Times Heartbeat::now() const
{
    Times times;
    times.wall = MachineStops::now();
    times.cpu = ::sched_getcpu();
    // The thread's own CPU clock is brought up to date as it is read; the time on a CPU
    // that getrusage() gives is spread over ticks, and lags or leaps by a few milliseconds.
    timespec cpu{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) == 0)
        times.running = qint64(cpu.tv_sec) * 1000000000 + cpu.tv_nsec;
    times.queued = MachineStops::queuedTime(schedstat_);
    return times;
}

void Heartbeat::tick()
{
    // Enough that a turn the host stretched cannot push out the loop's own longest.
    constexpr std::size_t kKept = 64;
    const Times times = now();
    Turn turn;
    turn.wall = times.wall - last_.wall;
    turn.running = times.running - last_.running;
    turn.queued = times.queued - last_.queued;
    turn.began = last_.wall;
    turn.cpu = times.cpu == last_.cpu ? times.cpu : -1;
    last_ = times;
    ++ticks_;
    const auto longer = [](const Turn& a, const Turn& b) { return a.wall > b.wall; };
    if (longestTurns_.size() == kKept) {
        if (!longer(turn, longestTurns_.back()))
            return;
        longestTurns_.pop_back();
    }
    longestTurns_.insert(std::upper_bound(longestTurns_.begin(), longestTurns_.end(), turn, longer),
                         turn);
}
