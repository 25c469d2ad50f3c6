#include "addressbook/addressbook.h"

#include "identity/safetycode.h"
#include "platform/settingsstore.h"

#include <cassert>

namespace
{

const QString kNameKey = QStringLiteral("Name");
const QString kAddressKey = QStringLiteral("IPaddress");
const QString kKeyKey = QStringLiteral("Key");
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

// Writes value under key, or removes the key when value is empty, so that an entry
// without LocalSend fields leaves its section as older copies wrote it.
void writeOrRemove(SettingsStore& store, const QString& section, const QString& key,
                   const QString& value)
{
    if (value.isEmpty())
        store.remove(section, key);
    else
        store.write(section, key, value);
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
    writeOrRemove(store, section, kSpeaksKey, speaksText(entry.speaks));
    writeOrRemove(store, section, kSpeaksChosenKey,
                  entry.speaksChosen ? QStringLiteral("true") : QString());
    writeOrRemove(store, section, kPortKey,
                  entry.localSendPort ? QString::number(entry.localSendPort) : QString());
    writeOrRemove(store, section, kCertificateKey,
                  entry.certificate.isEmpty() ? QString() : keyText(entry.certificate));
    writeOrRemove(store, section, kDeviceTypeKey, entry.deviceType);
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
        slots_[count_ - 1].Key = keyFromText(store.read(sectionOf(section), kKeyKey, {}));
        loadDevice(store, sectionOf(section), slots_[count_ - 1]);
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
        storeDevice(store, sectionOf(slot), slots_[slot]);
    }
    for (int section = count_; section < kSlots; ++section)
        store.removeSection(sectionOf(section));
}
