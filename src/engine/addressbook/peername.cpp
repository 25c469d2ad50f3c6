#include "addressbook/peername.h"

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"

std::optional<QString> senderName(const AddressBook& book, const QString& address)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        const AddressBookEntry& entry = book.entry(slot);
        if (entry.IPaddress == address)
            return entry.Name;
    }
    return std::nullopt;
}

QString nameOrAddress(const AddressBook& book, const QString& address)
{
    return senderName(book, address).value_or(address);
}

std::function<bool(const QString& address)> inBook(const AddressBook& book)
{
    return [&book](const QString& address) { return senderName(book, address).has_value(); };
}

std::function<bool(const QString& address)> inBookPlainly(const AddressBook& book)
{
    return [&book](const QString& address) {
        return senderName(book, address).has_value() && !hasKey(book, address);
    };
}
