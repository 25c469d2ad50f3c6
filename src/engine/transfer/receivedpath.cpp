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

QString inTheWay()
{
    return QStringLiteral("a file or link stands where a received folder goes");
}

// Opens the folder name inside at, making it first (anew only when isNew, and then
// saying so in made); never follows a link. Not open when it fails, with errno set.
HeldFolder openFolder(const HeldFolder& at, const QByteArray& name, bool isNew, bool& made)
{
    made = ::mkdirat(at.fd(), name.constData(), kFolderMode) == 0;
    if (!made && (errno != EEXIST || isNew))
        return {};
    return at.inside(name);
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
    HeldFolder folder = HeldFolder::open(saveFolder);
    if (!folder.isOpen())
        return {{}, saveErrorText(errno), 0, {}, {}};
    QString path = saveFolder;
    int made = 0;
    std::vector<HeldFolder> grown;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool madeNow = false;
        HeldFolder next =
            openFolder(folder, QFile::encodeName(parts.at(i)), isNew && i == 0, madeNow);
        made += madeNow ? 1 : 0;
        if (!next.isOpen()) {
            const QString error = errno == ELOOP || errno == ENOTDIR || errno == EEXIST
                                      ? inTheWay()
                                      : saveErrorText(errno);
            removeFolders(saveFolder, parts.mid(0, i + (madeNow ? 1 : 0)), made);
            return {{}, error, 0, {}, {}};
        }
        if (madeNow)
            grown.push_back(std::move(folder));
        folder = std::move(next);
        path = QDir(path).filePath(parts.at(i));
    }
    // The file is made in the folder held, not by its path, which may lead elsewhere by now.
    return {path, {}, made, std::move(folder), std::move(grown)};
}

HeldFolder openFolders(const QString& saveFolder, const QStringList& parts)
{
    HeldFolder folder = HeldFolder::open(saveFolder);
    for (qsizetype i = 0; i < parts.size() && folder.isOpen(); ++i)
        folder = folder.inside(QFile::encodeName(parts.at(i)));
    return folder;
}

void removeFolders(const QString& saveFolder, const QStringList& parts, int count)
{
    // holders[i] is the folder that holds parts[i].
    std::deque<HeldFolder> holders;
    holders.push_back(HeldFolder::open(saveFolder));
    for (qsizetype i = 0; i + 1 < parts.size() && holders.back().isOpen(); ++i)
        holders.push_back(holders.back().inside(QFile::encodeName(parts.at(i))));
    for (qsizetype i = parts.size() - 1; i >= 0 && i >= parts.size() - count; --i) {
        if (i >= qsizetype(holders.size()) || !holders[size_t(i)].isOpen() ||
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
