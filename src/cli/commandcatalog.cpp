#include "cli/commandcatalog.h"

namespace
{

using Action = CommandLine::Action;

const OptionSpec kBind{QStringLiteral("bind"), QStringLiteral("address")};
const OptionSpec kDir{QStringLiteral("dir"), QStringLiteral("folder")};
const OptionSpec kOnlyKnown{QStringLiteral("only-known"), {}};
const OptionSpec kTo{QStringLiteral("to"), QStringLiteral("peer")};

const QString kPrivacy = QStringLiteral("private or plain");

} // namespace

const QList<SubcommandSpec>& subcommandSpecs()
{
    static const QList<SubcommandSpec> specs{
        {QStringLiteral("receive"),
         Action::Receive,
         {kBind, kDir, kOnlyKnown, {QStringLiteral("once"), {}}}},
        {QStringLiteral("send"),
         Action::Send,
         {kBind,
          kTo,
          {QStringLiteral("when-online"), {}},
          {QStringLiteral("timeout"), QStringLiteral("seconds")},
          {QStringLiteral("retry"), QStringLiteral("seconds")}}},
        {QStringLiteral("chat"), Action::Chat, {kBind, kTo}},
        {QStringLiteral("listen"), Action::Listen, {kBind, {QStringLiteral("human"), {}}}},
        {QStringLiteral("online"),
         Action::Online,
         {kBind, {QStringLiteral("wait"), QStringLiteral("seconds")}}},
        {QStringLiteral("serve"), Action::Serve, {kBind, kDir, kOnlyKnown}},
        {QStringLiteral("key"), Action::Key, {}},
        {QStringLiteral("forget"), Action::Forget, {}},
    };
    return specs;
}

const SubcommandSpec* findSubcommand(const QString& name)
{
    for (const SubcommandSpec& spec : subcommandSpecs()) {
        if (spec.name == name)
            return &spec;
    }
    return nullptr;
}

const QList<OutputLineSpec>& outputLineSpecs()
{
    static const QList<OutputLineSpec> specs{
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
    return specs;
}

QString outputLineShape(const QString& kind)
{
    for (const OutputLineSpec& spec : outputLineSpecs()) {
        if (spec.kind == kind)
            return (QStringList{spec.kind} + spec.fields).join(QStringLiteral("<TAB>"));
    }
    return {};
}
