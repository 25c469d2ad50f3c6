#include "window/savefolder.h"

#include "window/dialogs.h"

#include <QDir>
#include <QStandardPaths>

QString saveFolderFromDialogPath(const QString& dialogPath)
{
    const QString marker = QDir::separator() + QStringLiteral("SELECT");
    const qsizetype at = dialogPath.indexOf(marker, 0, Qt::CaseSensitive);
    return at < 0 ? QString() : dialogPath.left(at + 1);
}

QString saveFolderPath(const QString& folder)
{
    const QString path = QDir::toNativeSeparators(QDir::cleanPath(folder));
    return path.endsWith(QDir::separator()) ? path : path + QDir::separator();
}

QString firstRunFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QDir().mkpath(downloads);
    return downloads;
}

QString askForSaveFolder(Dialogs& dialogs)
{
    dialogs.message(QStringLiteral("This is the First Time you have run Quillo, Please select a "
                                   "folder where you would like to save recieved files"));
    const QString chosen =
        dialogs.saveFile(QStringLiteral("Choose a folder where you want to save downloaded files"),
                         QStringLiteral("SELECT A FOLDER AND CLICK SAVE>>>"));
    return saveFolderFromDialogPath(chosen);
}
