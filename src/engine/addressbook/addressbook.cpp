#include "addressbook/addressbook.h"

#include "identity/safetycode.h"
#include "platform/settingsstore.h"

#include <cassert>

namespace
{

const QString kNameKey = QStringLiteral("Name");
const QString kAddressKey = QStringLiteral("IPaddress");
const QString kKeyKey = QStringLiteral("Key");
// Absent in settings older than the mark: such a key counts as pinned.
const QString kComparedKey = QStringLiteral("KeyCompared");
const QString kRefusedKey = QStringLiteral("RefusedKey");
const QString kSpeaksKey = QStringLiteral("Speaks");
const QString kSpeaksChosenKey = QStringLiteral("SpeaksChosen");
const QString kPortKey = QStringLiteral("LocalSendPort");
const QString kCertificateKey = QStringLiteral("Certificate");
const QString kDeviceTypeKey = QStringLiteral("DeviceType");
// What a missing key reads as; an entry named so counts as absent.
const QString kAbsent = QStringLiteral("blank");

QString sectionOf(int slot)
{
    return QStringLiteral("IPaddress%1").arg(slot);
}

// A value that is not there is removed, so that no section keeps an older one.
void storeKeyText(SettingsStore& store, const QString& section, const QString& name,
                  const QString& value)
{
    if (value.isEmpty())
        store.remove(section, name);
    else
        store.write(section, name, value);
}

void storeKeys(SettingsStore& store, const QString& section, const AddressBookEntry& entry)
{
    storeKeyText(store, section, kKeyKey, entry.Key.isEmpty() ? QString() : keyText(entry.Key));
    storeKeyText(store, section, kComparedKey,
                 entry.KeyCompared ? QStringLiteral("true") : QString());
    storeKeyText(store, section, kRefusedKey,
                 entry.RefusedKey.isEmpty() ? QString() : keyText(entry.RefusedKey));
}

void loadDevice(const SettingsStore& store, const QString& section, AddressBookEntry& entry)
{
    entry.speaks = speaksFromText(store.read(section, kSpeaksKey, {})).value_or(Speaks::Unknown);
    entry.speaksChosen = entry.speaks != Speaks::Unknown &&
                         store.read(section, kSpeaksChosenKey, {}) == QStringLiteral("true");
    const uint port = store.read(section, kPortKey, {}).toUInt();
    entry.localSendPort = port <= 65535 ? quint16(port) : 0;
    entry.certificate = keyFromText(store.read(section, kCertificateKey, {}));
    entry.deviceType = store.read(section, kDeviceTypeKey, {}).left(16);
}

void storeDevice(SettingsStore& store, const QString& section, const AddressBookEntry& entry)
{
    storeKeyText(store, section, kSpeaksKey, speaksText(entry.speaks));
    storeKeyText(store, section, kSpeaksChosenKey,
                 entry.speaksChosen ? QStringLiteral("true") : QString());
    storeKeyText(store, section, kPortKey,
                 entry.localSendPort ? QString::number(entry.localSendPort) : QString());
    storeKeyText(store, section, kCertificateKey,
                 entry.certificate.isEmpty() ? QString() : keyText(entry.certificate));
    storeKeyText(store, section, kDeviceTypeKey, entry.deviceType);
}

} // namespace

QString speaksText(Speaks speaks)
{
    switch (speaks) {
    case Speaks::Private:
        return QStringLiteral("private");
    case Speaks::Plain:
        return QStringLiteral("plain");
    case Speaks::LocalSend:
        return QStringLiteral("localsend");
    case Speaks::Unknown:
        break;
    }
    return {};
}

std::optional<Speaks> speaksFromText(const QString& text)
{
    for (Speaks speaks : {Speaks::Private, Speaks::Plain, Speaks::LocalSend}) {
        if (text == speaksText(speaks))
            return speaks;
    }
    return std::nullopt;
}

const AddressBookEntry& AddressBook::entry(int slot) const
{
    assert(slot >= 0 && slot < count_);
    return slots_[slot];
}

void AddressBook::append(const QString& name, const QString& address)
{
    assert(!isFull());
    slots_[count_] = {};
    slots_[count_].Name = name;
    slots_[count_].IPaddress = address;
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
    slots_[slot].KeyCompared = false;
}

void AddressBook::setKeyCompared(int slot, bool compared)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].KeyCompared = compared && !slots_[slot].Key.isEmpty();
}

void AddressBook::setRefusedKey(int slot, const QByteArray& key)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].RefusedKey = key;
}

void AddressBook::setSpeaks(int slot, Speaks speaks, bool chosen)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].speaks = speaks;
    slots_[slot].speaksChosen = chosen && speaks != Speaks::Unknown;
}

void AddressBook::setLocalSendPort(int slot, quint16 port)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].localSendPort = port;
}

void AddressBook::setCertificate(int slot, const QByteArray& certificate)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].certificate = certificate;
}

void AddressBook::setDeviceType(int slot, const QString& type)
{
    assert(slot >= 0 && slot < count_);
    slots_[slot].deviceType = type;
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
        AddressBookEntry& entry = slots_[count_ - 1];
        entry.Key = keyFromText(store.read(sectionOf(section), kKeyKey, {}));
        entry.KeyCompared = !entry.Key.isEmpty() && store.read(sectionOf(section), kComparedKey,
                                                               {}) == QLatin1String("true");
        entry.RefusedKey = keyFromText(store.read(sectionOf(section), kRefusedKey, {}));
        loadDevice(store, sectionOf(section), entry);
    }
}

void AddressBook::store(SettingsStore& store) const
{
    for (int slot = 0; slot < count_; ++slot) {
        store.write(sectionOf(slot), kNameKey, slots_[slot].Name);
        store.write(sectionOf(slot), kAddressKey, slots_[slot].IPaddress);
        storeKeys(store, sectionOf(slot), slots_[slot]);
        storeDevice(store, sectionOf(slot), slots_[slot]);
    }
    for (int section = count_; section < kSlots; ++section)
        store.removeSection(sectionOf(section));
}
