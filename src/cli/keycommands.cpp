#include "cli/keycommands.h"

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/peerlookup.h"
#include "identity/identity.h"
#include "identity/safetycode.h"
#include "platform/settingsstore.h"

namespace
{

// The slot of the entry named name, or -1 when the console has said there is none.
int entryNamed(const QString& name, const AddressBook& book, Console& console)
{
    const int slot = slotNamed(book, name);
    if (slot < 0)
        console.printProblem(QStringLiteral("'%1' is not a name in the address book").arg(name));
    return slot;
}

} // namespace

int printSafetyCode(const QString& name, const AddressBook& book, const QString& dataFolder,
                    Console& console)
{
    if (name.isEmpty()) {
        QString error;
        const std::optional<Identity> identity = Identity::open(dataFolder, &error);
        if (!identity) {
            console.printProblem(error);
            return kExitNotDone;
        }
        console.printLine(identity->safetyCode());
        return kExitDone;
    }
    const int slot = entryNamed(name, book, console);
    if (slot < 0)
        return kExitUsage;
    const AddressBookEntry& entry = book.entry(slot);
    if (entry.Key.isEmpty()) {
        console.printProblem(QStringLiteral("%1 has no key yet: it is kept at the first private "
                                            "connection with %2, either way")
                                 .arg(name, entry.IPaddress));
        return kExitNotDone;
    }
    console.printLine(safetyCode(entry.Key));
    return kExitDone;
}

int forgetKey(const QString& name, AddressBook& book, SettingsStore& settings, Console& console)
{
    const int slot = entryNamed(name, book, console);
    if (slot < 0)
        return kExitUsage;
    const AddressBookEntry& entry = book.entry(slot);
    if (entry.Key.isEmpty()) {
        console.printLine(QStringLiteral("%1 has no key to forget").arg(name));
        return kExitDone;
    }
    PeerKeys(book).forget(slot);
    book.store(settings);
    if (!settings.save()) {
        console.printProblem(QStringLiteral("%1's key is not forgotten: the settings file %2 "
                                            "could not be written")
                                 .arg(name, settings.fileName()));
        return kExitNotDone;
    }
    console.printLine(QStringLiteral("forgot %1's key: the next private connection with %2 "
                                     "keeps the key it shows")
                          .arg(name, entry.IPaddress));
    return kExitDone;
}
