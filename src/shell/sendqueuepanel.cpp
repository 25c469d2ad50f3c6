#include "shell/sendqueuepanel.h"

#include "shell/addressbookpanel.h"
#include "shell/dialogs.h"
#include "shell/droppedfiles.h"
#include "shell/mainlayout.h"
#include "transfer/sendbatch.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>

SendQueuePanel::SendQueuePanel(const MainUi& ui, const AddressBookPanel& addressBook,
                               Dialogs& dialogs, SendBatch& batch, QObject* parent)
    : QObject(parent), ui_(ui), addressBook_(addressBook), dialogs_(dialogs), batch_(batch)
{
    follow(batch_);
    connect(&batch_, &SendBatch::noPeer, this, &SendQueuePanel::noPeerSelected);
}

void SendQueuePanel::follow(SendBatch& batch)
{
    connect(&batch, &SendBatch::rowStarted, this, &SendQueuePanel::rowStarted);
    connect(&batch, &SendBatch::rowSkipped, this, &SendQueuePanel::rowSkipped);
}

void SendQueuePanel::noPeerSelected()
{
    dialogs_.notice(QStringLiteral("You must select a person to send to first"));
}

void SendQueuePanel::BUTTsendFile_Click()
{
    const int slot = addressBook_.selectedSlot();
    if (slot < 0) {
        noPeerSelected();
        return;
    }
    dialogs_.openFiles(
        QStringLiteral("Choose a FIle to Send to ") + addressBook_.book().entry(slot).Name,
        QStringLiteral("All Files (*)"), [self = QPointer(this)](const QStringList& paths) {
            if (self)
                self->queueFiles(paths);
        });
}

void SendQueuePanel::filesDropped(const QStringList& paths)
{
    if (addressBook_.selectedSlot() < 0) {
        noPeerSelected();
        return;
    }
    const DroppedFiles dropped = filesInDrop(paths);
    if (dropped.fromFolders <= kManyDroppedFiles) {
        queueFiles(dropped.files);
        return;
    }
    dialogs_.ask(QStringLiteral("There are %L1 files in what you dropped. Add them all to the "
                                "files to send?")
                     .arg(dropped.files.size()),
                 [self = QPointer(this), files = dropped.files](bool yes) {
                     if (self && yes)
                         self->queueFiles(files);
                 });
}

void SendQueuePanel::queueFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        // Only ordinary files: no folders, and no hidden files.
        const QFileInfo info(path);
        if (path.isEmpty() || !info.isFile() || info.isHidden())
            continue;
        batch_.append(path);
        ui_.LSTsends->addItem(path);
    }
}

void SendQueuePanel::BUTclearsends_Click()
{
    batch_.clear();
    ui_.LSTsends->clear();
}

void SendQueuePanel::BUTsendthesefiles_Click()
{
    if (batch_.isRunning() || batch_.paths().isEmpty())
        return;
    if (addressBook_.selectedSlot() < 0) {
        noPeerSelected();
        return;
    }
    // The peer is read anew for every file: choosing another one redirects the rest.
    batch_.start([this]() -> std::optional<QString> {
        const int slot = addressBook_.selectedSlot();
        if (slot < 0)
            return std::nullopt;
        return addressBook_.book().entry(slot).IPaddress;
    });
}

void SendQueuePanel::rowStarted(int row, int rows, const QString& path, const QString& host,
                                qint64 size)
{
    showRow(row, rows, path, host, size);
    ui_.LABSendStatus->setText(QStringLiteral("Connecting..."));
    ui_.LABSendStatus->setToolTip({});
}

void SendQueuePanel::rowSkipped(int row, int rows, const QString& path, const QString& host,
                                const QString& reason)
{
    showRow(row, rows, path, host, 0);
    ui_.LABSendStatus->setText(QStringLiteral("Not sent: ") + reason);
    ui_.LABSendStatus->setToolTip({});
}

void SendQueuePanel::showRow(int row, int rows, const QString& path, const QString& host,
                             qint64 size)
{
    ui_.LABtotalProgress->setText(QStringLiteral("%1 of %2 Files").arg(row + 1).arg(rows));
    ui_.LABSendFileName->setText(path);
    ui_.LABSendRemoteIP->setText(host);
    ui_.LABSendFileSize->setText(QString::number(size));
}
