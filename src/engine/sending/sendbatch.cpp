#include "sending/sendbatch.h"

#include "sending/folderwalk.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <utility>

namespace
{

// A step of a folder's walk takes this many entries at a time, until this much time has gone.
constexpr int kWalkEntriesAtATime = 32;
constexpr qint64 kWalkStepMs = 10;

} // namespace

SendBatch::SendBatch(FileSender& sender, QObject* parent) : QObject(parent), sender_(sender)
{
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &SendBatch::sendNextRow);
    walkTimer_.setSingleShot(true);
    walkTimer_.setInterval(0);
    connect(&walkTimer_, &QTimer::timeout, this, &SendBatch::walkFolder);
    connect(&sender_, &FileSender::finished, this, &SendBatch::rowEnded);
    connect(&sender_, &FileSender::cutOff, this, [this] { cut_ = running_ && stopsAtCut_; });
}

SendBatch::~SendBatch() = default;

void SendBatch::append(const QueuedFile& file)
{
    paths_.append(file.path);
    folders_.append(file.folder);
}

QList<QueuedFile> SendBatch::rows() const
{
    QList<QueuedFile> rows;
    for (qsizetype row = 0; row < paths_.size(); ++row)
        rows.append({paths_.at(row), folders_.at(row)});
    return rows;
}

void SendBatch::clear()
{
    paths_.clear();
    folders_.clear();
}

QueuedFile SendBatch::current() const
{
    if (!folder_.isEmpty())
        return {path_, folder_};
    return {path_, row_ < folders_.size() ? folders_.at(row_) : QString()};
}

QList<QueuedFile> SendBatch::rest() const
{
    QList<QueuedFile> rest;
    if (!running_)
        return rest;
    rest.append(current());
    for (const Ahead& file : ahead_)
        rest.append({file.path, file.folder});
    for (qsizetype k = folderNext_; !folder_.isEmpty() && k < folderFiles_.size(); ++k)
        rest.append({folderFiles_.at(k), folder_});
    for (int row = nextRow_; row < std::min<qsizetype>(rowCount_, paths_.size()); ++row)
        rest.append({paths_.at(row), folders_.at(row)});
    return rest;
}

QList<UpcomingFile> SendBatch::upcoming() const
{
    QList<UpcomingFile> files;
    const QList<QueuedFile> rest = this->rest();
    for (qsizetype k = 1; k < rest.size() && files.size() < kMaxFilesPerSession; ++k) {
        const QFileInfo file(rest.at(k).path);
        if (file.isDir())
            break;
        if (!file.isFile())
            continue;
        const QString& folder = rest.at(k).folder;
        const QString& path = rest.at(k).path;
        files.append(
            {path, folder.isEmpty() ? file.fileName() : pathInFolder(folder, path), file.size()});
    }
    return files;
}

void SendBatch::start(PeerLookup peer)
{
    if (running_ || paths_.isEmpty())
        return;
    cut_ = false;
    peer_ = std::move(peer);
    running_ = true;
    nextRow_ = 0;
    rowCount_ = int(paths_.size());
    ahead_.clear();
    walk_.reset();
    folder_.clear();
    folderFiles_.clear();
    folderNext_ = 0;
    sendNextRow();
}

void SendBatch::stop()
{
    running_ = false;
    next_.stop();
    walkTimer_.stop();
    walk_.reset();
    ahead_.clear();
    sender_.cancel();
}

void SendBatch::sendNextRow()
{
    // Rows cleared during the batch are not there to send.
    while (running_) {
        const Next next = takeNext();
        if (next == Next::Walking)
            return;
        if (next == Next::None)
            break;
        if (sendTaken())
            return;
    }
    if (!running_)
        return;
    running_ = false;
    sender_.endBatch();
    Q_EMIT finished();
}

bool SendBatch::sendTaken()
{
    const std::optional<QString> host = peer_();
    if (!host) {
        running_ = false;
        sender_.endBatch();
        Q_EMIT noPeer();
        Q_EMIT finished();
        return true;
    }
    host_ = *host;
    // A file taken ahead is on its way already, as it was when taken.
    const QFileInfo file(path_);
    if (!takenAhead_ && !file.isFile()) {
        Q_EMIT rowSkipped(row_, int(paths_.size()), path_, host_,
                          file.isDir() ? QStringLiteral("the folder has no files to send")
                                       : QStringLiteral("the file is no longer there"));
        return false;
    }
    if (!takenAhead_)
        size_ = file.size();
    Q_EMIT rowStarted(row_, int(paths_.size()), path_, host_, size_);
    sender_.setUpcoming([this] { return upcoming(); });
    sender_.setAhead([this] { return takeAhead(); });
    if (running_)
        sender_.send(path_, size_, host_, announced_);
    return true;
}

SendBatch::Next SendBatch::takeNext()
{
    takenAhead_ = !ahead_.isEmpty();
    if (takenAhead_) {
        const Ahead file = ahead_.takeFirst();
        row_ = file.row;
        path_ = file.path;
        announced_ = file.announced;
        size_ = file.size;
        return Next::File;
    }
    if (folderNext_ < folderFiles_.size()) {
        path_ = folderFiles_.at(folderNext_++);
        announced_ = pathInFolder(folder_, path_);
        return Next::File;
    }
    if (!folder_.isEmpty()) {
        const QString folder = std::exchange(folder_, {});
        folderFiles_.clear();
        Q_EMIT folderEnded(row_, folder, folderAllSent_);
        if (!running_)
            return Next::None;
    }
    if (nextRow_ >= rowCount_ || nextRow_ >= paths_.size())
        return Next::None;
    row_ = nextRow_++;
    path_ = paths_.at(row_);
    announced_.clear();
    if (const QString& folder = folders_.at(row_); !folder.isEmpty()) {
        announced_ = pathInFolder(folder, path_);
        return Next::File;
    }
    if (!QFileInfo(path_).isDir())
        return Next::File;
    // Walked when the batch reaches the row, so it goes as it is then.
    walk_ = std::make_unique<FolderWalk>(QStringList{path_});
    walkFolder();
    return Next::Walking;
}

std::optional<NextFile> SendBatch::takeAhead()
{
    if (!running_)
        return std::nullopt;
    const bool inFolder = !folder_.isEmpty();
    if (inFolder ? folderNext_ >= folderFiles_.size()
                 : nextRow_ >= rowCount_ || nextRow_ >= paths_.size())
        return std::nullopt;
    Ahead next;
    next.row = inFolder ? row_ : nextRow_;
    next.path = inFolder ? folderFiles_.at(folderNext_) : paths_.at(nextRow_);
    next.folder = inFolder ? folder_ : folders_.at(nextRow_);
    // A folder row is walked in its turn, and a file gone is skipped in its turn.
    const QFileInfo file(next.path);
    if (!file.isFile())
        return std::nullopt;
    next.size = file.size();
    if (!next.folder.isEmpty())
        next.announced = pathInFolder(next.folder, next.path);
    if (inFolder)
        ++folderNext_;
    else
        ++nextRow_;
    ahead_.append(next);
    return NextFile{next.path, next.announced, next.size};
}

// One step: a few entries at a time, for at most a few milliseconds.
void SendBatch::walkFolder()
{
    QElapsedTimer step;
    step.start();
    while (!walk_->step(kWalkEntriesAtATime)) {
        if (step.elapsed() >= kWalkStepMs) {
            walkTimer_.start();
            return;
        }
    }
    folderFiles_ = walk_->result().files;
    walk_.reset();
    folderNext_ = 0;
    folderAllSent_ = true;
    if (!folderFiles_.isEmpty()) {
        folder_ = path_;
        takeNext();
    }
    // Once the folder's first file is taken; an empty folder is skipped as its row.
    if (!sendTaken())
        next_.start();
}

void SendBatch::rowEnded(const SendEnd& end)
{
    if (!running_)
        return;
    if (end.outcome != SendOutcome::Sent)
        folderAllSent_ = false;
    const QList<QueuedFile> rest = std::exchange(cut_, false) ? this->rest() : QList<QueuedFile>();
    Q_EMIT rowFinished(row_, end);
    if (rest.isEmpty() || !running_) {
        next_.start();
        return;
    }
    running_ = false;
    sender_.endBatch();
    Q_EMIT cutOff(host_, rest);
    Q_EMIT finished();
}
