#include "cli/recipientlookup.h"

#include "addressbook/addressbook.h"
#include "addressbook/addressgroups.h"
#include "cli/peerlookup.h"
#include "sending/fanout.h"
#include "text/peertext.h"

namespace
{

int groupNamed(const AddressGroups& groups, const QString& name)
{
    for (int index = 0; index < groups.count(); ++index) {
        if (groups.group(index).Name == name)
            return index;
    }
    return -1;
}

// The values with those that are neither a name nor a group split at their commas.
QStringList namesIn(const AddressBook& book, const AddressGroups& groups, const QStringList& tos)
{
    QStringList names;
    for (const QString& to : tos) {
        if (slotNamed(book, to) >= 0 || groupNamed(groups, to) >= 0 ||
            !to.contains(QLatin1Char(','))) {
            names.append(to);
            continue;
        }
        for (const QString& part : to.split(QLatin1Char(','), Qt::SkipEmptyParts))
            names.append(part.trimmed());
    }
    return names;
}

} // namespace

bool namesSeveral(const AddressBook& book, const AddressGroups& groups, const QStringList& tos)
{
    const QStringList names = namesIn(book, groups, tos);
    return names.size() > 1 || (names.size() == 1 && slotNamed(book, names.first()) < 0 &&
                                groupNamed(groups, names.first()) >= 0);
}

std::variant<QList<Recipient>, QString>
lookUpRecipients(const AddressBook& book, const AddressGroups& groups, const QStringList& tos)
{
    QList<Recipient> recipients;
    for (const QString& name : namesIn(book, groups, tos)) {
        const int slot = slotNamed(book, name);
        const int group = slot < 0 ? groupNamed(groups, name) : -1;
        if (group >= 0) {
            const QList<Recipient> members = recipientsOf(book, groups, {}, {group});
            if (members.isEmpty())
                return QStringLiteral("the group '%1' has no people in it")
                    .arg(shownOnOneLine(name));
            for (const Recipient& member : members)
                addRecipient(recipients, member);
            continue;
        }
        const Peer peer = lookUpPeer(book, name);
        addRecipient(recipients, {name, peer.host});
    }
    if (recipients.size() > FanOut::kMostRecipients)
        return QStringLiteral("at most %1 people at once, not %2")
            .arg(FanOut::kMostRecipients)
            .arg(recipients.size());
    return recipients;
}
