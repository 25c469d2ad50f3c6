#include "window/desktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

void QtDesktop::openFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void QtDesktop::openFile(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtDesktop::showInFolder(const QString& path)
{
    openFolder(QFileInfo(path).absolutePath());
}
