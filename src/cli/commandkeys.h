#pragma once

#include "addressbook/peerkeys.h"
#include "identity/identity.h"

#include <QObject>

#include <optional>

class AddressBook;
class Console;
class SettingsStore;

// This installation's identity and the keys of the address book, for a command that
// sends or receives privately. Keys pinned or forgotten while it runs are written to the
// settings at once, as the station does.
class CommandKeys : public QObject
{
    Q_OBJECT

public:
    // settings and book must outlive this object. When the identity cannot be had, the
    // console is told once, and the command goes on in the clear.
    CommandKeys(SettingsStore& settings, AddressBook& book, const QString& dataFolder,
                Console& console, QObject* parent = nullptr);

    const Identity* identity() const { return identity_ ? &*identity_ : nullptr; }
    PeerKeys& peerKeys() { return keys_; }

private:
    void store();

    SettingsStore& settings_;
    AddressBook& book_;
    Console& console_;
    PeerKeys keys_;
    std::optional<Identity> identity_;
};
