#include "window/keyspanel.h"

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
    auto* safetyCode = new QAction(QStringLiteral("Compare Codes\u2026"), this);
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
    connect(&station, &Station::personMoved, this,
            [this](const QString& name, const QString& address) {
                dialogs_.notice(personMovedText(name, address) + QLatin1Char('.'));
            });
    connect(&station, &Station::keyAtNewAddress, this, &KeysPanel::askToFollowKey);
}

// Only a compared key takes its entry along by itself: a pinned one may be anyone's who
// held the address once, so the person says.
void KeysPanel::askToFollowKey(const QString& name, const QString& address, const QByteArray& key)
{
    const QPointer<KeysPanel> self(this);
    dialogs_.ask(keyAtNewAddressText(name, address) +
                     QStringLiteral(". Is %1 now at %2? Say Yes only if you know, for instance "
                                    "after comparing codes with %1.")
                         .arg(name, address),
                 [self, key, address](bool yes) {
                     if (self && yes)
                         self->station_.followKey(key, address);
                 });
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
    const AddressBookEntry entry = station_.addressBook().entry(slot);
    QString problem;
    const QString code = station_.pairCode(slot, &problem);
    if (code.isEmpty()) {
        dialogs_.notice(entry.Key.isEmpty() ? noKeyYet(entry) : problem);
        return;
    }
    const QString text =
        QStringLiteral("%1's key is %2. Ask %1 to open Compare Codes for you, and read the code "
                       "aloud to each other, in person or on the phone. Both screens must show "
                       "the same code.")
            .arg(entry.Name, entry.KeyCompared ? QStringLiteral("compared")
                                               : QStringLiteral("not yet compared"));
    const QPointer<KeysPanel> self(this);
    dialogs_.compareCodes(text, code, [self, slot, entry](Comparison answer) {
        // The entry may have changed while the dialog was open.
        if (!self || answer == Comparison::NotNow || slot >= self->station_.addressBook().count() ||
            self->station_.addressBook().entry(slot).Key != entry.Key)
            return;
        if (answer == Comparison::Match) {
            self->station_.markKeyCompared(slot);
            return;
        }
        self->station_.refuseKey(slot);
        self->dialogs_.notice(
            QStringLiteral("Quillo forgot the key it had for %1, and refuses the computer that "
                           "showed it. Choose Forget Key once %1 is at their computer again.")
                .arg(entry.Name));
    });
}

void KeysPanel::askToForgetKey()
{
    const int slot = book_.selectedSlot();
    if (slot < 0)
        return;
    const AddressBookEntry entry = station_.addressBook().entry(slot);
    if (entry.Key.isEmpty() && entry.RefusedKey.isEmpty()) {
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
                     if (now.Name == entry.Name && now.Key == entry.Key &&
                         now.RefusedKey == entry.RefusedKey)
                         self->station_.forgetKey(slot);
                 });
}
