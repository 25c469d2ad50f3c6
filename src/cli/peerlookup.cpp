#include "cli/peerlookup.h"

#include "addressbook/addressbook.h"

int slotNamed(const AddressBook& book, const QString& name)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        if (book.entry(slot).Name == name)
            return slot;
    }
    return -1;
}

Peer lookUpPeer(const AddressBook& book, const QString& to)
{
    const int slot = slotNamed(book, to);
    if (slot >= 0)
        return {book.entry(slot).IPaddress, true};
    return {to, false};
}
