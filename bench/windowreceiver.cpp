#include "windowreceiver.h"

#include "benchtools.h"
#include "platform/clock.h"
#include "platform/randomsource.h"
#include "platform/stopsignals.h"
#include "window/mainwindow.h"
#include "windowparts.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int runWindowReceiver(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: bench_transfer --window-receiver FOLDER BIND PEER\n");
        return 2;
    }
    const QDir folder(arguments.at(2));
    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    if (!knowOnePeer(settings, folder, arguments.at(4)))
        return 1;
    ScriptedDialogs dialogs;
    QuietDesktop desktop;
    SystemClock clock;
    UnseededRandom random;
    Main window(Platform{dialogs, desktop, settings, clock, random, {}, folder.path(), {}},
                QHostAddress(arguments.at(3)));
    if (!window.Form_Load())
        return 1;
    window.show();

    Heartbeat heartbeat;
    // Once the window has come up and drawn itself.
    QTimer::singleShot(200, &heartbeat, &Heartbeat::start);
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequested, &app, [&] {
        heartbeat.stop();
        std::printf("%.3f %.3f %.3f %.3f %lld\n", heartbeat.longestMs(),
                    heartbeat.longestRunningMs(), heartbeat.longestQueuedMs(),
                    heartbeat.longestStoppedMs(), static_cast<long long>(heartbeat.ticks()));
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    return QApplication::exec();
}
