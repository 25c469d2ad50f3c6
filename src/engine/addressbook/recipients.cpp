#include "addressbook/recipients.h"

#include "addressbook/addressbook.h"
#include "addressbook/addressgroups.h"

#include <algorithm>

void addRecipient(QList<Recipient>& recipients, const Recipient& who)
{
    const bool listed =
        std::any_of(recipients.cbegin(), recipients.cend(),
                    [&who](const Recipient& r) { return r.address == who.address; });
    if (!listed)
        recipients.append(who);
}

QList<Recipient> recipientsOf(const AddressBook& book, const AddressGroups& groups,
                              const QList<int>& slots, const QList<int>& groupIndexes)
{
    QList<Recipient> recipients;
    const auto addSlot = [&](int slot) {
        if (slot >= 0 && slot < book.count())
            addRecipient(recipients, {book.entry(slot).Name, book.entry(slot).IPaddress});
    };
    for (int slot : slots)
        addSlot(slot);
    for (int index : groupIndexes) {
        if (index < 0 || index >= groups.count())
            continue;
        for (int slot : groups.group(index).members)
            addSlot(slot);
    }
    return recipients;
}
