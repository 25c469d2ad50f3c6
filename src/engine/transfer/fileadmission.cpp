#include "transfer/fileadmission.h"

#include "transfer/partfiles.h"
#include "transfer/receivedname.h"
#include "transfer/receivefile.h"

namespace
{

qint64 wholeSeconds(std::chrono::milliseconds duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

} // namespace

std::optional<FileRefusal> admitFile(ReceiveFile& file, ReceivedTree& tree,
                                     const ReceivedTree::Place& place, PartFiles& parts,
                                     const PartSender& sender, const QByteArray& offered,
                                     qint64 size)
{
    using Why = FileRefusal::Why;
    using Outcome = ReceiveEnd::Outcome;
    const std::optional<QString> received = receivedFileName(place.name);
    if (!received)
        return FileRefusal{Why::NameUnusable, Outcome::Refused, nameUnusableStatus()};
    if (tree.saveFolder().isEmpty())
        return FileRefusal{Why::NoSaveFolder, Outcome::CannotSave, noSaveFolderStatus()};
    const int inodes = 1 + place.newFolders;
    if (!parts.makeRoom(sender, size, tree.saveFolder(), inodes, tree.made()))
        return FileRefusal{Why::NoRoom, Outcome::Refused,
                           QStringLiteral("Refused: no more room for unfinished files from "
                                          "senders outside your address book")};
    std::optional<FileRefusal> refusal = tree.make(place);
    if (!refusal && !file.create(place.folder, *received, parts, sender, offered, size)) {
        tree.undo();
        refusal =
            FileRefusal{Why::CannotCreate, Outcome::CannotSave, cannotSaveStatus(file.error())};
    }
    if (refusal) {
        parts.giveBack(sender, inodes);
        return refusal;
    }
    tree.keep();
    return std::nullopt;
}

QString nameUnusableStatus()
{
    return QStringLiteral("Refused: the file name cannot be used");
}

QString tooLongStatus()
{
    return QStringLiteral("Refused: the path is too long or has too many folders");
}

QString noSaveFolderStatus()
{
    return QStringLiteral("Cannot save: no save folder has been chosen");
}

QString cannotSaveStatus(const QString& error)
{
    return QStringLiteral("Cannot save: ") + error;
}

QString notInAddressBookStatus(const QString& peer)
{
    return QStringLiteral("Refused: %1 is not in your address book").arg(peer);
}

QString idleStatus(std::chrono::milliseconds idleTimeout)
{
    return QStringLiteral("Closed: nothing arrived for %1 seconds").arg(wholeSeconds(idleTimeout));
}

QString tooSlowStatus(qint64 minProgressBytes, std::chrono::milliseconds window)
{
    return QStringLiteral("Closed: less than %1 KiB in %2 seconds")
        .arg(minProgressBytes / 1024)
        .arg(wholeSeconds(window));
}

QString gaveWayStatus()
{
    return QStringLiteral("Closed: its place went to another sender");
}
