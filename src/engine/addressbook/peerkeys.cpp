#include "addressbook/peerkeys.h"

#include "addressbook/addressbook.h"

PeerKeys::PeerKeys(AddressBook& book, QObject* parent) : QObject(parent), book_(book) {}

KeyCheck PeerKeys::check(const QString& address, const QByteArray& key)
{
    int first = -1;
    int keyHolder = -1;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (entry.IPaddress != address)
            continue;
        if (first < 0)
            first = slot;
        if (!entry.Key.isEmpty() && entry.Key == key)
            return {KeyCheck::Verdict::Verified, entry.Name};
        if (!entry.Key.isEmpty() && keyHolder < 0)
            keyHolder = slot;
    }
    if (first < 0)
        return {KeyCheck::Verdict::Stranger, {}};
    if (keyHolder >= 0)
        return {KeyCheck::Verdict::Changed, book_.entry(keyHolder).Name};
    book_.setKey(first, key);
    Q_EMIT keysChanged();
    return {KeyCheck::Verdict::Pinned, book_.entry(first).Name};
}

bool PeerKeys::hasKey(const QString& address) const
{
    return ::hasKey(book_, address);
}

bool hasKey(const AddressBook& book, const QString& address)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        const AddressBookEntry& entry = book.entry(slot);
        if (entry.IPaddress == address && !entry.Key.isEmpty())
            return true;
    }
    return false;
}

bool holdsKey(const AddressBook& book, const QByteArray& key)
{
    if (key.isEmpty())
        return false;
    for (int slot = 0; slot < book.count(); ++slot) {
        if (book.entry(slot).Key == key)
            return true;
    }
    return false;
}

void PeerKeys::forget(int slot)
{
    if (book_.entry(slot).Key.isEmpty())
        return;
    book_.setKey(slot, {});
    Q_EMIT keysChanged();
}

QString keyChangedMessage(const QString& name, const QString& notDone)
{
    return QStringLiteral("%1's key has changed, so %2. ").arg(name, notDone) + keyAdvice(name);
}

QString keyNotShownText(const QString& name, const QString& address)
{
    return QStringLiteral("the computer at %1 did not show %2's key").arg(address, name);
}

QString keyAdvice(const QString& name)
{
    return QStringLiteral("If %1 reinstalled Quillo, compare safety codes and choose Forget Key")
        .arg(name);
}

QString keyNotShownMessage(const QString& name, const QString& address)
{
    const QString text = keyNotShownText(name, address);
    return text.left(1).toUpper() + text.mid(1) + QStringLiteral(", so nothing was sent. ") +
           keyAdvice(name);
}
