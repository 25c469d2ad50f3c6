#include "cli/commandline.h"

#include "cli/commandcatalog.h"

#include <QCommandLineParser>

#include <optional>

namespace
{

const QString kHelp = QStringLiteral("help");
const QString kBind = QStringLiteral("bind");
const QString kDir = QStringLiteral("dir");
const QString kOnce = QStringLiteral("once");
const QString kOnlyKnown = QStringLiteral("only-known");
const QString kTo = QStringLiteral("to");
const QString kWhenOnline = QStringLiteral("when-online");
const QString kTimeout = QStringLiteral("timeout");
const QString kWait = QStringLiteral("wait");
const QString kRetry = QStringLiteral("retry");
const QString kLocalSend = QStringLiteral("localsend");
const QString kPin = QStringLiteral("pin");

using Action = CommandLine::Action;

// key and forget only read and write the settings.
bool usesNetwork(Action action)
{
    return action != Action::Key && action != Action::Forget;
}

// The options of one subcommand. Descriptions are not given: the help text is our own.
void addOptions(QCommandLineParser& parser, const Subcommand& subcommand)
{
    parser.addOption({{QStringLiteral("h"), kHelp}, {}});
    for (const CommandOption& option : subcommand.options)
        parser.addOption({option.name, {}, option.value});
}

// A whole number of seconds, no fewer than least, or the problem with it.
std::variant<int, QString> seconds(const QCommandLineParser& parser, const QString& option,
                                   int least = 1)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < least)
        return QStringLiteral("--%1 needs a whole number of seconds, not '%2'")
            .arg(option, parser.value(option));
    return value;
}

// Fills in the options of send and online that wait for peers.
std::optional<QString> takeWaits(const QCommandLineParser& parser, CommandLine& command)
{
    if (command.action == Action::Send) {
        command.whenOnline = parser.isSet(kWhenOnline);
        command.localSend = parser.isSet(kLocalSend);
        command.pin = parser.value(kPin);
        if (parser.isSet(kRetry)) {
            const auto retry = seconds(parser, kRetry, 0);
            if (const QString* problem = std::get_if<QString>(&retry))
                return *problem;
            command.retrySeconds = std::get<int>(retry);
        }
        if (!parser.isSet(kTimeout))
            return std::nullopt;
        if (!command.whenOnline)
            return QStringLiteral("--timeout goes with --when-online");
        const auto timeout = seconds(parser, kTimeout);
        if (const QString* problem = std::get_if<QString>(&timeout))
            return *problem;
        command.timeoutSeconds = std::get<int>(timeout);
    }
    if (command.action == Action::Online && parser.isSet(kWait)) {
        const auto wait = seconds(parser, kWait);
        if (const QString* problem = std::get_if<QString>(&wait))
            return *problem;
        command.waitSeconds = std::get<int>(wait);
    }
    return std::nullopt;
}

// key takes at most one name, forget exactly one.
std::optional<QString> takeName(const QStringList& positional, CommandLine& command)
{
    const bool forget = command.action == Action::Forget;
    if (positional.size() > 1 || (forget && positional.isEmpty()))
        return forget ? QStringLiteral("forget takes exactly one name; put it in quotes")
                      : QStringLiteral("key takes at most one name; put it in quotes");
    command.name = positional.value(0);
    if (command.compared && command.name.isEmpty())
        return QStringLiteral("--compared goes with a name");
    return std::nullopt;
}

// Checks the positional arguments and the required options; fills in what they give.
std::optional<QString> takeArguments(const QCommandLineParser& parser, CommandLine& command)
{
    const QStringList positional = parser.positionalArguments();
    switch (command.action) {
    case Action::Receive:
    case Action::Serve:
    case Action::Listen:
    case Action::Online:
        if (!positional.isEmpty())
            return QStringLiteral("unexpected argument '%1'").arg(positional.first());
        return std::nullopt;
    case Action::Send:
        if (positional.isEmpty())
            return QStringLiteral("no files to send");
        command.files = positional;
        break;
    case Action::Chat:
        if (positional.size() != 1)
            return QStringLiteral("chat takes exactly one text; put it in quotes");
        command.text = positional.first();
        break;
    case Action::Key:
    case Action::Forget:
        return takeName(positional, command);
    default:
        break;
    }
    if (command.to.isEmpty())
        return QStringLiteral("--to NAME|ADDRESS is required");
    return std::nullopt;
}

ParsedCommandLine parseSubcommand(const QString& program, const Subcommand& subcommand,
                                  const QStringList& rest)
{
    const QString& name = subcommand.name;
    const Action action = subcommand.action;
    QCommandLineParser parser;
    addOptions(parser, subcommand);
    if (!parser.parse(QStringList{program} + rest))
        return UsageError{parser.errorText(), name};
    CommandLine command;
    command.action = action;
    if (parser.isSet(kHelp)) {
        command.action = Action::Help;
        command.helpTopic = name;
        return command;
    }
    if (usesNetwork(action) && parser.isSet(kBind)) {
        command.bindAddress = QHostAddress(parser.value(kBind));
        if (command.bindAddress.isNull())
            return UsageError{
                QStringLiteral("--bind needs an IP address, not '%1'").arg(parser.value(kBind)),
                name};
    }
    if (action == Action::Receive || action == Action::Serve) {
        command.folder = parser.value(kDir);
        command.onlyKnown = parser.isSet(kOnlyKnown);
    }
    if (action == Action::Receive)
        command.once = parser.isSet(kOnce);
    if (action == Action::Key)
        command.compared = parser.isSet(QStringLiteral("compared"));
    if (action == Action::Listen)
        command.human = parser.isSet(QStringLiteral("human"));
    if (action == Action::Send || action == Action::Chat)
        command.to = parser.value(kTo);
    if (action == Action::Send)
        command.toList = parser.values(kTo);
    if (const std::optional<QString> problem = takeArguments(parser, command))
        return UsageError{*problem, name};
    if (const std::optional<QString> problem = takeWaits(parser, command))
        return UsageError{*problem, name};
    return command;
}

ParsedCommandLine parseHelp(const QStringList& rest)
{
    CommandLine command;
    command.action = Action::Help;
    if (rest.isEmpty())
        return command;
    if (rest.size() > 1 || !findSubcommand(rest.first()))
        return UsageError{QStringLiteral("no help for '%1'").arg(rest.join(QLatin1Char(' '))), {}};
    command.helpTopic = rest.first();
    return command;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return CommandLine{};
    const QString program = arguments.first();
    const QString first = arguments.at(1);
    const QStringList rest = arguments.mid(2);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == kHelp)
        return parseHelp(rest);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        if (!rest.isEmpty())
            return UsageError{QStringLiteral("--version takes no arguments"), {}};
        CommandLine command;
        command.action = Action::Version;
        return command;
    }
    const Subcommand* subcommand = findSubcommand(first);
    if (!subcommand)
        return UsageError{QStringLiteral("unknown subcommand '%1'").arg(first), {}};
    return parseSubcommand(program, *subcommand, rest);
}
