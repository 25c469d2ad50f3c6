#pragma once

#include "addressbook/recipients.h"

#include <QIcon>
#include <QObject>

class Dialogs;
class QListWidget;
class Station;

// Keeps the list of names in step with the station's address book: row i of the list
// always shows the name in slot i, and the groups follow the people, each with a group
// mark. Several rows may be selected, to send to all of them. Its three handlers are the
// panel's buttons; their questions do not wait, and an answer that comes after the panel
// is gone is dropped.
class AddressBookPanel : public QObject
{
    Q_OBJECT

public:
    // The station keeps every change; it must outlive the panel.
    AddressBookPanel(QListWidget& list, Dialogs& dialogs, Station& station);

    // The slot of the selected row, or -1 unless exactly one row, a person's, is selected.
    int selectedSlot() const;
    // Whether anything other than one person is selected: several rows, or a group.
    bool isSeveralSelected() const;
    // The people of the selected rows and groups, each address once.
    QList<Recipient> selectedRecipients() const;
    // The selected rows' names, as a person reads them in a sentence: "Anna, Bea and Class 4b".
    QString selectedNames() const;

    void BUTTaddNewAddress_Click();
    void BUTTdeleteAddress_Click();
    void BUTTeditAddress_Click();

private:
    void addressEntered(const QString& name, const QString& address);
    // After an edit of slot's address: how the entry is reached.
    void askHowReached(int slot, const QString& name);
    void showNames();
    void showRow(int row, const QString& name, bool isGroup);
    // The selected rows, people's as slots, groups' as indexes.
    QList<int> selectedSlots() const;
    QList<int> selectedGroups() const;
    void askGroupName();
    void groupNamed(const QString& name, const QList<int>& slots);

    Station& station_;
    QListWidget& list_;
    Dialogs& dialogs_;
    QIcon groupMark_;
};
