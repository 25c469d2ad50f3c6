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
constexpr mode_t kFileMode = 0666; // less the umask
// How many bytes a step of writing back holds.
constexpr qint64 kWritebackBytes = 8 * 1024 * 1024;
// How many bytes are written back between syncs on the way.
constexpr qint64 kSyncOnTheWayBytes = 64 * 1024 * 1024;
// A FIFO put in a part file's place would hold the loop on opening it.
constexpr int kOpenPartFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

QString replacedText()
{
    return QStringLiteral("its part file was replaced by something else, which is left alone");
}

} // namespace

bool ReceiveFile::choose(HeldFolder folder, const QString& folderPath, const QString& name,
                         const Leftover& leftover, const Reserved& reserved)
{
    folder_ = std::move(folder);
    folderPath_ = folderPath;
    named_ = unnamed_ = naming_ = false;
    const QDir dir(folderPath);
    // A leftover only while what stands under its name in the folder held is what was recorded.
    const auto leftoverAt = [&](const QString& n) -> std::optional<FileIdentity> {
        const QString part = n + kPartSuffix;
        const std::optional<FileIdentity> recorded = leftover(dir.filePath(part));
        if (!recorded || folder_.identityOf(QFile::encodeName(part)) != *recorded)
            return std::nullopt;
        return recorded;
    };
    finalName_ = firstFreeName(name, [&](const QString& n) {
        takeOver_.reset();
        if (folder_.holds(QFile::encodeName(n)) ||
            (reserved && reserved(dir.filePath(n + kPartSuffix))))
            return true;
        if (!folder_.holds(QFile::encodeName(n + kPartSuffix)))
            return false;
        takeOver_ = leftoverAt(n);
        return !takeOver_;
    });
    if (finalName_.isEmpty()) {
        error_ = QStringLiteral("every numbered variant of the name is taken");
        return false;
    }
    return true;
}

bool ReceiveFile::open()
{
    if (!takeOver_) {
        // Made exclusively: it fails on an existing file or link of that name.
        const int fd = ::openat(folder_.fd(), partName().constData(),
                                O_WRONLY | O_CREAT | O_EXCL | kOpenPartFlags, kFileMode);
        if (fd < 0) {
            error_ = saveErrorText(errno);
            return false;
        }
        if (hold(fd, QIODevice::WriteOnly))
            return true;
        ::unlinkat(folder_.fd(), partName().constData(), 0); // made a moment ago, and empty
        return false;
    }
    // What stands under the name now may have been put there since it was chosen.
    const int fd = ::openat(folder_.fd(), partName().constData(), O_WRONLY | kOpenPartFlags);
    if (fd < 0 && errno != ELOOP && errno != ENXIO) {
        error_ = saveErrorText(errno);
        return false;
    }
    if (fd < 0 || soleFileIdentity(fd) != *takeOver_ || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0)
            ::close(fd);
        error_ = replacedText();
        return false;
    }
    return hold(fd, QIODevice::WriteOnly);
}

bool ReceiveFile::openUnnamed(int spare)
{
    if (takeOver_) {
        if (spare >= 0)
            ::close(spare);
        return false;
    }
    const int fd = spare >= 0 ? spare : folder_.makeUnnamed();
    return fd >= 0 && hold(fd, QIODevice::WriteOnly, true);
}

std::optional<PartNaming> ReceiveFile::takePartNaming()
{
    if (!unnamed_ || !part_.isOpen())
        return std::nullopt;
    const int folderFd = ::fcntl(folder_.fd(), F_DUPFD_CLOEXEC, 0);
    const int fd = folderFd < 0 ? -1 : ::fcntl(part_.handle(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        if (folderFd >= 0)
            ::close(folderFd);
        return std::nullopt;
    }
    unnamed_ = false;
    naming_ = true;
    return PartNaming{folderFd, fd, partName(), identity_};
}

bool ReceiveFile::partNameFree() const
{
    return !folder_.holds(partName());
}

std::optional<qint64> ReceiveFile::resume(HeldFolder folder, const QString& partPath,
                                          FileIdentity recorded, qint64 size)
{
    const QFileInfo info(partPath);
    folder_ = std::move(folder);
    folderPath_ = info.absolutePath();
    finalName_ = info.fileName().chopped(kPartSuffix.size());
    named_ = unnamed_ = naming_ = false;
    takeOver_.reset();
    const int fd =
        ::openat(folder_.fd(), partName().constData(), O_WRONLY | O_APPEND | kOpenPartFlags);
    if (fd < 0 || soleFileIdentity(fd) != recorded) {
        if (fd >= 0)
            ::close(fd);
        error_ = replacedText();
        return std::nullopt;
    }
    const qint64 held = ::lseek(fd, 0, SEEK_END);
    if (held < 0 || held > size) {
        ::close(fd);
        error_ = QStringLiteral("its part file holds more than the whole file");
        return std::nullopt;
    }
    if (!hold(fd, QIODevice::WriteOnly | QIODevice::Append))
        return std::nullopt;
    written_ = writtenBack_ = held;
    return held;
}

bool ReceiveFile::hold(int fd, QIODevice::OpenMode mode, bool unnamed)
{
    const std::optional<FileIdentity> identity =
        unnamed ? unnamedFileIdentity(fd) : soleFileIdentity(fd);
    if (!identity || !part_.open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error_ = identity ? part_.errorString() : replacedText();
        return false;
    }
    identity_ = *identity;
    unnamed_ = unnamed;
    naming_ = false;
    written_ = writtenBack_ = syncedBack_ = 0;
    return true;
}

// Only a continued file is read back, and that one has its part name.
int ReceiveFile::readBack() const
{
    if (unnamed_)
        return -1;
    const int fd = ::openat(folder_.fd(), partName().constData(), O_RDONLY | kOpenPartFlags);
    if (fd >= 0 && soleFileIdentity(fd) == identity_)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

ReceiveFile::WriteBack ReceiveFile::takeWriteBack()
{
    if (written_ - writtenBack_ < kWritebackBytes)
        return {};
    const int fd = reopenFile(part_.handle());
    if (fd < 0)
        return {};
    const bool sync = written_ - syncedBack_ >= kSyncOnTheWayBytes;
    const WriteBack step{fd, writtenBack_, written_ - writtenBack_, sync};
    writtenBack_ = written_;
    if (sync)
        syncedBack_ = written_;
    return step;
}

// Only hints to the system: where they fail, the sync at the end does all the work.
void ReceiveFile::WriteBack::run() const
{
    qint64 onDisk = from + length;
    if (sync) {
        ::fdatasync(fd);
    } else {
        if (from > 0)
            ::sync_file_range(fd, 0, from, SYNC_FILE_RANGE_WAIT_BEFORE);
        ::sync_file_range(fd, from, length, SYNC_FILE_RANGE_WRITE);
        onDisk = from;
    }
    // What is on the disk leaves the system's memory, which then takes the next bytes in
    // the same few pages rather than in fresh ones: a large file does not push out what
    // other programs keep there, and is written faster. Pages not yet written stay.
    ::posix_fadvise(fd, 0, onDisk, POSIX_FADV_DONTNEED);
    ::close(fd);
}

std::optional<ReceiveFile::Reservation> ReceiveFile::reservation(qint64 size)
{
    const int fd = syncHandle();
    if (fd < 0)
        return std::nullopt;
    return Reservation{fd, written_, size - written_};
}

// Set aside beyond the file's end, which stays where the bytes written so far end: a part
// file holds what came, however much room it has. Only a disk without room for the file
// fails it at once; whatever else went wrong, the writes find out for themselves.
int ReceiveFile::Reservation::run() const
{
    int error = 0;
    if (length > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, from, length) != 0)
        error = errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? errno : 0;
    ::close(fd);
    return error;
}

ReceiveFile::RoomBack ReceiveFile::roomBack()
{
    return {syncHandle()};
}

// Cutting a file to the size it has frees what was set aside beyond it.
void ReceiveFile::RoomBack::run() const
{
    if (fd < 0)
        return;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end >= 0 && ::ftruncate(fd, end) != 0) {
        // The room stays taken until the part file is whole or removed; nothing is lost.
    }
    ::close(fd);
}

bool ReceiveFile::write(const QByteArray& bytes)
{
    // Straight to the system, whose error number tells a full disk from other failures.
    const int error = writeAll(part_.handle(), bytes);
    if (error == 0) {
        written_ += bytes.size();
        return true;
    }
    error_ = saveErrorText(error);
    return false;
}

int ReceiveFile::syncHandle()
{
    const int fd = part_.isOpen() ? ::fcntl(part_.handle(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0)
        error_ = saveErrorText(part_.isOpen() ? errno : EBADF);
    return fd;
}

// The part file is renamed as it stands under its name in the folder held. Only someone
// who may write that folder could have put another file there since it was written.
bool ReceiveFile::takeName()
{
    const QByteArray part = partName();
    // A part name on its way may not have come yet; if it comes after, it goes again.
    const bool fromDescriptor = unnamed_ || (naming_ && folder_.identityOf(part) != identity_);
    int error = 0;
    // Another file may have taken the final name meanwhile: it is never replaced, and the
    // next free name is tried.
    finalName_ = firstFreeName(finalName_, [&](const QString& n) {
        error = fromDescriptor ? folder_.link(part_.handle(), QFile::encodeName(n))
                               : folder_.renameFree(part, QFile::encodeName(n));
        return error == EEXIST;
    });
    part_.close();
    named_ = !finalName_.isEmpty() && error == 0;
    unnamed_ = naming_ = false;
    if (!named_)
        error_ = QStringLiteral("the finished file could not take its name");
    return named_;
}

int ReceiveFile::folderSyncHandle(FileIdentity& folder)
{
    const int fd = folder_.syncHandle(folder);
    if (fd < 0)
        error_ = saveErrorText(errno);
    return fd;
}

void ReceiveFile::close()
{
    part_.close();
    unnamed_ = false;
}

void ReceiveFile::discard()
{
    if (!part_.isOpen())
        return;
    // A part name on its way that comes after this goes again.
    const bool named = !unnamed_;
    close();
    if (named)
        folder_.removeIf(partName(), identity_);
}

QByteArray ReceiveFile::partName() const
{
    return QFile::encodeName(finalName_ + kPartSuffix);
}

QString ReceiveFile::path() const
{
    return QDir(folderPath_).filePath(named_ ? finalName_ : finalName_ + kPartSuffix);
}
