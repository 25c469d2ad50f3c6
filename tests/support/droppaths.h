#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <QWidget>

// Drags paths, after the addresses in others, onto the middle of target and drops them
// there, as a file manager does. Returns whether target took both the drag and the drop.
inline bool dropPaths(QWidget& target, const QStringList& paths, QList<QUrl> others = {})
{
    QMimeData mime;
    for (const QString& path : paths)
        others.append(QUrl::fromLocalFile(path));
    mime.setUrls(others);
    // File managers offer the addresses as text too, which a text field would take.
    mime.setText(QUrl::toStringList(others).join('\n'));
    const QPoint middle = target.rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent dropped(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}
