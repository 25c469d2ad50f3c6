#include "timedreceiver.h"

#include "benchtools.h"
#include "cli/headless.h"
#include "platform/heaptuning.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <vector>

namespace
{

struct LongestTurn {
    double ms = 0;
    double runningMs = 0;
    double queuedMs = 0;
    double stoppedMs = 0;
    qint64 ticks = 0;
};

LongestTurn measured;

// Called as the command line makes its application. The heartbeat starts with the event
// loop's first turn, so that starting up does not count, and stops as the loop ends.
void watchEventLoop()
{
    QCoreApplication* app = QCoreApplication::instance();
    auto* heartbeat = new Heartbeat(app);
    QMetaObject::invokeMethod(heartbeat, &Heartbeat::start, Qt::QueuedConnection);
    QObject::connect(app, &QCoreApplication::aboutToQuit, heartbeat, [heartbeat] {
        heartbeat->stop();
        measured = {heartbeat->longestMs(), heartbeat->longestRunningMs(),
                    heartbeat->longestQueuedMs(), heartbeat->longestStoppedMs(),
                    heartbeat->ticks()};
    });
}

} // namespace

int runTimedReceiver(int argc, char* argv[])
{
    if (argc < 4 || qstrcmp(argv[3], "receive") != 0) {
        std::fprintf(stderr, "usage: bench_transfer --timed-receiver TURNFILE receive ...\n");
        return 2;
    }
    // As the quillo executable starts.
    std::signal(SIGXFSZ, SIG_IGN);
    keepLargeBlocksInHeap();

    const QString turnFile = QString::fromLocal8Bit(argv[2]);
    std::vector<char*> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 3, argv + argc);
    arguments.push_back(nullptr);
    qAddPreRoutine(watchEventLoop);
    const int status = runHeadless(int(arguments.size() - 1), arguments.data());

    QFile file(turnFile);
    const QByteArray line = QByteArray::number(measured.ms, 'f', 3) + ' ' +
                            QByteArray::number(measured.runningMs, 'f', 3) + ' ' +
                            QByteArray::number(measured.queuedMs, 'f', 3) + ' ' +
                            QByteArray::number(measured.stoppedMs, 'f', 3) + ' ' +
                            QByteArray::number(measured.ticks) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(line) != line.size())
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return status;
}
