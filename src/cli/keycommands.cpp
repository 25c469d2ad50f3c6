#include "cli/keycommands.h"

#include "cli/command.h"
#include "cli/console.h"
#include "cli/peerlookup.h"
#include "station/station.h"

#include <functional>

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

// Makes change to the keys; false, with notDone told, when the settings file could not
// be written.
bool changeKeys(Station& station, Console& console, const QString& notDone,
                const std::function<void()>& change)
{
    QString file;
    const QMetaObject::Connection told = QObject::connect(
        &station, &Station::keysNotSaved, [&file](const QString& name) { file = name; });
    change();
    QObject::disconnect(told);
    if (!file.isEmpty())
        console.printProblem(
            QStringLiteral("%1: the settings file %2 could not be written").arg(notDone, file));
    return file.isEmpty();
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
    QString problem;
    const QString code = station.pairCode(slot, &problem);
    if (code.isEmpty()) {
        console.printProblem(problem);
        return kExitNotDone;
    }
    console.printLine(code);
    return kExitDone;
}

int forgetKey(const QString& name, Station& station, Console& console)
{
    const AddressBook& book = std::as_const(station).addressBook();
    const int slot = entryNamed(name, book, console);
    if (slot < 0)
        return kExitUsage;
    if (book.entry(slot).Key.isEmpty() && book.entry(slot).RefusedKey.isEmpty()) {
        console.printLine(QStringLiteral("%1 has no key to forget").arg(name));
        return kExitDone;
    }
    const QString address = book.entry(slot).IPaddress;
    if (!changeKeys(station, console, QStringLiteral("%1's key is not forgotten").arg(name),
                    [&station, slot] { station.forgetKey(slot); }))
        return kExitNotDone;
    console.printLine(QStringLiteral("forgot %1's key: the next private connection with %2 "
                                     "keeps the key it shows")
                          .arg(name, address));
    return kExitDone;
}

int markCompared(const QString& name, Station& station, Console& console)
{
    const AddressBook& book = std::as_const(station).addressBook();
    const int slot = entryNamed(name, book, console);
    if (slot < 0)
        return kExitUsage;
    QString problem;
    if (station.pairCode(slot, &problem).isEmpty()) {
        console.printProblem(problem);
        return kExitNotDone;
    }
    if (!changeKeys(station, console, QStringLiteral("%1's key is not marked compared").arg(name),
                    [&station, slot] { station.markKeyCompared(slot); }))
        return kExitNotDone;
    console.printLine(QStringLiteral("%1's key is compared").arg(name));
    return kExitDone;
}
