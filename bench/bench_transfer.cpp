// Measures Quillo's transfers over loopback (or over a veth pair between two network
// namespaces, see below) against a plain nc copy of the same file made
// in the same run and then synced to the disk, as Quillo's receiver syncs every file, and
// prints one table of the figures against their goals:
//
//   1  a file sent by `quillo send` to `quillo receive --once`, both processes
//   2  the same file sent by the window (offscreen, in a process of its own)
//   3  the peak memory of each of those processes
//   4  the memory a sender takes while a receiver reads slowly
//   5  the longest turn of the sending event loop, for the window and for the engine
//      sender that `quillo send` runs (here in the benchmark's own process)
//   6  1000 small files sent by `quillo send` to `quillo receive`
//   7  the big file sent privately (TLS on port 1053) by `quillo send` to `quillo receive`,
//      against the plain transfer of row 1 and against nc
//   8  the peak memory of both processes of row 7
//   9  1000 small files sent privately, over one connection
//  10  a folder of 10,000 small files in 100 subfolders sent privately, as one item
//  11  a folder of the big file and 1000 small files sent privately, against nc copying
//      as many bytes, in rounds of its own, the fastest counting
//  12  the big file sent privately by `quillo send --retry`, cut at 70 % by killing the
//      receiver, which then starts again: the bytes on loopback after the restart
//  13  the memory of `quillo receive` before, during and after a flood of connections to
//      its private port that say next to nothing, and a file it then still takes
//  14  the big file sent by one `quillo send` to three `quillo receive` at once, each with
//      an identity of its own, so privately: the whole time against nc to one receiver
//  15  the big file sent by `quillo send --localsend` to the LocalSend-protocol test device
//      (tests/localsend/peer.py, which syncs what it takes, as nc's copy is synced), against
//      nc, and the device's own sender to it in the same rounds: whether the device is what
//      holds the transfer back; and the peak memory of quillo send
//  16  the longest turn of the receiving event loop during rows 7 and 10: their receiver is
//      a copy of this program that runs `quillo receive`'s own code with a heartbeat beside
//      it (--timed-receiver); and of the window's event loop as it takes row 10's folder
//      (--window-receiver)
//      Rows 5 and 16 judge a turn without the time the host stopped the loop's CPU in it:
//      a virtual machine's host may take a CPU away, or every CPU at once, for a turn of
//      the loop or an idle wait alike (see machinestops.h); the figure says how much
//  17  the big file sent privately with each side pinned to a core of its own (taskset:
//      sender on CPU 0, receiver on CPU 1), each side's CPU time and the rate it alone would
//      allow, against `dd bs=1M conv=fsync` writing as many bytes in the same run
//
// Rows 1 to 6 measure the plain protocol: their receivers find the private port (and
// LocalSend's) taken, so the sender finds it refused and sends in the clear, as to a copy
// that speaks plain only.
// The big file is sent in rounds, nc, quillo send and the window in turn, and the fastest
// of each counts. Every received file is compared with what was sent. The benchmark ends
// with 0 whether the goals are met or not, and with 1 when a file arrived damaged: under
// its final name but not as sent, or not at all although its transfer was reported done.
//
//   bench_transfer [MiB]        (default 1024)
//   BENCH_ROWS=4,12 bench_transfer [MiB]   only those rows
//   BENCH_LINK=veth scripts/bench.sh [MiB]  over veth
//
// Over veth, scripts/bench.sh makes two network namespaces joined by a veth pair and runs
// the benchmark in the receiving one, naming the sending one in BENCH_SENDER_NETNS; every
// sending process is started there (nsenter). Receivers take 10.29.1.N and senders
// 10.29.2.N for the loopback address 127.0.0.N of each row. The rows that run inside the
// benchmark's own process or count loopback's bytes (5b, 12, 13) and the LocalSend row
// (15) are skipped.

#include "benchtools.h"
#include "cli/terminalprogress.h"
#include "connectionflood.h"
#include "plain/protocol.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "secure/privatemessage.h"
#include "sending/filesender.h"
#include "sending/sendbatch.h"
#include "text/speedtext.h"
#include "timedreceiver.h"
#include "windowreceiver.h"
#include "windowsender.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <unistd.h>
#include <vector>

namespace
{

// Whether the rows run over a veth pair (BENCH_LINK=veth) instead of loopback.
bool overVeth()
{
    static const bool veth = qgetenv("BENCH_LINK") == "veth";
    return veth;
}

// Each measurement has addresses of its own, so that no connection of one can meet a
// lingering connection of another: 127.0.0.N on loopback; over veth, 10.29.1.N on the
// receiving side and 10.29.2.N on the sending side (scripts/bench.sh routes both ranges).
QString receiverSide(int n)
{
    return (overVeth() ? QStringLiteral("10.29.1.%1") : QStringLiteral("127.0.0.%1")).arg(n);
}

QString senderSide(int n)
{
    return (overVeth() ? QStringLiteral("10.29.2.%1") : QStringLiteral("127.0.0.%1")).arg(n);
}

const QString kNcReceiver = receiverSide(50);
const QString kNcSender = senderSide(51);
const QString kProcessReceiver = receiverSide(52);
const QString kProcessSender = senderSide(53);
const QString kWindowReceiver = receiverSide(54);
const QString kWindowSender = senderSide(55);
const QString kSlowReceiver = receiverSide(56);
const QString kSlowSender = senderSide(57);
const QString kEngineReceiver = receiverSide(58);
const QString kEngineSender = senderSide(59);
const QString kPrivateReceiver = receiverSide(62);
const QString kPrivateSender = senderSide(63);
const QString kPinnedReceiver = receiverSide(64);
const QString kPinnedSender = senderSide(65);
const QString kFolderReceiver = receiverSide(86);
const QString kFolderSender = senderSide(87);
const QString kBigFolderReceiver = receiverSide(88);
const QString kBigFolderSender = senderSide(89);
const QString kWindowFolderReceiver = receiverSide(92);
const QString kWindowFolderSender = senderSide(93);
const QString kCutReceiver = receiverSide(90);
const QString kCutSender = senderSide(91);
const QString kFanOutReceivers[] = {receiverSide(100), receiverSide(101), receiverSide(102)};
const QString kFanOutSender = senderSide(103);
const QString kDevice = receiverSide(110);
const QString kFloodReceiver = receiverSide(150);
const QString kFloodSender = senderSide(151);
// The flood comes from 127.0.0.160 onwards, one address after the other.
constexpr quint32 kFloodFirstSource = 0x7f0000a0;
constexpr int kFloodSources = 16;
// The many-files runs take the first of these pairs (receiver, sender) that no earlier
// connection still holds: 1000 connections in a row leave as many in TIME_WAIT.
const std::pair<int, int> kManyPairs[] = {{70, 71}, {72, 73}, {74, 75}, {76, 77},
                                          {78, 79}, {80, 81}, {82, 83}, {84, 85}};
constexpr quint16 kNcPort = 5099;

constexpr int kRounds = 3;
constexpr int kSmallFiles = 1000;
constexpr int kManyRounds = 3;
constexpr int kManyTimeoutMs = 60000;
constexpr qint64 kSmallFileBytes = 4096;
constexpr int kSlowSeconds = 5;
constexpr qint64 kSlowReadBytes = 64 * 1024;
constexpr int kSlowReadIntervalMs = 20;

constexpr double kSpeedGoal = 2.0;
constexpr double kSpeedFloor = 1.5;
constexpr double kWindowSpeedGoal = 1.0;
constexpr long kMemoryGoalKiB = 64 * 1024;
constexpr long kSlowGrowthGoalKiB = 4 * 1024;
constexpr double kTurnGoalMs = 20;
constexpr double kManyFilesGoalSeconds = 5;
constexpr double kPrivateManyFilesGoalSeconds = 0.8;
constexpr double kPrivateToPlainGoal = 0.7;
constexpr double kPrivateToNcGoal = 1.5;
constexpr int kTreeFolders = 100;
constexpr int kTreeFilesPerFolder = 100;
constexpr double kTreeGoalSeconds = 3;
constexpr double kBigFolderToNcGoal = 1.3;
// The pinned row: the cores of the two sides, and what a 10 GbE link carries; where the
// disk is slower, the transfer need only come within 10 % of it.
constexpr int kPinnedSenderCpu = 0;
constexpr int kPinnedReceiverCpu = 1;
constexpr double kLinkBytesPerSecond = 1.17e9;
constexpr double kDiskShareGoal = 0.9;
// The cut row: where the receiver is killed, how long quillo send keeps trying, and what
// may cross loopback after the restart.
constexpr double kCutShare = 0.70;
constexpr int kCutRetrySeconds = 120;
constexpr double kCutWireShare = 0.32;
constexpr qint64 kCutWireSlackBytes = 1 << 20;
// The flood row: how many connections, how many open at once, how often the receiver's
// memory is read, and how long it is given to settle: until it has not fallen for a while.
constexpr int kFloodConnections = 20000;
constexpr int kFloodAtOnce = 128;
constexpr auto kFloodLimit = std::chrono::minutes(5);
constexpr auto kFloodSampleInterval = std::chrono::milliseconds(100);
constexpr auto kFloodSettled = std::chrono::seconds(5);
constexpr auto kFloodSettleLimit = std::chrono::seconds(30);
// Less than this is no fall: a page or two comes and goes all the time.
constexpr long kFloodFallKiB = 64;
constexpr long kFloodGrowthGoalKiB = 5 * 1024;
// Three receivers at once take at least as long as one: no slower than nc to each in turn.
constexpr double kFanOutToNcGoal = 1.0 / 3;
constexpr double kDeviceToNcGoal = 1.0;
constexpr quint16 kDevicePort = 53317;
// How long the small file sent after the flood may take.
constexpr int kFloodFileSeconds = 60;
// The share of the flood's connections the receiver must have taken for the row to count.
constexpr double kFloodTakenShare = 0.99;

QString mib(long kib)
{
    return QString::number(kib / 1024.0, 'f', 1) + QStringLiteral(" MiB");
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 2) + QStringLiteral(" s");
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("missed");
}

struct Row {
    QString name;
    QString figure;
    QString goal;
    QString result;
};

// A row that cannot run over veth, and why.
Row skippedOverVeth(const QString& name, const QString& why)
{
    return {name, QStringLiteral("not over veth: ") + why, QStringLiteral("-"),
            QStringLiteral("skipped")};
}

// Which end of a transfer a process is: over veth, a sending one runs in the sending
// network namespace.
enum class Side { Sending, Receiving };

// No pinning to a CPU.
constexpr int kAnyCpu = -1;

struct Bench {
    QString quillo;
    QString self;
    QTemporaryDir dir{scratchPrefix() + QStringLiteral("XXXXXX")};
    QString payload;
    qint64 size = 0;
    QString inbox;
    QProcessEnvironment environment;
    // Over veth, the sending network namespace (a file that nsenter takes); empty on
    // loopback, where every process shares the benchmark's.
    QString senderNetns;
    int timeoutMs = 0;
    int putAsideCount = 0;
    bool damaged = false;

    void log(const QString& text) const
    {
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    }
    // Something went wrong that is not a measurement: said at once, on standard error.
    void complain(const QString& text, const Child* child = nullptr) const
    {
        std::fprintf(stderr, "bench: %s\n", qPrintable(text));
        if (child && !child->errors().isEmpty())
            std::fprintf(stderr, "%s", child->errors().constData());
    }
    // Removing many files at once makes the next ones slow to make on some file systems
    // (ext4 without a journal passes over every inode freed in the last half minute each
    // time it makes a file), which would charge a row with the one before's cleaning up.
    // A folder of many files is put aside instead, its large files removed, and goes with
    // the benchmark's folder at the end.
    void putAside(const QString& folder)
    {
        QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            if (QFileInfo(file).size() > kSmallFileBytes)
                QFile::remove(file);
        }
        const QString aside = dir.filePath(QStringLiteral("aside"));
        QDir().mkpath(aside);
        if (!QDir().rename(folder, QDir(aside).filePath(QString::number(putAsideCount++))))
            QDir(folder).removeRecursively();
    }
    void emptyInbox() const
    {
        QDir(inbox).removeRecursively();
        QDir().mkpath(inbox);
        settleDisk();
    }
    // The payload's name in the inbox.
    QString inboxPath() const { return QDir(inbox).filePath(QFileInfo(payload).fileName()); }
    // Checks the file received into the inbox, under the payload's name unless the receiver
    // said another, then removes it. A file under its final name, or one that either side
    // called done, must be whole; otherwise the transfer only failed.
    bool receivedWhole(const QString& what, bool saidDone, QString received = {})
    {
        if (received.isEmpty())
            received = inboxPath();
        const bool whole = sameContents(payload, received);
        if (!whole) {
            damaged = damaged || saidDone || QFileInfo::exists(received);
            complain(QStringLiteral("%1: the received file is not the one sent (%2 of %3 bytes)")
                         .arg(what)
                         .arg(QFileInfo(received).size())
                         .arg(size));
        }
        QFile::remove(received);
        return whole;
    }
    // program with arguments on its side of the link, on one CPU unless kAnyCpu; nsenter
    // and taskset each set the process up and then become the program.
    std::unique_ptr<Child> sideChild(Side side, const QString& program,
                                     const QStringList& arguments, bool measurePeak,
                                     int cpu = kAnyCpu) const
    {
        QStringList command;
        if (side == Side::Sending && !senderNetns.isEmpty())
            command << QStringLiteral("nsenter") << QStringLiteral("--net=") + senderNetns;
        if (cpu != kAnyCpu)
            command << QStringLiteral("taskset") << QStringLiteral("-c") << QString::number(cpu);
        command << program << arguments;
        auto child = std::make_unique<Child>(command.first(), command.mid(1), measurePeak);
        child->setEnvironment(environment);
        return child;
    }
    std::unique_ptr<Child> quilloChild(Side side, const QStringList& arguments, bool measurePeak,
                                       int cpu = kAnyCpu) const
    {
        return sideChild(side, quillo, arguments, measurePeak, cpu);
    }
    // `quillo send --bind from --to to` of paths, on the sending side.
    std::unique_ptr<Child> quilloSend(const QString& from, const QString& to,
                                      const QStringList& paths, bool measurePeak,
                                      int cpu = kAnyCpu) const
    {
        return quilloChild(Side::Sending,
                           QStringList{QStringLiteral("send"), QStringLiteral("--bind"), from,
                                       QStringLiteral("--to"), to} +
                               paths,
                           measurePeak, cpu);
    }
    // `quillo receive` with arguments, or, with a turn file, this program running the same
    // code with a heartbeat beside it (see timedreceiver.h).
    std::unique_ptr<Child> receiverChild(const QStringList& arguments, bool measurePeak,
                                         const QString& turnFile, int cpu = kAnyCpu) const
    {
        if (turnFile.isEmpty())
            return quilloChild(Side::Receiving, QStringList{QStringLiteral("receive")} + arguments,
                               measurePeak, cpu);
        return sideChild(
            Side::Receiving, self,
            QStringList{QStringLiteral("--timed-receiver"), turnFile, QStringLiteral("receive")} +
                arguments,
            measurePeak, cpu);
    }
    // `quillo receive --once` into the inbox, listening when it returns; on the plain port
    // only unless privately. With a turn file, it times its event loop.
    std::unique_ptr<Child> startReceiver(const QString& address, bool privately = false,
                                         const QString& turnFile = {}, int cpu = kAnyCpu)
    {
        auto receiver = receiverChild({QStringLiteral("--once"), QStringLiteral("--dir"), inbox,
                                       QStringLiteral("--bind"), address},
                                      true, turnFile, cpu);
        if (!privately)
            takePrivatePort(address);
        const quint16 port = privately ? kPrivatePort : kFilePort;
        if (!receiver->start() || !waitListening(QHostAddress(address), port, 10000)) {
            complain(QStringLiteral("quillo receive did not start listening on %1").arg(address),
                     receiver.get());
            return nullptr;
        }
        return receiver;
    }
    // Holds the private port of address without listening on it, so that a receiver there
    // cannot have it and a sender finds it refused; and LocalSend's port, which the
    // receiver would serve too, and which the window tries when the private port refuses,
    // as a copy that speaks plain only does not serve it.
    void takePrivatePort(const QString& address)
    {
        if (privatePortTaken.contains(address))
            return;
        for (const quint16 port : {kPrivatePort, kDevicePort}) {
            auto* socket = new QTcpSocket;
            if (!socket->bind(QHostAddress(address), port, QAbstractSocket::DontShareAddress))
                complain(QStringLiteral("cannot hold port %1 of %2: %3")
                             .arg(QString::number(port), address, socket->errorString()));
            privatePortTaken.insert(address, socket);
        }
    }
    QMultiHash<QString, QTcpSocket*> privatePortTaken;
};

// ---- 1, 2, 3: one big file, three ways ------------------------------------------------

struct Copy {
    double seconds = 0;
    bool ok = false;
};

// Quillo's receiver writes a file through to the disk before it takes its name; the
// yardstick does the same, or it would be measuring the page cache against the disk.
bool syncFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && ::fsync(file.handle()) == 0;
}

Copy ncCopy(Bench& bench)
{
    bench.emptyInbox();
    const QString copy = QDir(bench.inbox).filePath(QStringLiteral("nc.bin"));
    Child listener(QStringLiteral("nc"),
                   {QStringLiteral("-l"), kNcReceiver, QString::number(kNcPort)});
    listener.setStandardInputFile(QProcess::nullDevice());
    listener.setStandardOutputFile(copy);
    if (!listener.start() || !waitListening(QHostAddress(kNcReceiver), kNcPort, 10000)) {
        bench.complain(QStringLiteral("nc did not start listening"), &listener);
        return {};
    }
    const std::unique_ptr<Child> sender =
        bench.sideChild(Side::Sending, QStringLiteral("nc"),
                        {QStringLiteral("-N"), QStringLiteral("-s"), kNcSender, kNcReceiver,
                         QString::number(kNcPort)},
                        false);
    sender->setStandardInputFile(bench.payload);
    QElapsedTimer timer;
    timer.start();
    const bool ended = sender->start() && sender->wait(bench.timeoutMs) &&
                       listener.wait(bench.timeoutMs) && syncFile(copy);
    Copy result{timer.nsecsElapsed() / 1e9, ended && sender->succeeded()};
    if (!result.ok || !sameContents(bench.payload, copy)) {
        bench.complain(QStringLiteral("the nc copy failed"), sender.get());
        result.ok = false;
    }
    QFile::remove(copy);
    return result;
}

// The longest turn of an event loop, what the thread did meanwhile, and how long the host
// stopped its CPU in it (a turn is judged without that).
struct Turn {
    double ms = 0;
    double runningMs = 0;
    double queuedMs = 0;
    double stoppedMs = 0;

    double ownMs() const { return ms - stoppedMs; }
};

Turn turnOf(const Heartbeat& heartbeat)
{
    return {heartbeat.longestMs(), heartbeat.longestRunningMs(), heartbeat.longestQueuedMs(),
            heartbeat.longestStoppedMs()};
}

QString turnText(const Turn& turn)
{
    QString text = QStringLiteral("%1 ms (running %2, waiting for a CPU %3)")
                       .arg(turn.ms, 0, 'f', 1)
                       .arg(turn.runningMs, 0, 'f', 1)
                       .arg(turn.queuedMs, 0, 'f', 1);
    if (turn.stoppedMs > 0)
        text += QStringLiteral(", of which the host stopped its CPU %1 ms, so %2 ms its own")
                    .arg(turn.stoppedMs, 0, 'f', 1)
                    .arg(turn.ownMs(), 0, 'f', 1);
    return text;
}

// A heartbeat's line, as a timed receiver or the window writes it (see timedreceiver.h);
// nothing when its loop never ticked.
std::optional<Turn> turnFromLine(const QByteArray& line)
{
    const QList<QByteArray> figures = line.simplified().split(' ');
    if (figures.size() != 5 || figures.at(4).toLongLong() <= 0)
        return std::nullopt;
    return Turn{figures.at(0).toDouble(), figures.at(1).toDouble(), figures.at(2).toDouble(),
                figures.at(3).toDouble()};
}

// What a timed receiver wrote to its turn file, which goes; nothing when it did not get
// as far as its event loop.
std::optional<Turn> readTurn(const QString& path)
{
    QFile file(path);
    const QByteArray line = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.remove();
    return turnFromLine(line);
}

// The longer of two turns; a missing one counts as none.
std::optional<Turn> longer(const std::optional<Turn>& a, const std::optional<Turn>& b)
{
    if (!a || !b)
        return a ? a : b;
    return a->ownMs() >= b->ownMs() ? a : b;
}

// How quillo send and quillo receive are set to copy the big file.
struct CopyWay {
    QString to;
    QString from;
    bool privately = false;
    bool timedReceiver = false; // the receiver's event loop is timed
    int senderCpu = kAnyCpu;
    int receiverCpu = kAnyCpu;
};

struct ProcessCopy : Copy {
    long senderPeakKiB = 0;
    long receiverPeakKiB = 0;
    double senderCpuSeconds = 0;
    double receiverCpuSeconds = 0;
    std::optional<Turn> receiverTurn;
};

ProcessCopy processCopy(Bench& bench, const CopyWay& way)
{
    bench.emptyInbox();
    ProcessCopy result;
    const QString turnFile =
        way.timedReceiver ? bench.dir.filePath(QStringLiteral("receiver-turn")) : QString();
    const std::unique_ptr<Child> receiver =
        bench.startReceiver(way.to, way.privately, turnFile, way.receiverCpu);
    if (!receiver)
        return result;
    const std::unique_ptr<Child> sender =
        bench.quilloSend(way.from, way.to, {bench.payload}, true, way.senderCpu);
    QElapsedTimer timer;
    timer.start();
    const bool ended =
        sender->start() && sender->wait(bench.timeoutMs) && receiver->wait(bench.timeoutMs);
    result.seconds = timer.nsecsElapsed() / 1e9;
    const bool saidDone =
        sender->output().startsWith("sent\t") || receiver->output().startsWith("received\t");
    // Each side's line ends with how the file went.
    const QByteArray how = way.privately ? "\tprivate\n" : "\tplain\n";
    const bool asMeant = sender->output().endsWith(how) && receiver->output().endsWith(how);
    result.ok = ended && sender->succeeded() && receiver->succeeded() && saidDone && asMeant;
    if (!result.ok)
        bench.complain(
            QStringLiteral("quillo send to quillo receive failed, or went %1: %2")
                .arg(way.privately ? QStringLiteral("in the clear") : QStringLiteral("privately"),
                     QString::fromUtf8(sender->output().trimmed())),
            sender.get());
    result.ok = bench.receivedWhole(QStringLiteral("quillo send"), saidDone) && result.ok;
    result.senderPeakKiB = sender->peakKiB().value_or(0);
    result.receiverPeakKiB = receiver->peakKiB().value_or(0);
    result.senderCpuSeconds = sender->cpuSeconds().value_or(0);
    result.receiverCpuSeconds = receiver->cpuSeconds().value_or(0);
    if (way.timedReceiver)
        result.receiverTurn = readTurn(turnFile);
    return result;
}

struct WindowCopy : Copy {
    Turn longestTurn;
    long windowPeakKiB = 0;
    long windowBeforeKiB = 0;
    long receiverPeakKiB = 0;
};

WindowCopy windowCopy(Bench& bench)
{
    bench.emptyInbox();
    WindowCopy result;
    const std::unique_ptr<Child> receiver = bench.startReceiver(kWindowReceiver);
    if (!receiver)
        return result;
    QTemporaryDir home(bench.dir.filePath(QStringLiteral("window-XXXXXX")));
    const std::unique_ptr<Child> windowProcess =
        bench.sideChild(Side::Sending, bench.self,
                        {QStringLiteral("--window-sender"), bench.payload, kWindowReceiver,
                         kWindowSender, home.path()},
                        true);
    Child& window = *windowProcess;
    const bool ended =
        window.start() && window.wait(bench.timeoutMs + 20000) && receiver->wait(bench.timeoutMs);
    const QList<QByteArray> figures = window.output().trimmed().split(' ');
    result.ok = ended && window.succeeded() && receiver->succeeded() && figures.size() == 8;
    if (result.ok) {
        result.seconds = figures.at(0).toDouble();
        result.longestTurn = {figures.at(1).toDouble(), figures.at(2).toDouble(),
                              figures.at(3).toDouble(), figures.at(4).toDouble()};
        result.windowBeforeKiB = figures.at(6).toLong();
    } else {
        bench.complain(QStringLiteral("the window did not send its file"), &window);
    }
    result.ok = bench.receivedWhole(QStringLiteral("the window"),
                                    window.succeeded() || receiver->succeeded()) &&
                result.ok;
    result.windowPeakKiB = window.peakKiB().value_or(0);
    result.receiverPeakKiB = receiver->peakKiB().value_or(0);
    return result;
}

template <typename T> const T* fastest(const std::vector<T>& runs)
{
    const T* best = nullptr;
    for (const T& run : runs)
        if (run.ok && (!best || run.seconds < best->seconds))
            best = &run;
    return best;
}

QString speedFigure(const QString& what, double ratio, double seconds, double ncSeconds,
                    qint64 size)
{
    return QStringLiteral("%1: %2 x nc (%3, %4 MiB/s; nc %5)")
        .arg(what, QString::number(ratio, 'f', 2), secondsText(seconds),
             QString::number(size / 1048576.0 / seconds, 'f', 0), secondsText(ncSeconds));
}

// ---- 4: a receiver that reads slowly ----------------------------------------------------

void slowReceiver(Bench& bench, std::vector<Row>& rows)
{
    QTcpServer server;
    if (!server.listen(QHostAddress(kSlowReceiver), kFilePort)) {
        bench.complain(QStringLiteral("the slow receiver cannot listen: ") + server.errorString());
        return;
    }
    const std::unique_ptr<Child> sender =
        bench.quilloSend(kSlowSender, kSlowReceiver, {bench.payload}, false);
    QTcpSocket* connection = nullptr;
    long baseKiB = 0;
    long highestKiB = 0;
    long peakKiB = 0;
    qint64 taken = 0;
    QEventLoop loop;
    QTimer drain;
    QTimer sample;
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&server, &QTcpServer::newConnection, &loop, [&] {
        connection = server.nextPendingConnection();
        connection->setReadBufferSize(kSlowReadBytes);
        baseKiB = highestKiB = processMemoryKiB(sender->pid()).value_or(0);
        connection->write(acceptanceLine());
        drain.start(kSlowReadIntervalMs);
        sample.start(10);
        end.start(kSlowSeconds * 1000);
    });
    QObject::connect(&drain, &QTimer::timeout, &loop,
                     [&] { taken += connection->read(kSlowReadBytes).size(); });
    QObject::connect(&sample, &QTimer::timeout, &loop, [&] {
        highestKiB = std::max(highestKiB, processMemoryKiB(sender->pid()).value_or(0));
    });
    QObject::connect(&end, &QTimer::timeout, &loop, [&] {
        peakKiB = processMemoryKiB(sender->pid(), "VmHWM").value_or(0);
        drain.stop();
        sample.stop();
        connection->abort();
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit); // no connection came
    if (!sender->start()) {
        bench.complain(QStringLiteral("quillo send did not start"), sender.get());
        return;
    }
    loop.exec();
    sender->wait(10000);
    if (!connection) {
        bench.complain(QStringLiteral("quillo send never reached the slow receiver"), sender.get());
        return;
    }
    const long grewKiB = highestKiB - baseKiB;
    rows.push_back({QStringLiteral("4"),
                    QStringLiteral("slow receiver, %1 s: quillo send grew by %2 KiB while the "
                                   "receiver took %3 (peak %4)")
                        .arg(kSlowSeconds)
                        .arg(grewKiB)
                        .arg(mib(long(taken / 1024)), mib(peakKiB)),
                    QStringLiteral("< %1").arg(mib(kSlowGrowthGoalKiB)),
                    verdict(grewKiB < kSlowGrowthGoalKiB)});
}

// ---- 5: the engine sender's event loop --------------------------------------------------

struct EngineCopy : Copy {
    Turn longestTurn;
    long receiverPeakKiB = 0;
};

// What `quillo send` does, in this process so that a heartbeat can run beside it.
EngineCopy engineCopy(Bench& bench)
{
    bench.emptyInbox();
    EngineCopy result;
    const std::unique_ptr<Child> receiver = bench.startReceiver(kEngineReceiver);
    if (!receiver)
        return result;
    UnseededRandom random;
    FileSender sender(random, QHostAddress(kEngineSender));
    SendBatch batch(sender);
    TerminalProgress progress(false); // quillo send's bar, not on a terminal here
    QObject::connect(&sender, &FileSender::progressed, &sender,
                     [&](qint64 confirmed, qint64 size) { progress.update(confirmed, size); });
    QObject::connect(&sender, &FileSender::speedTicked, &sender, [&](qint64 bytes, int seconds) {
        progress.setSpeed(speedText(bytes, seconds));
    });
    bool sent = false;
    QObject::connect(&batch, &SendBatch::rowFinished, &batch,
                     [&](int, const SendEnd& end) { sent = end.outcome == SendOutcome::Sent; });
    QEventLoop loop;
    Heartbeat heartbeat;
    QElapsedTimer timer;
    QObject::connect(&batch, &SendBatch::finished, &loop, [&] {
        result.seconds = timer.nsecsElapsed() / 1e9;
        heartbeat.stop();
        loop.quit();
    });
    QTimer::singleShot(bench.timeoutMs, &loop, [&] {
        batch.stop();
        heartbeat.stop();
        loop.quit();
    });
    batch.append(bench.payload);
    heartbeat.start();
    timer.start();
    batch.start([] { return std::optional<QString>(kEngineReceiver); });
    loop.exec();
    result.longestTurn = turnOf(heartbeat);
    result.ok = receiver->wait(bench.timeoutMs) && receiver->succeeded() && sent;
    if (!result.ok)
        bench.complain(QStringLiteral("the engine sender did not send its file"), receiver.get());
    result.ok =
        bench.receivedWhole(QStringLiteral("the engine sender"), sent || receiver->succeeded()) &&
        result.ok;
    result.receiverPeakKiB = receiver->peakKiB().value_or(0);
    return result;
}

// ---- 6: many small files -----------------------------------------------------------------

struct ManyRun {
    double seconds = 0;
    bool finished = false; // quillo send ended by itself, with 0
    int confirmed = 0;     // "sent" lines
    int whole = 0;
};

// A pair of addresses that no connection holds any more, waiting up to a minute for one;
// for a private run, one whose private port the benchmark does not hold. Over veth only
// the receiving side's connections can be seen.
std::optional<std::pair<QString, QString>> freePair(const Bench& bench, bool privately)
{
    QElapsedTimer waited;
    waited.start();
    do {
        for (const auto& [receiver, sender] : kManyPairs)
            if (!hasConnections(QHostAddress(receiverSide(receiver))) &&
                !hasConnections(QHostAddress(senderSide(sender))) &&
                !(privately && bench.privatePortTaken.contains(receiverSide(receiver))))
                return std::make_pair(receiverSide(receiver), senderSide(sender));
        QThread::msleep(500);
    } while (waited.elapsed() < 65000);
    return std::nullopt;
}

ManyRun manyFilesRun(Bench& bench, const QStringList& files, QDir inbox, bool privately)
{
    ManyRun run;
    bench.putAside(inbox.path());
    inbox.mkpath(QStringLiteral("."));
    settleDisk();
    const auto pair = freePair(bench, privately);
    if (!pair) {
        bench.complain(QStringLiteral("every address pair for the many-files run is still busy"));
        return run;
    }
    const auto& [receiverAddress, senderAddress] = *pair;
    const std::unique_ptr<Child> receiver =
        bench.quilloChild(Side::Receiving,
                          {QStringLiteral("receive"), QStringLiteral("--dir"), inbox.path(),
                           QStringLiteral("--bind"), receiverAddress},
                          false);
    if (!privately)
        bench.takePrivatePort(receiverAddress);
    const quint16 port = privately ? kPrivatePort : kFilePort;
    if (!receiver->start() || !waitListening(QHostAddress(receiverAddress), port, 10000)) {
        bench.complain(QStringLiteral("quillo receive did not start listening"), receiver.get());
        return run;
    }
    const std::unique_ptr<Child> sender =
        bench.quilloSend(senderAddress, receiverAddress, files, false);
    QElapsedTimer timer;
    timer.start();
    const bool ended = sender->start() && sender->wait(kManyTimeoutMs);
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.finished = ended && sender->succeeded();
    receiver->terminate();
    receiver->wait(10000);

    const QByteArray output = sender->output();
    for (const QString& file : files) {
        const QString received = inbox.filePath(QFileInfo(file).fileName());
        const bool confirmed = output.contains("sent\t" + file.toUtf8() + '\t');
        run.confirmed += confirmed ? 1 : 0;
        if (sameContents(file, received)) {
            ++run.whole;
        } else if (confirmed || QFileInfo::exists(received)) {
            bench.damaged = true;
            bench.complain(QStringLiteral("%1 arrived damaged or not at all").arg(file));
        }
    }
    if (output.contains(privately ? "\tplain\n" : "\tprivate\n")) {
        run.finished = false;
        bench.complain(
            QStringLiteral("files of the %1 run went %2")
                .arg(privately ? QStringLiteral("private") : QStringLiteral("plain"),
                     privately ? QStringLiteral("in the clear") : QStringLiteral("privately")));
    }
    if (!run.finished) {
        const QByteArray errors = sender->errors();
        bench.complain(QStringLiteral("quillo send of %1 files %2 after %3; %4 problems, first: %5")
                           .arg(files.size())
                           .arg(ended ? QStringLiteral("failed") : QStringLiteral("was stopped"))
                           .arg(secondsText(run.seconds))
                           .arg(errors.count('\n'))
                           .arg(QString::fromUtf8(errors.left(errors.indexOf('\n')))));
    }
    return run;
}

// Row 6 in the clear, row 9 privately.
void manyFiles(Bench& bench, std::vector<Row>& rows, bool privately)
{
    const QDir source(bench.dir.filePath(QStringLiteral("many")));
    QDir inbox(bench.dir.filePath(QStringLiteral("many-in")));
    source.mkpath(QStringLiteral("."));
    QStringList files;
    for (int i = 0; i < kSmallFiles; ++i) {
        files.append(source.filePath(QStringLiteral("f%1.bin").arg(i, 4, 10, QLatin1Char('0'))));
        if (!makePayload(files.last(), kSmallFileBytes, quint64(i) + 2)) {
            bench.complain(QStringLiteral("cannot write ") + files.last());
            return;
        }
    }

    // The worst run counts: a batch that is slow now and then is slow for whoever sends it.
    QStringList times;
    double worst = 0;
    int leastConfirmed = kSmallFiles;
    int leastWhole = kSmallFiles;
    bool allFinished = true;
    for (int round = 1; round <= kManyRounds; ++round) {
        const ManyRun run = manyFilesRun(bench, files, inbox, privately);
        bench.log(QStringLiteral("many files%1, round %2: %3, %4 confirmed, %5 whole%6")
                      .arg(privately ? QStringLiteral(" privately") : QString())
                      .arg(round)
                      .arg(secondsText(run.seconds))
                      .arg(run.confirmed)
                      .arg(run.whole)
                      .arg(run.finished ? QString() : QStringLiteral(", not finished")));
        times.append(secondsText(run.seconds));
        worst = std::max(worst, run.seconds);
        leastConfirmed = std::min(leastConfirmed, run.confirmed);
        leastWhole = std::min(leastWhole, run.whole);
        allFinished = allFinished && run.finished;
    }
    const double goal = privately ? kPrivateManyFilesGoalSeconds : kManyFilesGoalSeconds;
    const bool met =
        allFinished && leastConfirmed == kSmallFiles && leastWhole == kSmallFiles && worst < goal;
    rows.push_back({privately ? QStringLiteral("9") : QStringLiteral("6"),
                    QStringLiteral("%1 files of 4 KiB, quillo send%2: %3 (slowest of %4 counts); "
                                   "fewest confirmed %5, fewest whole %6")
                        .arg(kSmallFiles)
                        .arg(privately ? QStringLiteral(" privately") : QString())
                        .arg(times.join(QStringLiteral(" / ")))
                        .arg(kManyRounds)
                        .arg(leastConfirmed)
                        .arg(leastWhole),
                    QStringLiteral("< %1 s, every file whole").arg(goal), verdict(met)});
    bench.putAside(source.path());
    bench.putAside(inbox.path());
}

// ---- 10, 11: folders -----------------------------------------------------------------------

// Writes files into folder/Tree: perFolder small files in each of folders subfolders.
QStringList makeTree(const QString& root, int folders, int perFolder)
{
    QStringList files;
    for (int f = 0; f < folders; ++f) {
        const QString folder =
            QStringLiteral("%1/part %2").arg(root).arg(f, 3, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int i = 0; i < perFolder; ++i) {
            files.append(QStringLiteral("%1/f%2.bin").arg(folder).arg(i, 3, 10, QLatin1Char('0')));
            if (!makePayload(files.last(), kSmallFileBytes, quint64(f * perFolder + i) + 7))
                return {};
        }
    }
    return files;
}

struct FolderRun {
    double seconds = 0;
    bool ok = false;
    std::optional<Turn> receiverTurn;
};

// quillo send of the folder root from one address to another, timed: ok when it ended
// well and privately.
struct FolderSend {
    std::unique_ptr<Child> sender;
    double seconds = 0;
    bool ok = false;
};

FolderSend sendPrivately(Bench& bench, const QString& from, const QString& to, const QString& root)
{
    FolderSend send;
    send.sender = bench.quilloSend(from, to, {root}, true);
    QElapsedTimer timer;
    timer.start();
    const bool ended = send.sender->start() && send.sender->wait(bench.timeoutMs * 2);
    send.seconds = timer.nsecsElapsed() / 1e9;
    send.ok = ended && send.sender->succeeded() && !send.sender->output().contains("\tplain\n");
    return send;
}

// Whether the send went well and every file of the folder root arrived whole in inbox,
// under the same path; one there but not whole is damage. What did not is said, as what.
bool arrivedWhole(Bench& bench, const FolderSend& send, const QString& what,
                  const QStringList& files, const QString& root, const QString& inbox)
{
    const QDir parent = QFileInfo(root).dir();
    int whole = 0;
    for (const QString& file : files) {
        const QString received = QDir(inbox).filePath(parent.relativeFilePath(file));
        if (sameContents(file, received))
            ++whole;
        else if (QFileInfo::exists(received))
            bench.damaged = true;
    }
    if (send.ok && whole == files.size())
        return true;
    bench.complain(
        QStringLiteral("%1 %2: %3 of %4 files whole").arg(what, root).arg(whole).arg(files.size()),
        send.sender.get());
    return false;
}

// quillo send of the folder root to quillo receive, privately; every file must arrive
// under the same path inside the received folder. A timed receiver times its event loop.
FolderRun sendFolder(Bench& bench, const QString& root, const QStringList& files, const QString& to,
                     const QString& from, bool timedReceiver = false)
{
    FolderRun run;
    const QString inbox = bench.dir.filePath(QStringLiteral("folder-in"));
    QDir(inbox).removeRecursively();
    QDir().mkpath(inbox);
    settleDisk();
    const QString turnFile =
        timedReceiver ? bench.dir.filePath(QStringLiteral("folder-turn")) : QString();
    const std::unique_ptr<Child> receiver = bench.receiverChild(
        {QStringLiteral("--dir"), inbox, QStringLiteral("--bind"), to}, true, turnFile);
    if (!receiver->start() || !waitListening(QHostAddress(to), kPrivatePort, 10000)) {
        bench.complain(QStringLiteral("quillo receive did not start listening"), receiver.get());
        return run;
    }
    const FolderSend send = sendPrivately(bench, from, to, root);
    run.seconds = send.seconds;
    receiver->terminate();
    receiver->wait(10000);
    if (timedReceiver)
        run.receiverTurn = readTurn(turnFile);
    run.ok = arrivedWhole(bench, send, QStringLiteral("the folder"), files, root, inbox);
    bench.putAside(inbox);
    return run;
}

// The same folder sent privately to the window, whose event loop it times for row 16; the
// window knows the sender as a friend.
FolderRun windowFolderRun(Bench& bench, const QString& root, const QStringList& files)
{
    FolderRun run;
    const QString home = bench.dir.filePath(QStringLiteral("window-receiver"));
    QDir(home).removeRecursively();
    QDir().mkpath(home);
    settleDisk();
    const std::unique_ptr<Child> window = bench.sideChild(
        Side::Receiving, bench.self,
        {QStringLiteral("--window-receiver"), home, kWindowFolderReceiver, kWindowFolderSender},
        true);
    if (!window->start() ||
        !waitListening(QHostAddress(kWindowFolderReceiver), kPrivatePort, 10000)) {
        bench.complain(QStringLiteral("the window did not start listening"), window.get());
        return run;
    }
    const FolderSend send = sendPrivately(bench, kWindowFolderSender, kWindowFolderReceiver, root);
    run.seconds = send.seconds;
    window->terminate();
    if (window->wait(10000))
        run.receiverTurn = turnFromLine(window->output());
    run.ok = arrivedWhole(bench, send, QStringLiteral("the window receiving"), files, root,
                          QDir(home).filePath(QStringLiteral("in"))) &&
             run.receiverTurn.has_value();
    if (!run.receiverTurn)
        bench.complain(QStringLiteral("the window did not tell its loop's turns"), window.get());
    else if (!run.ok && !window->errors().isEmpty())
        bench.complain(QStringLiteral("the window said"), window.get());
    bench.putAside(home);
    return run;
}

// Rows 10 and 11 send folders as a friend does: a sender outside the receiver's address book
// may make fewer files and folders over one connection than row 10 sends.
bool knowFolderSenders()
{
    SettingsStore settings(SettingsStore::userFilePath());
    int slot = 0;
    for (const QString& sender : {kFolderSender, kBigFolderSender}) {
        const QString section = QStringLiteral("IPaddress%1").arg(slot++);
        settings.write(section, QStringLiteral("Name"), QStringLiteral("folder sender ") + sender);
        settings.write(section, QStringLiteral("IPaddress"), sender);
    }
    return QDir().mkpath(QFileInfo(settings.fileName()).path()) && settings.save();
}

// What row 10 tells row 16: the folder as quillo receive and as the window took it.
struct TreeRuns {
    FolderRun received;
    FolderRun window;
};

// Row 10, then the same folder to the window, for row 16 (its time is for information).
TreeRuns treeRow(Bench& bench, std::vector<Row>& rows)
{
    const QString tree = bench.dir.filePath(QStringLiteral("tree/Tree"));
    const QStringList treeFiles = makeTree(tree, kTreeFolders, kTreeFilesPerFolder);
    TreeRuns runs;
    runs.received = sendFolder(bench, tree, treeFiles, kFolderReceiver, kFolderSender, true);
    runs.window = windowFolderRun(bench, tree, treeFiles);
    const FolderRun& small = runs.received;
    rows.push_back(
        {QStringLiteral("10"),
         QStringLiteral("a folder of %1 files of 4 KiB in %2 subfolders, privately: %3 (the "
                        "window took it in %4)")
             .arg(treeFiles.size())
             .arg(kTreeFolders)
             .arg(small.ok ? secondsText(small.seconds) : QStringLiteral("failed"),
                  runs.window.ok ? secondsText(runs.window.seconds) : QStringLiteral("failed")),
         QStringLiteral("< %1 s, every file whole").arg(kTreeGoalSeconds),
         verdict(small.ok && small.seconds < kTreeGoalSeconds)});
    bench.putAside(bench.dir.filePath(QStringLiteral("tree")));
    return runs;
}

// Row 11: the big file and 1000 small files in one folder, against nc copying as many bytes,
// in rounds as the big file goes alone: the fastest counts, as nc's does.
void mixedRow(Bench& bench, std::vector<Row>& rows, const Copy* nc)
{
    const QString mixed = bench.dir.filePath(QStringLiteral("mixed/Mixed"));
    QStringList mixedFiles = makeTree(mixed, 10, kSmallFiles / 10);
    const QString big = QDir(mixed).filePath(QStringLiteral("big.bin"));
    const bool made = QFile::copy(bench.payload, big);
    mixedFiles.append(big);
    std::optional<double> fastest;
    QStringList times;
    for (int round = 1; made && round <= kRounds; ++round) {
        const FolderRun run =
            sendFolder(bench, mixed, mixedFiles, kBigFolderReceiver, kBigFolderSender);
        times.append(run.ok ? secondsText(run.seconds) : QStringLiteral("failed"));
        if (run.ok && (!fastest || run.seconds < *fastest))
            fastest = run.seconds;
    }
    const double ncSeconds =
        nc ? nc->seconds * (bench.size + kSmallFiles * kSmallFileBytes) / double(bench.size) : 0;
    const double ratio = fastest && ncSeconds > 0 ? ncSeconds / *fastest : 0;
    rows.push_back(
        {QStringLiteral("11"),
         QStringLiteral("a folder of the big file and %1 files of 4 KiB, privately: %2 x nc "
                        "(%3; nc for as many bytes %4), fastest of %5")
             .arg(kSmallFiles)
             .arg(QString::number(ratio, 'f', 2),
                  made ? times.join(QStringLiteral(" / ")) : QStringLiteral("failed"),
                  secondsText(ncSeconds))
             .arg(kRounds),
         QStringLiteral(">= %1 x nc").arg(kBigFolderToNcGoal, 0, 'f', 1),
         verdict(ratio >= kBigFolderToNcGoal)});
    bench.putAside(bench.dir.filePath(QStringLiteral("mixed")));
}

// ---- 12: a cut transfer continues ---------------------------------------------------

struct CutRun {
    double cutPercent = 0;             // of the file, in the part file right after the kill
    qint64 wireBytes = 0;              // on loopback from the restart until the sender ended
    double connectedAfterSeconds = -1; // from the restart to the second connection
    double connectionSeconds = 0;      // from then until the sender ended
    bool senderEnded = false;
    int senderStatus = 0;
    bool privately = false;
    bool whole = false;
    QString savedAs;
};

// `quillo receive` at address, listening on the private port too, with a home of its own,
// so that its key, its data folder and the index of its part files outlast a kill.
std::unique_ptr<Child> startReceiverAtHome(Bench& bench, const QString& home,
                                           const QString& address)
{
    auto receiver = bench.quilloChild(Side::Receiving,
                                      {QStringLiteral("receive"), QStringLiteral("--dir"),
                                       bench.inbox, QStringLiteral("--bind"), address},
                                      false);
    QProcessEnvironment environment = bench.environment;
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    receiver->setEnvironment(environment);
    if (!receiver->start() || !waitListening(QHostAddress(address), kPrivatePort, 10000)) {
        bench.complain(QStringLiteral("quillo receive did not start listening"), receiver.get());
        return nullptr;
    }
    return receiver;
}

// Waits until the part file holds the share of the file at which the row cuts; false when
// the sender ended first, or the transfer crawled.
bool waitForCut(Bench& bench, Child& sender, const QString& part)
{
    const qint64 cutBytes = qint64(bench.size * kCutShare);
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo(part).size() < cutBytes) {
        if (sender.hasEnded(1) || waited.elapsed() > bench.timeoutMs) {
            bench.complain(QStringLiteral("the part file never held %1 % of the file")
                               .arg(kCutShare * 100, 0, 'f', 0),
                           &sender);
            return false;
        }
    }
    return true;
}

// Sends the big file privately, kills the receiver once the part file holds 70 % of it,
// starts it again and counts what crosses loopback until the sender has ended.
CutRun cutRun(Bench& bench)
{
    CutRun run;
    bench.emptyInbox();
    QTemporaryDir home(bench.dir.filePath(QStringLiteral("cut-XXXXXX")));
    std::unique_ptr<Child> receiver = startReceiverAtHome(bench, home.path(), kCutReceiver);
    if (!receiver)
        return run;
    const std::unique_ptr<Child> sender = bench.quilloChild(
        Side::Sending,
        {QStringLiteral("send"), QStringLiteral("--retry"), QString::number(kCutRetrySeconds),
         QStringLiteral("--bind"), kCutSender, QStringLiteral("--to"), kCutReceiver, bench.payload},
        false);
    const QString part = bench.inboxPath() + QStringLiteral(".part");
    if (!sender->start() || !waitForCut(bench, *sender, part))
        return run;
    receiver->kill();
    run.cutPercent = 100.0 * QFileInfo(part).size() / bench.size;

    // Counts every byte of every packet, TCP and TLS headers, ACKs and anything else on
    // loopback included: more than the file's bytes, so the figure errs on the safe side.
    const std::optional<qint64> sentBefore = loopbackSentBytes();
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    receiver = startReceiverAtHome(bench, home.path(), kCutReceiver);
    if (!receiver)
        return run;
    const qint64 limitMs = kCutRetrySeconds * 1000 + bench.timeoutMs;
    bool connected = false;
    while (!connected && !sender->hasEnded(2) && sinceRestart.elapsed() < limitMs)
        connected = isConnected(QHostAddress(kCutReceiver), kPrivatePort);
    const double connectedAfter = sinceRestart.nsecsElapsed() / 1e9;
    run.senderEnded = sender->wait(int(std::max<qint64>(1, limitMs - sinceRestart.elapsed())));
    if (connected) {
        run.connectedAfterSeconds = connectedAfter;
        run.connectionSeconds = sinceRestart.nsecsElapsed() / 1e9 - connectedAfter;
    }
    run.wireBytes = loopbackSentBytes().value_or(0) - sentBefore.value_or(0);
    receiver->terminate();
    receiver->wait(10000);
    run.senderStatus = sender->exitCode();
    run.privately = sender->output().endsWith("\tprivate\n");
    // "received<TAB>saved path<TAB>...": a receiver that did not take the part file over
    // saves under another name.
    const QByteArray received = receiver->output();
    const bool saidDone =
        sender->output().startsWith("sent\t") || received.startsWith("received\t");
    run.savedAs = received.startsWith("received\t")
                      ? QString::fromUtf8(received.split('\t').value(1))
                      : bench.inboxPath();
    run.whole = bench.receivedWhole(QStringLiteral("the cut transfer"), saidDone, run.savedAs);
    return run;
}

void cutRow(Bench& bench, std::vector<Row>& rows)
{
    const CutRun run = cutRun(bench);
    const double share = 100.0 * run.wireBytes / bench.size;
    QString figure =
        QStringLiteral("cut at %1 %, then %2 on the wire after the restart (%3 % of the file); "
                       "%4")
            .arg(run.cutPercent, 0, 'f', 1)
            .arg(mib(long(run.wireBytes / 1024)))
            .arg(share, 0, 'f', 1)
            .arg(!run.whole ? QStringLiteral("not whole")
                 : run.savedAs == bench.inboxPath()
                     ? QStringLiteral("whole")
                     : QStringLiteral("whole as \"%1\"").arg(QFileInfo(run.savedAs).fileName()));
    if (!run.senderEnded)
        figure += QStringLiteral("; quillo send did not end");
    else if (run.senderStatus != 0)
        figure += QStringLiteral("; quillo send ended with %1").arg(run.senderStatus);
    if (run.whole && !run.privately)
        figure += QStringLiteral("; not privately");
    bench.log(
        run.connectedAfterSeconds < 0
            ? QStringLiteral("cut transfer: no second connection")
            : QStringLiteral("cut transfer: the second connection took %1, from %2 after "
                             "the restart")
                  .arg(secondsText(run.connectionSeconds), secondsText(run.connectedAfterSeconds)));
    const bool met = run.whole && run.privately && run.senderEnded && run.senderStatus == 0 &&
                     run.wireBytes <= qint64(bench.size * kCutWireShare) + kCutWireSlackBytes;
    rows.push_back({QStringLiteral("12"), figure,
                    QStringLiteral("<= %1 % + 1 MiB, whole").arg(kCutWireShare * 100, 0, 'f', 0),
                    verdict(met)});
}

// ---- 13: a flood of connections on the private port ----------------------------------

struct FloodRun {
    long beforeKiB = 0;
    long peakKiB = 0;  // the highest reading
    long afterKiB = 0; // once it has settled
    long highWaterKiB = 0;
    double floodSeconds = 0;
    double settleSeconds = 0;
    bool floodEnded = false;
    ConnectionFlood::Counts counts;
    bool running = false; // the receiver, after the flood
    bool tookFile = false;
};

// Floods the receiver's private port from 16 addresses, reading its memory meanwhile.
void floodReceiver(const Child& receiver, FloodRun& run)
{
    QList<QHostAddress> sources;
    for (int i = 0; i < kFloodSources; ++i)
        sources.append(QHostAddress(kFloodFirstSource + quint32(i)));
    ConnectionFlood flood(QHostAddress(kFloodReceiver), kPrivatePort, sources, kFloodConnections,
                          kFloodAtOnce);
    QEventLoop loop;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, &loop, [&] {
        run.peakKiB = std::max(run.peakKiB, processMemoryKiB(receiver.pid()).value_or(0));
    });
    QObject::connect(&flood, &ConnectionFlood::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kFloodLimit, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    sample.start(kFloodSampleInterval);
    flood.start();
    loop.exec();
    run.floodSeconds = timer.nsecsElapsed() / 1e9;
    run.floodEnded = flood.isDone();
    run.counts = flood.counts();
}

// Reads the receiver's memory until it has not fallen for a while, or the time is up; the
// last reading is where it settled.
void settle(const Child& receiver, FloodRun& run)
{
    QElapsedTimer waited;
    QElapsedTimer sinceFall;
    waited.start();
    sinceFall.start();
    long fallenTo = processMemoryKiB(receiver.pid()).value_or(0);
    run.afterKiB = fallenTo;
    while (!sinceFall.hasExpired(std::chrono::milliseconds(kFloodSettled).count()) &&
           !waited.hasExpired(std::chrono::milliseconds(kFloodSettleLimit).count())) {
        QThread::msleep(std::chrono::milliseconds(kFloodSampleInterval).count());
        const std::optional<long> now = processMemoryKiB(receiver.pid());
        if (!now)
            return; // it has ended
        run.afterKiB = *now;
        run.peakKiB = std::max(run.peakKiB, *now);
        if (*now < fallenTo - kFloodFallKiB) {
            fallenTo = *now;
            sinceFall.restart();
        }
    }
    run.settleSeconds = (waited.elapsed() - sinceFall.elapsed()) / 1000.0;
}

// A small file sent privately to the flood's receiver: it must arrive whole, and the
// sender must end with 0 and say it went privately.
bool takesFile(Bench& bench)
{
    const QString file = bench.dir.filePath(QStringLiteral("after-the-flood.bin"));
    const QString received = QDir(bench.inbox).filePath(QFileInfo(file).fileName());
    if (!makePayload(file, kSmallFileBytes, 13)) {
        bench.complain(QStringLiteral("cannot write ") + file);
        return false;
    }
    const std::unique_ptr<Child> sender =
        bench.quilloSend(kFloodSender, kFloodReceiver, {file}, false);
    const bool ended = sender->start() && sender->wait(kFloodFileSeconds * 1000);
    const bool sent = ended && sender->succeeded() && sender->output().endsWith("\tprivate\n");
    const bool whole = sameContents(file, received);
    if (!whole)
        bench.damaged = bench.damaged || sent || QFileInfo::exists(received);
    if (!sent || !whole)
        bench.complain(
            QStringLiteral("after the flood, quillo send %1, and the file %2: %3")
                .arg(!ended ? QStringLiteral("did not end within %1 s").arg(kFloodFileSeconds)
                            : QStringLiteral("ended with %1").arg(sender->exitCode()),
                     whole ? QStringLiteral("arrived") : QStringLiteral("did not"),
                     QString::fromUtf8(sender->output().trimmed())),
            sender.get());
    QFile::remove(received);
    QFile::remove(file);
    return sent && whole;
}

QString floodFigure(const FloodRun& run)
{
    const long grewKiB = run.afterKiB - run.beforeKiB;
    QString figure =
        QStringLiteral("%1 connections from %2 addresses, %3 at once, in %4: %5 before, %6 at "
                       "the peak, %7 after (settled in %8), %9%10 KiB")
            .arg(kFloodConnections)
            .arg(kFloodSources)
            .arg(kFloodAtOnce)
            .arg(QString::number(run.floodSeconds, 'f', 1) + QStringLiteral(" s"),
                 mib(run.beforeKiB), mib(run.peakKiB), mib(run.afterKiB),
                 QString::number(run.settleSeconds, 'f', 1) + QStringLiteral(" s"),
                 grewKiB >= 0 ? QStringLiteral("+") : QString())
            .arg(grewKiB);
    if (!run.floodEnded)
        figure += QStringLiteral("; the flood did not end");
    if (run.counts.connected < kFloodConnections * kFloodTakenShare)
        figure += QStringLiteral("; only %1 connections taken").arg(run.counts.connected);
    figure += !run.running   ? QStringLiteral("; quillo receive ended")
              : run.tookFile ? QStringLiteral("; then took a file privately")
                             : QStringLiteral("; then took no file");
    return figure;
}

void floodRow(Bench& bench, std::vector<Row>& rows)
{
    FloodRun run;
    bench.emptyInbox();
    QTemporaryDir home(bench.dir.filePath(QStringLiteral("flood-XXXXXX")));
    if (const std::unique_ptr<Child> receiver =
            startReceiverAtHome(bench, home.path(), kFloodReceiver)) {
        run.beforeKiB = run.peakKiB = processMemoryKiB(receiver->pid()).value_or(0);
        floodReceiver(*receiver, run);
        settle(*receiver, run);
        run.highWaterKiB = processMemoryKiB(receiver->pid(), "VmHWM").value_or(0);
        run.running = !receiver->hasEnded(0);
        if (!run.running)
            bench.complain(QStringLiteral("quillo receive ended during the flood, with %1")
                               .arg(receiver->exitCode()),
                           receiver.get());
        run.tookFile = run.running && takesFile(bench);
        receiver->terminate();
        receiver->wait(10000);
    }
    bench.log(QStringLiteral("flood: %1 connections taken, %2 closed by the receiver, %3 not "
                             "made, %4 timed out; peak by the kernel %5")
                  .arg(run.counts.connected)
                  .arg(run.counts.closedByPeer)
                  .arg(run.counts.failed)
                  .arg(run.counts.timedOut)
                  .arg(mib(run.highWaterKiB)));
    const bool met = run.floodEnded &&
                     run.counts.connected >= kFloodConnections * kFloodTakenShare &&
                     run.beforeKiB > 0 && run.afterKiB - run.beforeKiB <= kFloodGrowthGoalKiB &&
                     run.running && run.tookFile;
    rows.push_back(
        {QStringLiteral("13"), floodFigure(run),
         QStringLiteral("after <= before + %1, takes a file").arg(mib(kFloodGrowthGoalKiB)),
         verdict(met)});
}

// The rows BENCH_ROWS lists, as "4,12" (3 stands for 3a to 3c): empty for every row.
// ---- 14: the big file to three receivers at once -------------------------------------

// A receiver of its own: its own home, so its own identity and settings, and its own inbox.
std::unique_ptr<Child> startOwnReceiver(Bench& bench, const QString& address, int k, QString* inbox)
{
    const QString home = bench.dir.filePath(QStringLiteral("fan-home%1").arg(k));
    *inbox = bench.dir.filePath(QStringLiteral("fan-in%1").arg(k));
    QDir(*inbox).removeRecursively();
    QDir().mkpath(*inbox);
    QDir().mkpath(home + QStringLiteral("/.config"));
    QProcessEnvironment environment = bench.environment;
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    auto receiver = std::make_unique<Child>(
        bench.quillo,
        QStringList{QStringLiteral("receive"), QStringLiteral("--once"), QStringLiteral("--dir"),
                    *inbox, QStringLiteral("--bind"), address});
    receiver->setEnvironment(environment);
    if (!receiver->start() || !waitListening(QHostAddress(address), kPrivatePort, 30000)) {
        bench.complain(QStringLiteral("quillo receive did not start listening on %1").arg(address),
                       receiver.get());
        return nullptr;
    }
    return receiver;
}

Copy fanOutCopy(Bench& bench)
{
    std::vector<std::unique_ptr<Child>> receivers;
    QStringList inboxes;
    QStringList arguments{QStringLiteral("send"), QStringLiteral("--bind"), kFanOutSender};
    for (int k = 0; k < 3; ++k) {
        QString inbox;
        receivers.push_back(startOwnReceiver(bench, kFanOutReceivers[k], k, &inbox));
        if (!receivers.back())
            return {};
        inboxes.append(inbox);
        arguments << QStringLiteral("--to") << kFanOutReceivers[k];
    }
    settleDisk();
    const std::unique_ptr<Child> sender =
        bench.quilloChild(Side::Sending, arguments << bench.payload, false);
    QElapsedTimer timer;
    timer.start();
    bool ended = sender->start() && sender->wait(3 * bench.timeoutMs);
    for (const std::unique_ptr<Child>& receiver : receivers)
        ended = receiver->wait(bench.timeoutMs) && receiver->succeeded() && ended;
    Copy result{timer.nsecsElapsed() / 1e9, ended && sender->succeeded()};
    const QList<QByteArray> lines = sender->output().trimmed().split('\n');
    const bool allPrivate =
        lines.size() == 3 && std::all_of(lines.cbegin(), lines.cend(), [](const QByteArray& line) {
            return line.startsWith("sent\t") && line.endsWith("\tprivate");
        });
    if (!result.ok || !allPrivate)
        bench.complain(QStringLiteral("quillo send to three receivers failed, or not privately: %1")
                           .arg(QString::fromUtf8(sender->output().trimmed())),
                       sender.get());
    result.ok = result.ok && allPrivate;
    for (const QString& inbox : inboxes)
        result.ok = bench.receivedWhole(QStringLiteral("quillo send to three"), result.ok,
                                        QDir(inbox).filePath(QStringLiteral("payload.bin"))) &&
                    result.ok;
    return result;
}

void fanOutRow(Bench& bench, std::vector<Row>& rows)
{
    const Copy nc = ncCopy(bench);
    const Copy fanOut = fanOutCopy(bench);
    const QString goal = QStringLiteral(">= %1 x nc").arg(kFanOutToNcGoal, 0, 'f', 2);
    if (!nc.ok || !fanOut.ok) {
        rows.push_back({QStringLiteral("14"),
                        QStringLiteral("the big file to 3 receivers at once: failed"), goal,
                        verdict(false)});
        return;
    }
    const double ratio = nc.seconds / fanOut.seconds;
    rows.push_back({QStringLiteral("14"),
                    QStringLiteral("the big file to 3 receivers at once, privately: %1 x nc to "
                                   "one (%2 in all; nc %3)")
                        .arg(QString::number(ratio, 'f', 2), secondsText(fanOut.seconds),
                             secondsText(nc.seconds)),
                    goal, verdict(ratio >= kFanOutToNcGoal)});
}

QSet<int> chosenRows()
{
    QSet<int> rows;
    for (const QByteArray& number : qgetenv("BENCH_ROWS").split(','))
        if (const int row = number.trimmed().toInt(); row > 0)
            rows.insert(row);
    return rows;
}

bool anyChosen(const QSet<int>& chosen, std::initializer_list<int> rows)
{
    return chosen.isEmpty() ||
           std::any_of(rows.begin(), rows.end(), [&](int row) { return chosen.contains(row); });
}

void printTable(std::vector<Row> rows, const QSet<int>& chosen)
{
    // A row's number is the digits its name begins with.
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [&](const Row& row) {
                                  return !anyChosen(chosen, {std::atoi(qPrintable(row.name))});
                              }),
               rows.end());
    int widths[4] = {3, 6, 4, 6};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], int(row.name.size()));
        widths[1] = std::max(widths[1], int(row.figure.size()));
        widths[2] = std::max(widths[2], int(row.goal.size()));
        widths[3] = std::max(widths[3], int(row.result.size()));
    }
    const auto line = [&](const QString& a, const QString& b, const QString& c, const QString& d) {
        std::printf("| %s | %s | %s | %s |\n", qPrintable(a.leftJustified(widths[0])),
                    qPrintable(b.leftJustified(widths[1])), qPrintable(c.leftJustified(widths[2])),
                    qPrintable(d.leftJustified(widths[3])));
    };
    line(QStringLiteral("Row"), QStringLiteral("Figure"), QStringLiteral("Goal"),
         QStringLiteral("Result"));
    line(QString(widths[0], QLatin1Char('-')), QString(widths[1], QLatin1Char('-')),
         QString(widths[2], QLatin1Char('-')), QString(widths[3], QLatin1Char('-')));
    for (const Row& row : rows)
        line(row.name, row.figure, row.goal, row.result);
}

QString memoryVerdict(long kib)
{
    return kib > 0 ? verdict(kib <= kMemoryGoalKiB) : QStringLiteral("not measured");
}

// Rows 7 and 8: the big file privately, against the plain transfer and nc of the same run.
void privateRows(std::vector<Row>& rows, qint64 size, const Copy* nc, const Copy* plain,
                 const ProcessCopy* best, const std::vector<ProcessCopy>& runs)
{
    const QString goal = QStringLiteral(">= %1 x plain and >= %2 x nc")
                             .arg(kPrivateToPlainGoal, 0, 'f', 1)
                             .arg(kPrivateToNcGoal, 0, 'f', 1);
    if (nc && plain && best) {
        const double toPlain = plain->seconds / best->seconds;
        const double toNc = nc->seconds / best->seconds;
        rows.push_back(
            {QStringLiteral("7"),
             QStringLiteral("privately, quillo send -> quillo receive: %1 x plain, %2 x nc (%3, "
                            "%4 MiB/s; plain %5, nc %6), fastest of %7")
                 .arg(QString::number(toPlain, 'f', 2), QString::number(toNc, 'f', 2),
                      secondsText(best->seconds),
                      QString::number(size / 1048576.0 / best->seconds, 'f', 0),
                      secondsText(plain->seconds), secondsText(nc->seconds))
                 .arg(kRounds),
             goal, verdict(toPlain >= kPrivateToPlainGoal && toNc >= kPrivateToNcGoal)});
    } else {
        rows.push_back(
            {QStringLiteral("7"), QStringLiteral("privately: failed"), goal, verdict(false)});
    }
    long sendPeak = 0;
    long receivePeak = 0;
    for (const ProcessCopy& run : runs) {
        sendPeak = std::max(sendPeak, run.senderPeakKiB);
        receivePeak = std::max(receivePeak, run.receiverPeakKiB);
    }
    rows.push_back({QStringLiteral("8"),
                    QStringLiteral("peak memory privately: quillo send %1, quillo receive %2")
                        .arg(mib(sendPeak), mib(receivePeak)),
                    QStringLiteral("<= %1 each").arg(mib(kMemoryGoalKiB)),
                    memoryVerdict(std::max(sendPeak, receivePeak))});
}

// ---- 15: the big file to the LocalSend test device -----------------------------------

std::unique_ptr<Child> startDevice(Bench& bench)
{
    auto device = std::make_unique<Child>(
        QStringLiteral("python3"),
        QStringList{QStringLiteral(QUILLO_LOCALSEND_PEER), QStringLiteral("--bind"), kDevice,
                    QStringLiteral("--port"), QString::number(kDevicePort),
                    QStringLiteral("--folder"), bench.dir.path(), QStringLiteral("--save"),
                    bench.inbox, QStringLiteral("--sync")});
    if (!device->start() || !waitListening(QHostAddress(kDevice), kDevicePort, 30000)) {
        bench.complain(QStringLiteral("the LocalSend test device did not start"), device.get());
        return nullptr;
    }
    return device;
}

// The big file to the device, by quillo send or by the device's own sender.
ProcessCopy deviceCopy(Bench& bench, bool byQuillo)
{
    bench.emptyInbox();
    const std::unique_ptr<Child> sender =
        byQuillo ? bench.quilloChild(Side::Sending,
                                     {QStringLiteral("send"), QStringLiteral("--localsend"),
                                      QStringLiteral("--to"), kDevice, bench.payload},
                                     true)
                 : bench.sideChild(
                       Side::Sending, QStringLiteral("python3"),
                       QStringList{QStringLiteral(QUILLO_LOCALSEND_SENDER), QStringLiteral("--to"),
                                   kDevice, QStringLiteral("--port"), QString::number(kDevicePort),
                                   QStringLiteral("--folder"), bench.dir.path(), bench.payload},
                       false);
    QElapsedTimer timer;
    timer.start();
    const bool ended = sender->start() && sender->wait(bench.timeoutMs);
    ProcessCopy result;
    result.seconds = timer.nsecsElapsed() / 1e9;
    const QByteArray said = byQuillo ? "\tlocalsend\n" : "done taken\n";
    result.ok = ended && sender->succeeded() && sender->output().endsWith(said);
    const QString what = byQuillo ? QStringLiteral("quillo send to the LocalSend test device")
                                  : QStringLiteral("the test device's own sender");
    if (!result.ok)
        bench.complain(what + QStringLiteral(" failed: ") +
                           QString::fromUtf8(sender->output().trimmed()),
                       sender.get());
    result.ok = bench.receivedWhole(what, result.ok) && result.ok;
    result.senderPeakKiB = sender->peakKiB().value_or(0);
    return result;
}

void deviceRows(Bench& bench, std::vector<Row>& rows)
{
    std::vector<Copy> nc;
    std::vector<ProcessCopy> quillo;
    std::vector<ProcessCopy> own;
    if (const std::unique_ptr<Child> device = startDevice(bench)) {
        for (int round = 1; round <= kRounds; ++round) {
            nc.push_back(ncCopy(bench));
            quillo.push_back(deviceCopy(bench, true));
            own.push_back(deviceCopy(bench, false));
            bench.log(QStringLiteral("round %1 to the LocalSend test device: nc %2, quillo send "
                                     "%3, the device's own sender %4")
                          .arg(round)
                          .arg(secondsText(nc.back().seconds), secondsText(quillo.back().seconds),
                               secondsText(own.back().seconds)));
        }
        device->terminate();
        device->wait(10000);
    }
    const Copy* bestNc = fastest(nc);
    const ProcessCopy* best = fastest(quillo);
    const ProcessCopy* bestOwn = fastest(own);
    const QString goal = QStringLiteral(">= %1 x nc").arg(kDeviceToNcGoal, 0, 'f', 1);
    if (bestNc && best && bestOwn) {
        const double ratio = bestNc->seconds / best->seconds;
        rows.push_back({QStringLiteral("15a"),
                        speedFigure(QStringLiteral("quillo send -> LocalSend test device"), ratio,
                                    best->seconds, bestNc->seconds, bench.size) +
                            QStringLiteral("; the device's own sender %1 x nc (%2), fastest of %3")
                                .arg(QString::number(bestNc->seconds / bestOwn->seconds, 'f', 2),
                                     secondsText(bestOwn->seconds))
                                .arg(kRounds),
                        goal, verdict(ratio >= kDeviceToNcGoal)});
    } else {
        rows.push_back({QStringLiteral("15a"),
                        QStringLiteral("quillo send -> LocalSend test device: failed"), goal,
                        verdict(false)});
    }
    long peak = 0;
    for (const ProcessCopy& run : quillo)
        peak = std::max(peak, run.senderPeakKiB);
    rows.push_back({QStringLiteral("15b"),
                    QStringLiteral("peak memory, quillo send to the device: %1").arg(mib(peak)),
                    QStringLiteral("<= %1").arg(mib(kMemoryGoalKiB)), memoryVerdict(peak)});
}

// ---- 16: the receiving event loop ---------------------------------------------------

// The longest turn of the receiver's event loop in row 7's rounds and in row 10, and of
// the window's as it took row 10's folder.
void receiverTurnRow(std::vector<Row>& rows, const std::vector<ProcessCopy>& privates,
                     const TreeRuns& treeRuns)
{
    std::optional<Turn> big;
    for (const ProcessCopy& run : privates)
        if (run.ok)
            big = longer(big, run.receiverTurn);
    const auto text = [](const FolderRun& run) {
        if (!run.receiverTurn)
            return QStringLiteral("not measured");
        return turnText(*run.receiverTurn) + (run.ok ? QString() : QStringLiteral(" (failed)"));
    };
    const auto met = [](const FolderRun& run) {
        return run.ok && run.receiverTurn && run.receiverTurn->ownMs() <= kTurnGoalMs;
    };
    rows.push_back(
        {QStringLiteral("16"),
         QStringLiteral("longest loop turn, receiver: the big file privately %1, worst of %2; "
                        "the folder of %3 files %4; the window taking that folder %5")
             .arg(big ? turnText(*big) : QStringLiteral("not measured"))
             .arg(kRounds)
             .arg(kTreeFolders * kTreeFilesPerFolder)
             .arg(text(treeRuns.received), text(treeRuns.window)),
         QStringLiteral("<= %1 ms each").arg(kTurnGoalMs, 0, 'f', 0),
         verdict(big && big->ownMs() <= kTurnGoalMs && met(treeRuns.received) &&
                 met(treeRuns.window))});
}

// ---- 17: each side on a core of its own --------------------------------------------

// The disk's own pace: dd writing as many bytes as the big file into the inbox, synced.
Copy ddWrite(Bench& bench)
{
    bench.emptyInbox();
    const QString path = QDir(bench.inbox).filePath(QStringLiteral("dd.bin"));
    Child dd(QStringLiteral("dd"),
             {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + path, QStringLiteral("bs=1M"),
              QStringLiteral("count=%1").arg(bench.size >> 20), QStringLiteral("conv=fsync"),
              QStringLiteral("status=none")});
    QElapsedTimer timer;
    timer.start();
    const bool ok = dd.start() && dd.wait(bench.timeoutMs) && dd.succeeded();
    const Copy result{timer.nsecsElapsed() / 1e9, ok};
    if (!ok)
        bench.complain(QStringLiteral("dd did not write its file"), &dd);
    QFile::remove(path);
    return result;
}

bool mayRunOn(std::initializer_list<int> cpus)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 &&
           std::all_of(cpus.begin(), cpus.end(), [&](int cpu) { return CPU_ISSET(cpu, &allowed); });
}

QString rateText(double bytesPerSecond)
{
    return QString::number(bytesPerSecond / 1e9, 'f', 2) + QStringLiteral(" GB/s");
}

// What the CPU time of one side alone would allow: size over the seconds it took.
QString cpuText(const QString& who, double seconds, qint64 size)
{
    return seconds > 0 ? QStringLiteral("%1 %2 (%3)")
                             .arg(who, secondsText(seconds), rateText(size / seconds))
                       : QStringLiteral("%1 not measured").arg(who);
}

void pinnedRow(Bench& bench, std::vector<Row>& rows)
{
    const QString goal = QStringLiteral(">= %1 GB/s by the slower side's CPU, or >= %2 x dd "
                                        "where dd is slower")
                             .arg(kLinkBytesPerSecond / 1e9, 0, 'f', 2)
                             .arg(kDiskShareGoal, 0, 'f', 1);
    if (!mayRunOn({kPinnedSenderCpu, kPinnedReceiverCpu})) {
        rows.push_back({QStringLiteral("17"),
                        QStringLiteral("each side on a core of its own: needs CPUs %1 and %2")
                            .arg(kPinnedSenderCpu)
                            .arg(kPinnedReceiverCpu),
                        goal, QStringLiteral("skipped")});
        return;
    }
    CopyWay way{kPinnedReceiver, kPinnedSender, true};
    way.senderCpu = kPinnedSenderCpu;
    way.receiverCpu = kPinnedReceiverCpu;
    std::vector<Copy> dds;
    std::vector<ProcessCopy> pinned;
    for (int round = 1; round <= kRounds; ++round) {
        dds.push_back(ddWrite(bench));
        pinned.push_back(processCopy(bench, way));
        bench.log(QStringLiteral("round %1 pinned: dd %2, privately %3 (CPU: quillo send %4, "
                                 "quillo receive %5)")
                      .arg(round)
                      .arg(secondsText(dds.back().seconds), secondsText(pinned.back().seconds),
                           secondsText(pinned.back().senderCpuSeconds),
                           secondsText(pinned.back().receiverCpuSeconds)));
    }
    const Copy* dd = fastest(dds);
    const ProcessCopy* best = fastest(pinned);
    if (!dd || !best || best->senderCpuSeconds <= 0 || best->receiverCpuSeconds <= 0) {
        rows.push_back({QStringLiteral("17"),
                        QStringLiteral("each side on a core of its own, privately: failed"), goal,
                        verdict(false)});
        return;
    }
    const double rate = bench.size / best->seconds;
    const double slowerSide =
        bench.size / std::max(best->senderCpuSeconds, best->receiverCpuSeconds);
    const double ddRate = bench.size / dd->seconds;
    const bool met = slowerSide >= kLinkBytesPerSecond ||
                     (ddRate < kLinkBytesPerSecond && rate >= kDiskShareGoal * ddRate);
    rows.push_back(
        {QStringLiteral("17"),
         QStringLiteral("sender on CPU %1, receiver on CPU %2, privately: %3 (%4); CPU time "
                        "(and the rate it alone allows) %5, %6; dd %7 (%8), fastest of %9")
             .arg(kPinnedSenderCpu)
             .arg(kPinnedReceiverCpu)
             .arg(rateText(rate), secondsText(best->seconds),
                  cpuText(QStringLiteral("quillo send"), best->senderCpuSeconds, bench.size),
                  cpuText(QStringLiteral("quillo receive"), best->receiverCpuSeconds, bench.size),
                  rateText(ddRate), secondsText(dd->seconds))
             .arg(kRounds),
         goal, verdict(met)});
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--window-sender") == 0)
        return runWindowSender(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--window-receiver") == 0)
        return runWindowReceiver(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--timed-receiver") == 0)
        return runTimedReceiver(argc, argv);

    QCoreApplication app(argc, argv);
    // A run stopped by Ctrl-C leaves its files, the big one among them; they go now.
    removeLeftovers();
    Bench bench;
    bench.self = QCoreApplication::applicationFilePath();
    bench.quillo = QStringLiteral(QUILLO_EXECUTABLE);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    if (mebibytes <= 0 || !bench.dir.isValid()) {
        std::fprintf(stderr, "usage: bench_transfer [MiB]\n");
        return 2;
    }
    bench.size = mebibytes << 20;
    // Allow a crawl of 10 MiB/s before a transfer counts as stuck.
    bench.timeoutMs = int(std::max<qint64>(60, mebibytes / 10)) * 1000;
    bench.payload = bench.dir.filePath(QStringLiteral("payload.bin"));
    bench.inbox = bench.dir.filePath(QStringLiteral("in"));

    // Nothing run here may reach the real user's settings.
    const QString home = bench.dir.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/.config"));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    bench.environment = QProcessEnvironment::systemEnvironment();
    if (overVeth()) {
        bench.senderNetns = QString::fromLocal8Bit(qgetenv("BENCH_SENDER_NETNS"));
        if (bench.senderNetns.isEmpty() || !QFileInfo::exists(bench.senderNetns)) {
            std::fprintf(stderr, "bench: BENCH_LINK=veth needs the namespaces that "
                                 "scripts/bench.sh makes: run it through that\n");
            return 2;
        }
    }

    // Whatever else runs on the machine shows in every figure; the load says how much.
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    const QByteArray load = loadAverage.open(QIODevice::ReadOnly)
                                ? loadAverage.readAll().split(' ').first()
                                : QByteArrayLiteral("?");
    bench.log(QStringLiteral("Quillo transfer benchmark: %1 MiB over %2, %3 rounds, %4 "
                             "cores (load %5), in %6")
                  .arg(mebibytes)
                  .arg(overVeth() ? QStringLiteral("a veth pair") : QStringLiteral("loopback"))
                  .arg(kRounds)
                  .arg(QThread::idealThreadCount())
                  .arg(QString::fromLatin1(load), bench.dir.path()));
    if (!makePayload(bench.payload, bench.size, 1)) {
        bench.complain(QStringLiteral("cannot write the file to send"));
        return 2;
    }

    // Rounds of the three copies in turn, so that whatever else the machine does falls on
    // all three alike; the fastest of each counts. The rows of the rounds all come from the
    // same runs: any of them chosen runs them all, and the rest show as failed if not.
    const QSet<int> chosen = chosenRows();
    const bool rounds = anyChosen(chosen, {1, 2, 3, 5, 7, 8, 11, 16});
    std::vector<Copy> nc;
    std::vector<ProcessCopy> processes;
    std::vector<ProcessCopy> privates;
    std::vector<WindowCopy> windows;
    for (int round = 1; rounds && round <= kRounds; ++round) {
        nc.push_back(ncCopy(bench));
        processes.push_back(processCopy(bench, {kProcessReceiver, kProcessSender}));
        privates.push_back(processCopy(bench, {kPrivateReceiver, kPrivateSender, true, true}));
        windows.push_back(windowCopy(bench));
        bench.log(QStringLiteral("round %1: nc %2, quillo send %3, privately %4, window %5 "
                                 "(longest turn %6)")
                      .arg(round)
                      .arg(secondsText(nc.back().seconds), secondsText(processes.back().seconds),
                           secondsText(privates.back().seconds),
                           secondsText(windows.back().seconds),
                           turnText(windows.back().longestTurn)));
    }
    // The engine sender runs in this process, which over veth is on the receiving side.
    const EngineCopy engine = rounds && !overVeth() ? engineCopy(bench) : EngineCopy{};
    if (rounds && !overVeth())
        bench.log(QStringLiteral("engine sender in this process: %1 (longest turn %2)")
                      .arg(secondsText(engine.seconds), turnText(engine.longestTurn)));

    std::vector<Row> rows;
    const Copy* bestNc = fastest(nc);
    const ProcessCopy* bestProcess = fastest(processes);
    const WindowCopy* bestWindow = fastest(windows);
    const QString best = QStringLiteral(", fastest of %1").arg(kRounds);
    if (bestNc && bestProcess) {
        const double ratio = bestNc->seconds / bestProcess->seconds;
        rows.push_back({QStringLiteral("1"),
                        speedFigure(QStringLiteral("quillo send -> quillo receive"), ratio,
                                    bestProcess->seconds, bestNc->seconds, bench.size) +
                            best,
                        QStringLiteral(">= %1 x nc (at least %2 x)")
                            .arg(kSpeedGoal, 0, 'f', 1)
                            .arg(kSpeedFloor, 0, 'f', 1),
                        ratio >= kSpeedGoal ? verdict(true)
                        : ratio >= kSpeedFloor
                            ? QStringLiteral("missed (%1 x floor met)").arg(kSpeedFloor, 0, 'f', 1)
                            : verdict(false)});
    } else {
        rows.push_back({QStringLiteral("1"),
                        QStringLiteral("quillo send -> quillo receive: failed"),
                        QStringLiteral(">= %1 x nc").arg(kSpeedGoal, 0, 'f', 1), verdict(false)});
    }
    Turn longestWindowTurn;
    for (const WindowCopy& run : windows)
        if (run.ok && run.longestTurn.ownMs() > longestWindowTurn.ownMs())
            longestWindowTurn = run.longestTurn;
    if (bestNc && bestWindow) {
        const double ratio = bestNc->seconds / bestWindow->seconds;
        rows.push_back({QStringLiteral("2"),
                        speedFigure(QStringLiteral("window -> quillo receive"), ratio,
                                    bestWindow->seconds, bestNc->seconds, bench.size) +
                            best,
                        QStringLiteral(">= %1 x nc").arg(kWindowSpeedGoal, 0, 'f', 1),
                        verdict(ratio >= kWindowSpeedGoal)});
    } else {
        rows.push_back({QStringLiteral("2"), QStringLiteral("window -> quillo receive: failed"),
                        QStringLiteral(">= %1 x nc").arg(kWindowSpeedGoal, 0, 'f', 1),
                        verdict(false)});
    }

    long sendPeak = 0;
    long receivePeak = engine.receiverPeakKiB;
    long windowPeak = 0;
    long windowBefore = 0;
    for (const ProcessCopy& run : processes) {
        sendPeak = std::max(sendPeak, run.senderPeakKiB);
        receivePeak = std::max(receivePeak, run.receiverPeakKiB);
    }
    for (const WindowCopy& run : windows) {
        receivePeak = std::max(receivePeak, run.receiverPeakKiB);
        windowPeak = std::max(windowPeak, run.windowPeakKiB);
        windowBefore = std::max(windowBefore, run.windowBeforeKiB);
    }
    const QString memoryGoal = QStringLiteral("<= %1").arg(mib(kMemoryGoalKiB));
    rows.push_back({QStringLiteral("3a"),
                    QStringLiteral("peak memory, quillo send: %1").arg(mib(sendPeak)), memoryGoal,
                    memoryVerdict(sendPeak)});
    rows.push_back({QStringLiteral("3b"),
                    QStringLiteral("peak memory, quillo receive: %1").arg(mib(receivePeak)),
                    memoryGoal, memoryVerdict(receivePeak)});
    rows.push_back({QStringLiteral("3c"),
                    QStringLiteral("peak memory, window process: %1 (%2 before sending)")
                        .arg(mib(windowPeak), mib(windowBefore)),
                    memoryGoal, memoryVerdict(windowPeak)});

    if (anyChosen(chosen, {4}))
        slowReceiver(bench, rows);

    const QString turnGoal = QStringLiteral("<= %1 ms").arg(kTurnGoalMs, 0, 'f', 0);
    rows.push_back({QStringLiteral("5a"),
                    QStringLiteral("longest loop turn, window sender: %1, worst of %2")
                        .arg(turnText(longestWindowTurn))
                        .arg(kRounds),
                    turnGoal, verdict(bestWindow && longestWindowTurn.ownMs() <= kTurnGoalMs)});
    if (overVeth())
        rows.push_back(skippedOverVeth(QStringLiteral("5b"),
                                       QStringLiteral("the engine sender runs inside the "
                                                      "benchmark, on the receiving side")));
    else
        rows.push_back({QStringLiteral("5b"),
                        QStringLiteral("longest loop turn, engine sender: %1")
                            .arg(turnText(engine.longestTurn)),
                        turnGoal, verdict(engine.ok && engine.longestTurn.ownMs() <= kTurnGoalMs)});

    if (anyChosen(chosen, {6}))
        manyFiles(bench, rows, false);
    privateRows(rows, bench.size, bestNc, bestProcess, fastest(privates), privates);
    if (anyChosen(chosen, {9}))
        manyFiles(bench, rows, true);
    if (anyChosen(chosen, {10, 11, 16}) && !knowFolderSenders())
        bench.complain(QStringLiteral("cannot put the folder senders in the address book"));
    const TreeRuns treeRuns = anyChosen(chosen, {10, 16}) ? treeRow(bench, rows) : TreeRuns{};
    if (anyChosen(chosen, {11}))
        mixedRow(bench, rows, bestNc);
    if (overVeth())
        rows.push_back(skippedOverVeth(QStringLiteral("12"),
                                       QStringLiteral("it counts the bytes on loopback")));
    else if (anyChosen(chosen, {12}))
        cutRow(bench, rows);
    if (overVeth())
        rows.push_back(skippedOverVeth(
            QStringLiteral("13"), QStringLiteral("the flood comes from the benchmark itself")));
    else if (anyChosen(chosen, {13}))
        floodRow(bench, rows);
    if (anyChosen(chosen, {14}))
        fanOutRow(bench, rows);
    if (overVeth())
        rows.push_back(skippedOverVeth(QStringLiteral("15"),
                                       QStringLiteral("the LocalSend test device runs on "
                                                      "loopback only")));
    else if (anyChosen(chosen, {15}))
        deviceRows(bench, rows);
    receiverTurnRow(rows, privates, treeRuns);
    if (anyChosen(chosen, {17}))
        pinnedRow(bench, rows);

    std::printf("\n");
    printTable(rows, chosen);
    if (bench.damaged)
        std::printf("\nA FILE ARRIVED DAMAGED OR NOT AT ALL.\n");
    return bench.damaged ? 1 : 0;
}
