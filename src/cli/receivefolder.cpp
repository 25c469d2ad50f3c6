#include "cli/receivefolder.h"

#include <QDir>
#include <QFileInfo>

namespace
{

// The receiver puts the file name right after the folder, so it must end with '/'.
QString withSeparator(const QString& folder)
{
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    return absolute.endsWith(QLatin1Char('/')) ? absolute : absolute + QLatin1Char('/');
}

} // namespace

ReceiveFolder chooseReceiveFolder(const QString& dirOption, const QString& storedFolder)
{
    if (!dirOption.isEmpty()) {
        if (!QFileInfo(dirOption).isDir())
            return {{}, QStringLiteral("--dir %1 is not an existing folder").arg(dirOption)};
        return {withSeparator(dirOption), {}};
    }
    if (storedFolder.isEmpty())
        return {{},
                QStringLiteral("no save folder is stored; name one with --dir FOLDER, or choose "
                               "one in the window")};
    if (!QFileInfo(storedFolder).isDir())
        return {{},
                QStringLiteral("the stored save folder %1 is not an existing folder; name "
                               "another with --dir FOLDER")
                    .arg(storedFolder)};
    return {withSeparator(storedFolder), {}};
}

ReceiveFolder chooseServeFolder(const QString& dirOption, const QString& storedFolder,
                                const QString& downloads)
{
    ReceiveFolder chosen;
    if (!dirOption.isEmpty() || !storedFolder.isEmpty()) {
        chosen = chooseReceiveFolder(dirOption, storedFolder);
    } else if (!QDir().mkpath(downloads)) {
        chosen.problem = QStringLiteral("no save folder is stored, and the downloads folder %1 "
                                        "cannot be made; name one with --dir FOLDER")
                             .arg(downloads);
    } else {
        chosen.folder = withSeparator(downloads);
        chosen.note = QStringLiteral("no save folder is stored: receiving into the downloads "
                                     "folder %1 (choose another in the window, or with --dir)")
                          .arg(downloads);
    }
    if (!chosen.folder.isEmpty() && !QFileInfo(chosen.folder).isWritable())
        return {{}, QStringLiteral("cannot write into the folder %1").arg(chosen.folder), {}};
    return chosen;
}
