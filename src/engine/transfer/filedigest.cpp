#include "transfer/filedigest.h"

#include "transfer/readerror.h"

#include <unistd.h>
#include <utility>

FileDigest::FileDigest(QObject* parent) : QObject(parent)
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
    check_.reset(kind);
    path_ = path;
    known_ = offset;
    if (known_ > 0)
        stepTimer_.start();
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
    check_.add(bytes);
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
    stepTimer_.stop();
    file_.close();
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
    check_.reset();
    taken_ = known_ = 0;
    finishing_ = false;
}

void FileDigest::step()
{
    if (!file_.isOpen()) {
        if (const std::optional<QString> description = open()) {
            stop();
            Q_EMIT failed(*description);
            return;
        }
    }
    const QByteArray bytes = file_.read(std::min(kStepBytes, known_ - taken_));
    if (bytes.isEmpty()) {
        const QString description = shortReadText(file_);
        stop();
        Q_EMIT failed(description);
        return;
    }
    check_.add(bytes);
    taken_ += bytes.size();
    if (taken_ < known_) {
        stepTimer_.start();
        return;
    }
    file_.close();
    if (finishing_)
        caughtUp();
}

std::optional<QString> FileDigest::open()
{
    constexpr QIODevice::OpenMode kMode = QIODevice::ReadOnly | QIODevice::Unbuffered;
    if (path_.isEmpty()) {
        const int fd = std::exchange(fd_, -1);
        if (fd < 0)
            return QStringLiteral("the file is not the one written any more");
        if (!file_.open(fd, kMode, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return file_.errorString();
        }
    } else {
        file_.setFileName(path_);
        if (!file_.open(kMode))
            return file_.errorString();
    }
    if (!file_.seek(taken_))
        return file_.errorString();
    return std::nullopt;
}

void FileDigest::caughtUp()
{
    const QByteArray digest = check_.result();
    stop();
    Q_EMIT finished(digest);
}
