#include "window/addressbookpanel.h"

#include "platform/settingsstore.h"
#include "window/dialogs.h"

#include <QListWidget>
#include <QPointer>

namespace
{

const QString kNewEntryTitle = QStringLiteral("New IP Address Book Entry");
const QString kEditTitle = QStringLiteral("Edit Entry");

// Empty once leading and trailing spaces are removed.
bool isBlank(const QString& text)
{
    return text.count(QLatin1Char(' ')) == text.size();
}

} // namespace

AddressBookPanel::AddressBookPanel(QListWidget& list, Dialogs& dialogs, AddressBook& book)
    : book_(book), list_(list), dialogs_(dialogs)
{
}

int AddressBookPanel::selectedSlot() const
{
    const QList<QListWidgetItem*> selected = list_.selectedItems();
    return selected.isEmpty() ? -1 : list_.row(selected.first());
}

void AddressBookPanel::load(SettingsStore& store)
{
    store_ = &store;
    book_.load(store);
    for (int slot = 0; slot < book_.count(); ++slot)
        list_.addItem(book_.entry(slot).Name);
}

void AddressBookPanel::append(const QString& name, const QString& address)
{
    book_.append(name, address);
    list_.addItem(name);
}

// The whole file is written anew, so a change that failed before goes in with this one.
void AddressBookPanel::keepChange()
{
    if (!store_)
        return;
    book_.store(*store_);
    if (!store_->save()) {
        dialogs_.notice(QStringLiteral("Quillo could not write its settings file %1. The change "
                                       "to the address book was not saved.")
                            .arg(store_->fileName()));
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
    if (book_.isFull()) {
        dialogs_.notice(QStringLiteral("The address book is full: it holds %1 entries. "
                                       "Delete an entry before you add another.")
                            .arg(AddressBook::kSlots));
        return;
    }
    append(name, address);
    keepChange();
}

void AddressBookPanel::BUTTdeleteAddress_Click()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    book_.remove(slot);
    delete list_.takeItem(slot);
    keepChange();
}

void AddressBookPanel::BUTTeditAddress_Click()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    const AddressBookEntry& entry = book_.entry(slot);
    const QPointer<AddressBookPanel> self(this);
    const QString name = entry.Name;
    dialogs_.input(QStringLiteral("Change the IP Address for ") + name, kEditTitle, entry.IPaddress,
                   [self, slot, name](const QString& address) {
                       // The entry may have gone while the question was open.
                       if (!self || isBlank(address) || slot >= self->book_.count() ||
                           self->book_.entry(slot).Name != name)
                           return;
                       self->book_.setAddress(slot, address);
                       self->keepChange();
                   });
}
