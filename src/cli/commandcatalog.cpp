#include "cli/commandcatalog.h"

namespace
{

using Action = CommandLine::Action;

const CommandOption kBind{QStringLiteral("bind"), QStringLiteral("address")};
const CommandOption kDir{QStringLiteral("dir"), QStringLiteral("folder")};
const CommandOption kOnlyKnown{QStringLiteral("only-known"), {}};
const CommandOption kTo{QStringLiteral("to"), QStringLiteral("peer")};

const QString kPrivacy = QStringLiteral("private, plain or localsend");

} // namespace

const QList<Subcommand>& subcommandList()
{
    static const QList<Subcommand> entries{
        {QStringLiteral("receive"),
         Action::Receive,
         {kBind, kDir, kOnlyKnown, {QStringLiteral("once"), {}}}},
        {QStringLiteral("send"),
         Action::Send,
         {kBind,
          kTo,
          {QStringLiteral("when-online"), {}},
          {QStringLiteral("timeout"), QStringLiteral("seconds")},
          {QStringLiteral("retry"), QStringLiteral("seconds")},
          {QStringLiteral("localsend"), {}},
          {QStringLiteral("pin"), QStringLiteral("pin")}}},
        {QStringLiteral("chat"), Action::Chat, {kBind, kTo}},
        {QStringLiteral("listen"), Action::Listen, {kBind, {QStringLiteral("human"), {}}}},
        {QStringLiteral("online"),
         Action::Online,
         {kBind, {QStringLiteral("wait"), QStringLiteral("seconds")}}},
        {QStringLiteral("serve"), Action::Serve, {kBind, kDir, kOnlyKnown}},
        {QStringLiteral("key"), Action::Key, {{QStringLiteral("compared"), {}}}},
        {QStringLiteral("forget"), Action::Forget, {}},
    };
    return entries;
}

const Subcommand* findSubcommand(const QString& name)
{
    for (const Subcommand& subcommand : subcommandList()) {
        if (subcommand.name == name)
            return &subcommand;
    }
    return nullptr;
}

const QList<OutputLineKind>& outputLineKinds()
{
    static const QList<OutputLineKind> entries{
        {QStringLiteral("received"),
         {QStringLiteral("saved path"), QStringLiteral("size"), QStringLiteral("peer address"),
          kPrivacy}},
        {QStringLiteral("sent"),
         {QStringLiteral("path"), QStringLiteral("size"), QStringLiteral("peer address"),
          kPrivacy}},
        {QStringLiteral("online"), {QStringLiteral("name"), QStringLiteral("address")}},
        {QStringLiteral("offline"), {QStringLiteral("name"), QStringLiteral("address")}},
        {QStringLiteral("chat"),
         {QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("text")}},
    };
    return entries;
}

QString outputLineShape(const QString& kind)
{
    for (const OutputLineKind& line : outputLineKinds()) {
        if (line.kind == kind)
            return (QStringList{line.kind} + line.fields).join(QStringLiteral("<TAB>"));
    }
    return {};
}
