#include "transfer/receivedtree.h"

#include "transfer/receivedname.h"
#include "transfer/receivedpath.h"

#include <QDir>
#include <QFileInfo>

std::optional<FileRefusal> ReceivedTree::place(const QByteArray& path, Place& place)
{
    using Outcome = ReceiveEnd::Outcome;
    place = {saveFolder_, {}, {}, path};
    if (!path.contains('/'))
        return std::nullopt;
    const std::optional<QStringList> parts = receivedPathParts(path);
    if (!parts)
        return FileRefusal{FileRefusal::Why::NameUnusable, Outcome::Refused, nameUnusableStatus()};
    if (saveFolder_.isEmpty())
        return FileRefusal{FileRefusal::Why::NoSaveFolder, Outcome::CannotSave,
                           noSaveFolderStatus()};
    QStringList folders = parts->mid(0, parts->size() - 1);
    const QString announcedTop = folders.first();
    const std::optional<QString> top = savedTop(folders.first());
    if (!top)
        return FileRefusal{FileRefusal::Why::CannotCreate, Outcome::CannotSave,
                           cannotSaveStatus(topError_)};
    folders.first() = *top;
    const FoldersMade made = makeFolders(saveFolder_, folders, false);
    if (made.path.isEmpty())
        return FileRefusal{FileRefusal::Why::CannotCreate, Outcome::CannotSave,
                           cannotSaveStatus(made.error)};
    place.folder = made.path;
    place.top = QDir(saveFolder_).filePath(folders.first());
    place.inside = folders.join(QLatin1Char('/')) + QLatin1Char('/');
    place.name = parts->last().toUtf8();
    return std::nullopt;
}

std::optional<QString> ReceivedTree::savedTop(const QString& announced)
{
    if (const auto saved = tops_.constFind(announced); saved != tops_.cend())
        return *saved;
    const QDir save(saveFolder_);
    const QString name = firstFreeName(announced, [&save](const QString& n) {
        const QFileInfo info(save.filePath(n));
        return info.exists() || info.isSymLink();
    });
    if (name.isEmpty()) {
        topError_ = QStringLiteral("every numbered variant of the folder's name is taken");
        return std::nullopt;
    }
    // Made anew, or not at all: a folder that appeared meanwhile is not merged into.
    const FoldersMade made = makeFolders(saveFolder_, {name}, true);
    if (made.path.isEmpty()) {
        topError_ = made.error;
        return std::nullopt;
    }
    tops_.insert(announced, name);
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
