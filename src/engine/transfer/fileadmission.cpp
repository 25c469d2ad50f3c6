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

std::optional<FileRefusal> admitFile(ReceiveFile& file, const QString& saveFolder,
                                     const QByteArray& name, PartFiles& parts,
                                     const PartSender& sender, const QByteArray& offered,
                                     qint64 size)
{
    using Why = FileRefusal::Why;
    using Outcome = ReceiveEnd::Outcome;
    const std::optional<QString> received = receivedFileName(name);
    if (!received)
        return FileRefusal{Why::NameUnusable, Outcome::Refused, nameUnusableStatus()};
    if (saveFolder.isEmpty())
        return FileRefusal{Why::NoSaveFolder, Outcome::CannotSave, noSaveFolderStatus()};
    if (!parts.makeRoom(sender.address, size, saveFolder))
        return FileRefusal{Why::NoRoom, Outcome::Refused,
                           QStringLiteral("Refused: no more room for unfinished files from "
                                          "senders outside your address book")};
    if (!file.create(saveFolder, *received, parts, sender, offered, size))
        return FileRefusal{Why::CannotCreate, Outcome::CannotSave, cannotSaveStatus(file.error())};
    return std::nullopt;
}

QString nameUnusableStatus()
{
    return QStringLiteral("Refused: the file name cannot be used");
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
