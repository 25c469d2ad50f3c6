#include "addressbook/peerkeys.h"

#include "addressbook/addressbook.h"

#include <QHostAddress>
#include <QStringList>

namespace
{

// How many keys at new addresses are remembered as asked about: whoever holds a friend's
// key may come from any number of addresses.
constexpr int kMaxQuestions = 256;

// A host name is kept as typed: only an entry that holds an address follows its key.
bool isAddress(const QString& text)
{
    return !QHostAddress(text).isNull();
}

} // namespace

PeerKeys::PeerKeys(AddressBook& book, QObject* parent) : QObject(parent), book_(book) {}

QList<int> PeerKeys::holders(const QByteArray& key) const
{
    QList<int> slots;
    for (int slot = 0; slot < book_.count() && !key.isEmpty(); ++slot) {
        if (book_.entry(slot).Key == key)
            slots.append(slot);
    }
    return slots;
}

KeyCheck PeerKeys::check(const QString& address, const QByteArray& key)
{
    const QList<int> keyHolders = holders(key);
    for (const int slot : keyHolders) {
        if (book_.entry(slot).IPaddress == address)
            return judgeHolder(slot, address);
    }
    if (keyHolders.size() == 1)
        return judgeHolder(keyHolders.first(), address);
    if (keyHolders.size() > 1) {
        QStringList names;
        for (const int slot : keyHolders)
            names.append(book_.entry(slot).Name);
        return {KeyCheck::Verdict::Shared, names.join(QStringLiteral(", ")), false};
    }
    return judgeByAddress({address}, key);
}

// The key of the entry at slot came from address.
KeyCheck PeerKeys::judgeHolder(int slot, const QString& address)
{
    const AddressBookEntry& entry = book_.entry(slot);
    const KeyCheck known{KeyCheck::Verdict::Known, entry.Name, entry.KeyCompared};
    if (entry.IPaddress == address || !isAddress(entry.IPaddress) || !isAddress(address))
        return known;
    if (entry.KeyCompared) {
        book_.setAddress(slot, address);
        Q_EMIT keysChanged();
        Q_EMIT moved(known.name, address);
        return known;
    }
    const QByteArray question = entry.Key + address.toUtf8();
    if (!asked_.contains(question)) {
        if (asked_.size() >= kMaxQuestions)
            asked_.clear();
        asked_.insert(question);
        Q_EMIT keyAtNewAddress(entry.Name, address, entry.Key);
    }
    return known;
}

KeyCheck PeerKeys::checkDialled(const QStringList& addresses, const QByteArray& key)
{
    const KeyCheck expected = judgeByAddress(addresses, key);
    if (expected.verdict != KeyCheck::Verdict::Stranger)
        return expected;
    // No entry has the address: whoever holds the key is who answered, wherever it is.
    const QList<int> keyHolders = holders(key);
    if (keyHolders.size() == 1)
        return {KeyCheck::Verdict::Known, book_.entry(keyHolders.first()).Name,
                book_.entry(keyHolders.first()).KeyCompared};
    return expected;
}

// What the entries with one of addresses make of key, pinning it to the first of them
// when none holds one.
KeyCheck PeerKeys::judgeByAddress(const QStringList& addresses, const QByteArray& key)
{
    int first = -1;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (!addresses.contains(entry.IPaddress))
            continue;
        if (entry.Key == key && !key.isEmpty())
            return {KeyCheck::Verdict::Known, entry.Name, entry.KeyCompared};
        if (!entry.Key.isEmpty() || (!key.isEmpty() && entry.RefusedKey == key))
            return {KeyCheck::Verdict::NotShown, entry.Name, false};
        if (first < 0)
            first = slot;
    }
    if (first < 0)
        return {};
    // A key another entry holds would make two entries one person.
    if (!holders(key).isEmpty())
        return {KeyCheck::Verdict::NotShown, book_.entry(first).Name, false};
    book_.setKey(first, key);
    Q_EMIT keysChanged();
    return {KeyCheck::Verdict::Pinned, book_.entry(first).Name, false};
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

bool keyCompared(const AddressBook& book, const QString& name)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        const AddressBookEntry& entry = book.entry(slot);
        if (entry.Name == name && !entry.Key.isEmpty())
            return entry.KeyCompared;
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
    const AddressBookEntry& entry = book_.entry(slot);
    if (entry.Key.isEmpty() && entry.RefusedKey.isEmpty())
        return;
    book_.setKey(slot, {});
    book_.setRefusedKey(slot, {});
    Q_EMIT keysChanged();
}

void PeerKeys::markCompared(int slot)
{
    if (book_.entry(slot).Key.isEmpty() || book_.entry(slot).KeyCompared)
        return;
    book_.setKeyCompared(slot, true);
    Q_EMIT keysChanged();
}

void PeerKeys::refuse(int slot)
{
    const QByteArray key = book_.entry(slot).Key;
    if (key.isEmpty())
        return;
    book_.setKey(slot, {});
    book_.setRefusedKey(slot, key);
    Q_EMIT keysChanged();
}

bool PeerKeys::follow(const QByteArray& key, const QString& address)
{
    const QList<int> keyHolders = holders(key);
    if (keyHolders.size() != 1)
        return false;
    book_.setAddress(keyHolders.first(), address);
    Q_EMIT keysChanged();
    return true;
}

QString keyNotShownText(const QString& name, const QString& address)
{
    return QStringLiteral("the computer at %1 did not show %2's key").arg(address, name);
}

QString keyAdvice(const QString& name)
{
    return QStringLiteral("%1 may have a new address, or reinstalled Quillo. Compare codes before "
                          "you forget the old key.")
        .arg(name);
}

QString keyNotShownMessage(const QString& name, const QString& address)
{
    const QString text = keyNotShownText(name, address);
    return text.left(1).toUpper() + text.mid(1) + QStringLiteral(": ") + keyAdvice(name);
}

QString personMovedText(const QString& name, const QString& address)
{
    return QStringLiteral("%1 is now at %2").arg(name, address);
}

QString keyAtNewAddressText(const QString& name, const QString& address)
{
    return QStringLiteral("%1's key, not yet compared, came from %2, which is not %1's address")
        .arg(name, address);
}

QString keySharedMessage(const QString& names)
{
    return QStringLiteral("Refused: the key it showed is held by several entries of your address "
                          "book (%1). Compare codes, and forget the key in the entries that are "
                          "not this person.")
        .arg(names);
}
