#pragma once

#include <QByteArray>
#include <QString>

// Writing that must last through a crash or a power cut, by file descriptor.

// Writes all of bytes to fd, again after an interrupted call; returns 0 or the system's
// error number (ENOSPC for a write that takes nothing).
int writeAll(int fd, const QByteArray& bytes);
// Makes the names made or changed in folder last; returns 0 or the system's error number.
int syncFolder(const QString& folder);
// Puts bytes in the file at path whole or not at all, synced, then syncs its folder so that
// the new name lasts too; the folder is made if missing. Why it failed, or nothing.
QString saveDurably(const QString& path, const QByteArray& bytes);
