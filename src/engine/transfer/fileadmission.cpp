#include "transfer/fileadmission.h"

#include "transfer/partfiles.h"
#include "transfer/receivedname.h"
#include "transfer/receivefile.h"
#include "transfer/receiverstatus.h"

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
