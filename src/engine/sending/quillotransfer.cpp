#include "sending/quillotransfer.h"

#include <QTimer>

QuilloTransfer::QuilloTransfer(const Recipient& recipient, RandomSource& random,
                               const QHostAddress& bindAddress, Clock& clock,
                               const Identity* identity, PeerKeys* keys, QObject* parent)
    : RecipientTransfer(parent), address_(recipient.address), sender_(random, bindAddress, clock),
      batch_(sender_)
{
    sender_.setPrivacy(identity, keys);
    // Nothing waits for one person here: a file cut off is told, and the next one goes.
    batch_.setStopsAtCut(false);
    connect(&batch_, &SendBatch::rowStarted, this,
            [this](int row, int rows, const QString& path, const QString&, qint64 size) {
                Q_EMIT rowStarted(row, rows, path, size);
            });
    connect(&batch_, &SendBatch::rowSkipped, this,
            [this](int row, int rows, const QString& path, const QString&, const QString& reason) {
                Q_EMIT rowSkipped(row, rows, path, reason);
            });
    connect(&batch_, &SendBatch::rowFinished, this, &RecipientTransfer::rowFinished);
    connect(&batch_, &SendBatch::finished, this, &RecipientTransfer::finished);
    connect(&sender_, &FileSender::progressed, this, &RecipientTransfer::progressed);
    connect(&sender_, &FileSender::keyChanged, this, &RecipientTransfer::keyChanged);
    connect(&sender_, &FileSender::loosened, this, &RecipientTransfer::loosened);
}

void QuilloTransfer::setRefusalRetries(int count, std::chrono::milliseconds longestWait)
{
    sender_.setRefusalRetries(count, longestWait);
}

void QuilloTransfer::setDevices(DeviceBook* devices, const DeviceInfo& own)
{
    sender_.setDevices(devices, own);
    connect(&sender_, &FileSender::pinNeeded, this,
            [this] { QTimer::singleShot(0, &sender_, [this] { sender_.answerPin({}); }); });
}

void QuilloTransfer::start(const QList<QueuedFile>& files)
{
    batch_.clear();
    for (const QueuedFile& file : files)
        batch_.append(file);
    batch_.start([address = address_] { return std::optional<QString>(address); });
}

void QuilloTransfer::stop()
{
    batch_.stop();
}
