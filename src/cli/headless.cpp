#include "cli/headless.h"

#include "cli/chatcommand.h"
#include "cli/commandline.h"
#include "cli/console.h"
#include "cli/helptext.h"
#include "cli/keycommands.h"
#include "cli/listencommand.h"
#include "cli/onlinecommand.h"
#include "cli/receivecommand.h"
#include "cli/receivefolder.h"
#include "cli/recipientlookup.h"
#include "cli/sendcommand.h"
#include "cli/sendmanycommand.h"
#include "cli/servecommand.h"
#include "cli/whenonlinecommand.h"
#include "platform/randomsource.h"
#include "platform/runtimefolder.h"
#include "platform/settingsstore.h"
#include "platform/stopsignals.h"
#include "station/receiversettings.h"
#include "station/station.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <memory>

namespace
{

int usageError(Console& console, const UsageError& error)
{
    const QString help = error.topic.isEmpty()
                             ? QStringLiteral("quillo --help")
                             : QStringLiteral("quillo %1 --help").arg(error.topic);
    // Qt's own messages end with a full stop, ours do not.
    QString message = error.message;
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    console.printProblem(QStringLiteral("%1 Try '%2'.").arg(message, help));
    return kExitUsage;
}

// Null when the command cannot start; the console has said why. Trying again and waiting
// for someone to come online follow one person.
std::unique_ptr<Command> sendToSeveral(const CommandLine& line, Station& station, Console& console)
{
    if (line.whenOnline || line.retrySeconds > 0) {
        console.printProblem(QStringLiteral("--when-online and --retry take one --to, not "
                                            "several people. Try 'quillo send --help'."));
        return nullptr;
    }
    const auto recipients = lookUpRecipients(station.addressBook(), station.groups(), line.toList);
    if (const QString* problem = std::get_if<QString>(&recipients)) {
        console.printProblem(*problem + QStringLiteral(". Try 'quillo send --help'."));
        return nullptr;
    }
    return std::make_unique<SendManyCommand>(station, std::get<QList<Recipient>>(recipients),
                                             line.files, console);
}

// Null when the command cannot start; the console has said why.
std::unique_ptr<Command> makeCommand(const CommandLine& line, Station& station,
                                     const SettingsStore& settings, Console& console)
{
    const Peer peer = lookUpPeer(std::as_const(station).addressBook(), line.to);
    switch (line.action) {
    case CommandLine::Action::Receive: {
        const ReceiveFolder folder = chooseReceiveFolder(line.folder, storedSaveFolder(settings));
        if (folder.folder.isEmpty()) {
            console.printProblem(folder.problem);
            return nullptr;
        }
        // On the command line it adds to the stored choice, never takes it away.
        if (line.onlyKnown)
            station.setOnlyKnownSenders(true, false);
        auto command = std::make_unique<ReceiveCommand>(station, folder.folder, line.once, console);
        command->sharePortsThrough(userRuntimeFolder());
        return command;
    }
    case CommandLine::Action::Send:
        if (namesSeveral(station.addressBook(), station.groups(), line.toList))
            return sendToSeveral(line, station, console);
        if (line.localSend)
            station.sendByLocalSend(peer.host);
        if (!line.pin.isEmpty())
            station.setLocalSendPin(peer.host, line.pin);
        if (line.whenOnline) {
            auto command = std::make_unique<WhenOnlineCommand>(station, peer, line.to, line.files,
                                                               line.timeoutSeconds, console);
            command->setRetry(line.retrySeconds);
            return command;
        } else {
            auto command =
                std::make_unique<SendCommand>(station, peer, line.to, line.files, console);
            command->setRetry(line.retrySeconds);
            return command;
        }
    case CommandLine::Action::Chat:
        return std::make_unique<ChatCommand>(station, line.bindAddress, peer, line.to, line.text,
                                             console);
    case CommandLine::Action::Online:
        return std::make_unique<OnlineCommand>(station, line.waitSeconds, console);
    default:
        return std::make_unique<ListenCommand>(station, line.human, console);
    }
}

int run(Command& command)
{
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &command, &Command::stop);
    // Queued, as a command may finish before the event loop runs.
    QObject::connect(
        &command, &Command::finished, &command, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    if (const std::optional<int> status = command.start())
        return *status;
    return QCoreApplication::exec();
}

// Whether a command may write the settings file. Writing one that could not be read would
// lose what it holds; one read only in part is copied aside first, as the window does.
bool settingsWritable(Station& station, Console& console)
{
    const SettingsCheck check = station.checkSettings();
    switch (check.state) {
    case SettingsCheck::State::Usable:
        return true;
    case SettingsCheck::State::Unreadable: // told already
        return false;
    case SettingsCheck::State::DamagedNoCopy:
        console.printProblem(QStringLiteral("part of the settings file %1 could not be read, "
                                            "and a copy of it could not be made")
                                 .arg(check.file));
        return false;
    case SettingsCheck::State::DamagedKept:
        console.printProblem(QStringLiteral("part of the settings file %1 could not be read; "
                                            "the file as it was is kept in %2")
                                 .arg(check.file, check.copy));
        return true;
    }
    return false;
}

// The station of serve writes what it changes, the waiting deliveries, to the settings.
int serve(const CommandLine& line, Station& station, const SettingsStore& settings,
          Console& console)
{
    if (!settingsWritable(station, console))
        return kExitNotDone;
    const ReceiveFolder folder =
        chooseServeFolder(line.folder, storedSaveFolder(settings),
                          QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    if (folder.folder.isEmpty()) {
        console.printProblem(folder.problem);
        return kExitUsage;
    }
    if (!folder.note.isEmpty())
        console.printProblem(folder.note);
    station.load();
    ServeCommand command(station, folder.folder, line.onlyKnown, console);
    command.sharePortsThrough(userRuntimeFolder());
    return run(command);
}

// The commands that will send or receive privately; keys they pin are written at once.
bool goesPrivately(CommandLine::Action action)
{
    return action == CommandLine::Action::Send || action == CommandLine::Action::Receive ||
           action == CommandLine::Action::Chat || action == CommandLine::Action::Listen;
}

int runOnStation(const CommandLine& line, Station& station, const SettingsStore& settings,
                 Console& console)
{
    if (line.action == CommandLine::Action::Serve)
        return serve(line, station, settings, console);
    // Every other command runs a while and ends, leaving what the window keeps as it is.
    station.makeShortLived();
    const bool writes =
        line.action == CommandLine::Action::Forget || (line.compared && !line.name.isEmpty());
    if (writes && !settingsWritable(station, console))
        return kExitNotDone;
    station.load();
    if (line.action == CommandLine::Action::Key && line.compared)
        return markCompared(line.name, station, console);
    if (line.action == CommandLine::Action::Key)
        return printSafetyCode(line.name, station, console);
    if (line.action == CommandLine::Action::Forget)
        return forgetKey(line.name, station, console);
    if (goesPrivately(line.action)) {
        // Without an identity, everything goes in the clear; that is told once.
        if (const std::optional<QString> problem = station.openIdentity())
            console.printProblem(*problem);
        QObject::connect(
            &station, &Station::keysNotSaved, &station, [&console](const QString& file) {
                console.printProblem(
                    QStringLiteral("the keys in the address book could not be saved to %1")
                        .arg(file));
            });
    }
    const std::unique_ptr<Command> command = makeCommand(line, station, settings, console);
    if (!command)
        return kExitUsage;
    return run(*command);
}

int runSubcommand(const CommandLine& line, Console& console)
{
    SettingsStore settings(SettingsStore::userFilePath());
    if (const auto error = settings.readError())
        console.printProblem(QStringLiteral("cannot read the settings file %1: %2")
                                 .arg(settings.fileName(), error->description));
    UnseededRandom random;
    Station station(settings, random,
                    QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                    line.bindAddress);
    const int status = runOnStation(line, station, settings, console);
    console.progress().clear();
    return status;
}

} // namespace

int runHeadless(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillo"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLO_VERSION));

    Console console;
    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    if (const UsageError* error = std::get_if<UsageError>(&parsed))
        return usageError(console, *error);
    const CommandLine& line = std::get<CommandLine>(parsed);
    switch (line.action) {
    case CommandLine::Action::Version:
        console.printText(versionText());
        return kExitDone;
    case CommandLine::Action::Window: // the window is not ours to open
    case CommandLine::Action::Help:
        console.printText(helpText(line.helpTopic));
        return kExitDone;
    default:
        return runSubcommand(line, console);
    }
}
