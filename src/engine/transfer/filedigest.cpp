#include "transfer/filedigest.h"

#include "platform/diskworker.h"
#include "transfer/readerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

FileDigest::FileDigest(QObject* parent) : QObject(parent), check_(std::make_shared<Checksum>(kind_))
{
    stepTimer_.setSingleShot(true);
    stepTimer_.setInterval(0);
    connect(&stepTimer_, &QTimer::timeout, this, &FileDigest::step);
}

FileDigest::~FileDigest()
{
    stop();
}

void FileDigest::start(const QString& path, qint64 offset, Checksum::Kind kind)
{
    stop();
    kind_ = kind;
    check_ = std::make_shared<Checksum>(kind);
    path_ = path;
    known_ = offset;
    if (known_ > 0)
        stepTimer_.start(); // on the loop's next turn, whatever the worker is doing
}

void FileDigest::start(int fd, qint64 offset, Checksum::Kind kind)
{
    start(QString(), offset, kind);
    fd_ = fd;
}

void FileDigest::add(const QByteArray& bytes)
{
    const bool caughtUp = taken_ == known_;
    known_ += bytes.size();
    if (!caughtUp)
        return; // read back from the file with the bytes before them
    check_->add(bytes);
    taken_ = known_;
}

void FileDigest::finish()
{
    finishing_ = true;
    if (taken_ == known_)
        caughtUp();
}

void FileDigest::stop()
{
    ++start_;
    stepTimer_.stop();
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
    check_ = std::make_shared<Checksum>(kind_); // one a step still has is left to it
    path_.clear();
    taken_ = known_ = 0;
    finishing_ = false;
}

void FileDigest::step()
{
    if (const std::optional<QString> description = open()) {
        fail(*description);
        return;
    }
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        fail(qt_error_string(errno));
        return;
    }
    const qint64 from = taken_;
    const qint64 length = std::min(kStepBytes, known_ - taken_);
    DiskWorker::instance().run(
        this,
        [fd, from, length, check = std::exchange(check_, nullptr)] {
            Step done;
            done.check = check;
            const BlockRead read = readBlockAt(fd, from, length);
            if (read.bytes.isEmpty()) {
                done.error = read.error;
            } else {
                check->add(read.bytes); // what came counts, however short
                done.read = read.bytes.size();
            }
            return done;
        },
        [this, start = start_](const Step& done) { stepped(start, done); });
}

void FileDigest::stepped(quint64 start, const Step& step)
{
    if (start != start_)
        return; // stopped or started anew meanwhile
    check_ = step.check;
    if (step.read == 0) {
        fail(step.error);
        return;
    }
    taken_ += step.read;
    if (taken_ < known_) {
        this->step();
        return;
    }
    ::close(std::exchange(fd_, -1));
    if (finishing_)
        caughtUp();
}

std::optional<QString> FileDigest::open()
{
    if (fd_ >= 0)
        return std::nullopt;
    if (path_.isEmpty())
        return QStringLiteral("the file is not the one written any more");
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return qt_error_string(errno);
    return std::nullopt;
}

void FileDigest::fail(const QString& description)
{
    stop();
    Q_EMIT failed(description);
}

void FileDigest::caughtUp()
{
    const QByteArray digest = check_->result();
    stop();
    Q_EMIT finished(digest);
}
