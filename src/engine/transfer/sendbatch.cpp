#include "transfer/sendbatch.h"

#include <QFileInfo>

SendBatch::SendBatch(FileSender& sender, QObject* parent) : QObject(parent), sender_(sender)
{
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &SendBatch::sendNextRow);
    connect(&sender_, &FileSender::finished, this, &SendBatch::rowEnded);
}

void SendBatch::start(PeerLookup peer)
{
    if (running_ || paths_.isEmpty())
        return;
    peer_ = std::move(peer);
    running_ = true;
    nextRow_ = 0;
    rowCount_ = int(paths_.size());
    sendNextRow();
}

void SendBatch::stop()
{
    running_ = false;
    next_.stop();
    sender_.cancel();
}

void SendBatch::sendNextRow()
{
    // Rows cleared during the batch are not there to send.
    while (running_ && nextRow_ < rowCount_ && nextRow_ < paths_.size()) {
        row_ = nextRow_++;
        path_ = paths_.at(row_);
        const std::optional<QString> host = peer_();
        if (!host) {
            running_ = false;
            sender_.endBatch();
            Q_EMIT noPeer();
            Q_EMIT finished();
            return;
        }
        host_ = *host;
        const QFileInfo file(path_);
        if (!file.isFile()) {
            Q_EMIT rowSkipped(row_, int(paths_.size()), path_, host_,
                              QStringLiteral("the file is no longer there"));
            continue;
        }
        size_ = file.size();
        Q_EMIT rowStarted(row_, int(paths_.size()), path_, host_, size_);
        if (running_)
            sender_.send(path_, size_, host_);
        return;
    }
    if (!running_)
        return;
    running_ = false;
    sender_.endBatch();
    Q_EMIT finished();
}

void SendBatch::rowEnded(SendOutcome outcome)
{
    if (!running_)
        return;
    Q_EMIT rowFinished(row_, path_, size_, host_, outcome);
    next_.start();
}
