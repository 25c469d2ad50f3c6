#include "transfer/receivedpath.h"

#include "transfer/receivedname.h"
#include "transfer/saveerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <deque>
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

int openSaveFolder(const QString& saveFolder)
{
    return ::open(QFile::encodeName(saveFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Opens the folder name inside at, making it first (anew only when isNew, and then
// saying so in made); never follows a link. Returns the descriptor, or -1 with errno set.
int openFolder(int at, const QByteArray& name, bool isNew, bool& made)
{
    made = ::mkdirat(at, name.constData(), kFolderMode) == 0;
    if (made) {
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
    Folder folder(openSaveFolder(saveFolder));
    if (folder.fd() < 0)
        return {{}, saveErrorText(errno)};
    QString path = saveFolder;
    int made = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool madeNow = false;
        const int next =
            openFolder(folder.fd(), QFile::encodeName(parts.at(i)), isNew && i == 0, madeNow);
        made += madeNow ? 1 : 0;
        if (next < 0) {
            const QString error = errno == ELOOP || errno == ENOTDIR || errno == EEXIST
                                      ? inTheWay()
                                      : saveErrorText(errno);
            removeFolders(saveFolder, parts.mid(0, i + (madeNow ? 1 : 0)), made);
            return {{}, error};
        }
        folder.reset(next);
        path = QDir(path).filePath(parts.at(i));
    }
    // The file is made by its path: that path must still lead to the folder just walked to.
    if (!isSameFolder(folder.fd(), path)) {
        removeFolders(saveFolder, parts, made);
        return {{}, inTheWay()};
    }
    return {path, {}, made};
}

void removeFolders(const QString& saveFolder, const QStringList& parts, int count)
{
    // holders[i] is the folder that holds parts[i].
    std::deque<Folder> holders;
    holders.emplace_back(openSaveFolder(saveFolder));
    for (qsizetype i = 0; i + 1 < parts.size() && holders.back().fd() >= 0; ++i)
        holders.emplace_back(::openat(holders.back().fd(), QFile::encodeName(parts.at(i)),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    for (qsizetype i = parts.size() - 1; i >= 0 && i >= parts.size() - count; --i) {
        if (i >= qsizetype(holders.size()) || holders[size_t(i)].fd() < 0 ||
            ::unlinkat(holders[size_t(i)].fd(), QFile::encodeName(parts.at(i)), AT_REMOVEDIR) != 0)
            return;
    }
}

int missingFolders(const QString& saveFolder, const QStringList& parts)
{
    QString path = saveFolder;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path = QDir(path).filePath(parts.at(i));
        if (!QFileInfo::exists(path))
            return int(parts.size() - i);
    }
    return 0;
}
