#include "addressbook/addressgroups.h"

#include "addressbook/addressbook.h"
#include "platform/settingsstore.h"

#include <algorithm>
#include <cassert>

namespace
{

const QString kNameKey = QStringLiteral("Name");
const QString kCountKey = QStringLiteral("Count");

QString sectionOf(int index)
{
    return QStringLiteral("Group%1").arg(index);
}

QString memberKey(int member)
{
    return QStringLiteral("Member%1").arg(member);
}

QString addressKey(int member)
{
    return QStringLiteral("Address%1").arg(member);
}

// The lowest slot holding name and address that is not among taken; -1 when none does.
int slotOf(const AddressBook& book, const QString& name, const QString& address,
           const QList<int>& taken)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        const AddressBookEntry& entry = book.entry(slot);
        if (entry.Name == name && entry.IPaddress == address && !taken.contains(slot))
            return slot;
    }
    return -1;
}

} // namespace

const AddressGroup& AddressGroups::group(int index) const
{
    assert(index >= 0 && index < count());
    return groups_.at(index);
}

bool AddressGroups::append(const QString& name, const QList<int>& members, const AddressBook& book)
{
    if (isFull() || name.trimmed().isEmpty())
        return false;
    AddressGroup group{name, {}};
    for (int slot : members) {
        if (slot >= 0 && slot < book.count() && !group.members.contains(slot))
            group.members.append(slot);
    }
    std::sort(group.members.begin(), group.members.end());
    groups_.append(group);
    return true;
}

void AddressGroups::remove(int index)
{
    assert(index >= 0 && index < count());
    groups_.removeAt(index);
}

void AddressGroups::personRemoved(int slot)
{
    for (AddressGroup& group : groups_) {
        group.members.removeAll(slot);
        for (int& member : group.members) {
            if (member > slot)
                --member;
        }
    }
}

void AddressGroups::load(const SettingsStore& store, const AddressBook& book)
{
    groups_.clear();
    for (int index = 0; index < kGroups; ++index) {
        const QString section = sectionOf(index);
        const QString name = store.read(section, kNameKey, {});
        if (name.trimmed().isEmpty())
            continue;
        const int stored =
            std::clamp(store.read(section, kCountKey, {}).toInt(), 0, int(AddressBook::kSlots));
        AddressGroup group{name, {}};
        for (int member = 0; member < stored; ++member) {
            const int slot = slotOf(book, store.read(section, memberKey(member), {}),
                                    store.read(section, addressKey(member), {}), group.members);
            if (slot >= 0)
                group.members.append(slot);
        }
        std::sort(group.members.begin(), group.members.end());
        groups_.append(group);
    }
}

void AddressGroups::store(SettingsStore& store, const AddressBook& book) const
{
    for (int index = 0; index < count(); ++index) {
        const QString section = sectionOf(index);
        const AddressGroup& group = groups_.at(index);
        // Members that were dropped must not linger above the count.
        store.removeSection(section);
        store.write(section, kNameKey, group.Name);
        store.write(section, kCountKey, QString::number(group.members.size()));
        for (int member = 0; member < group.members.size(); ++member) {
            const AddressBookEntry& entry = book.entry(group.members.at(member));
            store.write(section, memberKey(member), entry.Name);
            store.write(section, addressKey(member), entry.IPaddress);
        }
    }
    for (int index = count(); index < kGroups; ++index)
        store.removeSection(sectionOf(index));
}
