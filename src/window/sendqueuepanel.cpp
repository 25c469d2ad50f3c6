#include "window/sendqueuepanel.h"

#include "station/station.h"
#include "window/addressbookpanel.h"
#include "window/dialogs.h"
#include "window/mainlayout.h"
#include "window/traytexts.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>

namespace
{

// A step of a drop's walk takes this many entries at a time, until this much time has gone.
constexpr int kDropEntriesAtATime = 32;
constexpr qint64 kDropStepMs = 10;

// "Trip (214 files, 1.2 MB)".
QString folderRowText(const WalkedRow& row)
{
    const QString files =
        row.files == 1 ? QStringLiteral("1 file") : QStringLiteral("%L1 files").arg(row.files);
    return QStringLiteral("%1 (%2, %3)")
        .arg(QFileInfo(row.path).fileName(), files, readableSize(row.bytes));
}

} // namespace

SendQueuePanel::SendQueuePanel(const MainUi& ui, const AddressBookPanel& addressBook,
                               Dialogs& dialogs, Station& station, QObject* parent)
    : QObject(parent), ui_(ui), addressBook_(addressBook), dialogs_(dialogs), station_(station)
{
    connect(&station_, &Station::rowStarted, this,
            [this](BatchKind, int row, int rows, const QString& path, const QString& host,
                   qint64 size) { showRowStarted(row, rows, path, host, size); });
    connect(&station_, &Station::rowSkipped, this,
            [this](BatchKind, int row, int rows, const QString& path, const QString& host,
                   const QString& reason) { showRowSkipped(row, rows, path, host, reason); });
    connect(&station_, &Station::noPeer, this, &SendQueuePanel::noPeerSelected);
    connect(&station_, &Station::queueCleared, ui_.LSTsends, &QListWidget::clear);
    walkTimer_.setSingleShot(true);
    walkTimer_.setInterval(0);
    connect(&walkTimer_, &QTimer::timeout, this, &SendQueuePanel::walkDrop);
}

void SendQueuePanel::noPeerSelected()
{
    dialogs_.notice(QStringLiteral("You must select a person to send to first"));
}

void SendQueuePanel::BUTTsendFile_Click()
{
    const int slot = addressBook_.selectedSlot();
    if (slot < 0 && !addressBook_.isSeveralSelected()) {
        noPeerSelected();
        return;
    }
    dialogs_.openFiles(QStringLiteral("Choose a FIle to Send to ") + addressBook_.selectedNames(),
                       QStringLiteral("All Files (*)"),
                       [self = QPointer(this)](const QStringList& paths) {
                           if (self)
                               self->queueFiles(paths);
                       });
}

void SendQueuePanel::filesDropped(const QStringList& paths)
{
    if (addressBook_.selectedSlot() < 0 && !addressBook_.isSeveralSelected()) {
        noPeerSelected();
        return;
    }
    drops_.append(paths);
    if (!walk_)
        walkNextDrop();
}

// The first step runs at once: a small drop is queued before the drop ends.
void SendQueuePanel::walkNextDrop()
{
    if (drops_.isEmpty())
        return;
    walk_ = std::make_unique<FolderWalk>(drops_.takeFirst());
    asked_ = false;
    walkDrop();
}

// One step: a few entries at a time, for at most a few milliseconds.
void SendQueuePanel::walkDrop()
{
    QElapsedTimer step;
    step.start();
    bool walked = false;
    do {
        walked = walk_->step(kDropEntriesAtATime);
        if (!asked_ && walk_->result().fromFolders > kManyDroppedFiles) {
            askAboutManyFiles(walked);
            return;
        }
    } while (!walked && step.elapsed() < kDropStepMs);
    if (walked)
        endDrop(true);
    else
        walkTimer_.start();
}

// The walk waits for the answer. Where it has not finished, the count is not known yet.
void SendQueuePanel::askAboutManyFiles(bool walked)
{
    asked_ = true;
    const QString count = walked ? QStringLiteral("%L1").arg(walk_->result().files.size())
                                 : QStringLiteral("more than %L1").arg(kManyDroppedFiles);
    dialogs_.ask(
        QStringLiteral("There are %1 files in what you dropped. Add them all to the files to "
                       "send?")
            .arg(count),
        [self = QPointer(this), walk = walk_.get()](bool yes) {
            if (!self || self->walk_.get() != walk)
                return;
            if (yes)
                self->walkDrop();
            else
                self->endDrop(false);
        });
}

void SendQueuePanel::endDrop(bool queue)
{
    const std::unique_ptr<FolderWalk> walk = std::move(walk_);
    if (queue)
        queueRows(walk->result().rows);
    walkNextDrop();
}

void SendQueuePanel::queueFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        // Only ordinary files: no folders, and no hidden files.
        const QFileInfo info(path);
        if (path.isEmpty() || !info.isFile() || info.isHidden())
            continue;
        station_.queue(path);
        ui_.LSTsends->addItem(path);
    }
}

void SendQueuePanel::queueRows(const QList<WalkedRow>& rows)
{
    for (const WalkedRow& row : rows) {
        station_.queue(row.path);
        ui_.LSTsends->addItem(row.isFolder ? folderRowText(row) : row.path);
    }
}

void SendQueuePanel::BUTclearsends_Click()
{
    station_.clearQueue();
}

void SendQueuePanel::BUTsendthesefiles_Click()
{
    if (station_.isSending() || station_.queuedPaths().isEmpty())
        return;
    if (addressBook_.isSeveralSelected()) {
        sendToSeveral();
        return;
    }
    if (addressBook_.selectedSlot() < 0) {
        noPeerSelected();
        return;
    }
    // The peer is read anew for every file: choosing another one redirects the rest.
    station_.sendQueue([this]() -> std::optional<QString> {
        const int slot = addressBook_.selectedSlot();
        if (slot < 0)
            return std::nullopt;
        return station_.addressBook().entry(slot).IPaddress;
    });
}

// Each person gets the files once, however many of the selected groups they are in.
void SendQueuePanel::sendToSeveral()
{
    const QList<Recipient> recipients = addressBook_.selectedRecipients();
    if (recipients.isEmpty()) {
        dialogs_.notice(QStringLiteral("There is no one in %1 to send to: add people to the "
                                       "group first")
                            .arg(addressBook_.selectedNames()));
        return;
    }
    station_.sendQueueTo(recipients);
}

void SendQueuePanel::showRowStarted(int row, int rows, const QString& path, const QString& host,
                                    qint64 size)
{
    showRow(row, rows, path, host, size);
    ui_.LABSendStatus->setText(QStringLiteral("Connecting..."));
    ui_.LABSendStatus->setToolTip({});
}

void SendQueuePanel::showRowSkipped(int row, int rows, const QString& path, const QString& host,
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
