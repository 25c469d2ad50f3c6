#include "platform/heldfolder.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr mode_t kFileMode = 0666; // less the umask
const char kOpenFiles[] = "/proc/self/fd/";

std::optional<FileIdentity> regularIdentity(const struct stat& status)
{
    if (!S_ISREG(status.st_mode))
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}

// The identity of the regular file open as fd while it has exactly links names.
std::optional<FileIdentity> identityWithLinks(int fd, nlink_t links)
{
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || status.st_nlink != links)
        return std::nullopt;
    return regularIdentity(status);
}

} // namespace

std::optional<FileIdentity> soleFileIdentity(int fd)
{
    return identityWithLinks(fd, 1);
}

std::optional<FileIdentity> unnamedFileIdentity(int fd)
{
    return identityWithLinks(fd, 0);
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

HeldFolder::~HeldFolder()
{
    close();
}

void HeldFolder::close()
{
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

HeldFolder HeldFolder::open(const QString& path)
{
    return HeldFolder(::open(QFile::encodeName(path).constData(), kFolderFlags));
}

HeldFolder HeldFolder::inside(const QByteArray& name) const
{
    return HeldFolder(::openat(fd_, name.constData(), kFolderFlags | O_NOFOLLOW));
}

HeldFolder HeldFolder::again() const
{
    HeldFolder copy(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    struct stat status = {};
    if (copy.isOpen() && (::fstat(copy.fd_, &status) != 0 || status.st_nlink == 0))
        copy.close();
    return copy;
}

bool HeldFolder::holds(const QByteArray& name) const
{
    struct stat status = {};
    return ::fstatat(fd_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

std::optional<FileIdentity> HeldFolder::identityOf(const QByteArray& name) const
{
    struct stat status = {};
    if (::fstatat(fd_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return regularIdentity(status);
}

// Between the check and the removal, only someone who may write this folder could put
// another file under name; they could as well have removed that file themselves.
bool HeldFolder::removeIf(const QByteArray& name, FileIdentity identity) const
{
    return identityOf(name) == identity && ::unlinkat(fd_, name.constData(), 0) == 0;
}

int HeldFolder::renameFree(const QByteArray& from, const QByteArray& to) const
{
    if (::renameat2(fd_, from.constData(), fd_, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system that cannot rename without replacing (some network and FUSE ones): a
    // new name fails on any name taken, and the old one then goes. Cut off between the two,
    // the file is left under both.
    if (::linkat(fd_, from.constData(), fd_, to.constData(), 0) != 0)
        return errno;
    ::unlinkat(fd_, from.constData(), 0);
    return 0;
}

int HeldFolder::makeUnnamed() const
{
    // Naming it later goes through the system's table of open files, which must be there.
    static const bool canName = ::access(kOpenFiles, X_OK) == 0;
    if (!canName) {
        errno = ENOSYS;
        return -1;
    }
    return ::openat(fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kFileMode);
}

int reopenFile(int fd)
{
    const QByteArray open = kOpenFiles + QByteArray::number(fd);
    return ::open(open.constData(), O_RDONLY | O_CLOEXEC);
}

// Without the privilege to link a descriptor itself, its entry in the table of open files
// is linked; linkat never replaces a name.
int linkOpenFile(int folderFd, int fd, const QByteArray& to)
{
    const QByteArray open = kOpenFiles + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, open.constData(), folderFd, to.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    return errno;
}

int HeldFolder::link(int fd, const QByteArray& to) const
{
    return linkOpenFile(fd_, fd, to);
}

int HeldFolder::sync() const
{
    return ::fsync(fd_) == 0 ? 0 : errno;
}

FileIdentity HeldFolder::identity() const
{
    struct stat info {
    };
    if (fd_ < 0)
        errno = EBADF;
    else if (::fstat(fd_, &info) == 0)
        return {quint64(info.st_dev), quint64(info.st_ino)};
    return {};
}

int HeldFolder::syncHandle(FileIdentity& identity) const
{
    identity = this->identity();
    return identity.isKnown() ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
}
