#pragma once

#include <QString>

#include <functional>
#include <optional>

class AddressBook;

// The name of the lowest slot whose address text equals address exactly, if any.
std::optional<QString> senderName(const AddressBook& book, const QString& address);
// How a person is named to the user: by that name, or else by the address itself.
QString nameOrAddress(const AddressBook& book, const QString& address);
// Whether an address is in book, which must outlive the answer: "only from my address book".
std::function<bool(const QString& address)> inBook(const AddressBook& book);
// The same for a plain connection: an entry that holds a key counts as known only on the
// private port, with that key.
std::function<bool(const QString& address)> inBookPlainly(const AddressBook& book);
