#include "transfer/outgoingfile.h"

#include "platform/diskworker.h"
#include "transfer/readerror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/uio.h>

OutgoingFile::OutgoingFile(QObject* parent) : QObject(parent)
{
    connect(&digest_, &FileDigest::finished, this, &OutgoingFile::digested);
    connect(&digest_, &FileDigest::failed, this, &OutgoingFile::readBackFailed);
}

bool OutgoingFile::open(const QString& path, qint64 size, qint64 offset,
                        std::optional<Checksum::Kind> digested)
{
    close();
    size_ = size;
    sent_ = offset;
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    digesting_ = digested.has_value();
    if (digesting_)
        digest_.start(path, offset, *digested);
    return true;
}

bool OutgoingFile::blockAtHand()
{
    if (!ahead_.isEmpty() || !error_.isEmpty())
        return true;
    if (reading_)
        return false;
    const qint64 length = std::min(kBlockBytes, size_ - sent_);
    QByteArray bytes(length, Qt::Uninitialized);
    iovec into{bytes.data(), size_t(length)};
    // Only what the system holds already; a short read gives what it holds of the block.
    const ssize_t got = ::preadv2(int(file_.handle()), &into, 1, sent_, RWF_NOWAIT);
    if (got > 0) {
        bytes.truncate(got);
        ahead_ = std::move(bytes);
        return true;
    }
    // Not in memory, the end of a file that became shorter, a failure, or a system that
    // cannot tell without waiting: the worker finds out which.
    readOnWorker(length);
    return !error_.isEmpty();
}

void OutgoingFile::readOnWorker(qint64 length)
{
    const int fd = ::fcntl(int(file_.handle()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error_ = qt_error_string(errno);
        return;
    }
    reading_ = true;
    DiskWorker::instance().run(
        this, [fd, from = sent_, length] { return readBlockAt(fd, from, length); },
        [this, opening = opening_](const BlockRead& read) { blockRead(opening, read); });
}

void OutgoingFile::blockRead(quint64 opening, const BlockRead& read)
{
    if (opening != opening_)
        return; // closed meanwhile
    reading_ = false;
    if (read.error.isEmpty())
        ahead_ = read.bytes;
    else
        error_ = read.error;
    Q_EMIT blockReady();
}

QByteArray OutgoingFile::next()
{
    if (ahead_.isEmpty() && error_.isEmpty())
        error_ = QStringLiteral("The file was not read");
    if (!error_.isEmpty())
        return {};
    QByteArray bytes = std::exchange(ahead_, {});
    if (digesting_)
        digest_.add(bytes);
    sent_ += bytes.size();
    return bytes;
}

void OutgoingFile::finish()
{
    file_.close();
    if (digesting_)
        digest_.finish();
}

void OutgoingFile::close()
{
    ++opening_;
    reading_ = false;
    ahead_.clear();
    error_.clear();
    file_.close();
    digest_.stop();
    digesting_ = false;
}
