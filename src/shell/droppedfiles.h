#pragma once

#include <QStringList>

// The files a drop of files and folders puts in the send queue.
struct DroppedFiles {
    QStringList files;         // each path once, in the order below
    qsizetype fromFolders = 0; // how many of them were found inside dropped folders
};

// Takes the dropped paths in the order given. A dropped file counts as the add dialog's
// choice would: an ordinary file that is not hidden, a link to one included. A dropped
// folder gives the ordinary files inside it, at any depth, as a file manager sorts them
// by name: first its own files, then each subfolder in turn; links and hidden files and
// folders inside it are left out. A path met a second time, dropped again or found in a
// dropped folder, is left out there.
DroppedFiles filesInDrop(const QStringList& dropped);
