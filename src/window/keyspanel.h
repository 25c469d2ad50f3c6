#pragma once

#include <QObject>

class AddressBookPanel;
class Dialogs;
class QListWidget;
class Station;

// The address book's menu for keys: this installation's safety code, the selected entry's,
// and forgetting the selected entry's key once the person has agreed. Codes are shown in
// messages that do not wait.
class KeysPanel : public QObject
{
    Q_OBJECT

public:
    // All of them must outlive the panel.
    KeysPanel(QListWidget& list, Dialogs& dialogs, const AddressBookPanel& book, Station& station,
              QObject* parent = nullptr);

    void showMySafetyCode();
    void showSafetyCode();
    void askToForgetKey();

private:
    Dialogs& dialogs_;
    const AddressBookPanel& book_;
    Station& station_;
};
