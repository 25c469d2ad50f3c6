#include "transfer/receiverstatus.h"

namespace
{

qint64 wholeSeconds(std::chrono::milliseconds duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

} // namespace

QString nameUnusableStatus()
{
    return QStringLiteral("Refused: the file name cannot be used");
}

QString tooLongStatus()
{
    return QStringLiteral("Refused: the path is too long or has too many folders");
}

QString chatOnlyStatus()
{
    return QStringLiteral("Refused: this copy of Quillo takes chat lines only (quillo listen), "
                          "not files");
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

QString deadlineStatus(const QString& what, std::chrono::milliseconds deadline)
{
    return QStringLiteral("Closed: no %1 within %2 seconds").arg(what).arg(wholeSeconds(deadline));
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
