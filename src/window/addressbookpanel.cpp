#include "window/addressbookpanel.h"

#include "station/station.h"
#include "window/dialogs.h"

#include <QAction>
#include <QListWidget>
#include <QPainter>
#include <QPointer>

#include <optional>

namespace
{

const QString kNewEntryTitle = QStringLiteral("New IP Address Book Entry");
const QString kEditTitle = QStringLiteral("Edit Entry");

constexpr int kMarkSize = 12;
// Marks a row as a group, apart from the people's online marks.
constexpr int kIsGroupRole = Qt::UserRole + 1;

// Two heads side by side, the size of an online mark.
QIcon drawGroupMark()
{
    QPixmap pixmap(kMarkSize, kMarkSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 90, 160));
    painter.drawEllipse(QRectF(1, 1, 4.5, 4.5));
    painter.drawEllipse(QRectF(6.5, 1, 4.5, 4.5));
    painter.drawRoundedRect(QRectF(0, 6.5, kMarkSize, 5), 2, 2);
    return QIcon(pixmap);
}

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
    : station_(station), list_(list), dialogs_(dialogs), groupMark_(drawGroupMark())
{
    list_.setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* newGroup = new QAction(QStringLiteral("New Group of the Selected People\u2026"), this);
    connect(newGroup, &QAction::triggered, this, &AddressBookPanel::askGroupName);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    list_.setContextMenuPolicy(Qt::ActionsContextMenu);
    list_.addActions({newGroup, separator});
    connect(&station_, &Station::addressBookChanged, this, &AddressBookPanel::showNames);
    showNames();
}

int AddressBookPanel::selectedSlot() const
{
    const QList<QListWidgetItem*> selected = list_.selectedItems();
    if (selected.size() != 1)
        return -1;
    const int row = list_.row(selected.first());
    return row < station_.addressBook().count() ? row : -1;
}

QList<int> AddressBookPanel::selectedSlots() const
{
    QList<int> slots;
    for (int row = 0; row < std::min(list_.count(), station_.addressBook().count()); ++row) {
        if (list_.item(row)->isSelected())
            slots.append(row);
    }
    return slots;
}

QList<int> AddressBookPanel::selectedGroups() const
{
    QList<int> groups;
    const int people = station_.addressBook().count();
    for (int row = people; row < list_.count(); ++row) {
        if (list_.item(row)->isSelected() && row - people < station_.groups().count())
            groups.append(row - people);
    }
    return groups;
}

bool AddressBookPanel::isSeveralSelected() const
{
    return list_.selectedItems().size() > 1 || !selectedGroups().isEmpty();
}

QList<Recipient> AddressBookPanel::selectedRecipients() const
{
    return recipientsOf(station_.addressBook(), station_.groups(), selectedSlots(),
                        selectedGroups());
}

QString AddressBookPanel::selectedNames() const
{
    QStringList names;
    for (int slot : selectedSlots())
        names.append(station_.addressBook().entry(slot).Name);
    for (int group : selectedGroups())
        names.append(station_.groups().group(group).Name);
    if (names.size() < 2)
        return names.value(0);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// Rows are renamed, added and removed in place, so that the selection and the online
// marks of the rows that stay are kept.
void AddressBookPanel::showNames()
{
    const AddressBook& book = station_.addressBook();
    const AddressGroups& groups = station_.groups();
    while (list_.count() > book.count() + groups.count())
        delete list_.takeItem(list_.count() - 1);
    for (int slot = 0; slot < book.count(); ++slot)
        showRow(slot, book.entry(slot).Name, false);
    for (int group = 0; group < groups.count(); ++group)
        showRow(book.count() + group, groups.group(group).Name, true);
}

void AddressBookPanel::showRow(int row, const QString& name, bool isGroup)
{
    if (row == list_.count())
        list_.addItem(name);
    QListWidgetItem& item = *list_.item(row);
    if (item.text() != name)
        item.setText(name);
    if (item.data(kIsGroupRole).toBool() == isGroup)
        return;
    // A row that changes between a person and a group loses its mark; the online marks
    // give a person's back.
    item.setData(kIsGroupRole, isGroup);
    item.setIcon(isGroup ? groupMark_ : QIcon());
}

void AddressBookPanel::askGroupName()
{
    const QList<int> slots = selectedSlots();
    if (slots.isEmpty()) {
        dialogs_.notice(QStringLiteral("Select the people of the group first"));
        return;
    }
    if (station_.groups().isFull()) {
        dialogs_.notice(QStringLiteral("The address book holds %1 groups, as many as it can. "
                                       "Delete a group before you add another.")
                            .arg(AddressGroups::kGroups));
        return;
    }
    const QPointer<AddressBookPanel> self(this);
    dialogs_.input(QStringLiteral("Please Type the name of the Group"), QStringLiteral("New Group"),
                   {}, [self, slots](const QString& name) {
                       if (self)
                           self->groupNamed(name, slots);
                   });
}

// A slot gone while the question was open is left out.
void AddressBookPanel::groupNamed(const QString& name, const QList<int>& slots)
{
    if (isBlank(name))
        return;
    QList<int> members;
    for (int slot : slots) {
        if (slot < station_.addressBook().count())
            members.append(slot);
    }
    station_.addGroup(name, members);
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
    if (const QList<int> groups = selectedGroups();
        groups.size() == 1 && list_.selectedItems().size() == 1) {
        delete list_.takeItem(station_.addressBook().count() + groups.first());
        station_.removeGroup(groups.first());
        return;
    }
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
