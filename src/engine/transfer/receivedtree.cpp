#include "transfer/receivedtree.h"

#include "platform/groupedsync.h"
#include "transfer/receivedname.h"
#include "transfer/receivedpath.h"
#include "transfer/receivereason.h"
#include "transfer/saveerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <utility>

namespace
{

// Deeper trees than this are not made, whatever room their path leaves.
constexpr int kMaxFolderDepth = 64;
// What a file's final name may add to its announced name: " (9999)" and ".part".
constexpr qsizetype kNameSuffixBytes = 7 + 5;

// Whether a file named name in folder, under any name it may be given, has a path the
// system takes. Each part fits a name already: receivedFileName() leaves room for both.
bool fitsPathMax(const QString& folder, const QString& name)
{
    return QFile::encodeName(folder).size() + 1 + name.toUtf8().size() + kNameSuffixBytes <
           PATH_MAX;
}

} // namespace

std::optional<FileRefusal> ReceivedTree::place(const QByteArray& path, Place& place)
{
    using Outcome = ReceiveEnd::Outcome;
    using Code = ReceiveReason::Code;
    place = loose(path);
    if (!path.contains('/'))
        return std::nullopt;
    const std::optional<QStringList> parts = receivedPathParts(path);
    if (!parts)
        return FileRefusal{Outcome::Refused, ReceiveReason::of(Code::NameUnusable)};
    if (saveFolder_.isEmpty())
        return FileRefusal{Outcome::CannotSave, ReceiveReason::of(Code::NoSaveFolder)};
    QStringList folders = parts->mid(0, parts->size() - 1);
    const std::optional<QString> top = savedTop(folders.first(), place.newTop);
    if (!top)
        return FileRefusal{
            Outcome::CannotSave,
            ReceiveReason::with(Code::CannotSave, QStringLiteral("every numbered variant of the "
                                                                 "folder's name is taken"))};
    place.announcedTop = folders.first();
    folders.first() = *top;
    place.folder = QDir(saveFolder_).filePath(folders.join(QLatin1Char('/')));
    if (folders.size() > kMaxFolderDepth || !fitsPathMax(place.folder, parts->last()))
        return FileRefusal{Outcome::Refused, ReceiveReason::of(Code::PathTooLong)};
    place.top = QDir(saveFolder_).filePath(folders.first());
    place.inside = folders.join(QLatin1Char('/')) + QLatin1Char('/');
    place.name = parts->last().toUtf8();
    // The folders the last file went in are there: the files of a folder mostly come
    // one after another, and asking again for each would cost as much as the file.
    const bool sameAsLast = !place.newTop && folders == lastFolders_;
    place.newFolders = place.newTop ? int(folders.size())
                       : sameAsLast ? 0
                                    : missingFolders(saveFolder_, folders);
    place.folders = folders;
    return std::nullopt;
}

ReceivedTree::Place ReceivedTree::loose(const QByteArray& name) const
{
    return {saveFolder_, {}, {}, name, {}, {}, false, 0};
}

std::optional<FileRefusal> ReceivedTree::make(const Place& place, HeldFolder& folder)
{
    const auto cannotSave = [](const QString& error) {
        return FileRefusal{ReceiveEnd::Outcome::CannotSave,
                           ReceiveReason::with(ReceiveReason::Code::CannotSave, error)};
    };
    making_ = place;
    madeFolders_ = 0;
    if (place.folders.isEmpty()) {
        folder = HeldFolder::open(saveFolder_);
        return folder.isOpen() ? std::nullopt : std::optional(cannotSave(saveErrorText(errno)));
    }
    if (!place.newTop && place.folders == lastFolders_) {
        folder = lastFolder_.again();
        if (folder.isOpen())
            return std::nullopt;
    }
    // A top folder made anew is made anew or not at all: one that appeared meanwhile is
    // not merged into.
    FoldersMade made = makeFolders(saveFolder_, place.folders, place.newTop);
    if (made.path.isEmpty())
        return cannotSave(made.error);
    madeFolders_ = made.made;
    folder = std::move(made.folder);
    syncGrown(made.grown);
    lastFolder_ = folder.again();
    lastFolders_ = place.folders;
    return std::nullopt;
}

// On the disk worker, ahead of the sync of any file inside.
void ReceivedTree::syncGrown(const std::vector<HeldFolder>& grown)
{
    for (const HeldFolder& holder : grown) {
        FileIdentity identity;
        const int fd = holder.syncHandle(identity);
        if (fd < 0) {
            *syncError_ = errno;
            continue;
        }
        GroupedSync::instance().syncFolder(&GroupedSync::instance(), fd, identity,
                                           [error = std::weak_ptr<int>(syncError_)](int result) {
                                               if (const std::shared_ptr<int> kept = error.lock();
                                                   kept && result != 0)
                                                   *kept = result;
                                           });
    }
}

HeldFolder ReceivedTree::walk(const Place& place) const
{
    return openFolders(saveFolder_, place.folders);
}

void ReceivedTree::keep()
{
    if (making_.newTop)
        tops_.insert(making_.announcedTop, making_.folders.first());
    made_ += 1 + making_.newFolders;
}

void ReceivedTree::undo()
{
    lastFolder_ = {};
    lastFolders_.clear();
    removeFolders(saveFolder_, making_.folders, std::exchange(madeFolders_, 0));
}

std::optional<QString> ReceivedTree::savedTop(const QString& announced, bool& isNew) const
{
    isNew = false;
    if (const auto saved = tops_.constFind(announced); saved != tops_.cend())
        return *saved;
    const QDir save(saveFolder_);
    const QString name = firstFreeName(announced, [&save](const QString& n) {
        const QFileInfo info(save.filePath(n));
        return info.exists() || info.isSymLink();
    });
    if (name.isEmpty())
        return std::nullopt;
    isNew = true;
    return name;
}

void ReceivedTree::continueIn(const QByteArray& path, const QString& partPath)
{
    const qsizetype slash = path.indexOf('/');
    if (slash < 0 || saveFolder_.isEmpty())
        return;
    const QString inside = QDir(saveFolder_).relativeFilePath(partPath);
    if (inside.startsWith(QStringLiteral("../")) || !inside.contains(QLatin1Char('/')))
        return;
    const QString announced = QString::fromUtf8(path.left(slash));
    if (!tops_.contains(announced))
        tops_.insert(announced, inside.section(QLatin1Char('/'), 0, 0));
}
