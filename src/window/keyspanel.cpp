#include "window/keyspanel.h"

#include "identity/safetycode.h"
#include "station/station.h"
#include "window/addressbookpanel.h"
#include "window/dialogs.h"

#include <QAction>
#include <QListWidget>
#include <QPointer>

namespace
{

QString noKeyYet(const AddressBookEntry& entry)
{
    return QStringLiteral("%1 has no key yet. It is kept at the first private connection with "
                          "%2, either way.")
        .arg(entry.Name, entry.IPaddress);
}

} // namespace

KeysPanel::KeysPanel(QListWidget& list, Dialogs& dialogs, const AddressBookPanel& book,
                     Station& station, QObject* parent)
    : QObject(parent), dialogs_(dialogs), book_(book), station_(station)
{
    auto* mySafetyCode = new QAction(QStringLiteral("My Safety Code\u2026"), this);
    auto* safetyCode = new QAction(QStringLiteral("Safety Code\u2026"), this);
    auto* forgetKey = new QAction(QStringLiteral("Forget Key\u2026"), this);
    connect(mySafetyCode, &QAction::triggered, this, &KeysPanel::showMySafetyCode);
    connect(safetyCode, &QAction::triggered, this, &KeysPanel::showSafetyCode);
    connect(forgetKey, &QAction::triggered, this, &KeysPanel::askToForgetKey);
    list.setContextMenuPolicy(Qt::ActionsContextMenu);
    list.addActions({mySafetyCode, safetyCode, forgetKey});
    // Both act on the selected entry: without one they would do nothing.
    const auto followSelection = [&list, safetyCode, forgetKey] {
        const bool selected = !list.selectedItems().isEmpty();
        safetyCode->setEnabled(selected);
        forgetKey->setEnabled(selected);
    };
    followSelection();
    connect(&list, &QListWidget::itemSelectionChanged, this, followSelection);
}

void KeysPanel::showMySafetyCode()
{
    const Identity* identity = station_.identity();
    if (!identity) {
        dialogs_.notice(QStringLiteral("Quillo has no key of its own, so it sends and receives "
                                       "in the clear only."));
        return;
    }
    dialogs_.notice(QStringLiteral("My safety code:\n\n%1\n\nRead it to the people in your "
                                   "address book, in person or on the phone: the code Quillo "
                                   "shows them for you must be this one.")
                        .arg(identity->safetyCode()));
}

void KeysPanel::showSafetyCode()
{
    const int slot = book_.selectedSlot();
    if (slot < 0)
        return;
    const AddressBookEntry& entry = station_.addressBook().entry(slot);
    if (entry.Key.isEmpty()) {
        dialogs_.notice(noKeyYet(entry));
        return;
    }
    dialogs_.notice(QStringLiteral("%1's safety code:\n\n%2\n\nIt must be the code that %1's "
                                   "Quillo shows under My Safety Code.")
                        .arg(entry.Name, ::safetyCode(entry.Key)));
}

void KeysPanel::askToForgetKey()
{
    const int slot = book_.selectedSlot();
    if (slot < 0)
        return;
    const AddressBookEntry entry = station_.addressBook().entry(slot);
    if (entry.Key.isEmpty()) {
        dialogs_.notice(noKeyYet(entry));
        return;
    }
    const QPointer<KeysPanel> self(this);
    dialogs_.ask(QStringLiteral("Forget %1's key? Do this only when %1 has a new one, for "
                                "instance after reinstalling Quillo, and you have compared safety "
                                "codes. The next private connection with %2 keeps the key it "
                                "shows.")
                     .arg(entry.Name, entry.IPaddress),
                 [self, slot, entry](bool yes) {
                     // The entry may have changed while the question was open.
                     if (!self || !yes || slot >= self->station_.addressBook().count())
                         return;
                     const AddressBookEntry& now = self->station_.addressBook().entry(slot);
                     if (now.Name == entry.Name && now.Key == entry.Key)
                         self->station_.forgetKey(slot);
                 });
}
