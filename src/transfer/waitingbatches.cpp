#include "transfer/waitingbatches.h"

#include "platform/settingsstore.h"

namespace
{

// Section WaitingFilesK holds batch K: the address, the number of files and each path.
QString section(int batch)
{
    return QStringLiteral("WaitingFiles%1").arg(batch);
}

const QString kAddress = QStringLiteral("IPaddress");
const QString kCount = QStringLiteral("Count");

QString fileKey(int file)
{
    return QStringLiteral("File%1").arg(file);
}

} // namespace

WaitingBatches::WaitingBatches(SettingsStore& store, FileSender& sender, SendBatch& now,
                               QObject* parent)
    : QObject(parent), store_(store), sender_(sender), now_(now), delivery_(sender)
{
    kick_.setSingleShot(true);
    kick_.setInterval(0);
    connect(&kick_, &QTimer::timeout, this, &WaitingBatches::startDue);
    connect(&now_, &SendBatch::rowStarted, this, &WaitingBatches::giveWay);
    connect(&now_, &SendBatch::finished, &kick_, qOverload<>(&QTimer::start));
    connect(&delivery_, &SendBatch::rowFinished, this,
            [this](int, const QString& path, qint64, const QString&, SendOutcome outcome) {
                if (outcome == SendOutcome::Sent)
                    fileSent(path);
                else
                    fileFailed();
            });
    connect(&delivery_, &SendBatch::rowSkipped, this,
            [this](int, int, const QString& path) { fileSent(path); });
    connect(&delivery_, &SendBatch::finished, this, &WaitingBatches::deliveryFinished);
}

void WaitingBatches::load()
{
    for (int k = 0;; ++k) {
        const QString address = store_.read(section(k), kAddress, {});
        if (address.isEmpty())
            break;
        Batch batch{address, {}, false};
        const int count = store_.read(section(k), kCount, QStringLiteral("0")).toInt();
        for (int file = 0; file < count; ++file) {
            const QString path = store_.read(section(k), fileKey(file), {});
            if (!path.isEmpty())
                batch.paths.append(path);
        }
        if (!batch.paths.isEmpty() && !find(address))
            batches_.append(batch);
        storedSections_ = k + 1;
    }
    Q_EMIT changed();
}

int WaitingBatches::indexOf(const QString& address) const
{
    for (int k = 0; k < batches_.size(); ++k) {
        if (batches_.at(k).address == address)
            return k;
    }
    return -1;
}

const WaitingBatches::Batch* WaitingBatches::find(const QString& address) const
{
    const int k = indexOf(address);
    return k < 0 ? nullptr : &batches_.at(k);
}

WaitingBatches::Batch* WaitingBatches::batchFor(const QString& address)
{
    const int k = indexOf(address);
    return k < 0 ? nullptr : &batches_[k];
}

void WaitingBatches::add(const QString& address, const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    if (Batch* batch = batchFor(address))
        batch->paths += paths;
    else
        batches_.append({address, paths, false});
    store();
    Q_EMIT changed();
}

void WaitingBatches::cancel(const QString& address)
{
    if (deliveringTo_ == address && delivery_.isRunning()) {
        delivery_.stop();
        deliveringTo_.clear();
        kick_.start();
    }
    batches_.removeIf([&address](const Batch& batch) { return batch.address == address; });
    store();
    Q_EMIT changed();
}

void WaitingBatches::personOnline(const QString& address)
{
    if (Batch* batch = batchFor(address)) {
        batch->due = true;
        kick_.start();
    }
}

void WaitingBatches::stop()
{
    stopped_ = true;
    kick_.stop();
    delivery_.stop();
}

void WaitingBatches::startDue()
{
    if (stopped_ || delivery_.isRunning() || now_.isRunning() || sender_.isBusy())
        return;
    for (const Batch& batch : batches_) {
        if (!batch.due)
            continue;
        deliveringTo_ = batch.address;
        failed_ = 0;
        delivery_.clear();
        for (const QString& path : batch.paths)
            delivery_.append(path);
        delivery_.start([address = batch.address] { return std::optional<QString>(address); });
        return;
    }
}

// The user's own files go first: the file in hand is sent again later.
void WaitingBatches::giveWay()
{
    if (delivery_.isRunning())
        delivery_.stop();
}

void WaitingBatches::fileSent(const QString& path)
{
    if (Batch* batch = batchFor(deliveringTo_)) {
        batch->paths.removeOne(path);
        if (batch->paths.isEmpty())
            batches_.removeIf([this](const Batch& b) { return b.address == deliveringTo_; });
    }
    store();
}

void WaitingBatches::fileFailed()
{
    ++failed_;
}

void WaitingBatches::deliveryFinished()
{
    // Files added during the attempt are still due; those that failed wait for the next
    // announcement.
    if (Batch* batch = batchFor(deliveringTo_))
        batch->due = batch->paths.size() > failed_;
    deliveringTo_.clear();
    kick_.start();
    Q_EMIT changed();
}

// Rewrites every batch and saves at once: a file counts as delivered only once the store
// on disk says so.
void WaitingBatches::store()
{
    for (int k = 0; k < storedSections_; ++k)
        store_.removeSection(section(k));
    for (int k = 0; k < batches_.size(); ++k) {
        const Batch& batch = batches_.at(k);
        store_.write(section(k), kAddress, batch.address);
        store_.write(section(k), kCount, QString::number(batch.paths.size()));
        for (int file = 0; file < batch.paths.size(); ++file)
            store_.write(section(k), fileKey(file), batch.paths.at(file));
    }
    storedSections_ = int(batches_.size());
    store_.save();
}
