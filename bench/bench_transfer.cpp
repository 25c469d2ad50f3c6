// Measures sending one file from one running copy to another over loopback, against a
// plain nc copy of the same file measured in the same run, and the peak memory of both
// copies together. A second run sends to a receiver that reads slowly, to show that the
// sender holds a bounded part of the file whatever the receiver's pace.
//
//   bench_transfer [MiB]        (default 256)

#include "platform/clock.h"
#include "shell/dialogs.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "shell/mainwindow.h"
#include "transfer/protocol.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace
{

const QHostAddress kSender(QStringLiteral("127.0.0.52"));
const QHostAddress kReceiver(QStringLiteral("127.0.0.53"));

class NoDialogs : public Dialogs
{
public:
    void message(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(const QString&, const QString&) override { return next; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString next;
};

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

bool makeFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7919) >> 3);
    for (qint64 written = 0; written < bytes; written += block.size())
        file.write(block.left(std::min<qint64>(block.size(), bytes - written)));
    return true;
}

// nc receives into a file beside the payload, as the program does.
double ncSeconds(const QString& path)
{
    QProcess listener;
    listener.setStandardOutputFile(path + QStringLiteral(".nc"));
    listener.start(QStringLiteral("nc"), {"-l", kReceiver.toString(), "5099"});
    listener.waitForStarted();
    QProcess sender;
    sender.setStandardInputFile(path);
    QElapsedTimer timer;
    // nc may not be listening yet: try until it is.
    for (int attempt = 0; attempt < 50; ++attempt) {
        timer.start();
        sender.start(QStringLiteral("nc"), {"-N", kReceiver.toString(), "5099"});
        sender.waitForFinished(-1);
        if (sender.exitCode() == 0)
            break;
        QProcess::execute(QStringLiteral("sleep"), {"0.1"});
    }
    listener.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile::remove(path + QStringLiteral(".nc"));
    return seconds;
}

struct Copy {
    Copy(const QHostAddress& address, const QString& folder, const QString& peer)
        : settings(folder + QStringLiteral("/Quillo.conf"))
    {
        QDir().mkpath(folder + QStringLiteral("/in"));
        settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), folder + "/in/");
        settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"),
                       QStringLiteral("peer"));
        settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"), peer);
        window = std::make_unique<Main>(Platform{dialogs, settings, clock, random, {}}, address);
    }
    NoDialogs dialogs;
    SettingsStore settings;
    SystemClock clock;
    UnseededRandom random;
    std::unique_ptr<Main> window;
};

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("payload.bin"));
    if (!makeFile(file, mib << 20))
        return 1;

    const double ncTime = ncSeconds(file);

    Copy sender(kSender, dir.filePath(QStringLiteral("s")), kReceiver.toString());
    Copy receiver(kReceiver, dir.filePath(QStringLiteral("r")), kSender.toString());
    if (!sender.window->Form_Load() || !receiver.window->Form_Load())
        return 1;
    const long baseKiB = peakKiB();
    sender.dialogs.next = file;
    sender.window->ui().ListIPaddress->setCurrentRow(0);
    sender.window->ui().BUTTsendFile->click();

    QElapsedTimer timer;
    timer.start();
    sender.window->ui().BUTsendthesefiles->click();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!sender.window->batch().isRunning())
            app.quit();
    });
    poll.start(1);
    app.exec();
    const double quilloTime = timer.nsecsElapsed() / 1e9;
    const bool whole =
        QFileInfo(dir.filePath(QStringLiteral("r/in/payload.bin"))).size() == (mib << 20);

    std::printf("file:                    %lld MiB\n", mib);
    std::printf("nc copy:                 %.2f s (%.0f MiB/s)\n", ncTime, mib / ncTime);
    std::printf("quillo send:             %.2f s (%.0f MiB/s)%s\n", quilloTime, mib / quilloTime,
                whole ? "" : "  FILE INCOMPLETE");
    std::printf("speed against nc:        %.2f\n", ncTime / quilloTime);
    std::printf("peak memory, both sides: %ld MiB (%ld MiB before sending)\n", peakKiB() / 1024,
                baseKiB / 1024);

    // A receiver that takes 64 KiB every 20 ms: the sender must not buffer the file.
    QTcpServer slow;
    slow.listen(QHostAddress(QStringLiteral("127.0.0.54")), kFilePort);
    QTcpSocket* connection = nullptr;
    QObject::connect(&slow, &QTcpServer::newConnection, [&] {
        connection = slow.nextPendingConnection();
        connection->setReadBufferSize(64 * 1024);
        connection->write("OK\n");
    });
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        if (connection)
            connection->read(64 * 1024);
    });
    drain.start(20);
    Copy slowSender(QHostAddress(QStringLiteral("127.0.0.55")), dir.filePath(QStringLiteral("t")),
                    QStringLiteral("127.0.0.54"));
    slowSender.window->Form_Load();
    const long before = currentKiB();
    slowSender.dialogs.next = file;
    slowSender.window->ui().ListIPaddress->setCurrentRow(0);
    slowSender.window->ui().BUTTsendFile->click();
    slowSender.window->ui().BUTsendthesefiles->click();
    long highest = before;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { highest = std::max(highest, currentKiB()); });
    sample.start(50);
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("slow receiver, 5 s:      memory grew by %ld KiB while sending\n",
                highest - before);
    return whole ? 0 : 1;
}
