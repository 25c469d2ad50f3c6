#include "window/addressbookpanel.h"

#include "station/station.h"
#include "window/dialogs.h"

#include <QListWidget>
#include <QPointer>

#include <optional>

namespace
{

const QString kNewEntryTitle = QStringLiteral("New IP Address Book Entry");
const QString kEditTitle = QStringLiteral("Edit Entry");

const QString kFindOut = QStringLiteral("find out");

// How an entry is reached, as the edit question offers it: "quillo", "plain",
// "localsend" with an optional port, or "find out".
struct HowReached {
    Speaks speaks = Speaks::Unknown;
    quint16 port = 0;
};

std::optional<HowReached> howReached(const QString& answer)
{
    const QStringList words = answer.simplified().toLower().split(QLatin1Char(' '));
    const QString& first = words.first();
    if (answer.simplified().toLower() == kFindOut)
        return HowReached{};
    if (words.size() == 1 && first == QStringLiteral("quillo"))
        return HowReached{Speaks::Private, 0};
    if (words.size() == 1 && first == QStringLiteral("plain"))
        return HowReached{Speaks::Plain, 0};
    if (first != QStringLiteral("localsend") || words.size() > 2)
        return std::nullopt;
    bool ok = true;
    const uint port = words.size() == 2 ? words.at(1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535)
        return words.size() == 1 ? std::optional(HowReached{Speaks::LocalSend, 0}) : std::nullopt;
    return HowReached{Speaks::LocalSend, quint16(port)};
}

QString howReachedText(const AddressBookEntry& entry)
{
    if (!entry.speaksChosen)
        return kFindOut;
    switch (entry.speaks) {
    case Speaks::Private:
        return QStringLiteral("quillo");
    case Speaks::Plain:
        return QStringLiteral("plain");
    case Speaks::LocalSend:
        return entry.localSendPort ? QStringLiteral("localsend %1").arg(entry.localSendPort)
                                   : QStringLiteral("localsend");
    case Speaks::Unknown:
        break;
    }
    return kFindOut;
}

// Empty once leading and trailing spaces are removed.
bool isBlank(const QString& text)
{
    return text.count(QLatin1Char(' ')) == text.size();
}

} // namespace

AddressBookPanel::AddressBookPanel(QListWidget& list, Dialogs& dialogs, Station& station)
    : station_(station), list_(list), dialogs_(dialogs)
{
    connect(&station_, &Station::addressBookChanged, this, &AddressBookPanel::showNames);
    showNames();
}

int AddressBookPanel::selectedSlot() const
{
    const QList<QListWidgetItem*> selected = list_.selectedItems();
    return selected.isEmpty() ? -1 : list_.row(selected.first());
}

// Rows are renamed, added and removed in place, so that the selection and the online
// marks of the rows that stay are kept.
void AddressBookPanel::showNames()
{
    const AddressBook& book = station_.addressBook();
    while (list_.count() > book.count())
        delete list_.takeItem(list_.count() - 1);
    for (int slot = 0; slot < book.count(); ++slot) {
        const QString& name = book.entry(slot).Name;
        if (slot == list_.count())
            list_.addItem(name);
        else if (list_.item(slot)->text() != name)
            list_.item(slot)->setText(name);
    }
}

void AddressBookPanel::BUTTaddNewAddress_Click()
{
    // Both questions are always asked; the answers are kept exactly as typed.
    const QPointer<AddressBookPanel> self(this);
    dialogs_.input(QStringLiteral("Please Type the name of the Person"), kNewEntryTitle, {},
                   [self](const QString& name) {
                       if (!self)
                           return;
                       self->dialogs_.input(
                           QStringLiteral("Please Type ") + name + QStringLiteral("'s IP address"),
                           kNewEntryTitle, {}, [self, name](const QString& address) {
                               if (self)
                                   self->addressEntered(name, address);
                           });
                   });
}

void AddressBookPanel::addressEntered(const QString& name, const QString& address)
{
    if (isBlank(name) || isBlank(address))
        return;
    if (station_.addressBook().isFull()) {
        dialogs_.notice(QStringLiteral("The address book is full: it holds %1 entries. "
                                       "Delete an entry before you add another.")
                            .arg(AddressBook::kSlots));
        return;
    }
    station_.addPerson(name, address);
}

void AddressBookPanel::BUTTdeleteAddress_Click()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    // The selected row goes first, so that the rows after it keep their marks.
    delete list_.takeItem(slot);
    station_.removePerson(slot);
}

void AddressBookPanel::BUTTeditAddress_Click()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    const AddressBookEntry& entry = station_.addressBook().entry(slot);
    const QPointer<AddressBookPanel> self(this);
    const QString name = entry.Name;
    dialogs_.input(QStringLiteral("Change the IP Address for ") + name, kEditTitle, entry.IPaddress,
                   [self, slot, name](const QString& address) {
                       // The entry may have gone while the question was open.
                       if (!self || isBlank(address))
                           return;
                       const AddressBook& book = self->station_.addressBook();
                       if (slot >= book.count() || book.entry(slot).Name != name)
                           return;
                       self->station_.setPersonAddress(slot, address);
                       self->askHowReached(slot, name);
                   });
}

void AddressBookPanel::askHowReached(int slot, const QString& name)
{
    const QPointer<AddressBookPanel> self(this);
    dialogs_.input(QStringLiteral("How does %1's computer or phone take files? Type quillo, "
                                  "plain, localsend (for one that works with LocalSend devices, "
                                  "optionally followed by its port), or find out")
                       .arg(name),
                   kEditTitle, howReachedText(station_.addressBook().entry(slot)),
                   [self, slot, name](const QString& answer) {
                       if (!self || isBlank(answer))
                           return;
                       const AddressBook& book = self->station_.addressBook();
                       if (slot >= book.count() || book.entry(slot).Name != name)
                           return;
                       if (const std::optional<HowReached> how = howReached(answer))
                           self->station_.setPersonSpeaks(slot, how->speaks, how->port);
                       else
                           self->dialogs_.notice(
                               QStringLiteral("Nothing was changed: type quillo, plain, "
                                              "localsend, localsend and a port from 1 to "
                                              "65535, or find out"));
                   });
}
