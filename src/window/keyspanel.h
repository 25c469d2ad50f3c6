#pragma once

#include <QObject>

class AddressBookPanel;
class Dialogs;
class QListWidget;
class Station;

// The address book's menu for keys: this installation's safety code, the code to compare
// with the selected entry's person (marking the key compared, or refusing it), and
// forgetting the selected entry's key once the person has agreed; and the questions and
// news of a key that came from a new address. Nothing here waits.
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
    void askToFollowKey(const QString& name, const QString& address, const QByteArray& key);

private:
    Dialogs& dialogs_;
    const AddressBookPanel& book_;
    Station& station_;
};
