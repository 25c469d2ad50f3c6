#include "sending/waitingbatches.h"

#include "platform/settingsstore.h"

#include <algorithm>
#include <optional>

namespace
{

// Section WaitingFilesK holds batch K: the address, the number of files and each path.
QString batchSection(int batch)
{
    return QStringLiteral("WaitingFiles%1").arg(batch);
}

const QString kAddress = QStringLiteral("IPaddress");
const QString kCount = QStringLiteral("Count");

QString fileKey(int file)
{
    return QStringLiteral("File%1").arg(file);
}

// Written only for a file that is the rest of a folder.
QString folderKey(int file)
{
    return QStringLiteral("Folder%1").arg(file);
}

} // namespace

qsizetype WaitingBatches::Batch::fileIndex(const QString& path) const
{
    for (qsizetype k = 0; k < files.size(); ++k) {
        if (files.at(k).path == path)
            return k;
    }
    return -1;
}

WaitingBatches::WaitingBatches(SettingsStore& store, FileSender& sender, SendBatch& now,
                               Clock& clock, QObject* parent)
    : QObject(parent), store_(store), sender_(sender), now_(now), delivery_(sender), clock_(clock),
      spaced_(clock.makeAlarm([this] { startDue(); })),
      saveAlarm_(clock.makeAlarm([this] { save(); }))
{
    kick_.setSingleShot(true);
    kick_.setInterval(0);
    connect(&kick_, &QTimer::timeout, this, &WaitingBatches::startDue);
    connect(&now_, &SendBatch::rowStarted, this, &WaitingBatches::giveWay);
    connect(&now_, &SendBatch::finished, &kick_, qOverload<>(&QTimer::start));
    connect(&delivery_, &SendBatch::rowFinished, this, [this](int, const SendEnd& end) {
        // A file inside a waiting folder counts with its folder, below.
        const Batch* batch = batchFor(deliveringTo_);
        if (!batch || batch->fileIndex(end.path) < 0)
            return;
        if (end.outcome == SendOutcome::Sent)
            fileSent(end.path);
        else
            fileFailed();
    });
    connect(&delivery_, &SendBatch::folderEnded, this,
            [this](int, const QString& folder, bool allSent) {
                if (allSent)
                    fileSent(folder);
                else
                    fileFailed();
            });
    connect(&delivery_, &SendBatch::rowSkipped, this,
            [this](int, int, const QString& path) { fileSent(path); });
    // A cut file goes on from where it stopped: tried once more at once, in case only the
    // connection broke.
    connect(&delivery_, &SendBatch::cutOff, this, [this] { cut_ = true; });
    connect(&delivery_, &SendBatch::finished, this, &WaitingBatches::deliveryFinished);
    connect(&sender_, &FileSender::keyChanged, this,
            [this](const QString&, const QString& address) {
                if (Batch* batch = batchFor(address);
                    batch && delivery_.isRunning() && address == deliveringTo_)
                    batch->keyRefused = true;
            });
}

void WaitingBatches::load()
{
    batches_.clear();
    for (int k = 0;; ++k) {
        const QString address = store_.read(batchSection(k), kAddress, {});
        if (address.isEmpty())
            break;
        Batch batch;
        batch.address = address;
        const int count = store_.read(batchSection(k), kCount, QStringLiteral("0")).toInt();
        for (int file = 0; file < count; ++file) {
            const QString path = store_.read(batchSection(k), fileKey(file), {});
            if (path.isEmpty())
                continue;
            batch.files.append({path, store_.read(batchSection(k), folderKey(file), {})});
        }
        if (!batch.files.isEmpty() && !batchFor(address))
            batches_.append(batch);
        storedSections_ = k + 1;
    }
    Q_EMIT changed();
}

int WaitingBatches::batchIndex(const QString& address) const
{
    for (int k = 0; k < batches_.size(); ++k) {
        if (batches_.at(k).address == address)
            return k;
    }
    return -1;
}

const WaitingBatches::Batch* WaitingBatches::batchFor(const QString& address) const
{
    const int k = batchIndex(address);
    return k < 0 ? nullptr : &batches_.at(k);
}

WaitingBatches::Batch* WaitingBatches::batchFor(const QString& address)
{
    const int k = batchIndex(address);
    return k < 0 ? nullptr : &batches_[k];
}

void WaitingBatches::add(const QString& address, const QStringList& paths)
{
    QList<QueuedFile> files;
    for (const QString& path : paths)
        files.append({path, {}});
    add(address, files);
}

void WaitingBatches::add(const QString& address, const QList<QueuedFile>& files)
{
    if (files.isEmpty())
        return;
    Batch* batch = batchFor(address);
    if (!batch) {
        batch = &batches_.emplaceBack();
        batch->address = address;
    }
    batch->files += files;
    // Asked for again: whatever the last attempt met, this one goes at the next chance.
    batch->keyRefused = false;
    batch->announcedAt.reset();
    changedBatch(batchIndex(address));
    save();
    Q_EMIT changed();
}

void WaitingBatches::abandonDelivery(const QString& address)
{
    if (deliveringTo_ != address || !delivery_.isRunning())
        return;
    delivery_.stop();
    deliveringTo_.clear();
    kick_.start();
}

void WaitingBatches::cancel(const QString& address)
{
    abandonDelivery(address);
    batches_.removeIf([&address](const Batch& batch) { return batch.address == address; });
    changedAll();
    save();
    Q_EMIT changed();
}

void WaitingBatches::cancel(const QString& address, const QStringList& paths)
{
    Batch* batch = batchFor(address);
    if (!batch)
        return;
    const qsizetype before = batch->files.size();
    batch->files.removeIf([&paths](const QueuedFile& file) { return paths.contains(file.path); });
    if (batch->files.isEmpty()) {
        cancel(address);
        return;
    }
    if (batch->files.size() == before)
        return;
    abandonDelivery(address);
    changedBatch(batchIndex(address));
    save();
    Q_EMIT changed();
}

void WaitingBatches::personOnline(const QString& address)
{
    if (Batch* batch = batchFor(address); batch && !batch->keyRefused) {
        batch->due = true;
        batch->announced = true;
        kick_.start();
    }
}

void WaitingBatches::tryNow(const QString& address)
{
    if (Batch* batch = batchFor(address); batch && !batch->keyRefused) {
        batch->due = true;
        kick_.start();
    }
}

void WaitingBatches::retryRefusedKeys()
{
    for (Batch& batch : batches_) {
        if (std::exchange(batch.keyRefused, false))
            batch.announcedAt.reset();
    }
}

void WaitingBatches::stop()
{
    stopped_ = true;
    kick_.stop();
    delivery_.stop();
    save();
}

void WaitingBatches::startDue()
{
    if (stopped_ || delivery_.isRunning() || now_.isRunning() || sender_.isBusy())
        return;
    std::optional<std::chrono::milliseconds> soonest;
    for (Batch& batch : batches_) {
        if (!batch.due)
            continue;
        if (const std::chrono::milliseconds left = waitLeft(batch); left.count() > 0) {
            soonest = std::min(left, soonest.value_or(left));
            continue;
        }
        if (std::exchange(batch.announced, false))
            batch.announcedAt = clock_.steadyTime();
        deliveringTo_ = batch.address;
        failed_ = 0;
        delivery_.clear();
        for (const QueuedFile& file : batch.files)
            delivery_.append(file);
        delivery_.start([address = batch.address] { return std::optional<QString>(address); });
        return;
    }
    if (soonest)
        spaced_->set(*soonest);
}

std::chrono::milliseconds WaitingBatches::waitLeft(const Batch& batch) const
{
    if (!batch.announced || !batch.announcedAt)
        return {};
    return std::max(std::chrono::milliseconds(0),
                    kAttemptSpacing - (clock_.steadyTime() - *batch.announcedAt));
}

// The user's own files go first: the file in hand is sent again later.
void WaitingBatches::giveWay()
{
    if (delivery_.isRunning())
        delivery_.stop();
}

void WaitingBatches::fileSent(const QString& path)
{
    const qsizetype k = batchIndex(deliveringTo_);
    if (k < 0)
        return;
    Batch& batch = batches_[k];
    if (const qsizetype at = batch.fileIndex(path); at >= 0)
        batch.files.removeAt(at);
    if (batch.files.isEmpty()) {
        batches_.removeAt(k);
        changedAll();
    } else {
        changedBatch(k);
    }
    if (!saveAlarm_->isSet())
        saveAlarm_->set(kSaveDelay);
}

void WaitingBatches::fileFailed()
{
    ++failed_;
}

void WaitingBatches::deliveryFinished()
{
    // Files added during the attempt are still due; those that failed wait for the next
    // announcement.
    const bool cut = std::exchange(cut_, false);
    if (Batch* batch = batchFor(deliveringTo_)) {
        const bool again = cut && !batch->cutRetried;
        batch->cutRetried = cut;
        batch->due = !batch->keyRefused && (batch->files.size() > failed_ || again);
    }
    deliveringTo_.clear();
    save();
    kick_.start();
    Q_EMIT changed();
}

void WaitingBatches::changedAll()
{
    allChanged_ = true;
    changedAddresses_.clear();
}

void WaitingBatches::changedBatch(qsizetype index)
{
    if (!allChanged_)
        changedAddresses_.insert(batches_.at(index).address);
}

// Writes out the batches that changed, and checks that the file holds them. One that
// cannot be written stays changed in the store, and goes with the next save.
void WaitingBatches::save()
{
    saveAlarm_->cancel();
    if (!stored_) {
        allChanged_ = false;
        changedAddresses_.clear();
    }
    if (!allChanged_ && changedAddresses_.isEmpty())
        return;
    if (allChanged_) {
        for (int k = int(batches_.size()); k < storedSections_; ++k)
            store_.removeSection(batchSection(k));
        for (qsizetype k = 0; k < batches_.size(); ++k)
            writeBatch(k);
        storedSections_ = int(batches_.size());
    } else {
        for (const QString& address : std::as_const(changedAddresses_)) {
            if (const int k = batchIndex(address); k >= 0)
                writeBatch(k);
        }
        storedSections_ = std::max(storedSections_, int(batches_.size()));
    }
    allChanged_ = false;
    changedAddresses_.clear();
    if (store_.save()) {
        saveFailedTold_ = false;
        return;
    }
    if (!saveFailedTold_) {
        saveFailedTold_ = true;
        Q_EMIT saveFailed(
            QStringLiteral("Quillo could not write its settings file %1, which keeps the files "
                           "waiting for their person. After a restart, files delivered since "
                           "may be sent again, and files added since may no longer wait.")
                .arg(store_.fileName()));
    }
}

void WaitingBatches::writeBatch(qsizetype index)
{
    const Batch& batch = batches_.at(index);
    const QString name = batchSection(int(index));
    store_.removeSection(name);
    store_.write(name, kAddress, batch.address);
    store_.write(name, kCount, QString::number(batch.files.size()));
    for (qsizetype file = 0; file < batch.files.size(); ++file) {
        store_.write(name, fileKey(int(file)), batch.files.at(file).path);
        if (!batch.files.at(file).folder.isEmpty())
            store_.write(name, folderKey(int(file)), batch.files.at(file).folder);
    }
}
