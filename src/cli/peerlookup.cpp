#include "cli/peerlookup.h"

#include "addressbook/addressbook.h"

Peer lookUpPeer(const AddressBook& book, const QString& to)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        if (book.entry(slot).Name == to)
            return {book.entry(slot).IPaddress, true};
    }
    return {to, false};
}
