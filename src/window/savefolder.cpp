#include "window/savefolder.h"

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
