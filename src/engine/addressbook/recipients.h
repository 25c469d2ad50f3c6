#pragma once

#include <QList>
#include <QString>

class AddressBook;
class AddressGroups;

// One person a batch goes to when it goes to several.
struct Recipient {
    QString name;    // as the address book shows it; the address itself for someone outside it
    QString address; // as in the address book

    bool operator==(const Recipient& other) const
    {
        return name == other.name && address == other.address;
    }
};

// The people of these slots and these groups, in that order, each address once: a person
// in two of the groups, or chosen as well, gets the files once.
QList<Recipient> recipientsOf(const AddressBook& book, const AddressGroups& groups,
                              const QList<int>& slots, const QList<int>& groupIndexes);

// Adds who unless someone with the address is there already.
void addRecipient(QList<Recipient>& recipients, const Recipient& who);
