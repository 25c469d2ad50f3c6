#include "transfer/sendqueue.h"

#include "addressbook/addressbookpanel.h"
#include "platform/dialogs.h"
#include "shell/mainlayout.h"
#include "transfer/filesender.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>

SendQueue::SendQueue(const MainUi& ui, const AddressBookPanel& addressBook, Dialogs& dialogs,
                     FileSender& sender)
    : ui_(ui), addressBook_(addressBook), dialogs_(dialogs), sender_(sender)
{
    // Queued, so that each file starts from the event loop, not from inside the end of
    // the one before.
    connect(&sender_, &FileSender::finished, this, &SendQueue::sendNextRow, Qt::QueuedConnection);
}

void SendQueue::noPeerSelected()
{
    dialogs_.message(QStringLiteral("You must select a person to send to first"));
}

void SendQueue::BUTTsendFile_Click()
{
    const int slot = addressBook_.selectedSlot();
    if (slot < 0) {
        noPeerSelected();
        return;
    }
    const QString path = dialogs_.openFile(QStringLiteral("Choose a FIle to Send to ") +
                                               addressBook_.book().entry(slot).Name,
                                           QStringLiteral("All Files (*)"));
    // Only ordinary files: no folders, and no hidden files.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.isHidden())
        return;
    ui_.LSTsends->addItem(path);
}

void SendQueue::BUTclearsends_Click()
{
    ui_.LSTsends->clear();
}

void SendQueue::BUTsendthesefiles_Click()
{
    if (isSending() || ui_.LSTsends->count() == 0)
        return;
    if (addressBook_.selectedSlot() < 0) {
        noPeerSelected();
        return;
    }
    row_ = 0;
    rowCount_ = ui_.LSTsends->count();
    sendNextRow();
}

void SendQueue::sendNextRow()
{
    // Rows cleared during the batch are not there to send.
    while (row_ >= 0 && row_ < rowCount_ && row_ < ui_.LSTsends->count()) {
        const int row = row_++;
        ui_.LABtotalProgress->setText(
            QStringLiteral("%1 of %2 Files").arg(row + 1).arg(ui_.LSTsends->count()));
        const QString path = ui_.LSTsends->item(row)->text();
        ui_.LABSendFileName->setText(path);
        // The peer is read anew for every file: choosing another one redirects the rest.
        const int slot = addressBook_.selectedSlot();
        if (slot < 0) {
            row_ = -1;
            noPeerSelected();
            return;
        }
        const QString host = addressBook_.book().entry(slot).IPaddress;
        ui_.LABSendRemoteIP->setText(host);
        const QFileInfo file(path);
        if (!file.isFile()) {
            ui_.LABSendFileSize->setText(QStringLiteral("0"));
            ui_.LABSendStatus->setText(QStringLiteral("Not sent: the file is no longer there"));
            continue;
        }
        ui_.LABSendFileSize->setText(QString::number(file.size()));
        ui_.LABSendStatus->setText(QStringLiteral("Connecting..."));
        sender_.send(path, file.size(), host);
        return;
    }
    row_ = -1;
}
