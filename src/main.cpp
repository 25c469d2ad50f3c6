#include "cli/headless.h"
#include "platform/clock.h"
#include "platform/heaptuning.h"
#include "platform/randomsource.h"
#include "platform/runtimefolder.h"
#include "platform/settingsstore.h"
#include "platform/stopsignals.h"
#include "window/desktop.h"
#include "window/dialogs.h"
#include "window/mainwindow.h"
#include "window/platform.h"
#include "window/skin/nonclientskin.h"
#include "window/tray.h"
#include "window/windowfont.h"

#include <QApplication>
#include <QDirIterator>
#include <QIcon>
#include <QStandardPaths>

#include <csignal>

namespace
{

// Every size of the icon built into the program; the desktop picks the one it needs.
QIcon applicationIcon()
{
    QIcon icon;
    QDirIterator files(QStringLiteral(":/icon"), {QStringLiteral("*.png")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        icon.addFile(files.next());
    return icon;
}

} // namespace

int main(int argc, char* argv[])
{
    // A file that grows past the size limit of the process then fails to be written, and
    // is told like any other failure, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    keepLargeBlocksInHeap();

    // Any argument is for the command line, which needs no display.
    if (argc > 1)
        return runHeadless(argc, argv);

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillo"));
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    QApplication::setDesktopFileName(QStringLiteral("org.quillo.Quillo"));
    QApplication::setWindowIcon(applicationIcon());
    useWindowFontForDialogs();

    QtDialogs dialogs;
    QtDesktop desktop;
    SettingsStore settings(SettingsStore::userFilePath());
    SystemClock clock;
    UnseededRandom random;
    Platform platform{
        dialogs,
        desktop,
        settings,
        clock,
        random,
        [] { return std::make_unique<NonClientSkin>(); },
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
        [&desktop](const TrayActions& actions) { return newSystemTray(actions, desktop); },
        userRuntimeFolder()};

    Main window(platform);
    // A stop asked for by the system, as at logout, closes the window as its close button
    // does, which ends a transfer and saves what is to be saved, and quits whatever box is
    // still open. One that comes while start-up asks its questions ends the program once
    // they are gone.
    StopSignals stopSignals;
    bool stopped = false;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&stopped] {
        stopped = true;
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    if (!window.Form_Load())
        return window.gaveWayToAnotherWindow() ? 0 : 1;
    if (stopped) {
        window.close();
        return 0;
    }
    window.show();
    return app.exec();
}
