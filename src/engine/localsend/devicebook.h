#pragma once

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"

#include <QObject>
#include <QSet>

// What the address book knows of the protocol each entry speaks, and the certificates of
// the LocalSend devices among them, pinned as PeerKeys pins Quillo keys: the first HTTPS
// connection to an entry's address pins the certificate shown; after that only that
// certificate is taken from that address, until the user forgets it.
class DeviceBook : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kDefaultPort = 53317;

    // book must outlive this object.
    explicit DeviceBook(AddressBook& book, QObject* parent = nullptr);

    // How the first entry with address speaks; Unknown outside the book.
    Speaks speaks(const QString& address) const;
    // Whether files to address go by LocalSend's protocol: its entry says so, and no entry
    // with the address holds a Quillo key (such a person is reached privately only).
    bool isLocalSend(const QString& address) const;
    // Whether address is an entry whose protocol is still to be found out.
    bool needsProbe(const QString& address) const;
    quint16 port(const QString& address) const;
    // address speaks LocalSend's protocol for the rest of this run, in the book or not.
    void treatAsLocalSend(const QString& address) { told_.insert(address); }
    // Keeps what answered at address, unless the user chose otherwise.
    void remember(const QString& address, Speaks speaks, const QString& deviceType = {});
    // Judges the certificate fingerprint shown at address, pinning it when no entry with
    // the address has one.
    KeyCheck checkCertificate(const QString& address, const QByteArray& fingerprint);

Q_SIGNALS:
    // Something was learnt or pinned: the address book is to be stored.
    void changed();

private:
    int firstSlot(const QString& address) const;

    AddressBook& book_;
    QSet<QString> told_;
};

// Whether a LocalSend device type is a phone or tablet rather than a computer.
bool isHandheld(const QString& deviceType);
