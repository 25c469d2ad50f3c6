#pragma once

#include "addressbook/addressbook.h"

#include <QObject>

class Dialogs;
class QListWidget;

// Keeps the address book table and the list of names in step: row i of the list always
// shows the name in slot i. Its three handlers are the panel's buttons; their questions
// do not wait, and an answer that comes after the panel is gone is dropped.
class AddressBookPanel : public QObject
{
    Q_OBJECT

public:
    // book, the station's, must outlive the panel.
    AddressBookPanel(QListWidget& list, Dialogs& dialogs, AddressBook& book);

    const AddressBook& book() const { return book_; }
    // The slot of the selected row, or -1 when no row is selected.
    int selectedSlot() const;

    // Loads the table from the store and shows every loaded name. From then on every
    // change is written to the store at once, and a failed write is told.
    void load(SettingsStore& store);
    void store(SettingsStore& store) const { book_.store(store); }

    void BUTTaddNewAddress_Click();
    void BUTTdeleteAddress_Click();
    void BUTTeditAddress_Click();

private:
    void addressEntered(const QString& name, const QString& address);
    void append(const QString& name, const QString& address);
    void keepChange();

    AddressBook& book_;
    SettingsStore* store_ = nullptr;
    QListWidget& list_;
    Dialogs& dialogs_;
};
