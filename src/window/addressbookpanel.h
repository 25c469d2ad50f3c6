#pragma once

#include <QObject>

class Dialogs;
class QListWidget;
class Station;

// Keeps the list of names in step with the station's address book: row i of the list
// always shows the name in slot i. Its three handlers are the panel's buttons; their
// questions do not wait, and an answer that comes after the panel is gone is dropped.
class AddressBookPanel : public QObject
{
    Q_OBJECT

public:
    // The station keeps every change; it must outlive the panel.
    AddressBookPanel(QListWidget& list, Dialogs& dialogs, Station& station);

    // The slot of the selected row, or -1 when no row is selected.
    int selectedSlot() const;

    void BUTTaddNewAddress_Click();
    void BUTTdeleteAddress_Click();
    void BUTTeditAddress_Click();

private:
    void addressEntered(const QString& name, const QString& address);
    // After an edit of slot's address: how the entry is reached.
    void askHowReached(int slot, const QString& name);
    void showNames();

    Station& station_;
    QListWidget& list_;
    Dialogs& dialogs_;
};
