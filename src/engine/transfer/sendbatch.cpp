#include "transfer/sendbatch.h"

#include "transfer/folderwalk.h"

#include <QFileInfo>

#include <utility>

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
    folder_.clear();
    folderFiles_.clear();
    folderNext_ = 0;
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
    while (running_ && takeNext()) {
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
                              file.isDir() ? QStringLiteral("the folder has no files to send")
                                           : QStringLiteral("the file is no longer there"));
            continue;
        }
        size_ = file.size();
        Q_EMIT rowStarted(row_, int(paths_.size()), path_, host_, size_);
        if (running_)
            sender_.send(path_, size_, host_, announced_);
        return;
    }
    if (!running_)
        return;
    running_ = false;
    sender_.endBatch();
    Q_EMIT finished();
}

bool SendBatch::takeNext()
{
    if (folderNext_ < folderFiles_.size()) {
        path_ = folderFiles_.at(folderNext_++);
        announced_ = pathInFolder(folder_, path_);
        return true;
    }
    if (!folder_.isEmpty()) {
        const QString folder = std::exchange(folder_, {});
        folderFiles_.clear();
        Q_EMIT folderEnded(row_, folder, folderAllSent_);
        if (!running_)
            return false;
    }
    if (nextRow_ >= rowCount_ || nextRow_ >= paths_.size())
        return false;
    row_ = nextRow_++;
    path_ = paths_.at(row_);
    announced_.clear();
    if (QFileInfo(path_).isDir())
        enterFolder();
    return true;
}

// Walked at once, when the batch reaches the row: it sends the folder as it is then.
void SendBatch::enterFolder()
{
    folderFiles_ = walkFiles({path_}).files;
    if (folderFiles_.isEmpty())
        return; // skipped as a row with nothing to send
    folder_ = path_;
    folderNext_ = 0;
    folderAllSent_ = true;
    path_ = folderFiles_.at(folderNext_++);
    announced_ = pathInFolder(folder_, path_);
}

void SendBatch::rowEnded(SendOutcome outcome)
{
    if (!running_)
        return;
    if (outcome != SendOutcome::Sent)
        folderAllSent_ = false;
    Q_EMIT rowFinished(row_, path_, size_, host_, outcome);
    next_.start();
}
