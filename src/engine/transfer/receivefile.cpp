#include "transfer/receivefile.h"

#include "platform/durablewrite.h"
#include "transfer/receivedname.h"
#include "transfer/saveerror.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{

const QString kPartSuffix = QStringLiteral(".part");
// Every so many bytes the system is asked to start writing them to the disk, so that the
// sync before the final name finds little left to do instead of the whole file, and the
// loop is never held for long by it.
constexpr qint64 kWritebackBytes = 8 * 1024 * 1024;

// Whether anything, a dangling link included, stands under name.
bool nameTaken(const QDir& folder, const QString& name)
{
    const QFileInfo info(folder.filePath(name));
    return info.exists() || info.isSymLink();
}

} // namespace

bool ReceiveFile::create(const QString& folder, const QString& name, const IsLeftover& isLeftover)
{
    const QDir dir(folder);
    const auto leftover = [&dir, &isLeftover](const QString& n) {
        return isLeftover(dir.filePath(n + kPartSuffix));
    };
    finalName_ = firstFreeName(name, [&](const QString& n) {
        return nameTaken(dir, n) || (nameTaken(dir, n + kPartSuffix) && !leftover(n));
    });
    folder_ = folder;
    if (finalName_.isEmpty()) {
        error_ = QStringLiteral("every numbered variant of the name is taken");
        return false;
    }
    named_ = false;
    partPath_ = dir.filePath(finalName_ + kPartSuffix);
    part_.setFileName(partPath_);
    // NewOnly creates exclusively: it fails on an existing file or link of that name.
    // Only a leftover of our own is written over.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    mode |= leftover(finalName_) ? QIODevice::Truncate : QIODevice::NewOnly;
    if (!part_.open(mode)) {
        error_ = part_.errorString();
        return false;
    }
    written_ = 0;
    writtenBack_ = 0;
    return true;
}

std::optional<qint64> ReceiveFile::resume(const QString& partPath, qint64 size)
{
    const QFileInfo info(partPath);
    folder_ = info.absolutePath();
    finalName_ = info.fileName().chopped(kPartSuffix.size());
    named_ = false;
    // Never through a link that took the part file's place.
    const int fd = ::open(QFile::encodeName(partPath).constData(),
                          O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const qint64 held = ::lseek(fd, 0, SEEK_END);
    partPath_ = partPath; // a file opened from its descriptor has no name
    if (held < 0 || held > size ||
        !part_.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    written_ = writtenBack_ = held;
    return held;
}

// Only hints to the system: where they fail, the sync at the end does all the work.
void ReceiveFile::writeBack()
{
    const int fd = part_.handle();
    // Waiting for the step asked for last time keeps no more than two steps of the file
    // waiting for the disk; a sender faster than the disk is slowed down to its pace.
    if (writtenBack_ > 0)
        ::sync_file_range(fd, 0, writtenBack_, SYNC_FILE_RANGE_WAIT_BEFORE);
    ::sync_file_range(fd, writtenBack_, written_ - writtenBack_, SYNC_FILE_RANGE_WRITE);
    writtenBack_ = written_;
}

bool ReceiveFile::write(const QByteArray& bytes)
{
    // Straight to the system, whose error number tells a full disk from other failures.
    const int error = writeAll(part_.handle(), bytes);
    if (error == 0) {
        written_ += bytes.size();
        if (written_ - writtenBack_ >= kWritebackBytes)
            writeBack();
        return true;
    }
    error_ = saveErrorText(error);
    return false;
}

bool ReceiveFile::close(bool complete)
{
    if (!part_.isOpen())
        return true;
    if (!complete) {
        part_.close();
        return true;
    }
    // The bytes reach the disk before the file takes its name.
    const int syncError = ::fsync(part_.handle()) == 0 ? 0 : errno;
    part_.close();
    if (syncError != 0) {
        error_ = saveErrorText(syncError);
        return false;
    }
    if (!takeFinalName())
        return false;
    if (const int error = syncFolder(folder_)) {
        error_ = saveErrorText(error);
        return false;
    }
    return true;
}

bool ReceiveFile::takeFinalName()
{
    // Another file may have taken the final name meanwhile; rename never replaces it.
    const QDir dir(folder_);
    finalName_ = firstFreeName(finalName_, [&dir](const QString& n) { return nameTaken(dir, n); });
    named_ = !finalName_.isEmpty() && QFile::rename(partPath_, dir.filePath(finalName_));
    if (!named_)
        error_ = QStringLiteral("the finished file could not take its name");
    return named_;
}

void ReceiveFile::discard()
{
    if (!part_.isOpen())
        return;
    part_.close();
    QFile::remove(partPath_);
}

QString ReceiveFile::path() const
{
    return named_ ? QDir(folder_).filePath(finalName_) : partPath_;
}
