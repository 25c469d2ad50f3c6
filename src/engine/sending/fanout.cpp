#include "sending/fanout.h"

#include <QPointer>
#include <QSet>

FanOut::FanOut(TransferMaker make, QObject* parent) : QObject(parent), make_(std::move(make)) {}

FanOut::~FanOut() = default;

int FanOut::ended() const
{
    int count = 0;
    for (const RecipientState& state : states_)
        count += state.stage == RecipientState::Stage::Sent ||
                 state.stage == RecipientState::Stage::NotSent;
    return count;
}

void FanOut::start(const QList<Recipient>& recipients, const QList<QueuedFile>& files)
{
    if (running_ || files.isEmpty())
        return;
    QSet<QString> addresses;
    QList<RecipientState> states;
    for (const Recipient& who : recipients) {
        if (states.size() == kMostRecipients || addresses.contains(who.address))
            continue;
        addresses.insert(who.address);
        states.append(RecipientState{who, {}, 0, 0, {}, 0, 0, {}, {}});
    }
    if (states.isEmpty())
        return;
    stop();
    states_ = states;
    files_ = files;
    transfers_.clear();
    transfers_.resize(states_.size());
    next_ = 0;
    runningCount_ = 0;
    running_ = true;
    startNext();
}

void FanOut::stop()
{
    for (std::unique_ptr<RecipientTransfer>& transfer : transfers_) {
        if (!transfer)
            continue;
        transfer->stop();
        // It may be inside one of its own signals.
        transfer.release()->deleteLater();
    }
    running_ = false;
    runningCount_ = 0;
    next_ = int(states_.size());
}

void FanOut::startNext()
{
    while (running_ && runningCount_ < kParallel && next_ < states_.size()) {
        const int index = next_++;
        std::unique_ptr<RecipientTransfer> transfer = make_(states_.at(index).who);
        // An ended one waiting to be deleted goes with the fan-out at the latest.
        transfer->setParent(this);
        bind(index, *transfer);
        transfers_[index] = std::move(transfer);
        ++runningCount_;
        states_[index].stage = RecipientState::Stage::Sending;
        Q_EMIT recipientChanged(index);
        transfers_[index]->start(files_);
    }
    if (running_ && runningCount_ == 0) {
        running_ = false;
        Q_EMIT finished();
    }
}

void FanOut::bind(int index, RecipientTransfer& transfer)
{
    connect(&transfer, &RecipientTransfer::rowStarted, this,
            [this, index](int, int, const QString& path, qint64 size) {
                RecipientState& state = states_[index];
                state.path = path;
                state.confirmed = 0;
                state.size = size;
                Q_EMIT recipientChanged(index);
            });
    connect(&transfer, &RecipientTransfer::progressed, this,
            [this, index](qint64 confirmed, qint64 size) {
                states_[index].confirmed = confirmed;
                states_[index].size = size;
                Q_EMIT recipientChanged(index);
            });
    connect(&transfer, &RecipientTransfer::rowSkipped, this,
            [this, index](int row, int rows, const QString& path, const QString& reason) {
                RecipientState& state = states_[index];
                ++state.failed;
                state.lastFailure = {};
                state.lastFailure.path = path;
                state.lastFailure.address = state.who.address;
                state.skipReason = reason;
                Q_EMIT rowSkipped(state.who, row, rows, path, reason);
                Q_EMIT recipientChanged(index);
            });
    connect(&transfer, &RecipientTransfer::rowFinished, this,
            [this, index](int row, const SendEnd& end) {
                RecipientState& state = states_[index];
                if (end.outcome == SendOutcome::Sent) {
                    ++state.sent;
                } else {
                    ++state.failed;
                    state.lastFailure = end;
                    state.skipReason.clear();
                }
                Q_EMIT rowFinished(state.who, row, end);
                Q_EMIT recipientChanged(index);
            });
    connect(&transfer, &RecipientTransfer::keyChanged, this, &FanOut::keyChanged);
    connect(&transfer, &RecipientTransfer::loosened, this, &FanOut::loosened);
    // Queued: a transfer may end inside its own start(), or inside a socket's signal.
    const QPointer<RecipientTransfer> guard(&transfer);
    connect(
        &transfer, &RecipientTransfer::finished, this,
        [this, index, guard] {
            if (guard && index < int(transfers_.size()) && transfers_[index].get() == guard)
                transferEnded(index);
        },
        Qt::QueuedConnection);
}

void FanOut::transferEnded(int index)
{
    transfers_[index].release()->deleteLater();
    --runningCount_;
    RecipientState& state = states_[index];
    state.stage = state.failed == 0 ? RecipientState::Stage::Sent : RecipientState::Stage::NotSent;
    state.path.clear();
    Q_EMIT recipientChanged(index);
    startNext();
}
