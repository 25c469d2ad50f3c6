#include "windowsender.h"

#include "benchtools.h"
#include "platform/clock.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "transfer/sendtext.h"
#include "window/mainwindow.h"
#include "windowparts.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>

#include <cstdio>

int runWindowSender(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 6) {
        std::fprintf(stderr, "usage: bench_transfer --window-sender FILE PEER BIND FOLDER\n");
        return 2;
    }
    const QString& file = arguments.at(2);
    const QString& peer = arguments.at(3);
    const QHostAddress bind(arguments.at(4));
    const QDir folder(arguments.at(5));

    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    knowOnePeer(settings, folder, peer);
    ScriptedDialogs dialogs;
    QuietDesktop desktop;
    SystemClock clock;
    UnseededRandom random;
    Main window(Platform{dialogs, desktop, settings, clock, random, {}, folder.path(), {}}, bind);
    if (!window.Form_Load())
        return 1;
    window.show();
    // Let the window come up and draw itself before anything is measured.
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    dialogs.file = file;
    window.ui().ListIPaddress->setCurrentRow(0);
    window.ui().BUTTsendFile->click();
    if (window.station().queuedPaths().size() != 1) {
        std::fprintf(stderr, "the file was not queued\n");
        return 1;
    }

    bool sent = false;
    QObject::connect(
        &window.station(), &Station::rowFinished, &window, [&](BatchKind, int, const SendEnd& end) {
            sent = end.outcome == SendOutcome::Sent;
            if (!sent)
                std::fprintf(stderr, "not sent: %s %s\n", qPrintable(sendStatusText(end.status)),
                             qPrintable(sendStatusDetail(end.status)));
        });
    Heartbeat heartbeat;
    QElapsedTimer timer;
    double seconds = 0;
    QObject::connect(&window.station(), &Station::batchFinished, &window, [&] {
        seconds = timer.nsecsElapsed() / 1e9;
        heartbeat.stop();
        QCoreApplication::quit();
    });
    const long before = ownPeakKiB();
    heartbeat.start();
    timer.start();
    window.ui().BUTsendthesefiles->click();
    if (window.station().isSending())
        QCoreApplication::exec();
    std::printf("%.6f %.3f %.3f %.3f %.3f %lld %ld %d\n", seconds, heartbeat.longestMs(),
                heartbeat.longestRunningMs(), heartbeat.longestQueuedMs(),
                heartbeat.longestStoppedMs(), static_cast<long long>(heartbeat.ticks()), before,
                sent ? 1 : 0);
    return sent ? 0 : 1;
}
