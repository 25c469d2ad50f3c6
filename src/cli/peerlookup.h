#pragma once

#include <QString>

class AddressBook;

// Where --to points.
struct Peer {
    QString host;        // the address or host name to connect to
    bool inBook = false; // whether --to was a name in the address book
};

// The address of the lowest slot named exactly to; otherwise to itself, taken as an
// address or a host name.
Peer lookUpPeer(const AddressBook& book, const QString& to);

// The lowest slot named exactly name, or -1 when no entry is.
int slotNamed(const AddressBook& book, const QString& name);
