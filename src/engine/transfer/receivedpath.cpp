#include "transfer/receivedpath.h"

#include "transfer/receivedname.h"
#include "transfer/saveerror.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr mode_t kFolderMode = 0777; // less the umask

// A folder's file descriptor, closed when it goes.
class Folder
{
public:
    explicit Folder(int fd = -1) : fd_(fd) {}
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() { reset(-1); }
    void reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

QString inTheWay()
{
    return QStringLiteral("a file or link stands where a received folder goes");
}

// Opens the folder name inside at, making it first (anew only when isNew); never
// follows a link. Returns the descriptor, or -1 with errno set.
int openFolder(int at, const QByteArray& name, bool isNew)
{
    if (::mkdirat(at, name.constData(), kFolderMode) == 0) {
        ::fsync(at); // the new folder lasts through a power cut
    } else if (errno != EEXIST || isNew) {
        return -1;
    }
    return ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether the folder open as fd is the one path names now, links resolved.
bool isSameFolder(int fd, const QString& path)
{
    struct stat opened = {};
    struct stat named = {};
    return ::fstat(fd, &opened) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

std::optional<QStringList> receivedPathParts(const QByteArray& path)
{
    QStringList parts;
    for (const QByteArray& part : path.split('/')) {
        const std::optional<QString> name = receivedFileName(part);
        if (!name || name->toUtf8() != part)
            return std::nullopt;
        parts.append(*name);
    }
    return parts;
}

FoldersMade makeFolders(const QString& saveFolder, const QStringList& parts, bool isNew)
{
    Folder folder(
        ::open(QFile::encodeName(saveFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd() < 0)
        return {{}, saveErrorText(errno)};
    QString path = saveFolder;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const int next = openFolder(folder.fd(), QFile::encodeName(parts.at(i)), isNew && i == 0);
        if (next < 0)
            return {{},
                    errno == ELOOP || errno == ENOTDIR || errno == EEXIST ? inTheWay()
                                                                          : saveErrorText(errno)};
        folder.reset(next);
        path = QDir(path).filePath(parts.at(i));
    }
    // The file is made by its path: that path must still lead to the folder just walked to.
    if (!isSameFolder(folder.fd(), path))
        return {{}, inTheWay()};
    return {path, {}};
}
