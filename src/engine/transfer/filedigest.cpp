#include "transfer/filedigest.h"

#include "transfer/readerror.h"

FileDigest::FileDigest(QObject* parent) : QObject(parent)
{
    stepTimer_.setSingleShot(true);
    stepTimer_.setInterval(0);
    connect(&stepTimer_, &QTimer::timeout, this, &FileDigest::step);
}

void FileDigest::start(const QString& path, qint64 offset)
{
    stop();
    path_ = path;
    known_ = offset;
    if (known_ > 0)
        stepTimer_.start();
}

void FileDigest::add(const QByteArray& bytes)
{
    const bool caughtUp = taken_ == known_;
    known_ += bytes.size();
    if (!caughtUp)
        return; // read back from the file with the bytes before them
    sha_.add(bytes);
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
    sha_.reset();
    taken_ = known_ = 0;
    finishing_ = false;
}

void FileDigest::step()
{
    if (!file_.isOpen()) {
        file_.setFileName(path_);
        if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file_.seek(taken_)) {
            const QString description = file_.errorString();
            stop();
            Q_EMIT failed(description);
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
    sha_.add(bytes);
    taken_ += bytes.size();
    if (taken_ < known_) {
        stepTimer_.start();
        return;
    }
    file_.close();
    if (finishing_)
        caughtUp();
}

void FileDigest::caughtUp()
{
    const QByteArray digest = sha_.result();
    stop();
    Q_EMIT finished(digest);
}
