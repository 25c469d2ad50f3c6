#pragma once

#include "addressbook/recipients.h"

#include <QStringList>

#include <variant>

class AddressBook;
class AddressGroups;

// Whether send's --to values name more than one person: more than one value, a group, or
// a value that is no name in the book but a list of them with commas ("Anna,Bea").
bool namesSeveral(const AddressBook& book, const AddressGroups& groups, const QStringList& tos);

// The people the --to values name, each address once: a name in the address book, a
// group's members, or an address or host name; a value that is none of these but holds
// commas is split at them. The problem instead, for a group without people or more
// recipients than a batch takes.
std::variant<QList<Recipient>, QString>
lookUpRecipients(const AddressBook& book, const AddressGroups& groups, const QStringList& tos);
