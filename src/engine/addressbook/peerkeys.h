#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class AddressBook;

// What the key a peer showed on the private port means, judged by the address book. A
// person is their key: the entry that holds the key is the one it speaks for, wherever it
// comes from; an address only says whose key is expected there.
struct KeyCheck {
    enum class Verdict {
        Known,    // an entry holds this key: the person it names
        Pinned,   // no entry held it: the first entry with the address holds it now
        NotShown, // an entry with the address holds another key, or was told this one differs
        Shared,   // several entries hold this key, none of them with this address
        Stranger, // no entry holds this key or has this address
    };
    Verdict verdict = Verdict::Stranger;
    QString name;          // the entry's name; the names, for Shared; empty for a stranger
    bool compared = false; // the key is one a person compared

    bool isRefused() const { return verdict == Verdict::NotShown || verdict == Verdict::Shared; }
    bool isVerified() const { return verdict == Verdict::Known || verdict == Verdict::Pinned; }
};

// The keys kept in the address book. The first private connection with an entry's
// address, either way, pins the key shown; after that that key is the person, and only
// that key is taken from that address, until the user forgets it. A key becomes compared
// once the person says the pair's codes match; a compared key that comes from a new
// address takes its entry there.
class PeerKeys : public QObject
{
    Q_OBJECT

public:
    // book must outlive this object.
    explicit PeerKeys(AddressBook& book, QObject* parent = nullptr);

    // Judges the key a connection from address showed, pinning it when no entry with the
    // address has one, and following it to address when it is compared.
    KeyCheck check(const QString& address, const QByteArray& key);
    // Judges the key a receiver showed when dialled at any of addresses (the host as
    // typed, and the address it resolved to): the key must be that of an entry there.
    KeyCheck checkDialled(const QStringList& addresses, const QByteArray& key);
    // Whether an entry with this address holds a key: such a person is only ever reached,
    // and only believed, on the private port.
    bool hasKey(const QString& address) const;
    const AddressBook& book() const { return book_; }
    // Require 0 <= slot < book.count(). forget() lets go of a refused key too.
    void forget(int slot);
    void markCompared(int slot);
    // The codes differ: the key is forgotten, and refused from then on.
    void refuse(int slot);
    // The entry holding key moves to address, as the person confirmed; false when no
    // single entry holds it.
    bool follow(const QByteArray& key, const QString& address);

Q_SIGNALS:
    // A key was pinned, compared, refused or forgotten, or an entry followed its key: the
    // address book is to be stored.
    void keysChanged();
    // name's compared key came from address, and the entry now has that address.
    void moved(const QString& name, const QString& address);
    // name's pinned key came from address, which is not the entry's: the person is to say
    // whether to follow it (follow()). Told once for each key and address.
    void keyAtNewAddress(const QString& name, const QString& address, const QByteArray& key);

private:
    QList<int> holders(const QByteArray& key) const;
    KeyCheck judgeHolder(int slot, const QString& address);
    KeyCheck judgeByAddress(const QStringList& addresses, const QByteArray& key);

    AddressBook& book_;
    QSet<QByteArray> asked_; // key and address, for keyAtNewAddress
};

// Whether an entry of book with this address holds a key.
bool hasKey(const AddressBook& book, const QString& address);
// Whether the entry named name holds a key a person compared.
bool keyCompared(const AddressBook& book, const QString& name);
// Whether an entry of book holds key.
bool holdsKey(const AddressBook& book, const QByteArray& key);

// "Anna is now at 192.168.1.23": a compared key came from there, and its entry followed.
QString personMovedText(const QString& name, const QString& address);
// "Anna's key came from 192.168.1.23, not from Anna's address 192.168.1.5" and the like,
// for a pinned key at a new address.
QString keyAtNewAddressText(const QString& name, const QString& address);
// Why a key held by several entries (names) was refused.
QString keySharedMessage(const QString& names);
// "the computer at 10.79.0.1 did not show Anna's key": why nothing went to, or came from,
// name's entry at address; keyAdvice(name) says what to do about it.
QString keyNotShownText(const QString& name, const QString& address);
QString keyAdvice(const QString& name);
// The same for a person to read, with the advice: "The computer at 192.168.1.5 did not
// show Anna's key: Anna may have a new address, ...".
QString keyNotShownMessage(const QString& name, const QString& address);
