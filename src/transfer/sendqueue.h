#pragma once

#include <QObject>

class AddressBookPanel;
class Dialogs;
class FileSender;
struct MainUi;

// The files waiting to be sent to the selected peer, and the batch that sends them one
// after another, each on a connection of its own.
class SendQueue : public QObject
{
    Q_OBJECT

public:
    SendQueue(const MainUi& ui, const AddressBookPanel& addressBook, Dialogs& dialogs,
              FileSender& sender);

    bool isSending() const { return row_ >= 0; }

    void BUTTsendFile_Click();
    void BUTclearsends_Click();
    void BUTsendthesefiles_Click();

private:
    // Starts the next row of the batch that can be sent, or ends the batch.
    void sendNextRow();
    void noPeerSelected();

    const MainUi& ui_;
    const AddressBookPanel& addressBook_;
    Dialogs& dialogs_;
    FileSender& sender_;
    int row_ = -1;     // the next row of the running batch; -1 when none runs
    int rowCount_ = 0; // the rows the batch set out to send
};
