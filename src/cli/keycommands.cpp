#include "cli/keycommands.h"

#include "cli/command.h"
#include "cli/console.h"
#include "cli/peerlookup.h"
#include "identity/safetycode.h"
#include "station/station.h"

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

int printSafetyCode(const QString& name, const Station& station, Console& console)
{
    if (name.isEmpty()) {
        QString error;
        const QString code = station.ownSafetyCode(&error);
        if (code.isEmpty()) {
            console.printProblem(error);
            return kExitNotDone;
        }
        console.printLine(code);
        return kExitDone;
    }
    const AddressBook& book = station.addressBook();
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

int forgetKey(const QString& name, Station& station, Console& console)
{
    const AddressBook& book = std::as_const(station).addressBook();
    const int slot = entryNamed(name, book, console);
    if (slot < 0)
        return kExitUsage;
    if (book.entry(slot).Key.isEmpty()) {
        console.printLine(QStringLiteral("%1 has no key to forget").arg(name));
        return kExitDone;
    }
    const QString address = book.entry(slot).IPaddress;
    QString notSaved;
    const QMetaObject::Connection told = QObject::connect(
        &station, &Station::keysNotSaved, [&notSaved](const QString& file) { notSaved = file; });
    station.forgetKey(slot);
    QObject::disconnect(told);
    if (!notSaved.isEmpty()) {
        console.printProblem(QStringLiteral("%1's key is not forgotten: the settings file %2 "
                                            "could not be written")
                                 .arg(name, notSaved));
        return kExitNotDone;
    }
    console.printLine(QStringLiteral("forgot %1's key: the next private connection with %2 "
                                     "keeps the key it shows")
                          .arg(name, address));
    return kExitDone;
}
