#include "addressbook/addressbook.h"

#include "identity/safetycode.h"
#include "platform/settingsstore.h"

#include <cassert>

namespace
{

const QString kNameKey = QStringLiteral("Name");
const QString kAddressKey = QStringLiteral("IPaddress");
const QString kKeyKey = QStringLiteral("Key");
// What a missing key reads as; an entry named so counts as absent.
const QString kAbsent = QStringLiteral("blank");

QString sectionOf(int slot)
{
    return QStringLiteral("IPaddress%1").arg(slot);
}

} // namespace

const AddressBookEntry& AddressBook::entry(int slot) const
{
    assert(slot >= 0 && slot < count_);
    return slots_[slot];
}

void AddressBook::append(const QString& name, const QString& address)
{
    assert(!isFull());
    slots_[count_] = {name, address, {}};
    ++count_;
}

void AddressBook::remove(int slot)
{
    assert(slot >= 0 && slot < count_);
    for (int i = slot; i + 1 < count_; ++i)
        slots_[i] = slots_[i + 1];
    --count_;
    slots_[count_] = {};
}

void AddressBook::setAddress(int slot, const QString& address)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].IPaddress = address;
}

void AddressBook::setKey(int slot, const QByteArray& key)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].Key = key;
}

void AddressBook::load(const SettingsStore& store)
{
    slots_ = {};
    count_ = 0;
    for (int section = 0; section < kSlots; ++section) {
        const QString name = store.read(sectionOf(section), kNameKey, kAbsent);
        const QString address = store.read(sectionOf(section), kAddressKey, kAbsent);
        if (name == kAbsent || name.isEmpty())
            continue;
        append(name, address);
        slots_[count_ - 1].Key = keyFromText(store.read(sectionOf(section), kKeyKey, {}));
    }
}

void AddressBook::store(SettingsStore& store) const
{
    for (int slot = 0; slot < count_; ++slot) {
        store.write(sectionOf(slot), kNameKey, slots_[slot].Name);
        store.write(sectionOf(slot), kAddressKey, slots_[slot].IPaddress);
        if (slots_[slot].Key.isEmpty())
            store.remove(sectionOf(slot), kKeyKey);
        else
            store.write(sectionOf(slot), kKeyKey, keyText(slots_[slot].Key));
    }
    for (int section = count_; section < kSlots; ++section)
        store.removeSection(sectionOf(section));
}
