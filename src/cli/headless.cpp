#include "cli/headless.h"

#include "addressbook/addressbook.h"
#include "cli/chatcommand.h"
#include "cli/commandkeys.h"
#include "cli/commandline.h"
#include "cli/console.h"
#include "cli/helptext.h"
#include "cli/keycommands.h"
#include "cli/listencommand.h"
#include "cli/onlinecommand.h"
#include "cli/receivecommand.h"
#include "cli/receivefolder.h"
#include "cli/sendcommand.h"
#include "cli/servecommand.h"
#include "cli/whenonlinecommand.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "platform/stopsignals.h"
#include "station/receiversettings.h"

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

// Null when the command cannot start; the console has said why.
std::unique_ptr<Command> makeCommand(const CommandLine& line, const SettingsStore& settings,
                                     const AddressBook& book, Console& console)
{
    switch (line.action) {
    case CommandLine::Action::Receive: {
        const ReceiveFolder folder = chooseReceiveFolder(line.folder, storedSaveFolder(settings));
        if (folder.folder.isEmpty()) {
            console.printProblem(folder.problem);
            return nullptr;
        }
        auto command =
            std::make_unique<ReceiveCommand>(line.bindAddress, folder.folder, line.once, console);
        command->useAddressBook(book);
        if (line.onlyKnown || storedOnlyKnownSenders(settings))
            command->takeOnlyFrom(book);
        return command;
    }
    case CommandLine::Action::Send:
        if (line.whenOnline) {
            auto command = std::make_unique<WhenOnlineCommand>(
                line.bindAddress, book, lookUpPeer(book, line.to), line.to, line.files,
                line.timeoutSeconds, console);
            command->setRetry(line.retrySeconds);
            return command;
        } else {
            auto command = std::make_unique<SendCommand>(
                line.bindAddress, lookUpPeer(book, line.to), line.to, line.files, console);
            command->setRetry(line.retrySeconds);
            return command;
        }
    case CommandLine::Action::Chat:
        return std::make_unique<ChatCommand>(line.bindAddress, lookUpPeer(book, line.to), line.to,
                                             line.text, console);
    case CommandLine::Action::Online:
        return std::make_unique<OnlineCommand>(line.bindAddress, book, line.waitSeconds, console);
    default:
        return std::make_unique<ListenCommand>(line.bindAddress, book, console);
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
bool settingsWritable(SettingsStore& settings, Console& console)
{
    if (settings.readError())
        return false;
    if (settings.isDamaged()) {
        const QString copy = settings.keepCopyAside();
        if (copy.isEmpty()) {
            console.printProblem(QStringLiteral("part of the settings file %1 could not be read, "
                                                "and a copy of it could not be made")
                                     .arg(settings.fileName()));
            return false;
        }
        console.printProblem(QStringLiteral("part of the settings file %1 could not be read; "
                                            "the file as it was is kept in %2")
                                 .arg(settings.fileName(), copy));
    }
    return true;
}

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// The station of serve writes what it changes, the waiting deliveries, to the settings.
int serve(const CommandLine& line, SettingsStore& settings, Console& console)
{
    if (!settingsWritable(settings, console))
        return kExitNotDone;
    const ReceiveFolder folder = chooseReceiveFolder(line.folder, storedSaveFolder(settings));
    if (folder.folder.isEmpty()) {
        console.printProblem(folder.problem);
        return kExitUsage;
    }
    UnseededRandom random;
    ServeCommand command(settings, random, dataFolder(), line.bindAddress, folder.folder,
                         line.onlyKnown, console);
    return run(command);
}

int runSubcommand(const CommandLine& line, Console& console)
{
    SettingsStore settings(SettingsStore::userFilePath());
    if (const auto error = settings.readError())
        console.printProblem(QStringLiteral("cannot read the settings file %1: %2")
                                 .arg(settings.fileName(), error->description));
    if (line.action == CommandLine::Action::Serve) {
        const int status = serve(line, settings, console);
        console.progress().clear();
        return status;
    }
    AddressBook book;
    book.load(settings);
    if (line.action == CommandLine::Action::Key)
        return printSafetyCode(line.name, book, dataFolder(), console);
    if (line.action == CommandLine::Action::Forget)
        return settingsWritable(settings, console) ? forgetKey(line.name, book, settings, console)
                                                   : kExitNotDone;
    // The commands that will send or receive privately; keys they pin are written at once.
    std::unique_ptr<CommandKeys> keys;
    if (line.action == CommandLine::Action::Send || line.action == CommandLine::Action::Receive ||
        line.action == CommandLine::Action::Chat)
        keys = std::make_unique<CommandKeys>(settings, book, dataFolder(), console);
    const std::unique_ptr<Command> command = makeCommand(line, settings, book, console);
    if (!command)
        return kExitUsage;
    if (keys)
        command->setPrivacy(keys->identity(), &keys->peerKeys());
    const int status = run(*command);
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
