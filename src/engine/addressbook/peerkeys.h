#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class AddressBook;

// What the key a peer showed on the private port means, judged by the address book.
struct KeyCheck {
    enum class Verdict {
        Verified, // an entry with this address holds this key
        Pinned,   // no entry with this address held a key: the first one holds this one now
        Changed,  // entries with this address hold keys, none of them this one
        Stranger, // no entry has this address
    };
    Verdict verdict = Verdict::Stranger;
    QString name; // the entry's name; empty for a stranger

    bool isRefused() const { return verdict == Verdict::Changed; }
    bool isVerified() const { return verdict == Verdict::Verified || verdict == Verdict::Pinned; }
};

// The keys kept in the address book, as a shell keeps known hosts: the first private
// connection with an entry's address, either way, pins the key shown; after that only
// that key is taken from that address, until the user forgets it.
class PeerKeys : public QObject
{
    Q_OBJECT

public:
    // book must outlive this object.
    explicit PeerKeys(AddressBook& book, QObject* parent = nullptr);

    // Judges key shown from address, pinning it when no entry with the address has one.
    KeyCheck check(const QString& address, const QByteArray& key);
    // Whether an entry with this address holds a key: such a person is only ever reached,
    // and only believed, on the private port.
    bool hasKey(const QString& address) const;
    const AddressBook& book() const { return book_; }
    // Requires 0 <= slot < book.count().
    void forget(int slot);

Q_SIGNALS:
    // A key was pinned or forgotten: the address book is to be stored.
    void keysChanged();

private:
    AddressBook& book_;
};

// Whether an entry of book with this address holds a key.
bool hasKey(const AddressBook& book, const QString& address);
// Whether an entry of book holds key.
bool holdsKey(const AddressBook& book, const QByteArray& key);

// "Refused: Anna's key has changed, so nothing was sent ..." and the like, for a
// connection refused because of name's changed key; done says what did not happen.
QString keyChangedMessage(const QString& name, const QString& notDone);
// "the computer at 10.79.0.1 did not show Anna's key": why nothing went to name's entry
// at address; keyAdvice(name) says what to do about it.
QString keyNotShownText(const QString& name, const QString& address);
QString keyAdvice(const QString& name);
// The same for a person to read in a notice, with the advice.
QString keyNotShownMessage(const QString& name, const QString& address);
