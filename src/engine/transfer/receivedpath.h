#pragma once

#include "platform/heldfolder.h"

#include <QByteArray>
#include <QStringList>

#include <optional>
#include <vector>

// The parts of a path of several parts that a sender announced ("Trip/day 1/a.jpg"):
// each part must be a name that receivedFileName() takes and leaves as it is, so that
// nothing in the path is empty, ".", "..", hidden, blank, in disguise or too long.
// Nothing when any part is not.
std::optional<QStringList> receivedPathParts(const QByteArray& path);

// What making folders inside the save folder came to.
struct FoldersMade {
    QString path;      // the innermost folder's full path; empty when it failed
    QString error;     // why it failed
    int made = 0;      // how many of the innermost folders were made anew
    HeldFolder folder; // the innermost folder, held
    // The folders a new one was made in, not yet synced: the new names last only once
    // these are.
    std::vector<HeldFolder> grown;
};

// Makes the folders parts, one inside the next, in saveFolder, walking down from it and
// never following or replacing a link or a file in the way. The first part must be made
// anew when isNew, and may exist as a folder already otherwise; the parts below it may
// always exist as folders. When it fails, the folders it made are removed again.
FoldersMade makeFolders(const QString& saveFolder, const QStringList& parts, bool isNew);

// The folders parts in saveFolder, one inside the next, walked down as makeFolders() does
// but making nothing: the innermost held, or not open when any is missing or a link.
HeldFolder openFolders(const QString& saveFolder, const QStringList& parts);

// Removes the innermost count folders of parts in saveFolder, innermost first, each only
// while empty, walking down as makeFolders() does and never through a link.
void removeFolders(const QString& saveFolder, const QStringList& parts, int count);

// How many of the folders parts in saveFolder, one inside the next, are not there yet.
int missingFolders(const QString& saveFolder, const QStringList& parts);
