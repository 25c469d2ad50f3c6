#include "localsend/devicebook.h"

DeviceBook::DeviceBook(AddressBook& book, QObject* parent) : QObject(parent), book_(book) {}

int DeviceBook::firstSlot(const QString& address) const
{
    for (int slot = 0; slot < book_.count(); ++slot) {
        if (book_.entry(slot).IPaddress == address)
            return slot;
    }
    return -1;
}

Speaks DeviceBook::speaks(const QString& address) const
{
    const int slot = firstSlot(address);
    return slot < 0 ? Speaks::Unknown : book_.entry(slot).speaks;
}

bool DeviceBook::isLocalSend(const QString& address) const
{
    return (told_.contains(address) || speaks(address) == Speaks::LocalSend) &&
           !hasKey(book_, address);
}

bool DeviceBook::needsProbe(const QString& address) const
{
    return firstSlot(address) >= 0 && !told_.contains(address) &&
           speaks(address) == Speaks::Unknown && !hasKey(book_, address);
}

quint16 DeviceBook::port(const QString& address) const
{
    const int slot = firstSlot(address);
    const quint16 port = slot < 0 ? 0 : book_.entry(slot).localSendPort;
    return port ? port : kDefaultPort;
}

void DeviceBook::remember(const QString& address, Speaks speaks, const QString& deviceType)
{
    const int slot = firstSlot(address);
    if (slot < 0)
        return;
    const AddressBookEntry& entry = book_.entry(slot);
    bool change = false;
    if (!entry.speaksChosen && entry.speaks != speaks) {
        book_.setSpeaks(slot, speaks, false);
        change = true;
    }
    if (!deviceType.isEmpty() && entry.deviceType != deviceType) {
        book_.setDeviceType(slot, deviceType);
        change = true;
    }
    if (change)
        Q_EMIT changed();
}

KeyCheck DeviceBook::checkCertificate(const QString& address, const QByteArray& fingerprint)
{
    int holder = -1;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (entry.IPaddress != address || entry.certificate.isEmpty())
            continue;
        if (entry.certificate == fingerprint)
            return {KeyCheck::Verdict::Known, entry.Name};
        if (holder < 0)
            holder = slot;
    }
    if (holder >= 0)
        return {KeyCheck::Verdict::NotShown, book_.entry(holder).Name};
    const int first = firstSlot(address);
    if (first < 0)
        return {KeyCheck::Verdict::Stranger, {}};
    book_.setCertificate(first, fingerprint);
    Q_EMIT changed();
    return {KeyCheck::Verdict::Pinned, book_.entry(first).Name};
}

bool isHandheld(const QString& deviceType)
{
    return deviceType == QStringLiteral("mobile");
}
